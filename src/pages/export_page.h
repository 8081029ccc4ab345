// The export/import page: the storage choice (the medium labelled ORVA, or a
// directory on a hard-disk partition) and the kinds of data to move.
#ifndef ORVA_PAGES_EXPORT_PAGE_H
#define ORVA_PAGES_EXPORT_PAGE_H

#include "pages/export_import_master.h"

#include <ic/qt/exchange_dir.h>

#include <QWidget>

#include <cstdint>

#include <memory>

namespace Ui {
class export_page;
}

class export_page : public QWidget {
    Q_OBJECT

public:
    // Storage entries of the combo box.
    enum storage_entry { STORAGE_USB = 0, STORAGE_DISK = 1 };

    explicit export_page(QWidget *parent = nullptr);
    ~export_page() override;

    export_import_master &master() { return m_master; }

    // The logged-on administrator's rights (the record's bit mask): the
    // boxes of the kinds they do not allow are disabled and cleared, and
    // the master refuses those kinds. No rights until set.
    void set_rights(uint32_t rights);

    // The device node of the medium and where it is mounted (system paths).
    static QString medium_device() { return QStringLiteral("/dev/disk/by-label/ORVA"); }
    static QString medium_mount_dir() { return QStringLiteral("/mnt/orva"); }

signals:
    // The action "Установить каталог экспорта/импорта" is offered or not.
    void directory_choice_enabled(bool enabled);

public slots:
    // A storage entry was chosen.
    void choose_storage(int entry);
    // The directory chosen on a partition of the disk list: the page holds
    // the partition mounted while it is the storage (see
    // export_import_master::set_volume).
    void set_exchange_dir(const exchange_dir &dir);
    // A directory of a file system mounted elsewhere: its type, where it is
    // mounted (host path) and the directory inside it.
    void set_exchange_dir(const QString &fs_type, const QString &mount_point, const QString &dir);
    void exportData();
    void importData();

private:
    // The selection from the boxes.
    void read_selection();
    // False (said so) for a file system that is not mounted read-write.
    bool exchange_type(const QString &fs_type);

    std::unique_ptr<Ui::export_page> ui;
    export_import_master m_master;
};

#endif
