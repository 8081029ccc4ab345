/*
 * strutil.h - small string and memory helpers of the core.
 *
 * The variadic functions take a list of strings closed by a null pointer
 * (nullptr); the compiler checks that the sentinel is there.  An empty list
 * is just nullptr (an overload takes it).  Allocated results are released
 * with free().
 */
#ifndef IC_UTIL_STRUTIL_H
#define IC_UTIL_STRUTIL_H

#include <cstddef>
#include <stddef.h>

/* Copies src into the size bytes at *dst and advances *dst to the
 * terminator.  Returns size - strlen(src) when the whole string fits;
 * otherwise copies size - 1 bytes, terminates and returns 0.  With size 0
 * nothing is written and 0 is returned. */
size_t ic_util_strpcpy(char **dst, size_t size, const char *src);

/* Concatenates the strings into dst (size bytes), truncating; dst is always
 * terminated when size > 0.  Returns the size left (0 when truncated). */
size_t ic_util_strscpyl(char *dst, size_t size, const char *src, ...)
    __attribute__((sentinel));
inline size_t ic_util_strscpyl(char *dst, size_t size, std::nullptr_t)
{
    return ic_util_strscpyl(dst, size, "", nullptr);
}

/* New concatenation of the strings ("" for an empty list), or null when out
 * of memory. */
char *ic_util_dupstrs(const char *str, ...) __attribute__((sentinel));
inline char *ic_util_dupstrs(std::nullptr_t)
{
    return ic_util_dupstrs("", nullptr);
}

/* size zero-filled bytes, or null. */
void *ic_util_zalloc(size_t size);

/* Resolves the relative symbolic link at path (a sysfs entry) in place:
 * /sys/block/sda/device -> ../../devices/x becomes /sys/devices/x.  An
 * absolute target replaces the whole path.  Returns 0; or -1 when the link
 * cannot be read, its target has 1024 bytes or more, path has too few
 * components for the target's "../" steps, or the result does not fit in
 * size bytes (path is then unchanged). */
int ic_util_resolve_link(char *path, size_t size);

#endif
