// Description files: lines of a keyword, arguments and key=value attributes,
// nested by indentation.
#ifndef SIMCOMPUTER_DESCRIPTION_H
#define SIMCOMPUTER_DESCRIPTION_H

#include "simcomputer/simcomputer.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simcomputer {

struct Node {
    int line = 0;
    std::string keyword;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> attrs;
    std::vector<Node> children;
};

// Thrown inside the generator; turned into Error at its entry points.
struct description_error {
    int line;
    std::string message;
};

std::vector<Node> parse_nodes(std::string_view text);

// The "windows" keyword with its nested lines.
Windows parse_windows(const Node &n);

} // namespace simcomputer

#endif
