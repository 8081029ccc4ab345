/*
 * log.h - diagnostic log channels of the core (standard error).
 *
 * A channel is a static record per area.  A message of level L is written
 * when bit L (mod 32) of the channel's mask is set; the mask comes from the
 * channel's section of the configuration file named by LOG_CONFIG, else from
 * the default mask (FATAL and ERROR, or LOG_LEVEL).  Logging never reports
 * errors and is for single-threaded use.
 *
 * Call sites use the macros, which pass the file's base name, the function
 * and the line:
 *
 *     IC_LOG(ic_log_hw, IC_LOG_ERROR, "ret = %d\n", ret);
 */
#ifndef IC_UTIL_LOG_H
#define IC_UTIL_LOG_H

#include <stddef.h>
#include <stdint.h>

/* Levels. */
#define IC_LOG_FATAL 0u
#define IC_LOG_ERROR 1u
#define IC_LOG_WARN 2u
#define IC_LOG_INFO 3u
#define IC_LOG_DEBUG 4u
#define IC_LOG_TRACE 5u

/* Mask of a channel that has not been resolved yet. */
#define IC_LOG_MASK_UNRESOLVED 0xFFFFFFFFu

struct ic_log_channel {
    char name[32];  /* NUL-terminated */
    uint32_t mask;  /* starts as IC_LOG_MASK_UNRESOLVED */
};

/* The channels of the core's areas. */
extern ic_log_channel ic_log_fs;     /* disks, volumes, mounting */
extern ic_log_channel ic_log_fs_ocl; /* file check lists and their check */
extern ic_log_channel ic_log_hw;     /* hardware */
extern ic_log_channel ic_log_reg;    /* registry hives */
extern ic_log_channel ic_log_rcl;    /* registry check list */

/* Writes one line whose message is the printf-style format with its
 * arguments.  No newline is added. */
void ic_log(ic_log_channel *channel, unsigned level, const char *file, const char *function,
            unsigned line, const char *format, ...) __attribute__((format(printf, 6, 7)));

/* The same with length raw bytes as the message. */
void ic_log_write(ic_log_channel *channel, unsigned level, const char *file, const char *function,
                  unsigned line, const void *data, size_t length);

/* Sets the default mask to level and every more severe level. */
void ic_log_set_default_level(unsigned level);

/* Whether a message of level would pass the channel's mask as last resolved
 * (true while unresolved).  For call sites that would format expensive
 * arguments. */
static inline bool ic_log_enabled(const ic_log_channel *channel, unsigned level)
{
    return (channel->mask >> (level & 31u)) & 1u;
}

/* Base name of the source file, for call sites. */
#if defined(__FILE_NAME__)
#define IC_LOG_FILE __FILE_NAME__
#else
constexpr const char *ic_log_base_name(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; ++p)
        if (*p == '/')
            base = p + 1;
    return base;
}
#define IC_LOG_FILE ic_log_base_name(__FILE__)
#endif

#define IC_LOG(channel, level, ...) \
    ic_log(&(channel), (level), IC_LOG_FILE, __func__, __LINE__, __VA_ARGS__)

#define IC_LOG_WRITE(channel, level, data, length) \
    ic_log_write(&(channel), (level), IC_LOG_FILE, __func__, __LINE__, (data), (length))

#endif
