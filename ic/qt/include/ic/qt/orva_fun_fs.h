// orva_fun_fs: the file-system service object of the administration
// environment. It keeps the disk list, the registered virtual-disk images
// and the current volume together, mounts and unmounts volumes for the
// pages, and turns mount paths into paths inside volumes. It holds the
// reference check list, the current-run check list built from it, and the
// check results the boot-time check recorded per volume.
//
// Recorded results point at objects of the reference list: whatever
// replaces or removes objects of a volume drops that volume's results
// first, so none is ever left pointing at a freed object.
#ifndef IC_QT_ORVA_FUN_FS_H
#define IC_QT_ORVA_FUN_FS_H

#include "ic/fs/fs_disk_list.h"
#include "ic/fs/fs_icl.h"
#include "ic/fs/fs_volume_id.h"
#include "ic/qt/fs_vmdk_image.h"

#include <QList>
#include <QString>
#include <QStringList>

class ic_data_area;

class orva_fun_fs {
public:
    // The single instance, created on first use over the computer's disks
    // and LVM groups; null when the disk list cannot be built (tried again
    // on the next call).
    static orva_fun_fs *object();

    // An instance over a list of its own (taken over; destroyed with it).
    explicit orva_fun_fs(fs_disk_list *list);
    ~orva_fun_fs();
    orva_fun_fs(const orva_fun_fs &) = delete;
    orva_fun_fs &operator=(const orva_fun_fs &) = delete;

    fs_disk_list *disk_list() const { return disk_list_; }
    QList<fs_vmdk_image> &vmdk_images() { return vmdk_images_; }
    const QString &tmp_path() const { return tmp_path_; }
    fs_volume *current_volume() const { return current_volume_; }
    void set_current_volume(fs_volume *volume) { current_volume_ = volume; }

    // The mount directory: the present one when mounted (no use added),
    // else after mounting (one use). Null when mounting fails. writable:
    // the read-write mount of a FAT or ext volume (a mount of its own beside
    // the read-only one), the read-only one of any other (see
    // fs_volume_get_mount_point).
    QString mount_volume(fs_volume *volume, bool writable);
    // Releases every use of the volume, of a disk's or an image disk's
    // partitions, or of everything (image partitions, then image disks
    // detached, then the fixed disks' partitions).
    void umount_volume(fs_volume *volume);
    void umount_disk(fs_disk *disk);
    void umount_image_disk(fs_image_disk *disk);
    void umount_disks();

    // A path below a mount directory as the path inside its volume:
    // /tmp/fs.20240101120000123.42/sda1/etc/hosts gives /etc/hosts. Null for
    // a path that does not lie below a volume directory.
    QString convert_path(const QString &path) const;

    // -1 when an image disk of that name exists, else 0.
    int check_image_disk_name(const QString &name) const;
    // The image disk of that name, or null.
    fs_image_disk *image_disk_by_name(const QString &name) const;
    // Attaches the image file (a path below the hosting volume's mount
    // directory, or inside the volume) and registers it. -1 when it is
    // registered already or cannot be attached.
    int add_vmdk_disk(const QString &image_path, const QString &name, fs_volume *host);
    // Unmounts the image disk's partitions, detaches it and drops its
    // registration. -1 when it stays attached.
    int remove_vmdk_disk(fs_image_disk *disk);

    // Partition partno of the diskno-th disk (both from 1), or null; the
    // reverse for a kind-0 id (-1 for other kinds or an unknown disk).
    fs_volume *volume_by_diskno_partno(int diskno, int partno) const;
    int diskno_partno_by_volume_id(const fs_volume_id *id, int &diskno, int &partno) const;

    // The 32 bytes as 64 upper-case hexadecimal digits.
    static QString print_hash(const unsigned char *hash);

    // The reference check list (null only when memory ran out). set_icl
    // takes the list over (null: a new empty one) and drops every recorded
    // result and the current-run list.
    fs_icl *icl() const { return icl_; }
    void set_icl(fs_icl *icl);
    // The current-run check list, built from the reference list on the
    // disks as they are when it is first asked for (the boot-time check
    // does not need it), then kept until create_session_icl rebuilds it or
    // set_icl drops it. Null when it cannot be built.
    fs_icl *session_icl();

    // The module's files block. load_fs_data: the stored reference list and
    // image list; nothing stored keeps an empty list and gives 0, a stored
    // check list that does not parse leaves a new empty list and gives -1.
    // save_fs_data: save_fs_info_to_device's result.
    int load_fs_data(ic_data_area &area);
    int save_fs_data(ic_data_area &area);

    // Adds a file or directory of the current volume (path inside it, or
    // below its mount directory) to the reference list; the volume is
    // mounted read-only for the call. 0, the code of the core, or -1
    // without a current volume.
    int add_file(const QString &path, int flags);
    int add_dir(const QString &path, int flags, const QStringList &masks);
    // 1 when the reference list holds the path for the current volume, 0
    // when not, -1 without a current volume.
    int check_object(const QString &path) const;
    // Removes one object (the volume's entry goes with its last one) or a
    // volume's entry: 0 or the core's code (4: not in the list).
    int remove_object(const fs_volume_id *id, const QString &path);
    int remove_volume(const fs_volume_id *id);
    // Moves the reference list's entries of the disk old_identity to the
    // disk new_identity (merging into entries listed for it already); the
    // recorded results go. 0, or -1 (nothing changed).
    int change_hd_label(const QString &old_identity, const QString &new_identity);
    // Rebuilds the current-run list from the reference list on the disks
    // as they are now: 0, or -1 (the previous one is kept).
    int create_session_icl();

    // Check results of the boot-time check, made from the reference list:
    // the result of one volume (taken over; replaces an earlier one of the
    // same id), or every checked volume of a check of the list (taken over).
    void add_check_info(const fs_volume_id *id, fs_volume *volume, fs_ocl_check_info *check);
    void set_check_results(fs_icl_check_info *info);
    // The recorded result whose volume id compares equal, or null.
    fs_ocl_check_info *check_info_by_id(const fs_volume_id *id) const;

private:
    struct check_result {
        fs_ocl_check_info *check;
        fs_volume *volume; // null once its image disk is detached
        fs_volume_id *id;
    };
    int add_dir_or_file(const QString &path, int flags, const QStringList *masks);
    void drop_check_info(const fs_volume_id *id);
    void drop_check_results();
    // Nothing keeps pointing at the volumes of an image disk about to go.
    void forget_image_disk(const fs_image_disk *disk);

    fs_icl *icl_ = nullptr;
    fs_icl *session_icl_ = nullptr;
    QList<check_result> check_results_;
    fs_disk_list *disk_list_;
    QList<fs_vmdk_image> vmdk_images_;
    QString tmp_path_;
    fs_volume *current_volume_ = nullptr;
};

#endif
