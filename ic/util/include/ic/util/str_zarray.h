/*
 * str_zarray.h - arrays of strings closed by a null pointer.
 *
 * The array and every string belong to it (malloc'ed); ic_str_zarray_destroy
 * releases both.  A null array stands for "no array" and is not the same as
 * an empty one, which holds only the closing null pointer.  The variadic
 * functions take lists closed by nullptr; an empty list is just nullptr.
 */
#ifndef IC_UTIL_STR_ZARRAY_H
#define IC_UTIL_STR_ZARRAY_H

#include <cstddef>
#include <stddef.h>

/* Deep copy; null when array is null or on allocation failure (nothing is
 * left allocated). */
char **ic_str_zarray_copy(const char *const *array);

/* Strings before the null pointer; 0 for a null array. */
size_t ic_str_zarray_len(const char *const *array);

/* Frees every string, then the array.  Null is allowed. */
void ic_str_zarray_destroy(char **array);

/* Array of copies of the listed strings; null on allocation failure. */
char **ic_str_zarray_create(const char *str, ...) __attribute__((sentinel));
inline char **ic_str_zarray_create(std::nullptr_t)
{
    const char *const empty[] = {nullptr};
    return ic_str_zarray_copy(empty);
}

/* One array holding copies of every string of the listed arrays, in order;
 * null on allocation failure. */
char **ic_str_zarray_create2(const char *const *array, ...) __attribute__((sentinel));
inline char **ic_str_zarray_create2(std::nullptr_t)
{
    return ic_str_zarray_create(nullptr);
}

#endif
