// Support for the object check list tests: trees in temporary directories,
// digests, and check results flattened to path -> flags.
#ifndef TESTS_IC_FS_OCL_SUPPORT_H
#define TESTS_IC_FS_OCL_SUPPORT_H

#include "temp_dir.h"

#include <ic/fs/fs_ocl.h>
#include <ic/fs/fs_ocl_check.h>
#include <ic/fs/fs_ocl_ptr.h>

#include <gost/gost_r3411_94.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace ocltest {

using Digest = std::vector<uint8_t>;
using Results = std::map<std::string, uint32_t>;

inline void write(const std::string &path, const std::string &data)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    ASSERT_TRUE(out.good()) << path;
}

inline void set_mtime(const std::string &path, time_t t)
{
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

inline Digest gost(const std::string &data)
{
    Digest d(FS_OCL_HASH_SIZE);
    gost_r3411_94_digest(GOST_R3411_94_PARAMS_CRYPTOPRO, data.data(), data.size(), d.data());
    return d;
}

inline std::string bytes(const Digest &d)
{
    return std::string(d.begin(), d.end());
}

inline std::string le(uint32_t v, unsigned n)
{
    std::string s;
    for (unsigned i = 0; i < n; ++i)
        s += char(v >> (8 * i));
    return s;
}

// An entry's name as a directory hash takes it: kind (1 directory, 2 file,
// 3 symbolic link), length, the name.
inline std::string hashed_name(char kind, const std::string &name)
{
    return kind + le(uint32_t(name.size()), 2) + name;
}

inline std::string hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline ic_fs::ocl_ptr make_ocl()
{
    fs_ocl *o = nullptr;
    EXPECT_EQ(fs_ocl_create(&o), FS_OCL_OK);
    return ic_fs::ocl_ptr(o);
}

// The list's byte image.
inline std::string image_of(const fs_ocl *ocl)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(fs_ocl_write_to_mem(ocl, &data, &size), FS_OCL_OK);
    std::string s(reinterpret_cast<char *>(data), size);
    std::free(data);
    return s;
}

// Differences as path inside the volume -> flags; directory items are
// joined to their object's path.
inline Results flatten(const fs_ocl_check_info *check)
{
    Results r;
    for (const fs_ocl_check_object *o = fs_ocl_check_first_object(check); o;
         o = fs_ocl_check_next_object(check, o)) {
        std::string base = o->object->path;
        if (o->variant == FS_OCL_CHECK_FILE) {
            r[base] = reinterpret_cast<const fs_ocl_check_file *>(o)->flags;
            continue;
        }
        while (!base.empty() && base.back() == '/')
            base.pop_back();
        for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(o); i; i = fs_ocl_check_next_dir_item(i))
            r[base + i->path] = i->flags;
    }
    return r;
}

// Checks ocl against root; the differences, or a failure of the test.
inline Results check(const fs_ocl *ocl, const std::string &root, int expect_rc = FS_OCL_OK)
{
    fs_ocl_check_info *c = nullptr;
    const int rc = fs_ocl_check_info_create(ocl, root.c_str(), &c);
    EXPECT_EQ(rc, expect_rc);
    if (rc != FS_OCL_OK)
        return {};
    ic_fs::ocl_check_ptr guard(c);
    return flatten(c);
}

} // namespace ocltest

#endif
