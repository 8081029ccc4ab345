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
    {"check", cmd_check_computer, "check [--json]",
     "the boot-time integrity check of this computer (ORVA_SYSROOT: a simulated one) against the reference data of the module (ORVA_SIM_DIR), section by section; exit 3: it failed"},
    {"fs", cmd_fs,
     "fs add --list FILE VOLUME PATH [--flags N] [--mask M ...] [--image UUID:PATH:NAME ...] | fs check --list FILE [--json] [--image UUID:PATH:NAME ...]",
     "file check list of this computer's volumes (ORVA_SYSROOT: a simulated one), VOLUME as disk:SERIAL:N, image:NAME:N, lvm:GROUP/VOLUME, the volume_id of 'volumes --json' or a file-system UUID: add a file or directory (PATH inside the volume), or check every volume of the list, mounted read-only (exit 3: differences or a volume gone)"},
    {"gost", cmd_gost, "gost [--test-params] FILE...",
     "GOST R 34.11-94 digest of each file (CryptoPro parameters; '-' reads standard input)"},
    {"hw", cmd_hw, "hw [--json | --save FILE | --diff FILE]",
     "hardware inventory of this computer (ORVA_SYSROOT: a simulated one); --save writes its byte image, --diff compares with one (exit 3: they differ)"},
    {"module", cmd_module,
     "module show [--json] | module approve hw | module approve hd | module approve fs LIST [--image UUID:PATH:NAME ...] | module approve reg VOLUME PATH LIST [--off]",
     "integrity-data blocks of the module (ORVA_SIM_DIR): show what each holds, or store this computer's data (ORVA_SYSROOT: a simulated one) as the reference: hardware (all under control), partition tables, a file check list made by 'fs add', a registry check list made by 'rcl add' with its Windows directory (PATH on the volume with that UUID or LVM name; --off stores the registry flag 0)"},
    {"ocl", cmd_ocl, "ocl add ROOT PATH [--flags N] [--mask M ...] --list FILE | ocl check ROOT --list FILE [--json]",
     "file check list of the volume mounted at ROOT: add a file or directory (PATH inside the volume), or check the list (exit 3: differences)"},
    {"reg", cmd_reg, "reg dump HIVE [--json] [--no-logs] | reg ls WINDIR PATH",
     "every key (timestamp, class) and value (type, size, GOST digest of the data) of a hive file; or the subkeys and values of one key of the registry of a Windows directory"},
    {"rcl", cmd_rcl, "rcl add LIST WINDIR key PATH [FLAGS] | rcl add LIST WINDIR value PATH NAME [FLAGS] | rcl check LIST WINDIR [--json]",
     "registry check list in the file LIST: add a key (flags 0x7F by default) or a value (0x60) as the registry of the Windows directory holds it now; check that registry against the list (exit 3: it differs)"},
    {"volumes", cmd_volumes, "volumes [--json] [--image UUID:PATH:NAME]...",
     "disks, partitions, image disks, LVM groups and volumes with identities, file systems and page names; --image attaches an image file lying on the volume with that UUID first"},
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
