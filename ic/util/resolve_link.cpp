// Resolution of relative sysfs links in place.
#include "ic/util/strutil.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t target_size = 1024;

// Position of the slash that starts the components to replace, when the
// link at path[0, len) climbs `steps` directories: the last steps + 1
// components are dropped.  -1 when path has too few components.
ptrdiff_t cut_point(const char *path, size_t len, size_t steps)
{
    size_t end = len;
    for (size_t i = 0; i <= steps; ++i) {
        while (end > 0 && path[end - 1] == '/')
            --end;
        if (end == 0)
            return -1;
        while (end > 0 && path[end - 1] != '/')
            --end;
        if (end == 0)
            return -1;
        --end; // on the slash
    }
    return ptrdiff_t(end);
}

} // namespace

int ic_util_resolve_link(char *path, size_t size)
{
    if (!path || size == 0)
        return -1;
    char target[target_size];
    ssize_t n = readlink(path, target, sizeof target);
    if (n < 0 || size_t(n) >= sizeof target)
        return -1;
    target[n] = '\0';

    if (target[0] == '/') {
        if (size_t(n) >= size)
            return -1;
        std::memcpy(path, target, size_t(n) + 1);
        return 0;
    }

    const char *rest = target;
    size_t steps = 0;
    while (std::strncmp(rest, "../", 3) == 0) {
        rest += 3;
        ++steps;
    }
    ptrdiff_t cut = cut_point(path, std::strlen(path), steps);
    if (cut < 0)
        return -1;
    size_t rest_len = std::strlen(rest);
    if (size_t(cut) + 1 + rest_len >= size)
        return -1;
    path[cut] = '/';
    std::memcpy(path + cut + 1, rest, rest_len + 1);
    return 0;
}
