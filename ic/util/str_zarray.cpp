// Arrays of strings closed by a null pointer.
#include "ic/util/str_zarray.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

char *dup(const char *s)
{
    size_t len = std::strlen(s) + 1;
    char *d = static_cast<char *>(std::malloc(len));
    if (d)
        std::memcpy(d, s, len);
    return d;
}

// New array of copies of the strings, or null (nothing left allocated).
char **build(const std::vector<const char *> &strings)
{
    char **array = static_cast<char **>(std::calloc(strings.size() + 1, sizeof(char *)));
    if (!array)
        return nullptr;
    for (size_t i = 0; i < strings.size(); ++i) {
        array[i] = dup(strings[i]);
        if (!array[i]) {
            ic_str_zarray_destroy(array);
            return nullptr;
        }
    }
    return array;
}

} // namespace

size_t ic_str_zarray_len(const char *const *array)
{
    size_t n = 0;
    if (array)
        while (array[n])
            ++n;
    return n;
}

void ic_str_zarray_destroy(char **array)
{
    if (!array)
        return;
    for (char **p = array; *p; ++p)
        std::free(*p);
    std::free(array);
}

char **ic_str_zarray_copy(const char *const *array)
{
    if (!array)
        return nullptr;
    try {
        return build(std::vector<const char *>(array, array + ic_str_zarray_len(array)));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

char **ic_str_zarray_create(const char *str, ...)
{
    std::vector<const char *> strings;
    bool ok = true;
    va_list ap;
    va_start(ap, str);
    try {
        for (const char *s = str; s; s = va_arg(ap, const char *))
            strings.push_back(s);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    va_end(ap);
    return ok ? build(strings) : nullptr;
}

char **ic_str_zarray_create2(const char *const *array, ...)
{
    std::vector<const char *> strings;
    bool ok = true;
    va_list ap;
    va_start(ap, array);
    try {
        for (const char *const *a = array; a; a = va_arg(ap, const char *const *))
            strings.insert(strings.end(), a, a + ic_str_zarray_len(a));
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    va_end(ap);
    return ok ? build(strings) : nullptr;
}
