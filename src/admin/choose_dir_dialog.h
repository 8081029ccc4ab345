// The directory dialog: the computer's disks, partitions and volumes on the
// left, the directories of the selected volume on the right. One instance
// chooses the registry's Windows directory, one the export/import directory
// (writable: its volume is written later). Volumes are only browsed, and
// read-only.
//
// The dialog releases every mount it made when it closes: the receiver of a
// choice mounts what it keeps using before that (save_changes is delivered
// while the chosen volume is still mounted).
#ifndef ORVA_ADMIN_CHOOSE_DIR_DIALOG_H
#define ORVA_ADMIN_CHOOSE_DIR_DIALOG_H

#include <ic/qt/exchange_dir.h>

#include <QDialog>
#include <QString>

#include <memory>

struct fs_volume;
class QTreeWidget;
class QTreeWidgetItem;
class disk_tree_view;

namespace Ui {
class choose_dir_dialog;
}

class choose_dir_dialog : public QDialog {
    Q_OBJECT

public:
    choose_dir_dialog(QWidget *parent, bool writable);
    ~choose_dir_dialog() override;

    bool writable() const { return m_writable; }
    disk_tree_view *disk_tree() const;
    QTreeWidget *dir_tree() const;
    // The volume whose directories are shown (mounted by the dialog), and
    // the selected directory as a path inside it (empty: none).
    fs_volume *volume() const { return m_browsed; }
    QString selected_dir() const;
    // Selects the directory of that path inside the shown volume (its items
    // are filled on the way); false when there is none.
    bool select_dir(const QString &path);

    // The item's path inside the volume ("/" for the volume's root).
    static constexpr int kPathRole = Qt::UserRole;

signals:
    void save_changes(exchange_dir dir);
    // The directories under the mount path are to be shown / hidden.
    void show_tree(const char *path);
    void hide_tree();

protected:
    void showEvent(QShowEvent *event) override;

public slots:
    void done(int result) override;

private slots:
    void volume_selected(fs_volume *volume);
    void fill_dir_tree(const char *path);
    void clear_dir_tree();
    void fill_children(QTreeWidgetItem *item);
    void ok_clicked();

private:
    void release(fs_volume *&volume);

    std::unique_ptr<Ui::choose_dir_dialog> ui;
    bool m_writable;
    QString m_mount_dir;
    fs_volume *m_browsed = nullptr; // one mount use while its directories are shown
};

#endif
