// JSON and terminal text shared by the subcommands.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace orva_ic {
namespace {

// Length of the UTF-8 sequence at p (of n bytes), or 0 when it is not one.
size_t utf8_sequence(const unsigned char *p, size_t n) {
    size_t len;
    uint32_t cp;
    if (p[0] < 0x80) return 1;
    if ((p[0] & 0xE0) == 0xC0) len = 2, cp = p[0] & 0x1F;
    else if ((p[0] & 0xF0) == 0xE0) len = 3, cp = p[0] & 0x0F;
    else if ((p[0] & 0xF8) == 0xF0) len = 4, cp = p[0] & 0x07;
    else return 0;
    if (len > n) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    static const uint32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

// A JSON string literal; bytes that are not UTF-8 are taken as Latin-1.
std::string json_string(const char *s) {
    std::string out = "\"";
    const auto *p = reinterpret_cast<const unsigned char *>(s ? s : "");
    size_t n = std::strlen(reinterpret_cast<const char *>(p));
    char esc[8];
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        const size_t len = utf8_sequence(p + i, n - i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F || len == 0) {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out.append(reinterpret_cast<const char *>(p + i), len);
            i += len;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

// Text for the terminal: control characters as \xHH.
std::string printable(const char *s) {
    std::string out;
    char esc[8];
    for (const char *p = s ? s : ""; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out;
}

}  // namespace orva_ic
