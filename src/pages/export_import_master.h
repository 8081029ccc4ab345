// Export and import of the user database and the stored check lists as plain
// files in a storage directory ("base-db.bin", "config-db.bin", "fs.bin",
// "hd.bin", "hw.bin"; "reg.bin" has no box on the page). Files pass through
// the storage's fetch directory ("/tmp/"), where they are removed again.
#ifndef ORVA_PAGES_EXPORT_IMPORT_MASTER_H
#define ORVA_PAGES_EXPORT_IMPORT_MASTER_H

#include "module/universal_storage.h"

#include <QByteArray>
#include <QString>

class QWidget;

class export_import_master {
public:
    // Bits of the selection, in the order of the page's boxes.
    enum kind {
        DB_USERS = 1 << 0,
        DB_ICL_FS = 1 << 1,
        DB_ICL_HD = 1 << 2,
        DB_ICL_HW = 1 << 3,
        DB_ICL_REG = 1 << 4,
        DB_LOG = 1 << 5,
    };
    // Blocks of the integrity-data area (ic_data_area's numbers).
    enum block { BLOCK_HW = 0, BLOCK_HD = 1, BLOCK_REG = 2, BLOCK_FS = 3 };
    // What an import did.
    enum import_result { IMPORT_NOTHING_WRITTEN, IMPORT_PARTIAL, IMPORT_DONE };

    // Messages go to boxes over `parent`.
    explicit export_import_master(QWidget *parent);

    void set_export_import_storage(int type, const QString &path);
    bool is_storage_set() const { return m_storage_set; }
    universal_storage &storage() { return m_storage; }
    // A medium (device node and mount directory, system paths) mounted around
    // each export (read-write) and import (read-only); empty: none.
    void set_medium(const QString &devnode, const QString &mount_dir);
    const QString &medium() const { return m_medium; }

    static int get_db_type_from_index(int index) { return 1 << index; }
    void set_selection(int mask) { m_selection = mask; }
    int selection() const { return m_selection; }

    // The selected kinds in the order users, files, disks, hardware. True
    // when nothing failed (a missing check list is only warned about).
    bool export_data();
    // The selected kinds in the same order; a kind that fails changes nothing
    // in the module and is reported, the others go on.
    import_result import_data();

    // One kind each: 0, or -1 (reported by the callers above).
    int export_db();
    int import_db();
    // `type`: BLOCK_*. Export: 1 when the module holds no such block.
    int export_icl(int type);
    int import_icl(int type);
    int export_icl_fs() { return export_icl(BLOCK_FS); }
    int export_icl_hd() { return export_icl(BLOCK_HD); }
    int export_icl_hw() { return export_icl(BLOCK_HW); }
    int import_icl_fs() { return import_icl(BLOCK_FS); }
    int import_icl_hd() { return import_icl(BLOCK_HD); }
    int import_icl_hw() { return import_icl(BLOCK_HW); }

    // A stored block as it is, header included; empty when nothing readable
    // is stored.
    static QByteArray read_raw_icl_block_from_device(int type);
    // Stores such a copy; -1 (nothing written) unless it is a whole block of
    // that type that fits the area.
    static int save_raw_icl_block_to_device(const QByteArray &block, int type);

private:
    // Writes `bytes` to the fetch directory and puts the file into storage.
    int put_file(const QString &name, const QByteArray &bytes);
    // Fetches the file from storage into *bytes; false when it cannot be had.
    bool get_file(const QString &name, QByteArray *bytes);
    bool mount_medium(bool writable);
    void release_medium();

    QWidget *m_parent;
    universal_storage m_storage;
    bool m_storage_set = false;
    int m_selection = 0;
    QString m_medium;
    QString m_medium_dir;
    bool m_medium_mounted = false;
};

#endif
