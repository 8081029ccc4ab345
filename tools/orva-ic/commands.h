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

int cmd_gost(int argc, char **argv);
int cmd_hw(int argc, char **argv);
int cmd_volumes(int argc, char **argv);

// Prints the usage text to stderr and returns kExitUsage.
int usage_error(const char *message);

// A JSON string literal; bytes that are not UTF-8 are taken as Latin-1.
std::string json_string(const char *s);
// Text for the terminal: control characters as \xHH.
std::string printable(const char *s);

// Lower-case hexadecimal digits of n bytes.
std::string hex(const uint8_t *bytes, size_t n);

}  // namespace orva_ic

#endif
