// Configuration of the diagnostic log: levels, the options table and the
// configuration file parser.
#include "ic/util/log_config.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

constexpr const char *level_names[] = {"FATAL", "ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
constexpr const char builtin_format[] = "%{timestamp} [%{channel}] %{class}: %{source} %{message}";
constexpr size_t max_file_size = 1u << 20;

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_alpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// A span of the line being parsed.
struct span {
    const char *p;
    size_t n;

    bool empty() const
    {
        return n == 0;
    }
    char front() const
    {
        return *p;
    }
    void drop(size_t k)
    {
        p += k;
        n -= k;
    }
    void skip_blanks()
    {
        while (n && is_blank(*p))
            drop(1);
    }
    bool only_blanks() const
    {
        return std::all_of(p, p + n, is_blank);
    }
    // Takes the longest prefix whose characters satisfy pred.
    template <class Pred> span take_while(Pred pred)
    {
        size_t k = 0;
        while (k < n && pred(p[k]))
            ++k;
        span head{p, k};
        drop(k);
        return head;
    }
    bool equals(const char *s) const
    {
        return std::strlen(s) == n && std::memcmp(p, s, n) == 0;
    }
};

// "[" blanks name blanks "]" blanks, name = letter (letter | digit)*.
bool parse_section(span line, span *name)
{
    line.drop(1);
    line.skip_blanks();
    if (line.empty() || !is_alpha(line.front()))
        return false;
    *name = line.take_while([](char c) { return is_alpha(c) || is_digit(c); });
    line.skip_blanks();
    if (line.empty() || line.front() != ']')
        return false;
    line.drop(1);
    return line.only_blanks();
}

// The text of a quoted value: '...' verbatim, "..." with \" and \\ escapes.
// Only blanks may follow the closing quote.  text has room for the line.
bool parse_quoted(span value, char *text, size_t *length)
{
    value.skip_blanks();
    if (value.empty() || (value.front() != '"' && value.front() != '\''))
        return false;
    char quote = value.front();
    value.drop(1);
    size_t n = 0;
    while (!value.empty()) {
        char c = value.front();
        value.drop(1);
        if (c == quote) {
            *length = n;
            return value.only_blanks();
        }
        if (quote == '"' && c == '\\' && !value.empty() &&
            (value.front() == '"' || value.front() == '\\')) {
            c = value.front();
            value.drop(1);
        }
        text[n++] = c;
    }
    return false; // unterminated
}

// The first option of the sorted table [begin, end) whose name is not
// below key: key's place, whether or not it is there.
template <class Option>
Option *option_place(Option *begin, Option *end, const char *key)
{
    return std::lower_bound(begin, end, key,
                            [](const ic_log_option &o, const char *k) { return std::strcmp(o.name, k) < 0; });
}

// Where the keys of the current section go.
enum class target { default_mask, option, ignored };

struct parser {
    ic_log_config *config;
    target where = target::default_mask;
    uint32_t option = 0;

    void section(span name)
    {
        if (name.n >= IC_LOG_NAME_SIZE) {
            where = target::ignored;
            return;
        }
        char key[IC_LOG_NAME_SIZE] = {};
        std::memcpy(key, name.p, name.n);
        ic_log_option *begin = config->options;
        ic_log_option *end = begin + config->option_count;
        ic_log_option *at = option_place(begin, end, key);
        if (at == end || std::strcmp(at->name, key) != 0) {
            if (config->option_count == IC_LOG_MAX_OPTIONS) {
                where = target::ignored;
                return;
            }
            std::move_backward(at, end, end + 1);
            std::memcpy(at->name, key, sizeof key);
            at->mask = config->default_mask;
            ++config->option_count;
        }
        where = target::option;
        option = uint32_t(at - begin);
    }

    void key(span name, span value)
    {
        if (where == target::ignored)
            return;
        if (name.equals("level")) {
            value.skip_blanks();
            span word = value.take_while([](char c) { return !is_blank(c); });
            uint32_t level;
            if (ic_log_parse_level(word.p, word.n, &level) != 0)
                return;
            uint32_t mask = ic_log_level_mask(level) & ~(1u << 31);
            if (where == target::option)
                config->options[option].mask = mask;
            else
                config->default_mask = mask;
        } else if (name.equals("format")) {
            char text[IC_LOG_MAX_CONFIG_LINE];
            size_t length;
            if (parse_quoted(value, text, &length) && length < IC_LOG_LITERAL_SIZE)
                ic_log_format_compile(&config->format, text, length);
        }
    }

    void line(span line)
    {
        if (line.n > IC_LOG_MAX_CONFIG_LINE)
            return;
        line.skip_blanks();
        if (line.empty() || line.front() == '#')
            return;
        if (line.front() == '[') {
            span name;
            if (parse_section(line, &name))
                section(name);
            return;
        }
        if (!is_alpha(line.front()))
            return;
        span name = line.take_while([](char c) { return is_alpha(c) || is_digit(c) || c == '_'; });
        line.skip_blanks();
        if (line.empty() || line.front() != '=')
            return;
        line.drop(1);
        key(name, line);
    }
};

} // namespace

const char *ic_log_level_name(uint32_t level)
{
    return level < sizeof level_names / sizeof *level_names ? level_names[level] : nullptr;
}

uint32_t ic_log_level_mask(uint32_t level)
{
    return level >= 31 ? 0xFFFFFFFFu : (2u << level) - 1;
}

int ic_log_parse_level(const char *text, size_t length, uint32_t *level)
{
    if (!text || length == 0)
        return -1;
    for (uint32_t i = 0; i < sizeof level_names / sizeof *level_names; ++i) {
        if (std::strlen(level_names[i]) == length && strncasecmp(text, level_names[i], length) == 0) {
            *level = i;
            return 0;
        }
    }
    if (!is_digit(text[0]))
        return -1;
    char word[IC_LOG_MAX_CONFIG_LINE + 1];
    if (length >= sizeof word || std::memchr(text, '\0', length))
        return -1;
    std::memcpy(word, text, length);
    word[length] = '\0';
    char *end;
    errno = 0;
    unsigned long v = std::strtoul(word, &end, 0);
    if (errno || end != word + length || v > UINT32_MAX)
        return -1;
    *level = uint32_t(v);
    return 0;
}

void ic_log_config_init(ic_log_config *config)
{
    std::memset(config, 0, sizeof *config);
    config->default_mask = IC_LOG_DEFAULT_MASK;
    ic_log_format_compile(&config->format, builtin_format, sizeof builtin_format - 1);
}

void ic_log_config_parse(ic_log_config *config, const char *text, size_t length)
{
    parser p{config};
    while (length) {
        const char *nl = static_cast<const char *>(std::memchr(text, '\n', length));
        size_t n = nl ? size_t(nl - text) : length;
        p.line(span{text, n});
        size_t step = nl ? n + 1 : n;
        text += step;
        length -= step;
    }
}

int ic_log_config_load_file(ic_log_config *config, const char *path)
{
    if (!path)
        return -1;
    std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(path, "r"), std::fclose);
    if (!f)
        return -1;
    std::unique_ptr<char, void (*)(void *)> text(static_cast<char *>(std::malloc(max_file_size)),
                                                 std::free);
    if (!text)
        return -1;
    size_t length = std::fread(text.get(), 1, max_file_size, f.get());
    if (std::ferror(f.get()))
        return -1;
    ic_log_config_parse(config, text.get(), length);
    return 0;
}

const ic_log_option *ic_log_config_find(const ic_log_config *config, const char *name)
{
    const ic_log_option *begin = config->options;
    const ic_log_option *end = begin + config->option_count;
    const ic_log_option *at = option_place(begin, end, name);
    return at != end && std::strcmp(at->name, name) == 0 ? at : nullptr;
}

uint32_t ic_log_config_mask(const ic_log_config *config, const char *channel)
{
    const ic_log_option *o = ic_log_config_find(config, channel);
    return o ? o->mask : config->default_mask;
}
