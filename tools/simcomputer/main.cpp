// simcomputer [--loop] DESCRIPTION ROOTDIR: builds a simulated computer
// directory (--loop: with loop devices behind its volume nodes, as root).
// simcomputer --detach ROOTDIR: releases those loop devices.
#include "simcomputer/simcomputer.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    simcomputer::Error err;
    if (argc == 3 && std::strcmp(argv[1], "--detach") == 0) {
        if (!simcomputer::detach_loops(argv[2], err)) {
            std::fprintf(stderr, "simcomputer: %s\n", err.text().c_str());
            return 1;
        }
        return 0;
    }
    const bool loop = argc == 4 && std::strcmp(argv[1], "--loop") == 0;
    if (argc != 3 && !loop) {
        std::fprintf(stderr, "usage: simcomputer [--loop] DESCRIPTION ROOTDIR\n"
                             "       simcomputer --detach ROOTDIR\n");
        return 2;
    }
    const char *description = argv[argc - 2], *root = argv[argc - 1];
    simcomputer::Computer computer;
    if (!simcomputer::parse_file(description, computer, err)) {
        std::fprintf(stderr, "simcomputer: %s: %s\n", description, err.text().c_str());
        return 1;
    }
    if (!simcomputer::build(computer, root, err)) {
        std::fprintf(stderr, "simcomputer: %s\n", err.text().c_str());
        return 1;
    }
    if (loop && !simcomputer::attach_loops(root, err)) {
        std::fprintf(stderr, "simcomputer: %s\n", err.text().c_str());
        return 1;
    }
    return 0;
}
