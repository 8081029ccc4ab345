// Reference data read from the module beside the computer's present
// pictures, shared by the boot-time check and the administration pages:
// the check fills them, the pages show and edit them and store them back.
#ifndef IC_QT_IC_HOLDERS_H
#define IC_QT_IC_HOLDERS_H

#include "ic/qt/exchange_dir.h"
#include "ic/qt/fs_vmdk_image.h"

#include <ic/hw/hw_ptr.h>

#include <QList>

struct fs_disk_list;
struct fs_icl;
struct fs_volume;
struct rcl;
struct reg;
class ic_data_area;

// Stored and current hardware inventories and their difference.
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

    hw_info *stored() const { return m_stored.get(); }
    hw_info *current() const { return m_current.get(); }
    const hw_diff *diff() const { return m_diff.get(); }
    // What the hardware section compares: the stored inventory, or the
    // current one when none is stored.
    hw_info *reference() const { return m_stored ? m_stored.get() : m_current.get(); }

private:
    ic_hw::info_ptr m_stored;
    ic_hw::info_ptr m_current;
    ic_hw::diff_ptr m_diff;
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
    // off, and false.
    bool load(ic_data_area &area, const fs_disk_list *disks);
    // Mounts the directory's volume read-only and builds the name space of
    // the Windows directory there: the core's code, or 4 when the directory
    // has no volume or no path. A name space built before is released.
    int build_space();
    // Stores list, directory and flag: save_reg_info_to_device's result.
    int save(ic_data_area &area) const;

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
    void release_space();

    rcl *m_list = nullptr; // never null after construction unless memory ran out
    exchange_dir m_dir;
    bool m_flag = false;
    reg *m_space = nullptr;
    fs_volume *m_mounted = nullptr;
};

// Stored file check list and the registered image list.
class fs_holder {
public:
    fs_holder();
    ~fs_holder();
    fs_holder(const fs_holder &) = delete;
    fs_holder &operator=(const fs_holder &) = delete;

    // Reads the files block. Nothing readable stored: an empty list, no
    // images, and false.
    bool load(ic_data_area &area);
    // save_fs_info_to_device's result.
    int save(ic_data_area &area) const;

    fs_icl *icl() const { return m_icl; }
    const QList<fs_vmdk_image> &images() const { return m_images; }
    QList<fs_vmdk_image> &images() { return m_images; }
    // A stored list holds at least one volume.
    bool has_volumes() const;

private:
    fs_icl *m_icl = nullptr;
    QList<fs_vmdk_image> m_images;
};

// The program's one set of reference data: the boot-time check fills it,
// the administration pages present and edit it. (The stored file check
// list and the registered images live with orva_fun_fs.)
struct ic_holders {
    hw_holder hw;
    reg_holder reg;

    static ic_holders &object();
};

#endif
