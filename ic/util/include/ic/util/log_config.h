/*
 * log_config.h - the machinery behind log.h: configuration parser, line
 * format and line rendering.  Core code uses log.h; this header is for the
 * log itself, its tests and its fuzz target.
 *
 * Configuration file:
 *
 *     # comment
 *     level = error              keys before any section set the default
 *     format = "%{time} %{channel} %{message}"
 *     [hw]
 *     level = trace
 *
 * Every malformed line is ignored without a word.
 */
#ifndef IC_UTIL_LOG_CONFIG_H
#define IC_UTIL_LOG_CONFIG_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#define IC_LOG_LINE_SIZE 1024u     /* longer lines are cut */
#define IC_LOG_MAX_OPTIONS 256u
#define IC_LOG_NAME_SIZE 32u       /* channel names: at most 31 characters */
#define IC_LOG_LITERAL_SIZE 256u
#define IC_LOG_MAX_CODES 32u
#define IC_LOG_MAX_CONFIG_LINE 254u /* longer configuration lines are ignored */
#define IC_LOG_DEFAULT_MASK 3u

/* Format codes: directives 1-10; (offset << 6) | 63 is the literal piece at
 * that offset of the literal area; 0 ends the list. */
enum {
    IC_LOG_CODE_END = 0,
    IC_LOG_CODE_TIMESTAMP = 1,
    IC_LOG_CODE_DATE = 2,
    IC_LOG_CODE_TIME = 3,
    IC_LOG_CODE_CHANNEL = 4,
    IC_LOG_CODE_CLASS = 5,
    IC_LOG_CODE_SOURCE = 6,
    IC_LOG_CODE_FILE = 7,
    IC_LOG_CODE_FUNCTION = 8,
    IC_LOG_CODE_LINE = 9,
    IC_LOG_CODE_MESSAGE = 10,
};

#define IC_LOG_LITERAL_CODE(offset) static_cast<uint16_t>(((offset) << 6) | 63u)

struct ic_log_format {
    char literals[IC_LOG_LITERAL_SIZE]; /* NUL-terminated pieces */
    uint16_t codes[IC_LOG_MAX_CODES];   /* ended by 0 unless all are used */
};

struct ic_log_option {
    char name[IC_LOG_NAME_SIZE];
    uint32_t mask;
};

struct ic_log_config {
    uint32_t default_mask;
    uint32_t option_count;
    ic_log_option options[IC_LOG_MAX_OPTIONS]; /* sorted by name (strcmp) */
    ic_log_format format;
};

/* Built-in state: default mask 3, no options, the format
 * "%{timestamp} [%{channel}] %{class}: %{source} %{message}". */
void ic_log_config_init(ic_log_config *config);

/* Applies the configuration text (lines ended by line feeds) to config. */
void ic_log_config_parse(ic_log_config *config, const char *text, size_t length);

/* Applies the file at path (its first 1 MiB).  0, or -1 when it cannot be
 * opened or read (config unchanged). */
int ic_log_config_load_file(ic_log_config *config, const char *path);

/* Mask of a channel: its option's, else the default. */
uint32_t ic_log_config_mask(const ic_log_config *config, const char *channel);

/* The option of that name, or null. */
const ic_log_option *ic_log_config_find(const ic_log_config *config, const char *name);

/* A level value: one of the six level names (any case) or a complete
 * decimal, octal (leading 0) or hexadecimal (0x) number.  0 or -1. */
int ic_log_parse_level(const char *text, size_t length, uint32_t *level);

/* Mask of level and every more severe level: 2^(level+1) - 1, saturated at
 * 32 bits. */
uint32_t ic_log_level_mask(uint32_t level);

/* "FATAL" ... "TRACE" for levels 0 to 5, null above. */
const char *ic_log_level_name(uint32_t level);

/* Compiles a format text into format.  0, or -1 when the literal area or the
 * code list would overflow or the text holds a NUL byte (format unchanged). */
int ic_log_format_compile(ic_log_format *format, const char *text, size_t length);

/* What a line is about. */
struct ic_log_site {
    const char *channel;
    unsigned level;
    const char *file;
    const char *function;
    unsigned line;
};

/* Writes the message into dst, at most room bytes; returns the bytes
 * written. */
typedef size_t (*ic_log_message_fn)(char *dst, size_t room, void *context);

/* Renders one line into line (IC_LOG_LINE_SIZE bytes, not terminated) and
 * returns its length.  now gives the time of the line; null reads the clock
 * at the first time directive. */
size_t ic_log_render(const ic_log_format *format, const ic_log_site *site, const timeval *now,
                     ic_log_message_fn message, void *context, char *line);

/* Forgets the process-wide configuration: back to the built-in state, and
 * the environment and LOG_CONFIG are read again at the next message. */
void ic_log_reset(void);

#endif
