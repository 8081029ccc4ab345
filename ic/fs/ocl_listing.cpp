// Per-file directory listings: one allocation per level holding its arrays
// and names, built by listing_builder.
#include "ocl_internal.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace ocl {

void listing_clear(fs_ocl_dir_info *info)
{
    for (int32_t i = 0; i < info->dir_count; ++i)
        listing_clear(&info->dirs[i]);
    std::free(info->storage);
    std::memset(info, 0, sizeof *info);
}

listing_builder::~listing_builder()
{
    for (fs_ocl_dir_info &d : dirs_)
        listing_clear(&d);
}

void listing_builder::add_dir(const char *name, size_t length, fs_ocl_dir_info *child,
                              const fs_ocl_dir_attrs *attrs)
{
    listing_guard guard{child};
    dir_names_.push_back(pool_.size());
    pool_.append(name, length).push_back('\0');
    dirs_.push_back(*child);
    guard.info = nullptr;
    std::memset(child, 0, sizeof *child);
    if (flags_ & FS_OCL_CONTROL_ATTRS)
        dir_attrs_.push_back(*attrs);
}

void listing_builder::add_file(const char *name, size_t length, const uint8_t *hash,
                               const fs_ocl_file_attrs *attrs)
{
    file_names_.push_back(pool_.size());
    pool_.append(name, length).push_back('\0');
    if (flags_ & FS_OCL_CONTROL_DATA)
        hashes_.insert(hashes_.end(), hash, hash + FS_OCL_HASH_SIZE);
    if (flags_ & FS_OCL_CONTROL_ATTRS)
        file_attrs_.push_back(*attrs);
}

int listing_builder::finish(fs_ocl_dir_info *out)
{
    const size_t nd = dir_names_.size(), nf = file_names_.size();
    if (nd > INT32_MAX || nf > INT32_MAX)
        return FS_OCL_ERR_IO;
    std::memset(out, 0, sizeof *out);
    if (nd == 0 && nf == 0)
        return FS_OCL_OK;
    const bool attrs = flags_ & FS_OCL_CONTROL_ATTRS, data = flags_ & FS_OCL_CONTROL_DATA;
    // Largest alignment first: listings, pointers, attributes, bytes.
    size_t size = 0;
    const size_t at_dirs = size;
    size += nd * sizeof(fs_ocl_dir_info);
    const size_t at_dir_names = size;
    size += nd * sizeof(char *);
    const size_t at_file_names = size;
    size += nf * sizeof(char *);
    const size_t at_dir_attrs = size;
    size += attrs ? nd * sizeof(fs_ocl_dir_attrs) : 0;
    const size_t at_file_attrs = size;
    size += attrs ? nf * sizeof(fs_ocl_file_attrs) : 0;
    const size_t at_hashes = size;
    size += data ? nf * FS_OCL_HASH_SIZE : 0;
    const size_t at_pool = size;
    size += pool_.size();

    char *block = static_cast<char *>(std::malloc(size));
    if (!block)
        return FS_OCL_ERR_NOMEM;
    out->storage = block;
    out->dir_count = int32_t(nd);
    out->file_count = int32_t(nf);
    char *pool = block + at_pool;
    std::memcpy(pool, pool_.data(), pool_.size());
    if (nd) {
        out->dirs = reinterpret_cast<fs_ocl_dir_info *>(block + at_dirs);
        out->dir_names = reinterpret_cast<char **>(block + at_dir_names);
        std::memcpy(static_cast<void *>(out->dirs), dirs_.data(), nd * sizeof(fs_ocl_dir_info));
        dirs_.clear(); // the children belong to out now
        for (size_t i = 0; i < nd; ++i)
            out->dir_names[i] = pool + dir_names_[i];
        if (attrs) {
            out->dir_attrs = reinterpret_cast<fs_ocl_dir_attrs *>(block + at_dir_attrs);
            std::memcpy(out->dir_attrs, dir_attrs_.data(), nd * sizeof(fs_ocl_dir_attrs));
        }
    }
    if (nf) {
        out->file_names = reinterpret_cast<char **>(block + at_file_names);
        for (size_t i = 0; i < nf; ++i)
            out->file_names[i] = pool + file_names_[i];
        if (attrs) {
            out->file_attrs = reinterpret_cast<fs_ocl_file_attrs *>(block + at_file_attrs);
            std::memcpy(out->file_attrs, file_attrs_.data(), nf * sizeof(fs_ocl_file_attrs));
        }
        if (data) {
            out->file_hashes = reinterpret_cast<uint8_t(*)[FS_OCL_HASH_SIZE]>(block + at_hashes);
            std::memcpy(out->file_hashes, hashes_.data(), nf * FS_OCL_HASH_SIZE);
        }
    }
    return FS_OCL_OK;
}

} // namespace ocl
