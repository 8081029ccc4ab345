// simcomputer [--loop [--writable NAME]...] DESCRIPTION ROOTDIR: builds a
// simulated computer directory (--loop: with loop devices behind its volume
// nodes, as root; read-only unless the node is named by --writable).
// simcomputer --detach ROOTDIR: releases those loop devices.
#include "simcomputer/simcomputer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: simcomputer [--loop [--writable NAME]...] DESCRIPTION ROOTDIR\n"
                         "       simcomputer --detach ROOTDIR\n");
    return 2;
}

} // namespace

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
    bool loop = false;
    std::vector<std::string> writable;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        if (std::strcmp(argv[i], "--loop") == 0)
            loop = true;
        else if (std::strcmp(argv[i], "--writable") == 0 && i + 1 < argc)
            writable.emplace_back(argv[++i]);
        else
            return usage();
    }
    if (argc - i != 2 || (!writable.empty() && !loop))
        return usage();
    const char *description = argv[i], *root = argv[i + 1];
    simcomputer::Computer computer;
    if (!simcomputer::parse_file(description, computer, err)) {
        std::fprintf(stderr, "simcomputer: %s: %s\n", description, err.text().c_str());
        return 1;
    }
    if (!simcomputer::build(computer, root, err)) {
        std::fprintf(stderr, "simcomputer: %s\n", err.text().c_str());
        return 1;
    }
    if (loop && !simcomputer::attach_loops(root, err, writable)) {
        std::fprintf(stderr, "simcomputer: %s\n", err.text().c_str());
        return 1;
    }
    return 0;
}
