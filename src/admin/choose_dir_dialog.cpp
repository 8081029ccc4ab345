#include "admin/choose_dir_dialog.h"

#include "ui_choose_dir_dialog.h"

#include "files/disk_tree_model.h"
#include "files/disk_tree_view.h"
#include "ui/message.h"
#include "ui/trace.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The volume is still one of the list's (image disks can go meanwhile).
bool in_list(const fs_disk_list *list, const fs_volume *volume)
{
    if (!list || !volume)
        return false;
    for (fs_disk *d = fs_disk_list_first_disk(list); d; d = fs_disk_list_next_disk(d))
        for (fs_partition *p = fs_disk_first_partition(d); p; p = fs_disk_next_partition(p))
            if (&p->volume == volume)
                return true;
    for (fs_image_disk *d = fs_disk_list_first_image_disk(list); d; d = fs_disk_list_next_image_disk(d))
        for (fs_image_partition *p = fs_image_disk_first_partition(d); p; p = fs_image_disk_next_partition(p))
            if (&p->volume == volume)
                return true;
    for (fs_lvm_group *g = fs_disk_list_first_lvm_group(list); g; g = fs_disk_list_next_lvm_group(g))
        for (fs_lvm_volume *v = fs_lvm_group_first_volume(g); v; v = fs_lvm_group_next_volume(v))
            if (&v->volume == volume)
                return true;
    return false;
}

fs_disk_list *disk_list()
{
    orva_fun_fs *fs = orva_fun_fs::object();
    return fs ? fs->disk_list() : nullptr;
}

} // namespace

choose_dir_dialog::choose_dir_dialog(QWidget *parent, bool writable)
    : QDialog(parent), ui(std::make_unique<Ui::choose_dir_dialog>()), m_writable(writable)
{
    ui->setupUi(this);
    ui->dir_tree->setHeaderHidden(true);
    connect(ui->disk_tree, &disk_tree_view::GivePart, this, &choose_dir_dialog::volume_selected);
    connect(this, &choose_dir_dialog::show_tree, this, &choose_dir_dialog::fill_dir_tree);
    connect(this, &choose_dir_dialog::hide_tree, this, &choose_dir_dialog::clear_dir_tree);
    connect(ui->dir_tree, &QTreeWidget::itemExpanded, this, &choose_dir_dialog::fill_children);
    connect(ui->ok_button, &QPushButton::clicked, this, &choose_dir_dialog::ok_clicked);
    connect(ui->cancel_button, &QPushButton::clicked, this, &QDialog::reject);
    ui->dir_tree->hide();
}

choose_dir_dialog::~choose_dir_dialog()
{
    release(m_browsed);
}

disk_tree_view *choose_dir_dialog::disk_tree() const
{
    return ui->disk_tree;
}

QTreeWidget *choose_dir_dialog::dir_tree() const
{
    return ui->dir_tree;
}

void choose_dir_dialog::release(fs_volume *&volume)
{
    if (volume && volume->mount_count > 0 && in_list(disk_list(), volume))
        fs_volume_release_mount_point(volume);
    volume = nullptr;
}

void choose_dir_dialog::showEvent(QShowEvent *event)
{
    // The disk list is made on first use.
    release(m_browsed);
    clear_dir_tree();
    ui->disk_tree->disk_model()->set_disk_list(disk_list());
    ui->disk_tree->reload();
    QDialog::showEvent(event);
}

void choose_dir_dialog::done(int result)
{
    clear_dir_tree();
    release(m_browsed);
    QDialog::done(result);
}

void choose_dir_dialog::volume_selected(fs_volume *volume)
{
    if (volume != m_browsed)
        release(m_browsed);
    if (!volume) {
        emit hide_tree();
        return;
    }
    if (!m_browsed) {
        const char *path = nullptr;
        // Browsing never writes.
        if (fs_volume_get_mount_point(volume, 0, &path) != FS_OK || !path) {
            ORVA_TRACE() << "mount failed:" << (volume->devnode ? volume->devnode : "");
            emit hide_tree();
            return;
        }
        m_browsed = volume;
    }
    emit show_tree(m_browsed->mount_dir);
}

void choose_dir_dialog::clear_dir_tree()
{
    ui->dir_tree->clear();
    ui->dir_tree->hide();
    m_mount_dir.clear();
}

void choose_dir_dialog::fill_dir_tree(const char *path)
{
    ui->dir_tree->clear();
    m_mount_dir = QFile::decodeName(path);
    auto *top = new QTreeWidgetItem(ui->dir_tree);
    top->setText(0, m_browsed ? part_name_by_volume(m_browsed) : QStringLiteral("/"));
    top->setData(0, kPathRole, QStringLiteral("/"));
    top->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    fill_children(top);
    top->setExpanded(true);
    ui->dir_tree->show();
}

void choose_dir_dialog::fill_children(QTreeWidgetItem *item)
{
    if (!item || item->childIndicatorPolicy() != QTreeWidgetItem::ShowIndicator || m_mount_dir.isEmpty())
        return;
    const QString inner = item->data(0, kPathRole).toString();
    // Directories only; links are not followed out of the volume.
    const QDir dir(m_mount_dir + inner);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    for (const QFileInfo &entry : entries) {
        auto *child = new QTreeWidgetItem(item);
        child->setText(0, entry.fileName());
        child->setData(0, kPathRole, (inner == QLatin1String("/") ? inner : inner + QLatin1Char('/')) + entry.fileName());
        child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QString choose_dir_dialog::selected_dir() const
{
    const QTreeWidgetItem *item = ui->dir_tree->currentItem();
    return m_browsed && item && !ui->dir_tree->isHidden() ? item->data(0, kPathRole).toString() : QString();
}

bool choose_dir_dialog::select_dir(const QString &path)
{
    QTreeWidgetItem *item = ui->dir_tree->topLevelItem(0);
    if (!item)
        return false;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        fill_children(item);
        QTreeWidgetItem *next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == part)
                next = item->child(i);
        if (!next)
            return false;
        item->setExpanded(true);
        item = next;
    }
    ui->dir_tree->setCurrentItem(item);
    return true;
}

void choose_dir_dialog::ok_clicked()
{
    const QString path = selected_dir();
    if (path.isEmpty()) {
        message::warning(this, QStringLiteral("Каталог не выбран"), QStringLiteral("Выберите каталог для сохранения."));
        return;
    }
    exchange_dir dir;
    dir.disk = disk_id_by_volume(m_browsed);
    dir.part_id = part_id_by_volume(m_browsed);
    dir.path = path;
    dir.volume = m_browsed;
    emit save_changes(dir);
    accept();
}
