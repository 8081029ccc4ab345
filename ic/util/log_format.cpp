// Line formats of the diagnostic log: compiling a format text and rendering
// one line.
#include "ic/util/log_config.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

struct directive {
    const char *text;
    uint16_t code;
};

constexpr directive directives[] = {
    {"{timestamp}", IC_LOG_CODE_TIMESTAMP}, {"{date}", IC_LOG_CODE_DATE},
    {"{time}", IC_LOG_CODE_TIME},           {"{channel}", IC_LOG_CODE_CHANNEL},
    {"{class}", IC_LOG_CODE_CLASS},         {"{source}", IC_LOG_CODE_SOURCE},
    {"{file}", IC_LOG_CODE_FILE},           {"{function}", IC_LOG_CODE_FUNCTION},
    {"{line}", IC_LOG_CODE_LINE},           {"{message}", IC_LOG_CODE_MESSAGE},
};

// Builds a format; literal runs collect characters until a directive or
// the end.
class compiler {
public:
    explicit compiler(ic_log_format *out) : out_(out)
    {
        std::memset(out_, 0, sizeof *out_);
    }

    bool literal_char(char c)
    {
        if (run_start_ < 0) {
            if (!add_code(IC_LOG_LITERAL_CODE(unsigned(used_))))
                return false;
            run_start_ = int(used_);
        }
        // Room for the character and the run's terminator.
        if (used_ + 2 > IC_LOG_LITERAL_SIZE)
            return false;
        out_->literals[used_++] = c;
        return true;
    }

    bool directive_code(uint16_t code)
    {
        end_run();
        return add_code(code);
    }

    void finish()
    {
        end_run();
    }

private:
    bool add_code(uint16_t code)
    {
        if (codes_ == IC_LOG_MAX_CODES)
            return false;
        out_->codes[codes_++] = code;
        return true;
    }

    void end_run()
    {
        if (run_start_ >= 0) {
            out_->literals[used_++] = '\0';
            run_start_ = -1;
        }
    }

    ic_log_format *out_;
    size_t used_ = 0;
    size_t codes_ = 0;
    int run_start_ = -1;
};

// Appends to a fixed line; everything past its end is dropped.
class line_writer {
public:
    explicit line_writer(char *line) : line_(line) {}

    void append(const char *s, size_t n)
    {
        size_t room = IC_LOG_LINE_SIZE - used_;
        if (n > room)
            n = room;
        std::memcpy(line_ + used_, s, n);
        used_ += n;
    }

    void append(const char *s)
    {
        append(s ? s : "", std::strlen(s ? s : ""));
    }

    void appendf(const char *format, ...) __attribute__((format(printf, 2, 3)))
    {
        char tmp[64];
        va_list ap;
        va_start(ap, format);
        int n = std::vsnprintf(tmp, sizeof tmp, format, ap);
        va_end(ap);
        if (n > 0)
            append(tmp, size_t(n) < sizeof tmp ? size_t(n) : sizeof tmp - 1);
    }

    char *tail()
    {
        return line_ + used_;
    }
    size_t room() const
    {
        return IC_LOG_LINE_SIZE - used_;
    }
    void advance(size_t n)
    {
        used_ += n < room() ? n : room();
    }
    size_t used() const
    {
        return used_;
    }

private:
    char *line_;
    size_t used_ = 0;
};

} // namespace

int ic_log_format_compile(ic_log_format *format, const char *text, size_t length)
{
    if (std::memchr(text, '\0', length))
        return -1;
    ic_log_format out;
    compiler c(&out);
    for (size_t i = 0; i < length;) {
        if (text[i] == '%' && i + 1 < length) {
            if (text[i + 1] == '%') {
                if (!c.literal_char('%'))
                    return -1;
                i += 2;
                continue;
            }
            const directive *match = nullptr;
            for (const directive &d : directives) {
                size_t n = std::strlen(d.text);
                if (length - i - 1 >= n && std::memcmp(text + i + 1, d.text, n) == 0) {
                    match = &d;
                    break;
                }
            }
            if (match) {
                if (!c.directive_code(match->code))
                    return -1;
                i += 1 + std::strlen(match->text);
                continue;
            }
        }
        if (!c.literal_char(text[i]))
            return -1;
        ++i;
    }
    c.finish();
    *format = out;
    return 0;
}

size_t ic_log_render(const ic_log_format *format, const ic_log_site *site, const timeval *now,
                     ic_log_message_fn message, void *context, char *line)
{
    line_writer out(line);
    timeval tv{};
    tm t{};
    bool have_time = false;
    auto need_time = [&]() {
        if (have_time)
            return;
        if (now)
            tv = *now;
        else
            gettimeofday(&tv, nullptr);
        time_t secs = tv.tv_sec;
        localtime_r(&secs, &t);
        have_time = true;
    };

    for (size_t i = 0; i < IC_LOG_MAX_CODES && format->codes[i] != IC_LOG_CODE_END; ++i) {
        uint16_t code = format->codes[i];
        switch (code) {
        case IC_LOG_CODE_TIMESTAMP:
            need_time();
            out.appendf("%04d/%02d/%02d %02d:%02d:%02d.%03d", t.tm_year + 1900, t.tm_mon + 1,
                        t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, int(tv.tv_usec / 1000));
            break;
        case IC_LOG_CODE_DATE:
            need_time();
            out.appendf("%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
            break;
        case IC_LOG_CODE_TIME:
            need_time();
            out.appendf("%02d:%02d:%02d.%03d", t.tm_hour, t.tm_min, t.tm_sec,
                        int(tv.tv_usec / 1000));
            break;
        case IC_LOG_CODE_CHANNEL:
            out.append(site->channel);
            break;
        case IC_LOG_CODE_CLASS:
            if (const char *name = ic_log_level_name(site->level))
                out.append(name);
            else
                out.appendf("%u", site->level);
            break;
        case IC_LOG_CODE_SOURCE:
            out.append(site->file);
            out.append(":");
            out.append(site->function);
            out.appendf(":%u", site->line);
            break;
        case IC_LOG_CODE_FILE:
            out.append(site->file);
            break;
        case IC_LOG_CODE_FUNCTION:
            out.append(site->function);
            break;
        case IC_LOG_CODE_LINE:
            out.appendf("%u", site->line);
            break;
        case IC_LOG_CODE_MESSAGE:
            if (message)
                out.advance(message(out.tail(), out.room(), context));
            break;
        default:
            if ((code & 63) == 63) {
                size_t offset = code >> 6;
                if (offset < IC_LOG_LITERAL_SIZE)
                    out.append(format->literals + offset,
                               strnlen(format->literals + offset, IC_LOG_LITERAL_SIZE - offset));
            }
            break;
        }
    }
    return out.used();
}
