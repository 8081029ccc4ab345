// Simulated computers for the boot-time check: a small computer built into a
// temporary directory with ORVA_SYSROOT pointing at it, variants of it, and
// its hardware approved as the module's reference.
#ifndef ORVA_TESTS_APP_CHECK_COMPUTER_H
#define ORVA_TESTS_APP_CHECK_COMPUTER_H

#include <orva.h>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <QStringList>

#include <functional>

struct hd_info;
struct hw_info;

class check_computer {
public:
    static constexpr char kCmdline[] = "BOOT_IMAGE=/vmlinuz root=/dev/sda1 ro quiet orva";

    check_computer();
    ~check_computer();
    check_computer(const check_computer &) = delete;
    check_computer &operator=(const check_computer &) = delete;

    // Builds the computer (a new root each time) and makes it the system
    // root. `cmdline`: the kernel command line, none when null. `change`:
    // a description line added, or "-memory" (memory module taken out),
    // "-card" (another graphics card in the same slot), "-reader" (the
    // vendor-072f USB reader unplugged), "-moved" (the second partition
    // starts later).
    bool build(const QString &cmdline = QString::fromLatin1(kCmdline), const QString &change = QString());
    // The system root no longer exists: nothing can be read.
    void remove();
    // Puts loop devices behind the file-system volumes of the current root
    // (root only), so they mount; undone by the next build and at the end.
    // Those of the nodes named in `writable` ("sdb1") take writes.
    bool attach_loops(const QStringList &writable = {});
    // Overwrites bytes of a device node of the computer (/dev/NAME).
    bool write_device(const QString &name, qint64 offset, const QByteArray &bytes);

private:
    QTemporaryDir m_dir;
    int m_builds = 0;
    void detach_loops();

    QString m_looped_root;
    QByteArray m_saved_root;
    bool m_had_root;
};

// Scans the current computer and stores it in the module as the reference
// with every class, device and parameter checked; `mark` may change the
// flags first.
bool approve_hardware(orva_handle_t handle, const std::function<void(hw_info *)> &mark = nullptr);
// The same through a session of its own (the module must not be open).
bool approve_hardware(const std::function<void(hw_info *)> &mark = nullptr);
// Stores the current partition tables as the reference with disk control
// on and every disk and partition under control, as the Disks page stores
// them with everything ticked; `mark` may change the flags first.
bool approve_disks(orva_handle_t handle, const std::function<void(hd_info *)> &mark = nullptr);

// Stores the registry check list of the Windows directory `dir` on the volume
// with file-system UUID `uuid` (mounted for the call): each of `entries` is
// a key path (whole sub-tree) or "PATH:VALUE"; the registry flag is set.
bool approve_registry(orva_handle_t handle, const QString &uuid, const QString &dir, const QStringList &entries);
// Stores the file check list of `paths` (files, contents and attributes) on
// the volume with file-system UUID `uuid`.
bool approve_files(orva_handle_t handle, const QString &uuid, const QStringList &paths);

// The protected Windows system's disk, a description line for
// check_computer::build: sdb with one NTFS volume (file-system UUID
// kWindowsUuid) holding /Windows/win.ini with `ini` and the registry value
// Updater of kSoftwareRun with `updater`; `files`: more lines under the
// volume.
inline constexpr char kWindowsUuid[] = "0B7C6A523E1F4D2A";
inline constexpr char kSoftwareRun[] = "\\REGISTRY\\MACHINE\\SOFTWARE\\Run";
QString windows_disk(const QString &updater = QStringLiteral("C:\\\\updater.exe"),
                     const QString &ini = QStringLiteral("alpha"), const QString &files = QString());
// The same disk with the defaults on an ext4 volume (file-system UUID
// kWindowsExtUuid), for tests that need the kernel's driver: a read-write
// mount beside the read-only one.
inline constexpr char kWindowsExtUuid[] = "0b7c6a52-3e1f-4d2a-9c8b-7a6f5e4d3c2b";
QString windows_ext4_disk();
// Stores the current computer with that disk (loop devices attached) as the
// reference through the program `approve` (check_approve_reference) in a
// process of its own: hardware, disks, /Windows/win.ini and the value Updater.
bool approve_windows_reference(const QString &approve);

#endif
