// Subcommands of orva-ic. Each takes the arguments after its name and
// returns the process exit status: 0 success, 1 failure, 2 bad arguments.
#ifndef ORVA_IC_COMMANDS_H
#define ORVA_IC_COMMANDS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace orva_ic {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int cmd_check_computer(int argc, char **argv);
int cmd_gost(int argc, char **argv);
int cmd_hw(int argc, char **argv);
int cmd_ocl(int argc, char **argv);
int cmd_reg(int argc, char **argv);
int cmd_rcl(int argc, char **argv);
int cmd_volumes(int argc, char **argv);

// "differs": a diff or check command found differences.
constexpr int kExitDiffers = 3;

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

// The whole file at path, at most max_size bytes; errno tells the failure.
bool read_file(const std::string &path, std::string &data, size_t max_size);

}  // namespace orva_ic

#endif
