// A half-written hive with its two transaction logs from outside: open it
// (replaying the logs), walk every key, read every value.  Nothing may
// crash, hang, read out of bounds or allocate past the hive's size limit.
//
// Input: u32 hive size (little-endian, cut to what follows), the hive, u32
// size of HIVE.LOG1, its bytes, and the rest as HIVE.LOG2.
#include "reg_walk.h"

#include <ic/util/log.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

bool put(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

uint32_t take32(const uint8_t *&data, size_t &size)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && size; ++i, ++data, --size)
        v |= uint32_t(*data) << (8 * i);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (ic_log_set_default_level(IC_LOG_FATAL), true);
    (void)quiet;
    static std::string dir = [] {
        char name[] = "/dev/shm/fuzz-reg-log.XXXXXX";
        const char *made = mkdtemp(name);
        if (!made) {
            char tmp[] = "/tmp/fuzz-reg-log.XXXXXX";
            made = mkdtemp(tmp);
            return made ? std::string(made) : std::string();
        }
        return std::string(made);
    }();
    static const bool cleanup = (std::atexit([] {
                                     for (const char *f : {"/HIVE", "/HIVE.LOG1", "/HIVE.LOG2"})
                                         unlink((dir + f).c_str());
                                     rmdir(dir.c_str());
                                 }),
                                 true);
    (void)cleanup;
    if (dir.empty())
        return 0;
    const uint32_t hive_size = std::min<uint32_t>(take32(data, size), uint32_t(size));
    const uint8_t *hive = data;
    data += hive_size, size -= hive_size;
    const uint32_t log1_size = std::min<uint32_t>(take32(data, size), uint32_t(size));
    if (put(dir + "/HIVE", hive, hive_size) && put(dir + "/HIVE.LOG1", data, log1_size)
        && put(dir + "/HIVE.LOG2", data + log1_size, size - log1_size)) {
        std::vector<regtest::Key> keys;
        regtest::walk_file(dir + "/HIVE", &keys);
    }
    return 0;
}
