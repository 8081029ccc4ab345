// The boot-time integrity check without its screen: loads the reference data
// stored in the module, takes the same pictures of the computer as it is now,
// compares them section by section and sends the report and the event-log
// records to a sink. The program's IntegrityController and the command line
// both run it. What it loads, takes and compares stays in the reference
// holders (the stored file check list with orva_fun_fs) for the
// administration pages.
#ifndef ORVA_CHECK_BOOT_CHECK_H
#define ORVA_CHECK_BOOT_CHECK_H

#include "check/linux_kernel_cmd_line.h"
#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_holders.h"

#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_icl_ptr.h>
#include <ic/fs/fs_ocl_check.h>
#include <ic/qt/fs_vmdk_image.h>
#include <ic/rcl/rcl.h>

#include <orva.h>

#include <cstdint>

class check_sink;
class orva_fun_fs;

class boot_check {
public:
    // Section titles and the line of a disk list that cannot be built.
    static QString disks_title();
    static QString files_title();
    static QString registry_title();
    static QString no_disk_list();

    // Hardware mask bits of the event log, per hardware class code.
    static uint32_t hw_mask_bit(uint32_t hw_class);

    explicit boot_check(orva_handle_t handle, ic_holders &holders = ic_holders::object());
    ~boot_check();
    boot_check(const boot_check &) = delete;
    boot_check &operator=(const boot_check &) = delete;

    // The disk section over the difference of the stored and the current
    // partition tables (null when it could not be built: the section fails).
    // The stored disks' flags say what counts.
    static bool compare_disks(check_sink &sink, const hd_diff *diff);

    // The registry section over a stored check list and the registry name
    // space of the protected system (null when it could not be built);
    // false when it fails. The event-log record names the violated keys.
    static bool compare_registry(check_sink &sink, const rcl *list, reg *space);

    // Loads, prepares and runs every section in order; true when the whole
    // check passed. A failing section does not stop the ones after it.
    bool run(check_sink &sink);

    // The file check's result (after run; null when the section did not
    // run), taken over. files_stored: the stored file check list was read
    // and is held by orva_fun_fs.
    bool files_stored() const { return m_files == FILES_LOADED; }
    fs_icl_check_info *take_fs_check() { return m_fs_check.release(); }

    // The check of every volume of the stored file check list that fs holds:
    // the registered images are attached (registered again as they are;
    // one attached under its name already is checked as it is), the
    // volumes checked into `check` (null when that could not be made), and
    // the images it attached detached again, so nothing stays bound after
    // the check; the registration is left as stored. The number of images
    // that could not be attached. While files are hashed, `sink` (when
    // given) is told now and then that the check is busy.
    static int check_volumes(orva_fun_fs &fs, const QList<fs_vmdk_image> &images, ic_fs::icl_check_ptr &check,
                             check_sink *sink = nullptr);
    // The file-system object section over the check of every volume of the
    // stored file check list (null when it could not be made: the section
    // fails), after `unattached_images` registered images could not be
    // attached; false when a volume is gone, cannot be mounted or checked,
    // or an object differs.
    static bool compare_files(check_sink &sink, const fs_icl_check_info *check, int unattached_images = 0);
    // One volume of the file-system section: the lines of every stored
    // object that differs (with one event-log record per file or directory
    // that differs), then each unchanged object with " - ОК". False when
    // anything differs.
    static bool report_volume_files(check_sink &sink, const fs_ocl *stored, const fs_ocl_check_info *check);
    // The result text of a file-check result: " -" and the texts of the set
    // bits, " OK;" for none.
    static QString file_result_text(uint32_t flags);
    // Result flags of a directory item as file-check record flags (the
    // directory bits become the file bits of the same meaning).
    static uint32_t record_flags(uint32_t flags);

    // Starts a section: tells the sink and shows the section's title.
    static void begin_section(check_sink &sink, const QString &title);

    // What the stored registry block asks of the check.
    enum registry_state {
        REGISTRY_NOTHING_STORED, // never written: no registry section
        REGISTRY_OFF,            // registry control switched off: none either
        REGISTRY_UNREADABLE,     // written but damaged: the section fails
        REGISTRY_NO_DISKS,       // the disk list cannot be built: it fails
        REGISTRY_NOT_FOUND,      // no volume answers to the directory's: it fails
        REGISTRY_AMBIGUOUS,      // more than one does: it fails
        REGISTRY_MOUNT_FAILED,   // it cannot be mounted: it fails
        REGISTRY_FOUND,          // the directory's volume is in registry.dir()
    };
    // Reads the stored registry block into `registry`; the disks are looked
    // at (for the directory's volume, by its identity on its disk) only
    // when registry control is on.
    static registry_state load_registry_block(ic_data_area &area, reg_holder &registry);
    // The registry section when the stored directory cannot be checked:
    // the line that says why (with the mount's code), the failed result
    // and the event-log record.
    static bool registry_not_checked(check_sink &sink, registry_state state, const exchange_dir &dir,
                                     int mount_error = 0);

private:
    // Loading the stored data, in order.
    void load_hardware();
    // The stored partition tables (success turns disk control on when it is
    // switched on in them), the registry block with its directory and name
    // space, the stored file check list with the registered images and the
    // disk list.
    void load_disks();
    void load_registry();
    void load_files();
    // Current pictures and their differences.
    void prepare_session(check_sink &sink);

    // Sections, in order; each returns false when it fails.
    bool hardware_section(check_sink &sink);
    bool disks_section(check_sink &sink);
    bool files_section(check_sink &sink);
    bool registry_section(check_sink &sink);
    bool boot_medium_section(check_sink &sink);

    ic_data_area m_area;
    ic_holders &m_holders;
    LinuxKernelCmdLine m_cmdline;

    bool m_disk_control = false;
    // A disks block is stored but does not read: the disk section fails.
    bool m_disks_unreadable = false;

    registry_state m_registry = REGISTRY_NOTHING_STORED;

    // What became of the stored file check list (held by orva_fun_fs once
    // loaded), the registered images, and what the check of its volumes
    // found.
    enum files_state { FILES_NOTHING_STORED, FILES_UNREADABLE, FILES_NO_DISKS, FILES_LOADED };
    files_state m_files = FILES_NOTHING_STORED;
    QList<fs_vmdk_image> m_images;
    ic_fs::icl_check_ptr m_fs_check;
};

#endif
