// simcomputer DESCRIPTION ROOTDIR: builds a simulated computer directory.
#include "simcomputer/simcomputer.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: simcomputer DESCRIPTION ROOTDIR\n");
        return 2;
    }
    simcomputer::Computer computer;
    simcomputer::Error err;
    if (!simcomputer::parse_file(argv[1], computer, err)) {
        std::fprintf(stderr, "simcomputer: %s: %s\n", argv[1], err.text().c_str());
        return 1;
    }
    if (!simcomputer::build(computer, argv[2], err)) {
        std::fprintf(stderr, "simcomputer: %s\n", err.text().c_str());
        return 1;
    }
    return 0;
}
