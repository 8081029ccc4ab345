// The check list against the volumes: one volume, every volume, and the
// list as found on the disks now.
#include "icl_internal.h"
#include "ocl_internal.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_volume_id.h>

#include <cstdlib>

namespace {

// Holds one mount use of a volume for a scope.
class mount_use {
public:
    explicit mount_use(fs_volume *volume) : volume_(volume) {}
    ~mount_use()
    {
        if (dir_ && fs_volume_release_mount_point(volume_) != FS_OK)
            IC_LOG(ic_log_fs_ocl, IC_LOG_ERROR, "cannot release the mount of %s\n", volume_->devnode);
    }
    mount_use(const mount_use &) = delete;
    mount_use &operator=(const mount_use &) = delete;
    int get() { return fs_volume_get_mount_point(volume_, 0, &dir_); }
    const char *dir() const { return dir_; }

private:
    fs_volume *volume_;
    const char *dir_ = nullptr;
};

// One entry of the session list; the entry is left out when none of its
// objects can be added.
int session_volume(fs_icl *session, const fs_icl_volume *stored, fs_disk_list *list)
{
    fs_volume *volume = fs_disk_list_find_volume(list, stored->id);
    if (!volume)
        return FS_OCL_OK;
    mount_use mount(volume);
    if (mount.get() != FS_OK)
        return FS_OCL_OK;
    fs_icl_volume *v = nullptr;
    int rc = icl::volume_create(session, stored->id, &v);
    if (rc != FS_OCL_OK)
        return rc;
    rc = ocl::add_again(v->ocl, mount.dir(), stored->ocl);
    if (rc != FS_OCL_OK || v->ocl->count == 0) {
        icl::volume_unlink(session, v);
        icl::volume_destroy(v);
    }
    return rc;
}

} // namespace

int fs_icl_check_info_create(const fs_icl_volume *icl_volume, fs_volume *volume, fs_ocl_check_info **check)
{
    OCL_ENTER();
    if (!icl_volume || !volume || !check)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    mount_use mount(volume);
    int rc = mount.get();
    if (rc != FS_OK)
        OCL_RETURN(rc);
    OCL_RETURN(fs_ocl_check_info_create(icl_volume->ocl, mount.dir(), check));
}

int fs_icl_session_create(const fs_icl *icl, fs_disk_list *list, fs_icl **session)
{
    OCL_ENTER();
    if (!icl || !list || !session)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_icl *s = nullptr;
    int rc = fs_icl_create(&s);
    for (const fs_icl_volume *v = icl->first; rc == FS_OCL_OK && v; v = v->next)
        rc = session_volume(s, v, list);
    if (rc != FS_OCL_OK) {
        fs_icl_destroy(s);
        OCL_RETURN(rc);
    }
    // Entries were put at the front: turn them back into the list's order.
    fs_icl_volume *reversed = nullptr;
    for (fs_icl_volume *v = s->first; v;) {
        fs_icl_volume *next = v->next;
        v->next = reversed;
        reversed = v;
        v = next;
    }
    s->first = reversed;
    *session = s;
    OCL_RETURN(FS_OCL_OK);
}

int fs_icl_check_info_create_all(const fs_icl *icl, fs_disk_list *list, fs_icl_check_info **info)
{
    return fs_icl_check_info_create_all_progress(icl, list, nullptr, nullptr, info);
}

int fs_icl_check_info_create_all_progress(const fs_icl *icl, fs_disk_list *list, void (*progress)(void *arg),
                                          void *arg, fs_icl_check_info **info)
{
    OCL_ENTER();
    if (!icl || !list || !info)
        OCL_RETURN(FS_OCL_ERR_INVAL);
    fs_icl_check_info *out = static_cast<fs_icl_check_info *>(std::calloc(1, sizeof(fs_icl_check_info)));
    if (!out)
        OCL_RETURN(FS_OCL_ERR_NOMEM);
    fs_icl_check_volume **tail = &out->first;
    for (const fs_icl_volume *v = icl->first; v; v = v->next) {
        fs_icl_check_volume *r = static_cast<fs_icl_check_volume *>(std::calloc(1, sizeof(fs_icl_check_volume)));
        if (!r) {
            fs_icl_check_info_destroy(out);
            OCL_RETURN(FS_OCL_ERR_NOMEM);
        }
        *tail = r;
        tail = &r->next;
        ++out->count;
        r->icl_volume = v;
        switch (fs_disk_list_lookup_volume(list, v->id, &r->volume)) {
        case FS_OK:
            break;
        case FS_ERR_NOT_FOUND:
            r->state = FS_ICL_VOLUME_NOT_FOUND;
            continue;
        case FS_ERR_AMBIGUOUS:
            r->state = FS_ICL_AMBIGUOUS;
            continue;
        default:
            r->state = FS_ICL_DISK_NOT_FOUND;
            continue;
        }
        mount_use mount(r->volume);
        if ((r->code = mount.get()) != FS_OK) {
            r->state = FS_ICL_MOUNT_FAILED;
            continue;
        }
        r->code = ocl::check_info_create(v->ocl, mount.dir(), {progress, arg}, &r->check);
        r->state = r->code == FS_OCL_OK ? FS_ICL_CHECKED : FS_ICL_CHECK_FAILED;
    }
    *info = out;
    OCL_RETURN(FS_OCL_OK);
}

void fs_icl_check_info_destroy(fs_icl_check_info *info)
{
    if (!info)
        return;
    for (fs_icl_check_volume *r = info->first; r;) {
        fs_icl_check_volume *next = r->next;
        fs_ocl_check_info_destroy(r->check);
        std::free(r);
        r = next;
    }
    std::free(info);
}

fs_icl_check_volume *fs_icl_check_first_volume(const fs_icl_check_info *info)
{
    return info ? info->first : nullptr;
}

fs_icl_check_volume *fs_icl_check_next_volume(const fs_icl_check_volume *volume)
{
    return volume ? volume->next : nullptr;
}

fs_icl_check_volume *fs_icl_check_find_volume(const fs_icl_check_info *info, const fs_volume_id *id)
{
    if (!info || !id)
        return nullptr;
    for (fs_icl_check_volume *r = info->first; r; r = r->next)
        if (fs_volume_id_compare(r->icl_volume->id, id) == 0)
            return r;
    return nullptr;
}

int fs_icl_check_info_passed(const fs_icl_check_info *info)
{
    if (!info)
        return 0;
    for (const fs_icl_check_volume *r = info->first; r; r = r->next)
        if (r->state != FS_ICL_CHECKED || r->check->count != 0)
            return 0;
    return 1;
}
