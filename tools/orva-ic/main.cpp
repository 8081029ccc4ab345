// orva-ic: command line over the integrity-control core.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace orva_ic {
namespace {

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *synopsis;
    const char *summary;
};

const Command kCommands[] = {
    {"gost", cmd_gost, "gost [--test-params] FILE...",
     "GOST R 34.11-94 digest of each file (CryptoPro parameters; '-' reads standard input)"},
    {"hw", cmd_hw, "hw [--json | --save FILE | --diff FILE]",
     "hardware inventory of this computer (ORVA_SYSROOT: a simulated one); --save writes its byte image, --diff compares with one (exit 3: they differ)"},
    {"hd", cmd_hd, "hd [--json | --save FILE | --diff FILE [--json]]",
     "partition tables and boot sectors of the fixed disks; --save writes the byte image, --diff compares with one (exit 3: they differ)"},
};

void print_usage(std::FILE *out) {
    std::fputs("usage: orva-ic COMMAND [ARGUMENTS]\n\ncommands:\n", out);
    for (const Command &c : kCommands) std::fprintf(out, "  %s\n      %s\n", c.synopsis, c.summary);
    std::fputs("  help\n      this text\n", out);
}

}  // namespace

std::string hex(const uint8_t *bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

int usage_error(const char *message) {
    if (message) std::fprintf(stderr, "orva-ic: %s\n", message);
    print_usage(stderr);
    return kExitUsage;
}

}  // namespace orva_ic

int main(int argc, char **argv) {
    using namespace orva_ic;
    if (argc < 2) return usage_error("no command given");
    const char *name = argv[1];
    if (!std::strcmp(name, "help") || !std::strcmp(name, "--help") || !std::strcmp(name, "-h")) {
        print_usage(stdout);
        return kExitOk;
    }
    for (const Command &c : kCommands)
        if (!std::strcmp(name, c.name)) return c.run(argc - 2, argv + 2);
    std::fprintf(stderr, "orva-ic: unknown command '%s'\n", name);
    print_usage(stderr);
    return kExitUsage;
}
