// Subcommands of orva-ic. Each takes the arguments after its name and
// returns the process exit status: 0 success, 1 failure, 2 bad arguments.
#ifndef ORVA_IC_COMMANDS_H
#define ORVA_IC_COMMANDS_H

#include <cstddef>
#include <cstdint>
#include <string>

struct fs_disk_list;
struct fs_ocl_check_info;

namespace orva_ic {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// diff commands: the compared records differ.
constexpr int kExitDiffers = 3;

int cmd_check_computer(int argc, char **argv);
int cmd_gost(int argc, char **argv);
int cmd_hw(int argc, char **argv);
int cmd_fs(int argc, char **argv);
int cmd_ocl(int argc, char **argv);
int cmd_reg(int argc, char **argv);
int cmd_rcl(int argc, char **argv);
int cmd_volumes(int argc, char **argv);
int cmd_hd(int argc, char **argv);
int cmd_module(int argc, char **argv);

// Prints the usage text to stderr and returns kExitUsage.
int usage_error(const char *message);

// Lower-case hexadecimal digits of n bytes.
std::string hex(const uint8_t *bytes, size_t n);

// A JSON string literal; bytes that are not UTF-8 are taken as Latin-1.
std::string json_string(const char *s);

// Text for the terminal: control characters as \xHH.
std::string printable(const char *s);

// Writes data to path through a temporary file in the same directory, so
// that path holds either the old contents or all of the new; errno tells
// the failure.
bool write_file_atomically(const std::string &path, const uint8_t *data, size_t size);

// The whole file at path, at most max bytes; errno tells the failure.
bool read_file(const std::string &path, std::string &data, size_t max);

// Text of the result codes every core area shares (1 to 3).
const char *core_code_text(int rc);

// Prints "orva-ic COMMAND: WHAT: TEXT (code RC)"; returns kExitFailure.
int fail(const char *command, const std::string &what, const char *text, int rc);

// Writes a byte image (malloc'ed; freed here) to path atomically: kExitOk, or
// kExitFailure after a message.
int save_image(const char *command, const std::string &path, uint8_t *data, uint32_t size);

// A saved byte image; false after a message.
bool load_image(const char *command, const std::string &path, std::string &image);

// Arguments of the inventory commands: [--json | --save FILE | --diff FILE],
// with json_with_diff also --diff FILE --json. -1 when they are good, else
// the exit status of the usage error (already reported).
struct InventoryArgs {
    bool json = false;
    const char *save = nullptr;
    const char *diff = nullptr;
};
int parse_inventory_args(const char *command, int argc, char **argv, bool json_with_diff, InventoryArgs &args);

// Flushes standard output: status, or kExitFailure (with a message naming
// the command) when the output cannot be written.
int finish_output(const char *command, int status);

// Standard output on standard error while it lives: the core reports a
// disk without a serial on standard output, which must not mix into a
// listing or a JSON document.
class core_output_on_stderr {
public:
    core_output_on_stderr();
    ~core_output_on_stderr();
    core_output_on_stderr(const core_output_on_stderr &) = delete;
    core_output_on_stderr &operator=(const core_output_on_stderr &) = delete;

private:
    int saved_;
};

// The computer's disks and LVM groups, built with standard output on
// standard error.  fs_disk_list_create's codes.
int create_disk_list(fs_disk_list **list);

// Result flags of the file check by name ("new_file data"), each wrapped by
// quote and joined by sep.
std::string ocl_flag_names(uint32_t flags, const char *quote, const char *sep);
// The differences of a file check: one line per difference (prefix, the
// path inside the volume, the flag names), or a JSON array of the objects
// with their items (indent before every line after the first).
std::string ocl_check_text(const fs_ocl_check_info *check, const std::string &prefix);
std::string ocl_check_json(const fs_ocl_check_info *check, const std::string &indent);

}  // namespace orva_ic

#endif
