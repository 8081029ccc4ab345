// The file-system object section of the boot check.
#include "check/boot_check.h"

#include "check/check_fragments.h"
#include "check/check_sink.h"

#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>

#include <QString>

namespace {

using check_fragments::escaped;

QString path_of(const char *path)
{
    return QString::fromUtf8(path ? path : "");
}

// Whether the volume lies on one of the image disks.
bool on_image_disk(const fs_volume *volume, const QList<fs_image_disk *> &disks)
{
    return volume && fs_volume_kind(volume) == FS_VOLUME_IMAGE_PARTITION &&
           disks.contains(static_cast<fs_image_disk *>(volume->parent));
}

// The directory object's path joined with an item path ("/" is the object).
QString item_full_path(const QString &dir, const char *item)
{
    const QString rel = path_of(item);
    if (rel == QLatin1String("/"))
        return dir;
    return (dir.endsWith(QLatin1Char('/')) ? dir.chopped(1) : dir) + rel;
}

} // namespace

bool boot_check::compare_files(check_sink &sink, const fs_icl_check_info *check, int unattached_images)
{
    begin_section(sink, files_title());
    for (int i = 0; i < unattached_images; ++i)
        sink.info(QStringLiteral("Невозможно примонтировать образ."));
    // Without a check nothing can be vouched for.
    bool passed = check != nullptr;
    for (const fs_icl_check_volume *v = check ? fs_icl_check_first_volume(check) : nullptr; v;
         v = fs_icl_check_next_volume(v)) {
        const fs_volume_id *id = v->icl_volume->id;
        sink.info(QStringLiteral("\n\t%1-%2").arg(escaped(disk_id_by_volume_id(id)),
                                                   escaped(part_name_by_volume_id(id))));
        switch (v->state) {
        case FS_ICL_CHECKED:
            // Read as it was left: a system that resumes may still change it.
            if (v->volume && (v->volume->mount_flags & FS_MOUNT_HIBERNATED))
                sink.info(QStringLiteral(" - Windows в режиме гибернации, раздел смонтирован только для чтения;"));
            if (v->volume && (v->volume->mount_flags & FS_MOUNT_UNCLEAN))
                sink.info(QStringLiteral(" - раздел не был корректно отключен, смонтирован только для чтения;"));
            if (!report_volume_files(sink, v->icl_volume->ocl, v->check))
                passed = false;
            continue;
        case FS_ICL_DISK_NOT_FOUND:
            sink.info(QStringLiteral(" - диск не найден\n"));
            break;
        case FS_ICL_VOLUME_NOT_FOUND:
            sink.info(QStringLiteral(" - раздел не найден\n"));
            break;
        case FS_ICL_MOUNT_FAILED:
            sink.info(QStringLiteral(" - ошибка при монтировании раздела: %1.\n").arg(v->code));
            break;
        case FS_ICL_AMBIGUOUS:
            sink.info(QStringLiteral(" - диск не определен однозначно\n"));
            break;
        default:
            sink.info(QStringLiteral("error: can't create check info. \n"));
            break;
        }
        passed = false;
    }
    return passed;
}

QString boot_check::file_result_text(uint32_t flags)
{
    // A directory whose mode changed reads as such (not as a changed time).
    static const char *const texts[] = {
        " Новый файл;",
        " Файл отсутствует;",
        " Нарушена целостность;",
        " Изменены права доступа;",
        " Изменен идентификатор пользователя;",
        " Изменен идентификатор группы;",
        " Изменен размер;",
        " Изменено время модификации;",
        " Целостность каталога нарушена;",
        " Каталог отсутствует;",
        " Изменены права доступа;",
        " Изменен идентификатор пользователя;",
        " Изменен идентификатор группы;",
    };
    QString text = QStringLiteral(" -");
    if (flags == 0)
        return text + QStringLiteral(" OK;");
    for (unsigned bit = 0; bit < sizeof texts / sizeof texts[0]; ++bit) {
        if (flags & (1u << bit))
            text += QString::fromUtf8(texts[bit]);
    }
    return text;
}

uint32_t boot_check::record_flags(uint32_t flags)
{
    uint32_t out = flags & 0xFFu;
    if (flags & FS_OCL_DIR_HASH_CHANGED)
        out |= FS_OCL_DATA_CHANGED;
    if (flags & FS_OCL_DIR_MISSING)
        out |= FS_OCL_FILE_MISSING;
    if (flags & FS_OCL_DIR_MODE_CHANGED)
        out |= FS_OCL_MODE_CHANGED;
    if (flags & FS_OCL_DIR_UID_CHANGED)
        out |= FS_OCL_UID_CHANGED;
    if (flags & FS_OCL_DIR_GID_CHANGED)
        out |= FS_OCL_GID_CHANGED;
    return out;
}

bool boot_check::report_volume_files(check_sink &sink, const fs_ocl *stored, const fs_ocl_check_info *check)
{
    bool passed = true;
    for (const fs_ocl_check_object *o = check ? fs_ocl_check_first_object(check) : nullptr; o;
         o = fs_ocl_check_next_object(check, o)) {
        const QString path = path_of(o->object->path);
        if (o->variant == FS_OCL_CHECK_FILE) {
            const uint32_t flags = reinterpret_cast<const fs_ocl_check_file *>(o)->flags;
            sink.info(QStringLiteral("\n\t\t") + escaped(path) + file_result_text(flags));
            sink.file_record(path, record_flags(flags));
            passed = false;
            continue;
        }
        sink.info(QStringLiteral("\n\t\t Контроль каталога ") + escaped(path));
        for (const fs_ocl_check_dir_item *item = fs_ocl_check_first_dir_item(o); item;
             item = fs_ocl_check_next_dir_item(item)) {
            const QString shown = path_of(item->path) == QLatin1String("/") ? path : path_of(item->path);
            sink.info(QStringLiteral("\n\t\t\t.") + escaped(shown) + file_result_text(item->flags));
            sink.file_record(item_full_path(path, item->path), record_flags(item->flags));
            passed = false;
        }
    }
    // show_ok_objects: what the check found no difference in.
    for (const fs_ocl_object *o = stored ? fs_ocl_first_object(stored) : nullptr; o;
         o = fs_ocl_next_object(stored, o)) {
        if (!check || !fs_ocl_check_find_object(check, o->path))
            sink.info(QStringLiteral("\n\t\t") + escaped(path_of(o->path)) + QStringLiteral(" - ОК"));
    }
    return passed;
}

int boot_check::check_volumes(orva_fun_fs &fs, const QList<fs_vmdk_image> &images, ic_fs::icl_check_ptr &check,
                              check_sink *sink)
{
    QList<fs_image_disk *> attached;
    int unattached = 0;
    fs.vmdk_images().clear();
    for (const fs_vmdk_image &image : images) {
        fs_volume *host = find_volume_by_volume_id(fs.disk_list(), image.host_id);
        const fs_image_disk *present = fs.image_disk_by_name(image.name);
        if (present && host && present->host == host && image.path == QString::fromUtf8(present->image_path))
            continue;
        if (!host || present || fs.add_vmdk_disk(image.path, image.name, host) != 0) {
            ++unattached;
            continue;
        }
        attached << fs.image_disk_by_name(image.name);
    }
    fs_icl_check_info *info = nullptr;
    const auto busy = [](void *s) { static_cast<check_sink *>(s)->busy(); };
    if (fs_icl_check_info_create_all_progress(fs.icl(), fs.disk_list(), sink ? +busy : nullptr, sink, &info) != 0)
        info = nullptr;
    check.reset(info);
    // The result outlives the image disks: it names their volumes by id.
    for (fs_icl_check_volume *v = fs_icl_check_first_volume(info); v; v = fs_icl_check_next_volume(v))
        if (on_image_disk(v->volume, attached))
            v->volume = nullptr;
    for (fs_image_disk *disk : attached)
        fs.remove_vmdk_disk(disk);
    fs.vmdk_images() = images;
    return unattached;
}
