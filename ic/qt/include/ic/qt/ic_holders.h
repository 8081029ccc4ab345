// Reference data read from the module beside the computer's present
// pictures, shared by the boot-time check and the administration pages:
// the check fills them, the pages show and edit them and store them back.
#ifndef IC_QT_IC_HOLDERS_H
#define IC_QT_IC_HOLDERS_H

#include "ic/qt/exchange_dir.h"

#include <ic/hd/hd_ptr.h>
#include <ic/hw/hw_ptr.h>

struct fs_disk_list;
struct fs_volume;
struct rcl;
struct reg;
class ic_data_area;

// Stored and current hardware inventories and their difference. Whatever
// replaces an inventory drops the difference first and counts a new
// generation: views built over the held records rebuild when it changes.
class hw_holder {
public:
    // The stored inventory; false (and none held) when nothing readable is
    // stored.
    bool load_stored(ic_data_area &area);
    // Scans the computer: the core's code.
    int scan_current();
    // Difference of the stored inventory (the current one when none is
    // stored) and the current one, stored first: the core's code.
    int compare();
    // Recount: a fresh scan becomes the current inventory and a copy of it
    // the stored one (no difference is built). The core's code; on failure
    // nothing held changes.
    int adopt_current();
    // Stores the stored inventory: save_hw_info_to_device's result, -1 when
    // none is held.
    int save(ic_data_area &area) const;
    void clear();

    hw_info *stored() const { return m_stored.get(); }
    hw_info *current() const { return m_current.get(); }
    const hw_diff *diff() const { return m_diff.get(); }
    // What the hardware section compares: the stored inventory, or the
    // current one when none is stored.
    hw_info *reference() const { return m_stored ? m_stored.get() : m_current.get(); }
    unsigned generation() const { return m_generation; }

private:
    ic_hw::info_ptr m_stored;
    ic_hw::info_ptr m_current;
    ic_hw::diff_ptr m_diff;
    unsigned m_generation = 0;
};

// Stored and current partition-table inventories and their difference, on
// the same terms as hw_holder.
class hd_holder {
public:
    enum load_result { NOTHING_STORED, UNREADABLE, LOADED };

    // The disks block: LOADED, or none held and NOTHING_STORED (never
    // written) or UNREADABLE (a block that does not read or parse).
    load_result load_stored(ic_data_area &area);
    // Reads the partition tables of the computer: the core's code.
    int scan_current();
    // Difference of the stored and the current inventory: the core's code
    // (2 when either is missing).
    int compare();
    // A fresh inventory to approve: a copy of the current one (read again
    // when `rescan` or when none is held) becomes the stored one, with the
    // flags of a fresh scan, all clear. The core's code; on failure nothing
    // held changes.
    int adopt_current(bool rescan);
    // Stores the stored inventory: save_hd_info_to_device's result (-1 when
    // none is held).
    int save(ic_data_area &area) const;
    void clear();

    hd_info *stored() const { return m_stored.get(); }
    hd_info *current() const { return m_current.get(); }
    const hd_diff *diff() const { return m_diff.get(); }
    unsigned generation() const { return m_generation; }

private:
    ic_hd::info_ptr m_stored;
    ic_hd::info_ptr m_current;
    ic_hd::diff_ptr m_diff;
    unsigned m_generation = 0;
};

// Stored registry check list, its Windows directory and registry flag, and
// the name space built for that directory.
class reg_holder {
public:
    reg_holder();
    ~reg_holder();
    reg_holder(const reg_holder &) = delete;
    reg_holder &operator=(const reg_holder &) = delete;

    // Reads the registry block; the directory's volume is looked up in
    // disks. Nothing readable stored: an empty list, no directory, flag
    // off, and false; unreadable() then tells a damaged block from one
    // never written.
    bool load(ic_data_area &area, const fs_disk_list *disks);
    bool unreadable() const { return m_unreadable; }
    // Mounts the directory's volume read-only and builds the name space of
    // the Windows directory there: the core's code, or 4 when the directory
    // has no volume or no path. A name space built before is released.
    int build_space();
    // The mount's code when the last build_space could not mount the
    // volume, else 0.
    int mount_error() const { return m_mount_error; }
    // Stores list, directory and flag: save_reg_info_to_device's result.
    int save(ic_data_area &area) const;
    // Releases the name space and the mount of its volume.
    void release_space();

    rcl *list() const { return m_list; }
    const exchange_dir &dir() const { return m_dir; }
    void set_dir(const exchange_dir &dir) { m_dir = dir; }
    bool flag() const { return m_flag; }
    void set_flag(bool flag) { m_flag = flag; }
    reg *space() const { return m_space; }
    // The registry section runs: a directory whose volume is present, a
    // path, and the flag set.
    bool check_wanted() const { return m_dir.volume && !m_dir.path.isEmpty() && m_flag; }

private:
    rcl *m_list = nullptr; // never null after construction unless memory ran out
    exchange_dir m_dir;
    bool m_flag = false;
    bool m_unreadable = false;
    reg *m_space = nullptr;
    fs_volume *m_mounted = nullptr;
    int m_mount_error = 0;
};

// The program's one set of reference data: the boot-time check fills it,
// the administration pages present and edit it. (The stored file check
// list and the registered images live with orva_fun_fs.)
struct ic_holders {
    hw_holder hw;
    hd_holder hd;
    reg_holder reg;

    static ic_holders &object();
};

#endif
