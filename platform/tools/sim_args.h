// Command-line parsing for orva-sim: options of one command, numbers, hex.
#ifndef ORVA_SIM_ARGS_H
#define ORVA_SIM_ARGS_H

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace orva_sim_tool {

// Bad arguments: the message goes to stderr and the exit code is 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A library or state failure: the exit code is 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Args {
public:
    // flags: options without a value; valued: options that take one.
    // max_positional: how many plain arguments the command accepts.
    Args(const std::vector<std::string> &argv, const std::set<std::string> &flags,
         const std::set<std::string> &valued, size_t max_positional);

    bool has(const std::string &option) const { return flags_.count(option) || values_.count(option); }
    std::string value(const std::string &option, const std::string &fallback = "") const;
    const std::vector<std::string> &positional() const { return positional_; }
    // A decimal number in [low, high]; the fallback when the option is absent.
    uint32_t number(const std::string &option, uint32_t low, uint32_t high, uint32_t fallback) const;

private:
    std::set<std::string> flags_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
};

uint32_t parse_number(const std::string &what, const std::string &text, uint32_t low, uint32_t high);
// Exactly `size` bytes written as 2 * size hexadecimal digits.
std::vector<uint8_t> parse_hex(const std::string &what, const std::string &text, size_t size);

} // namespace orva_sim_tool

#endif
