// Description files: lines of a keyword, arguments and key=value attributes,
// nested by indentation.
#include "description.h"

#include <cctype>

namespace simcomputer {
namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Splits a line into tokens; quotes group, \" \\ and \xHH escape inside them.
// A token "key=value" keeps its '=' unquoted, so quotes may start after it.
std::vector<std::pair<std::string, bool>> tokenize(std::string_view line, int lineno)
{
    std::vector<std::pair<std::string, bool>> tokens; // text, has unquoted '='
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        std::string tok;
        bool assign = false;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            char c = line[i];
            if (c == '"') {
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    char q = line[i++];
                    if (q == '"') {
                        closed = true;
                        break;
                    }
                    if (q != '\\') {
                        tok += q;
                        continue;
                    }
                    if (i >= line.size())
                        break;
                    char e = line[i++];
                    if (e == '"' || e == '\\') {
                        tok += e;
                    } else if (e == 'x' && i + 1 < line.size() && hex_value(line[i]) >= 0
                               && hex_value(line[i + 1]) >= 0) {
                        tok += char(hex_value(line[i]) * 16 + hex_value(line[i + 1]));
                        i += 2;
                    } else {
                        throw description_error{lineno, std::string("unknown escape \\") + e};
                    }
                }
                if (!closed)
                    throw description_error{lineno, "unterminated quote"};
                continue;
            }
            if (c == '=' && !assign && !tok.empty())
                assign = true;
            tok += c;
            ++i;
        }
        tokens.emplace_back(std::move(tok), assign);
    }
    return tokens;
}

} // namespace

std::vector<Node> parse_nodes(std::string_view text)
{
    std::vector<Node> top;
    // Open nodes with their indentation, outermost first.
    std::vector<std::pair<size_t, Node *>> open;
    int lineno = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineno;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // Indentation width, tabs stopping at multiples of 8.
        size_t indent = 0;
        for (size_t i = 0; i < line.size() && (line[i] == ' ' || line[i] == '\t'); ++i)
            indent = line[i] == '\t' ? (indent / 8 + 1) * 8 : indent + 1;
        auto tokens = tokenize(line, lineno);
        if (tokens.empty())
            continue;
        if (tokens[0].second)
            throw description_error{lineno, "a line starts with a keyword, not " + tokens[0].first};

        Node node;
        node.line = lineno;
        node.keyword = tokens[0].first;
        for (size_t t = 1; t < tokens.size(); ++t) {
            if (!tokens[t].second) {
                if (!node.attrs.empty())
                    throw description_error{lineno, "argument " + tokens[t].first + " after attributes"};
                node.args.push_back(tokens[t].first);
                continue;
            }
            const std::string &tok = tokens[t].first;
            size_t eq = tok.find('=');
            std::string key = tok.substr(0, eq);
            for (const auto &a : node.attrs)
                if (a.first == key)
                    throw description_error{lineno, "attribute " + key + " given twice"};
            node.attrs.emplace_back(key, tok.substr(eq + 1));
        }

        while (!open.empty() && open.back().first >= indent)
            open.pop_back();
        std::vector<Node> &siblings = open.empty() ? top : open.back().second->children;
        siblings.push_back(std::move(node));
        // Appending moved only the siblings, whose entries were popped above.
        open.emplace_back(indent, &siblings.back());
    }
    return top;
}

} // namespace simcomputer
