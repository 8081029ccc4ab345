/*
 * str_buf.h - string builder for paths (file check code).
 *
 * The string is malloc'ed and always NUL-terminated; capacity counts the
 * terminator.  Functions return IC_OK or IC_ERR_NOMEM, leaving the buffer
 * as it was on failure.  String lists are closed by nullptr; an empty list
 * is just nullptr.
 */
#ifndef IC_UTIL_STR_BUF_H
#define IC_UTIL_STR_BUF_H

#include <cstddef>
#include <stddef.h>

struct fs_str_buf {
    char *str;       /* owned, NUL-terminated */
    size_t length;   /* bytes before the terminator */
    size_t capacity; /* bytes allocated */
};

/* Allocates exactly the total length + 1 and fills it with the
 * concatenation of the strings.  On failure the buffer is left empty (null
 * string). */
int _fs_str_buf_init(fs_str_buf *buf, const char *str, ...) __attribute__((sentinel));
inline int _fs_str_buf_init(fs_str_buf *buf, std::nullptr_t)
{
    return _fs_str_buf_init(buf, "", nullptr);
}

/* Appends the concatenation; when more room is needed, reallocates to
 * exactly the new length + 1. */
int _fs_str_buf_append(fs_str_buf *buf, const char *str, ...) __attribute__((sentinel));
inline int _fs_str_buf_append(fs_str_buf *buf, std::nullptr_t)
{
    return _fs_str_buf_append(buf, "", nullptr);
}

/* Cuts the string back to length bytes (no effect when it is not longer). */
void _fs_str_buf_truncate(fs_str_buf *buf, size_t length);

/* Frees the string and empties the buffer. */
void _fs_str_buf_free(fs_str_buf *buf);

#endif
