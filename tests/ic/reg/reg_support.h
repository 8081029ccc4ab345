// Test support for the hive reader: hives written to files, names.
#ifndef TESTS_IC_REG_SUPPORT_H
#define TESTS_IC_REG_SUPPORT_H

#include "reg_walk.h"
#include "simcomputer/regf.h"
#include "temp_dir.h"

#include <cstdio>
#include <stdexcept>

namespace regtest {

inline void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        throw std::runtime_error("cannot write " + path);
}

inline std::string write_file(const simtest::TempDir &dir, const std::string &name, const std::vector<uint8_t> &bytes)
{
    std::string path = dir / name;
    write_bytes(path, bytes);
    return path;
}

inline std::u16string u16(const reg_char *s)
{
    return std::u16string(reinterpret_cast<const char16_t *>(s));
}

inline const reg_char *w(const std::u16string &s)
{
    return reinterpret_cast<const reg_char *>(s.c_str());
}

} // namespace regtest

#endif
