// The file-system service object of the administration environment.
#include "ic/qt/orva_fun_fs.h"

#include "ic/fs/fs_icl_ptr.h"
#include "ic/fs/fs_medium.h"
#include "ic/qt/fs_names.h"
#include "ic/qt/ic_data_area.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <memory>
#include <vector>

orva_fun_fs *orva_fun_fs::object()
{
    // A disk list that cannot be built now is tried again on the next use.
    static orva_fun_fs *instance = nullptr;
    if (!instance) {
        fs_disk_list *list = nullptr;
        if (fs_disk_list_create(&list) != FS_OK)
            return nullptr;
        fs_disk_list_add_lvm_groups(list);
        instance = new orva_fun_fs(list);
    }
    return instance;
}

orva_fun_fs::orva_fun_fs(fs_disk_list *list)
    : disk_list_(list)
{
    const QString canonical = QFileInfo(QStringLiteral("/tmp")).canonicalFilePath();
    tmp_path_ = canonical.isEmpty() ? QStringLiteral("/tmp") : canonical;
    set_icl(nullptr);
}

orva_fun_fs::~orva_fun_fs()
{
    drop_check_results();
    fs_icl_destroy(session_icl_);
    fs_icl_destroy(icl_);
    fs_disk_list_destroy(disk_list_);
}

QString orva_fun_fs::mount_volume(fs_volume *volume, bool writable)
{
    if (!volume)
        return QString();
    const bool rw = writable && fs_exchange_type(volume->fs_type);
    const char *mounted = rw ? volume->rw_mount_dir : volume->mount_dir;
    if (mounted)
        return QString::fromUtf8(mounted);
    const char *path = nullptr;
    if (fs_volume_get_mount_point(volume, rw ? 1 : 0, &path) != FS_OK)
        return QString();
    return QString::fromUtf8(path);
}

void orva_fun_fs::umount_volume(fs_volume *volume)
{
    if (volume)
        while (volume->rw_mount_count > 0)
            if (fs_volume_release_writable_mount_point(volume) != FS_OK)
                break;
    while (volume && volume->mount_count > 0)
        if (fs_volume_release_mount_point(volume) != FS_OK)
            break;
}

void orva_fun_fs::umount_disk(fs_disk *disk)
{
    for (fs_partition *p = fs_disk_first_partition(disk); p; p = fs_disk_next_partition(p))
        umount_volume(&p->volume);
}

void orva_fun_fs::umount_image_disk(fs_image_disk *disk)
{
    for (fs_image_partition *p = fs_image_disk_first_partition(disk); p; p = fs_image_disk_next_partition(p))
        umount_volume(&p->volume);
}

void orva_fun_fs::umount_disks()
{
    for (fs_image_disk *d = fs_disk_list_first_image_disk(disk_list_); d; d = fs_disk_list_next_image_disk(d))
        umount_image_disk(d);
    for (fs_image_disk *d = fs_disk_list_first_image_disk(disk_list_); d;) {
        fs_image_disk *next = fs_disk_list_next_image_disk(d);
        forget_image_disk(d);
        fs_disk_list_remove_image_disk(disk_list_, d);
        d = next;
    }
    for (fs_disk *d = fs_disk_list_first_disk(disk_list_); d; d = fs_disk_list_next_disk(d))
        umount_disk(d);
    for (fs_lvm_group *g = fs_disk_list_first_lvm_group(disk_list_); g; g = fs_disk_list_next_lvm_group(g))
        for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
            umount_volume(&v->volume);
}

QString orva_fun_fs::convert_path(const QString &path) const
{
    // Cleaned as text: following the links of an inspected volume would
    // name their targets (on the host, for absolute links) instead.
    const QString clean = QDir::cleanPath(path);
    QString rest;
    for (const QString &tmp : {tmp_path_, QStringLiteral("/tmp")})
        if (clean.startsWith(tmp + QLatin1Char('/'))) {
            rest = clean.mid(tmp.size());
            break;
        }
    QStringList parts = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return QString();
    parts.erase(parts.begin(), parts.begin() + 2);
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

int orva_fun_fs::check_image_disk_name(const QString &name) const
{
    return image_disk_by_name(name) ? -1 : 0;
}

fs_image_disk *orva_fun_fs::image_disk_by_name(const QString &name) const
{
    const QByteArray wanted = name.toUtf8();
    for (fs_image_disk *d = fs_disk_list_first_image_disk(disk_list_); d; d = fs_disk_list_next_image_disk(d))
        if (wanted == d->name)
            return d;
    return nullptr;
}

int orva_fun_fs::add_vmdk_disk(const QString &image_path, const QString &name, fs_volume *host)
{
    if (!host)
        return -1;
    // A path below the hosting volume's mount directory, or one inside it.
    QString inner = image_path;
    if (host->mount_dir && image_path.startsWith(QString::fromUtf8(host->mount_dir) + QLatin1Char('/')))
        inner = convert_path(image_path);
    const QString host_id = part_id_by_volume(host);
    if (inner.isEmpty() || find_vmdk_image_in_list(inner, host_id, vmdk_images_))
        return -1;
    fs_image_disk *disk = nullptr;
    if (fs_disk_list_add_image_disk(disk_list_, host, inner.toUtf8().constData(), name.toUtf8().constData(), &disk)
        != FS_OK)
        return -1;
    vmdk_images_.append(fs_vmdk_image{inner, name, host_id});
    return 0;
}

int orva_fun_fs::remove_vmdk_disk(fs_image_disk *disk)
{
    if (!disk)
        return -1;
    const QString name = QString::fromUtf8(disk->name);
    umount_image_disk(disk);
    forget_image_disk(disk);
    if (fs_disk_list_remove_image_disk(disk_list_, disk) != FS_OK)
        return -1;
    vmdk_images_.removeIf([&name](const fs_vmdk_image &image) { return image.name == name; });
    return 0;
}

fs_volume *orva_fun_fs::volume_by_diskno_partno(int diskno, int partno) const
{
    if (diskno < 1 || partno < 1)
        return nullptr;
    fs_disk *d = fs_disk_list_first_disk(disk_list_);
    for (int i = 1; d && i < diskno; ++i)
        d = fs_disk_list_next_disk(d);
    fs_partition *p = d ? fs_disk_partition_by_number(d, unsigned(partno)) : nullptr;
    return p ? &p->volume : nullptr;
}

int orva_fun_fs::diskno_partno_by_volume_id(const fs_volume_id *id, int &diskno, int &partno) const
{
    if (fs_volume_id_kind(id) != FS_VOLUME_PARTITION)
        return -1;
    int n = 1;
    for (fs_disk *d = fs_disk_list_first_disk(disk_list_); d; d = fs_disk_list_next_disk(d), ++n)
        if (d->identity && qstrcmp(d->identity, id->first) == 0) {
            diskno = n;
            partno = id->number;
            return 0;
        }
    return -1;
}

QString orva_fun_fs::print_hash(const unsigned char *hash)
{
    QString s;
    for (int i = 0; i < 32; ++i)
        s += QString::asprintf("%2.2X", hash[i]);
    return s;
}

void orva_fun_fs::set_icl(fs_icl *icl)
{
    drop_check_results();
    fs_icl_destroy(session_icl_);
    session_icl_ = nullptr;
    fs_icl_destroy(icl_);
    icl_ = icl;
    if (!icl_ && fs_icl_create(&icl_) != FS_OCL_OK)
        icl_ = nullptr; // out of memory: every operation refuses a null list
}

namespace {

// A path below the volume's mount directory as the path inside it; other
// paths are taken as paths inside it already.
QByteArray inner_path(const orva_fun_fs &fs, const fs_volume *volume, const QString &path)
{
    if (volume->mount_dir) {
        const QString dir = QString::fromUtf8(volume->mount_dir);
        if (path == dir || path.startsWith(dir + QLatin1Char('/')))
            return fs.convert_path(path).toUtf8();
    }
    return path.toUtf8();
}

using id_ptr = ic_fs::volume_id_ptr;

id_ptr id_of(const fs_volume *volume)
{
    fs_volume_id *id = nullptr;
    return id_ptr(fs_volume_create_id(volume, &id) == FS_OK ? id : nullptr);
}

} // namespace

int orva_fun_fs::add_file(const QString &path, int flags)
{
    return add_dir_or_file(path, flags, nullptr);
}

int orva_fun_fs::add_dir(const QString &path, int flags, const QStringList &masks)
{
    return add_dir_or_file(path, flags, &masks);
}

int orva_fun_fs::add_dir_or_file(const QString &path, int flags, const QStringList *masks)
{
    if (!current_volume_)
        return -1;
    if (flags < 0 || flags > 0xFFFF)
        return FS_OCL_ERR_INVAL;
    const id_ptr id = id_of(current_volume_);
    if (!id)
        return FS_OCL_ERR_NOMEM;
    const QByteArray inner = inner_path(*this, current_volume_, path);
    // An object added again replaces the stored one.
    if (fs_icl_find_object(icl_, id.get(), inner.constData()))
        drop_check_info(id.get());
    if (!masks)
        return fs_icl_add_file(icl_, current_volume_, inner.constData(), uint16_t(flags), nullptr);
    QList<QByteArray> bytes;
    std::vector<const char *> array;
    for (const QString &m : *masks)
        bytes.append(m.toUtf8());
    for (const QByteArray &b : bytes)
        array.push_back(b.constData());
    array.push_back(nullptr);
    return fs_icl_add_dir(icl_, current_volume_, inner.constData(), masks->isEmpty() ? nullptr : array.data(),
                          uint16_t(flags), nullptr);
}

int orva_fun_fs::check_object(const QString &path) const
{
    if (!current_volume_)
        return -1;
    const id_ptr id = id_of(current_volume_);
    if (!id)
        return -1;
    return fs_icl_find_object(icl_, id.get(), inner_path(*this, current_volume_, path).constData()) ? 1 : 0;
}

int orva_fun_fs::remove_object(const fs_volume_id *id, const QString &path)
{
    const QByteArray p = path.toUtf8();
    if (!fs_icl_find_object(icl_, id, p.constData()))
        return FS_OCL_ERR_NOTFOUND;
    drop_check_info(id);
    return fs_icl_remove_object(icl_, id, p.constData());
}

int orva_fun_fs::remove_volume(const fs_volume_id *id)
{
    if (!fs_icl_find_volume(icl_, id))
        return FS_OCL_ERR_NOTFOUND;
    drop_check_info(id);
    return fs_icl_remove_volume(icl_, id);
}

int orva_fun_fs::change_hd_label(const QString &old_identity, const QString &new_identity)
{
    if (fs_icl_change_disk_identity(icl_, old_identity.toUtf8().constData(), new_identity.toUtf8().constData())
        != FS_OCL_OK)
        return -1;
    // Merged entries may have lost objects the results point at.
    drop_check_results();
    return 0;
}

fs_icl *orva_fun_fs::session_icl()
{
    if (!session_icl_)
        create_session_icl();
    return session_icl_;
}

int orva_fun_fs::create_session_icl()
{
    fs_icl *session = nullptr;
    if (!disk_list_ || fs_icl_session_create(icl_, disk_list_, &session) != FS_OCL_OK)
        return -1;
    fs_icl_destroy(session_icl_);
    session_icl_ = session;
    return 0;
}

void orva_fun_fs::add_check_info(const fs_volume_id *id, fs_volume *volume, fs_ocl_check_info *check)
{
    fs_volume_id *copy = nullptr;
    if (!id || fs_volume_id_copy(id, &copy) != FS_OK) {
        fs_ocl_check_info_destroy(check);
        return;
    }
    drop_check_info(id);
    check_results_.append(check_result{check, volume, copy});
}

void orva_fun_fs::set_check_results(fs_icl_check_info *info)
{
    drop_check_results();
    for (fs_icl_check_volume *r = fs_icl_check_first_volume(info); r; r = fs_icl_check_next_volume(r))
        if (r->state == FS_ICL_CHECKED) {
            add_check_info(r->icl_volume->id, r->volume, r->check);
            r->check = nullptr;
        }
    fs_icl_check_info_destroy(info);
}

fs_ocl_check_info *orva_fun_fs::check_info_by_id(const fs_volume_id *id) const
{
    if (!id)
        return nullptr;
    for (const check_result &r : check_results_)
        if (fs_volume_id_compare(r.id, id) == 0)
            return r.check;
    return nullptr;
}

void orva_fun_fs::drop_check_info(const fs_volume_id *id)
{
    check_results_.removeIf([id](const check_result &r) {
        if (fs_volume_id_compare(r.id, id) != 0)
            return false;
        fs_ocl_check_info_destroy(r.check);
        fs_volume_id_destroy(r.id);
        return true;
    });
}

void orva_fun_fs::forget_image_disk(const fs_image_disk *disk)
{
    if (current_volume_ && current_volume_->parent == disk)
        current_volume_ = nullptr;
    for (check_result &r : check_results_)
        if (r.volume && r.volume->parent == disk)
            r.volume = nullptr;
}

void orva_fun_fs::drop_check_results()
{
    for (const check_result &r : check_results_) {
        fs_ocl_check_info_destroy(r.check);
        fs_volume_id_destroy(r.id);
    }
    check_results_.clear();
}

int orva_fun_fs::load_fs_data(ic_data_area &area)
{
    uint32_t size = 0;
    QList<fs_vmdk_image> images;
    const std::unique_ptr<uint8_t[]> image = area.read_fs_block_from_device(&size, &images);
    if (!image)
        return 0;
    vmdk_images_ = images;
    fs_icl *stored = nullptr;
    if (fs_icl_read_from_mem(image.get(), size, &stored) != FS_OK) {
        set_icl(nullptr);
        return -1;
    }
    set_icl(stored);
    return 0;
}

int orva_fun_fs::save_fs_data(ic_data_area &area)
{
    return area.save_fs_info_to_device(icl_, vmdk_images_);
}
