#include "files/files_page.h"

#include "ui_files_page.h"

#include "files/dir_cont_tree_view.h"
#include "files/disk_tree_model.h"
#include "files/disk_tree_view.h"
#include "files/icl_tree_model.h"
#include "files/icl_tree_view.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "ui/message.h"

#include <ic/fs/fs_icl_ptr.h>
#include <ic/fs/fs_ocl.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/ic_data_area.h>
#include <ic/qt/orva_fun_fs.h>

#include <QFileInfo>
#include <QHeaderView>
#include <QMetaObject>

#include <cstdlib>
#include <vector>

namespace {

const QString kAddTitle = QStringLiteral("Добавление объекта");
const QString kRemoveTitle = QStringLiteral("Удаление объектов из СКЦ");
const QString kImageTitle = QStringLiteral("Подключение виртуального диска");
const QString kSaveErrorTitle = QStringLiteral("Ошибка записи СКЦ");

// What the core takes as a directory: a directory that is not a link.
int object_type(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() ? FS_OCL_TYPE_DIR : FS_OCL_TYPE_FILE;
}

// The reference list with the entries of the volumes present replaced by
// their entries of the current-run list; the rest stays as stored. Null
// when the copy cannot be made.
fs_icl *merged_list(const fs_icl *reference, const fs_icl *session)
{
    // A list of borrowed entries, in reverse order (reading reverses it).
    std::vector<fs_icl_volume> entries;
    for (const fs_icl_volume *v = fs_icl_first_volume(reference); v; v = fs_icl_next_volume(v)) {
        const fs_icl_volume *now = fs_icl_find_volume(session, v->id);
        entries.insert(entries.begin(), fs_icl_volume{nullptr, (now ? now : v)->ocl, v->id});
    }
    for (size_t i = 0; i + 1 < entries.size(); ++i)
        entries[i].next = &entries[i + 1];
    const fs_icl borrowed{entries.empty() ? nullptr : entries.data(), static_cast<uint32_t>(entries.size())};
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (fs_icl_write_to_mem(&borrowed, &data, &size) != FS_OCL_OK)
        return nullptr;
    fs_icl *copy = nullptr;
    const int rc = fs_icl_read_from_mem(data, size, &copy);
    std::free(data);
    return rc == FS_OCL_OK ? copy : nullptr;
}

} // namespace

files_page::files_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::files_page>())
{
    ui->setupUi(this);
    ui->dir_contents->hide();
    ui->icl_tree->header()->setStretchLastSection(true);
    // The check list gets most of the room, the disks the least.
    ui->splitter->setStretchFactor(0, 2);
    ui->splitter->setStretchFactor(1, 3);
    ui->splitter->setStretchFactor(2, 6);
    connect(ui->dir_contents, &DirContTreeView::add_files, this, &files_page::add_files);
    connect(ui->dir_contents, &DirContTreeView::attach_image, this, &files_page::attach_image);
    connect(ui->icl_tree, &icl_tree_view::dropped, this, &files_page::drop_files);
    connect(ui->icl_tree, &icl_tree_view::remove_object, this, &files_page::remove_object);
}

files_page::~files_page()
{
    release_mount();
    if (m_fs)
        m_fs->umount_disks();
}

disk_tree_view *files_page::disk_tree() const
{
    return ui->fs_disk_tree;
}

DirContTreeView *files_page::dir_contents() const
{
    return ui->dir_contents;
}

icl_tree_view *files_page::icl_tree() const
{
    return ui->icl_tree;
}

icl_tree_model *files_page::icl_model() const
{
    return ui->icl_tree->icl_model();
}

void files_page::setup(orva_handle_t handle)
{
    m_handle = handle;
    m_fs = orva_fun_fs::object();
    if (!m_fs)
        return;
    if (!m_data_received) {
        ic_data_area area(handle);
        m_fs->load_fs_data(area);
    }
    // The boot-time check detaches the images it attached.
    attach_stored_images();
    reload_disks();
    setup_model();
}

void files_page::attach_stored_images()
{
    // Registered again as they are attached; one that cannot be attached
    // stays registered, so that saving does not drop it.
    const QList<fs_vmdk_image> stored = m_fs->vmdk_images();
    m_fs->vmdk_images().clear();
    for (const fs_vmdk_image &image : stored) {
        fs_volume *host = find_volume_by_volume_id(m_fs->disk_list(), image.host_id);
        if (!host || m_fs->add_vmdk_disk(image.path, image.name, host) != 0)
            m_fs->vmdk_images().append(image);
    }
}

void files_page::receive_data(fs_icl *icl, fs_icl *, fs_disk_list *, QList<fs_vmdk_image> *, fs_icl_check_info *)
{
    if (!icl)
        return;
    m_data_received = true;
    // The results are recorded once the signal has been delivered.
    QMetaObject::invokeMethod(
        this,
        [this] {
            reload_disks();
            setup_model();
        },
        Qt::QueuedConnection);
}

void files_page::enter()
{
    // A disk list that could not be built before is tried again.
    if (!m_fs && m_handle)
        setup(m_handle);
    if (!m_fs)
        return;
    fs_volume *selected = ui->fs_disk_tree->current_volume();
    reload_disks();
    if (selected)
        ui->fs_disk_tree->select_volume(selected);
    setup_model();
}

void files_page::leave()
{
    release_mount();
    ui->dir_contents->set_root(QString());
    ui->dir_contents->hide();
}

void files_page::reload_disks()
{
    ui->fs_disk_tree->disk_model()->set_disk_list(m_fs ? m_fs->disk_list() : nullptr);
    ui->fs_disk_tree->reload();
}

void files_page::setup_model()
{
    icl_model()->setupModelData(m_fs ? m_fs->icl() : nullptr, m_fs);
    ui->icl_tree->expandAll();
    // Paths are read in full; the other columns scroll beside them.
    ui->icl_tree->resizeColumnToContents(0);
}

void files_page::release_mount()
{
    if (m_shown && m_holds_use) {
        // The view lets go of the directory before it is unmounted.
        ui->dir_contents->set_root(QString());
        fs_volume_release_mount_point(m_shown);
    }
    m_shown = nullptr;
    m_holds_use = false;
}

void files_page::set_volume(fs_volume *volume)
{
    if (volume == m_shown && (!volume || volume->mount_count > 0))
        return;
    release_mount();
    if (m_fs)
        m_fs->set_current_volume(volume);
    const bool mounted_before = volume && volume->mount_count > 0;
    // Read-only always: the page only reads.
    const QString dir = volume && m_fs ? m_fs->mount_volume(volume, false) : QString();
    if (dir.isEmpty()) {
        ui->dir_contents->set_root(QString());
        ui->dir_contents->hide();
        return;
    }
    m_shown = volume;
    m_holds_use = !mounted_before;
    ui->dir_contents->set_root(dir);
    ui->dir_contents->show();
}

bool files_page::under_current_volume(const QString &path) const
{
    const fs_volume *volume = m_fs ? m_fs->current_volume() : nullptr;
    if (!volume || !volume->mount_dir)
        return false;
    const QString dir = QString::fromUtf8(volume->mount_dir);
    return path == dir || path.startsWith(dir + QLatin1Char('/'));
}

void files_page::drop_files(QStringList paths)
{
    for (const QString &path : paths) {
        const int type = object_type(path);
        if (type == FS_OCL_TYPE_DIR)
            add_object(path, type, FS_OCL_EACH_FILE | FS_OCL_RECURSIVE | FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS,
                       QStringList());
        else
            add_object(path, type, FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, QStringList());
    }
    setup_model();
}

void files_page::add_files(QStringList paths)
{
    for (const QString &path : paths) {
        const int type = object_type(path);
        m_choice.reset();
        emit showFlagSelector(type);
        if (!m_choice)
            continue; // cancelled
        const flag_choice choice = *m_choice;
        m_choice.reset();
        add_object(path, type, choice.flags, choice.masks);
    }
    setup_model();
}

void files_page::add_selected()
{
    add_files(ui->dir_contents->selected_paths());
}

void files_page::getDirFlag(int, int flags, QStringList masks)
{
    m_choice = flag_choice{flags, masks};
}

void files_page::add_object(const QString &path, int type, int flags, const QStringList &masks)
{
    // Only what lies on the volume shown: other paths would be taken as
    // paths inside it.
    if (!m_fs || !under_current_volume(path))
        return;
    const bool dir = type == FS_OCL_TYPE_DIR;
    if (m_fs->check_object(path) == 1) {
        message::information(this, kAddTitle,
                             dir ? QStringLiteral("Каталог уже поставлен на контроль.")
                                 : QStringLiteral("Файл уже поставлен на контроль."));
        return;
    }
    const int rc = dir ? m_fs->add_dir(path, flags, masks) : m_fs->add_file(path, flags);
    if (rc != 0)
        message::critical(this, kAddTitle,
                          (dir ? QStringLiteral("Ошибка добавления каталога: %1.")
                               : QStringLiteral("Ошибка добавления файла: %1."))
                              .arg(rc));
}

void files_page::remove_object()
{
    const icl_tree_item *item = icl_model()->item(ui->icl_tree->currentIndex());
    if (!m_fs || !item)
        return;
    // The ids belong to the list's entries: copies outlive their removal.
    std::vector<ic_fs::volume_id_ptr> volumes;
    auto keep = [&volumes](const fs_volume_id *id) {
        fs_volume_id *copy = nullptr;
        if (fs_volume_id_copy(id, &copy) == FS_OK)
            volumes.emplace_back(copy);
    };
    if (item->level() == icl_tree_item::DISK) {
        const fs_volume_id *disk = item->volume_id();
        for (const fs_icl_volume *v = fs_icl_first_volume(m_fs->icl()); v; v = fs_icl_next_volume(v)) {
            if (fs_volume_id_kind(v->id) == fs_volume_id_kind(disk) && qstrcmp(v->id->first, disk->first) == 0)
                keep(v->id);
        }
    } else if (item->level() == icl_tree_item::VOLUME) {
        keep(item->volume_id());
    }
    if (item->level() <= icl_tree_item::VOLUME) {
        for (const ic_fs::volume_id_ptr &id : volumes) {
            const int rc = m_fs->remove_volume(id.get());
            if (rc != 0)
                message::critical(
                    this, kRemoveTitle,
                    QStringLiteral("Ошибка при удалении раздела из списка контроля целостности: %1.").arg(rc));
        }
    } else {
        keep(item->volume_id());
        const QString path = item->object_path();
        const int rc = volumes.empty() ? FS_OCL_ERR_NOMEM : m_fs->remove_object(volumes.front().get(), path);
        if (rc != 0)
            message::critical(
                this, kRemoveTitle,
                QStringLiteral("Ошибка при удалении объекта из списка контроля целостности: %1.").arg(rc));
    }
    setup_model();
}

void files_page::attach_image(QString path)
{
    if (!under_current_volume(path) || QFileInfo(path).isDir())
        return;
    emit show_vmdk_form(path);
}

void files_page::attach_current_image()
{
    attach_image(ui->dir_contents->current_path());
}

void files_page::add_vmdk_disk(QString path, QString name)
{
    fs_volume *host = m_fs ? m_fs->current_volume() : nullptr;
    if (!host || m_fs->add_vmdk_disk(path, name, host) != 0) {
        message::critical(this, kImageTitle, QStringLiteral("Не удалось подключить виртуальный диск."));
        return;
    }
    reload_disks();
    ui->fs_disk_tree->select_volume(host);
}

void files_page::remove_vmdk_disk()
{
    fs_image_disk *disk = ui->fs_disk_tree->current_image_disk();
    if (!m_fs || !disk)
        return;
    if (m_shown && m_shown->parent == disk)
        leave();
    if (m_fs->remove_vmdk_disk(disk) != 0)
        message::critical(this, QStringLiteral("Отключение виртуального диска"),
                          QStringLiteral("Не удалось отключить виртуальный диск."));
    reload_disks();
    setup_model();
}

void files_page::save_fs_info()
{
    if (!m_fs)
        return;
    ic_data_area area(m_handle);
    const int rc = m_fs->save_fs_data(area);
    if (rc == 0) {
        orva_fun_log::object()->append_log_record(LOG_FS_LIST_CHANGE, LOG_OK, nullptr, QString());
        message::information(this, QStringLiteral("Запись СКЦ"), QStringLiteral("СКЦ был успешно сохранен."));
    } else if (rc == ic_data_area::kBlockTooLarge) {
        message::warning(this, kSaveErrorTitle,
                         QStringLiteral("Не удалось сохранить список контролируемых файлов.\n Попробуйте "
                                        "поставить на контроль меньше файлов."));
    } else {
        message::critical(this, kSaveErrorTitle, QStringLiteral("Не удалось сохранить список контролируемых файлов."));
    }
}

void files_page::transfer_icl()
{
    if (!m_fs)
        return;
    const QString title = QStringLiteral("Запрос метки идентификатора диска");
    const std::optional<QString> from =
        message::get_text(this, title, QStringLiteral("Введите метку диска, которую хотите сменить."));
    if (!from || from->isEmpty())
        return;
    const std::optional<QString> to =
        message::get_text(this, title, QStringLiteral("Введите метку диска, на которую хотите сменить."));
    if (!to || to->isEmpty())
        return;
    m_fs->change_hd_label(*from, *to);
    setup_model();
}

void files_page::recalc()
{
    if (!m_fs)
        return;
    if (m_fs->create_session_icl() != 0) {
        message::critical(this, QStringLiteral("Ошибка"), QStringLiteral("Ошибка при создании СКЦ текущей сессии."));
        return;
    }
    fs_icl *merged = merged_list(m_fs->icl(), m_fs->session_icl());
    if (!merged) {
        message::critical(this, QStringLiteral("Ошибка"), QStringLiteral("Ошибка при создании СКЦ текущей сессии."));
        return;
    }
    m_fs->set_icl(merged);
    setup_model();
}
