// Diagnostic log channels: process-wide configuration, filtering and
// writing to standard error.
#include "ic/util/log.h"

#include "ic/util/log_config.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

ic_log_channel ic_log_fs = {"fs", IC_LOG_MASK_UNRESOLVED};
ic_log_channel ic_log_fs_ocl = {"fs_ocl", IC_LOG_MASK_UNRESOLVED};
ic_log_channel ic_log_hw = {"hw", IC_LOG_MASK_UNRESOLVED};
ic_log_channel ic_log_reg = {"reg", IC_LOG_MASK_UNRESOLVED};
ic_log_channel ic_log_rcl = {"rcl", IC_LOG_MASK_UNRESOLVED};

namespace {

struct log_state {
    ic_log_config config;
    bool loaded = false;

    log_state()
    {
        ic_log_config_init(&config);
    }
};

log_state &state()
{
    static log_state s;
    return s;
}

// LOG_LEVEL, then the file named by LOG_CONFIG; once per process.
void load(log_state &s)
{
    if (s.loaded)
        return;
    s.loaded = true;
    if (const char *level_text = std::getenv("LOG_LEVEL")) {
        uint32_t level;
        if (ic_log_parse_level(level_text, std::strlen(level_text), &level) == 0)
            s.config.default_mask = ic_log_level_mask(level) & ~(1u << 31);
    }
    if (const char *path = std::getenv("LOG_CONFIG"))
        ic_log_config_load_file(&s.config, path);
}

// Whether a message of level passes the channel, resolving its mask when
// its low five bits say it may need it.
bool passes(ic_log_channel *channel, unsigned level)
{
    if (channel->mask & 0x1Fu) {
        log_state &s = state();
        load(s);
        channel->mask = ic_log_config_mask(&s.config, channel->name);
    }
    return (channel->mask >> (level & 31u)) & 1u;
}

void emit(ic_log_channel *channel, unsigned level, const char *file, const char *function,
          unsigned line, ic_log_message_fn message, void *context)
{
    ic_log_site site{channel->name, level, file ? file : "", function ? function : "", line};
    char buffer[IC_LOG_LINE_SIZE];
    size_t n = ic_log_render(&state().config.format, &site, nullptr, message, context, buffer);
    if (n == 0)
        return;
    while (write(STDERR_FILENO, buffer, n) < 0 && errno == EINTR) {
    }
}

struct printf_message {
    const char *format;
    va_list *args;
};

// printf into the room left; the line keeps up to room bytes of it.
size_t format_message(char *dst, size_t room, void *context)
{
    auto *m = static_cast<printf_message *>(context);
    if (room == 0)
        return 0;
    char tmp[IC_LOG_LINE_SIZE + 1];
    va_list ap;
    va_copy(ap, *m->args);
    int n = std::vsnprintf(tmp, room + 1, m->format, ap);
    va_end(ap);
    if (n <= 0)
        return 0;
    size_t len = size_t(n) < room ? size_t(n) : room;
    std::memcpy(dst, tmp, len);
    return len;
}

struct raw_message {
    const void *data;
    size_t length;
};

size_t copy_message(char *dst, size_t room, void *context)
{
    auto *m = static_cast<raw_message *>(context);
    size_t len = m->length < room ? m->length : room;
    if (len)
        std::memcpy(dst, m->data, len);
    return len;
}

} // namespace

void ic_log(ic_log_channel *channel, unsigned level, const char *file, const char *function,
            unsigned line, const char *format, ...)
{
    if (!channel || !format || !passes(channel, level))
        return;
    va_list ap;
    va_start(ap, format);
    printf_message m{format, &ap};
    emit(channel, level, file, function, line, format_message, &m);
    va_end(ap);
}

void ic_log_write(ic_log_channel *channel, unsigned level, const char *file, const char *function,
                  unsigned line, const void *data, size_t length)
{
    if (!channel || !passes(channel, level))
        return;
    raw_message m{data, data ? length : 0};
    emit(channel, level, file, function, line, copy_message, &m);
}

void ic_log_set_default_level(unsigned level)
{
    state().config.default_mask = ic_log_level_mask(level);
}

void ic_log_reset(void)
{
    log_state &s = state();
    ic_log_config_init(&s.config);
    s.loaded = false;
}
