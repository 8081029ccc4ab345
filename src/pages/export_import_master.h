// Export and import of the user database and the stored check lists as plain
// files in a storage directory ("base-db.bin", "config-db.bin", "fs.bin",
// "hd.bin", "hw.bin"; "reg.bin" has no box on the page). Files pass through
// the storage's fetch directory ("/tmp/"), where they are removed again.
//
// Only the kinds the administrator's rights allow are moved: a selection
// with any other kind is refused whole.
#ifndef ORVA_PAGES_EXPORT_IMPORT_MASTER_H
#define ORVA_PAGES_EXPORT_IMPORT_MASTER_H

#include "module/universal_storage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class QWidget;
struct fs_volume;

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
    // Releases the volume it holds.
    ~export_import_master();
    export_import_master(const export_import_master &) = delete;
    export_import_master &operator=(const export_import_master &) = delete;

    void set_export_import_storage(int type, const QString &path);
    bool is_storage_set() const { return m_storage_set; }
    universal_storage &storage() { return m_storage; }
    // A medium (device node and mount directory, system paths) mounted around
    // each export (read-write) and import (read-only); empty: none. A volume
    // held before is let go.
    void set_medium(const QString &devnode, const QString &mount_dir);
    const QString &medium() const { return m_medium; }
    // The storage is the directory `dir` (a path inside the volume) of a
    // volume of the disk list: the master holds a read-only mount use of the
    // volume while it is the storage (imports read there), and each export
    // writes through a read-write mount of its own, made for the export.
    // False (the storage unchanged) when the volume cannot be mounted.
    bool set_volume(fs_volume *volume, const QString &dir);
    const fs_volume *volume() const { return m_volume; }
    // The storage path of a directory inside a mounted file system: the
    // mount point, the directory and "/", without doubled slashes.
    static QString storage_path(const QString &mount_point, const QString &dir);

    // The kinds (DB_*) the administrator may export and import; none until
    // set. From the rights bits of the user record: users (bit 0) for the
    // user database, integrity check lists (bit 1) for the check lists.
    void set_allowed(int kinds) { m_allowed = kinds; }
    int allowed() const { return m_allowed; }
    static int kinds_of_rights(uint32_t rights);

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
    void release_volume();
    // False (said so) when the selection holds a kind the rights do not allow.
    bool selection_allowed(const QString &title, const QString &text);

    QWidget *m_parent;
    universal_storage m_storage;
    bool m_storage_set = false;
    int m_selection = 0;
    QString m_medium;
    QString m_medium_dir;
    bool m_medium_mounted = false;
    fs_volume *m_volume = nullptr; // one read-only mount use while held
    QString m_volume_dir;
    bool m_volume_writable = false; // a read-write use during an export
    int m_allowed = 0;
};

#endif
