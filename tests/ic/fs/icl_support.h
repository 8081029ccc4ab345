// Support for the check list tests: owning handles, images, and check
// results of every volume as one line of text.
#ifndef TESTS_IC_FS_ICL_SUPPORT_H
#define TESTS_IC_FS_ICL_SUPPORT_H

#include "ocl_support.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_volume_id.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

namespace icltest {

struct icl_deleter {
    void operator()(fs_icl *l) const { fs_icl_destroy(l); }
};
struct vol_id_deleter {
    void operator()(fs_volume_id *id) const { fs_volume_id_destroy(id); }
};
struct icl_check_deleter {
    void operator()(fs_icl_check_info *c) const { fs_icl_check_info_destroy(c); }
};
using Icl = std::unique_ptr<fs_icl, icl_deleter>;
using VolId = std::unique_ptr<fs_volume_id, vol_id_deleter>;
using IclCheck = std::unique_ptr<fs_icl_check_info, icl_check_deleter>;

inline Icl make_icl()
{
    fs_icl *l = nullptr;
    EXPECT_EQ(fs_icl_create(&l), FS_OCL_OK);
    return Icl(l);
}

inline VolId partition_id(const char *disk, unsigned number)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_partition_id_create(disk, number, &id), 0);
    return VolId(id);
}

inline VolId id_of(const fs_volume *volume)
{
    fs_volume_id *id = nullptr;
    EXPECT_EQ(fs_volume_create_id(volume, &id), 0);
    return VolId(id);
}

inline std::string image_of(const fs_icl *icl)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(fs_icl_write_to_mem(icl, &data, &size), FS_OCL_OK);
    std::string s(reinterpret_cast<const char *>(data), size);
    std::free(data);
    return s;
}

// The list the bytes hold, or null.
inline Icl read_image(const std::string &bytes, int *rc = nullptr)
{
    fs_icl *l = nullptr;
    const int r = fs_icl_read_from_mem(bytes.data(), uint32_t(bytes.size()), &l);
    if (rc)
        *rc = r;
    return Icl(r == FS_OCL_OK ? l : nullptr);
}

// Presence-only file record: no hash, no attributes.
inline void add_presence(fs_icl *icl, const fs_volume_id *id, const char *path)
{
    ASSERT_EQ(fs_icl_add_file_info(icl, id, path, 0, nullptr, nullptr, nullptr), FS_OCL_OK) << path;
}

// "FIRST:1" or "vg/lv".
inline std::string id_text(const fs_volume_id *id)
{
    if (fs_volume_id_kind(id) == FS_VOLUME_LVM)
        return std::string(id->first) + "/" + id->second;
    return std::string(id->first) + ":" + std::to_string(id->number);
}

inline std::string volume_names(const fs_icl *icl)
{
    std::string out;
    for (const fs_icl_volume *v = fs_icl_first_volume(icl); v; v = fs_icl_next_volume(v))
        out += (out.empty() ? "" : " ") + id_text(v->id);
    return out;
}

inline IclCheck check_all(const fs_icl *icl, fs_disk_list *list)
{
    fs_icl_check_info *c = nullptr;
    EXPECT_EQ(fs_icl_check_info_create_all(icl, list, &c), FS_OCL_OK);
    return IclCheck(c);
}

// "FIRST:1 checked {/etc/hosts=0x44}; GONE:1 disk not found", list order.
inline std::string summary(const fs_icl_check_info *info)
{
    static const char *const states[] = {"checked", "disk not found", "volume not found", "mount failed",
                                         "check failed"};
    std::string out;
    for (const fs_icl_check_volume *r = fs_icl_check_first_volume(info); r; r = fs_icl_check_next_volume(r)) {
        if (!out.empty())
            out += "; ";
        out += id_text(r->icl_volume->id) + " " + states[r->state];
        if (r->state == FS_ICL_MOUNT_FAILED || r->state == FS_ICL_CHECK_FAILED)
            out += " " + std::to_string(r->code);
        if (r->state != FS_ICL_CHECKED)
            continue;
        std::string items;
        for (const auto &[path, flags] : ocltest::flatten(r->check)) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%x", flags);
            items += (items.empty() ? "" : " ") + path + "=" + hex;
        }
        out += " {" + items + "}";
    }
    return out;
}

inline int count_lines(const std::string &text, const std::string &prefix)
{
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}

} // namespace icltest

#endif
