#include "sim_args.h"

#include <cctype>

namespace orva_sim_tool {

Args::Args(const std::vector<std::string> &argv, const std::set<std::string> &flags,
           const std::set<std::string> &valued, size_t max_positional)
{
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string &arg = argv[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::string name = arg, inline_value;
            bool has_inline = false;
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inline_value = arg.substr(eq + 1);
                has_inline = true;
            }
            if (flags.count(name)) {
                if (has_inline)
                    throw UsageError("option " + name + " takes no value");
                flags_.insert(name);
            } else if (valued.count(name)) {
                if (values_.count(name))
                    throw UsageError("option " + name + " given twice");
                if (has_inline) {
                    values_[name] = inline_value;
                } else {
                    if (i + 1 >= argv.size())
                        throw UsageError("option " + name + " needs a value");
                    values_[name] = argv[++i];
                }
            } else {
                throw UsageError("unknown option " + name);
            }
        } else {
            if (positional_.size() >= max_positional)
                throw UsageError("unexpected argument '" + arg + "'");
            positional_.push_back(arg);
        }
    }
}

std::string Args::value(const std::string &option, const std::string &fallback) const
{
    auto it = values_.find(option);
    return it == values_.end() ? fallback : it->second;
}

uint32_t Args::number(const std::string &option, uint32_t low, uint32_t high, uint32_t fallback) const
{
    auto it = values_.find(option);
    return it == values_.end() ? fallback : parse_number(option, it->second, low, high);
}

uint32_t parse_number(const std::string &what, const std::string &text, uint32_t low, uint32_t high)
{
    if (text.empty() || text.size() > 10)
        throw UsageError(what + ": expected a number from " + std::to_string(low) + " to " + std::to_string(high));
    uint64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            throw UsageError(what + ": '" + text + "' is not a decimal number");
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value < low || value > high)
        throw UsageError(what + ": " + text + " is outside " + std::to_string(low) + "-" + std::to_string(high));
    return static_cast<uint32_t>(value);
}

std::vector<uint8_t> parse_hex(const std::string &what, const std::string &text, size_t size)
{
    if (text.size() != size * 2)
        throw UsageError(what + ": expected " + std::to_string(size * 2) + " hexadecimal digits");
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                    : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                                                                : -1;
        if (digit < 0)
            throw UsageError(what + ": '" + text + "' is not hexadecimal");
        out[i / 2] = static_cast<uint8_t>((out[i / 2] << 4) | digit);
    }
    return out;
}

} // namespace orva_sim_tool
