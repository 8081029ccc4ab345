#include "support/check_computer.h"

#include "ic/qt/ic_data_area.h"
#include "ic/qt/ic_holders.h"
#include "support/sim_module.h"

#include <ic/hd/hd_ptr.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>
#include <ic/rcl/rcl.h>
#include <ic/hw/hw_ptr.h>
#include <simcomputer/simcomputer.h>

#include <QFile>
#include <QProcess>
#include <QStringList>

namespace {

const char kComputer[] = R"(bios vendor="AMI" version=1.2 date=05/16/2014 segment=0xE000 seed=check release=4.6
smbios entry=sm version=2.7
cpu socket=CPU0 manufacturer=Intel version="Core i5" speed=3200
memarray
  memory locator=DIMM0 bank="BANK 0" size=4G
pci 0000:00:00.0 vendor=8086 device=0c00 class=060000
pci 0000:00:02.0 vendor=8086 device=0412 class=030000
pci 0000:00:14.0 vendor=8086 device=8c31 class=0c0330
pci 0000:00:1f.2 vendor=8086 device=8c02 class=010601
usbhub 1 controller=0000:00:14.0
usb 1-1 vendor=046d product=c52b serial=LGT0001
usb 1-2 vendor=072f product=2200 serial=RDR0001
disk sda size=2M controller=0000:00:1f.2 vendor=ATA model=CHECKDISK revision=1 serial=S0001
  part 1 start=64K size=512K
  part 2 start=1M size=512K
)";

QString description(const QString &cmdline, const QString &change)
{
    QStringList lines = QString::fromLatin1(kComputer).split(QLatin1Char('\n'));
    if (change == QLatin1String("-memory"))
        lines.removeIf([](const QString &l) { return l.contains(QLatin1String("locator=DIMM0")); });
    else if (change == QLatin1String("-reader"))
        lines.removeIf([](const QString &l) { return l.contains(QLatin1String("vendor=072f")); });
    else if (change == QLatin1String("-moved"))
        lines.replaceInStrings(QStringLiteral("part 2 start=1M"), QStringLiteral("part 2 start=1280K"));
    else if (change == QLatin1String("-card"))
        lines.replaceInStrings(QStringLiteral("device=0412"), QStringLiteral("device=0416"));
    else if (!change.isEmpty())
        lines << change;
    if (!cmdline.isNull())
        lines << QStringLiteral("cmdline \"%1\"").arg(cmdline);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

check_computer::check_computer()
    : m_saved_root(qgetenv("ORVA_SYSROOT")),
      m_had_root(qEnvironmentVariableIsSet("ORVA_SYSROOT"))
{
}

check_computer::~check_computer()
{
    detach_loops();
    if (m_had_root)
        qputenv("ORVA_SYSROOT", m_saved_root);
    else
        qunsetenv("ORVA_SYSROOT");
}

bool check_computer::build(const QString &cmdline, const QString &change)
{
    simcomputer::Computer model;
    simcomputer::Error err;
    if (!simcomputer::parse(description(cmdline, change).toStdString(), model, err)) {
        qWarning("description: %s", err.text().c_str());
        return false;
    }
    detach_loops();
    const QString root = m_dir.filePath(QStringLiteral("root%1").arg(++m_builds));
    if (!simcomputer::build(model, root.toStdString(), err)) {
        qWarning("build: %s", err.text().c_str());
        return false;
    }
    qputenv("ORVA_SYSROOT", root.toLocal8Bit());
    return true;
}

void check_computer::remove()
{
    qputenv("ORVA_SYSROOT", m_dir.filePath(QStringLiteral("gone")).toLocal8Bit());
}

bool check_computer::attach_loops(const QStringList &writable)
{
    const QString root = m_dir.filePath(QStringLiteral("root%1").arg(m_builds));
    simcomputer::Error err;
    std::vector<std::string> names;
    for (const QString &name : writable)
        names.push_back(name.toStdString());
    if (!simcomputer::attach_loops(root.toStdString(), err, names)) {
        qWarning("loops: %s", err.text().c_str());
        return false;
    }
    m_looped_root = root;
    return true;
}

void check_computer::detach_loops()
{
    if (m_looped_root.isEmpty())
        return;
    // The registry name space a check built keeps its volume mounted.
    ic_holders::object().reg.release_space();
    simcomputer::Error err;
    if (!simcomputer::detach_loops(m_looped_root.toStdString(), err))
        qWarning("loops: %s", err.text().c_str());
    m_looped_root.clear();
}

bool check_computer::write_device(const QString &name, qint64 offset, const QByteArray &bytes)
{
    QFile node(m_dir.filePath(QStringLiteral("root%1/dev/%2").arg(m_builds).arg(name)));
    return node.open(QIODevice::ReadWrite) && node.seek(offset) && node.write(bytes) == bytes.size();
}

bool approve_hardware(orva_handle_t handle, const std::function<void(hw_info *)> &mark)
{
    hw_info *raw = nullptr;
    if (hw_info_get_current(&raw) != HW_OK)
        return false;
    ic_hw::info_ptr info(raw);
    hw_info_check_all(raw);
    if (mark)
        mark(raw);
    return ic_data_area(handle).save_hw_info_to_device(raw) == 0;
}

bool approve_hardware(const std::function<void(hw_info *)> &mark)
{
    module_session session;
    return session.ok() && approve_hardware(session.handle(), mark);
}

bool approve_disks(orva_handle_t handle, const std::function<void(hd_info *)> &mark)
{
    hd_info *raw = nullptr;
    if (hd_info_get_current(&raw) != 0)
        return false;
    ic_hd::info_ptr info(raw);
    hd_info_check_all(raw);
    if (mark)
        mark(raw);
    return ic_data_area(handle).save_hd_info_to_device(raw) == 0;
}

bool approve_registry(orva_handle_t handle, const QString &uuid, const QString &dir, const QStringList &entries)
{
    orva_fun_fs *fs = orva_fun_fs::object();
    fs_volume *volume = fs ? find_volume_by_volume_id(fs->disk_list(), uuid) : nullptr;
    const QString mount_dir = volume ? fs->mount_volume(volume, false) : QString();
    if (mount_dir.isEmpty())
        return false;
    reg *space = nullptr;
    rcl *list = nullptr;
    bool ok = create_winreg(QFile::encodeName(mount_dir + dir).constData(), &space) == REG_OK &&
              rcl_create(&list) == REG_OK;
    for (const QString &entry : entries) {
        const int colon = static_cast<int>(entry.indexOf(QLatin1Char(':')));
        const QByteArray path = entry.left(colon).toUtf8();
        if (ok && colon < 0)
            ok = rcl_add_key_u8(list, space, path.constData(), 0x7F, nullptr) == REG_OK;
        else if (ok)
            ok = rcl_add_value_u8(list, space, path.constData(), entry.mid(colon + 1).toUtf8().constData(),
                                  RCL_VALUE_TYPE | RCL_VALUE_DATA, nullptr) == REG_OK;
    }
    if (ok) {
        exchange_dir place;
        place.disk = disk_id_by_volume(volume);
        place.part_id = uuid;
        place.path = dir;
        ok = ic_data_area(handle).save_reg_info_to_device(place, list, true) == 0;
    }
    rcl_destroy(list);
    reg_destroy(space);
    fs->umount_volume(volume);
    return ok;
}

bool approve_files(orva_handle_t handle, const QString &uuid, const QStringList &paths)
{
    orva_fun_fs *fs = orva_fun_fs::object();
    fs_volume *volume = fs ? find_volume_by_volume_id(fs->disk_list(), uuid) : nullptr;
    if (!volume)
        return false;
    fs->set_current_volume(volume);
    bool ok = true;
    for (const QString &path : paths)
        ok = ok && fs->add_file(path, FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS) == 0;
    ic_data_area area(handle);
    return ok && fs->save_fs_data(area) == 0;
}

namespace {

// The Windows disk with the volume line `fs`.
QString windows_disk_on(const QString &fs, const QString &updater, const QString &ini, const QString &files)
{
    return QStringLiteral("disk sdb size=64M controller=0000:00:1f.2 vendor=ATA model=WINDISK serial=W0001\n"
                          "  part 1 start=1M size=48M type=7\n"
                          "    %1\n"
                          "      file /Windows/win.ini content=%3\n"
                          "%4"
                          "      windows /Windows\n"
                          "        hive SOFTWARE\n"
                          "          key Run\n"
                          "            value Updater sz \"%2\"\n")
        .arg(fs, updater, ini, files);
}

} // namespace

QString windows_disk(const QString &updater, const QString &ini, const QString &files)
{
    return windows_disk_on(QStringLiteral("fs ntfs uuid=") + QLatin1String(kWindowsUuid), updater, ini, files);
}

QString windows_ext4_disk()
{
    return windows_disk_on(QStringLiteral("fs ext4 uuid=") + QLatin1String(kWindowsExtUuid),
                           QStringLiteral("C:\\\\updater.exe"), QStringLiteral("alpha"), QString());
}

bool approve_windows_reference(const QString &approve)
{
    const QString uuid = QLatin1String(kWindowsUuid);
    return QProcess::execute(approve, {QStringLiteral("--registry"), uuid, QStringLiteral("/Windows"),
                                       QLatin1String(kSoftwareRun) + QStringLiteral(":Updater"),
                                       QStringLiteral("--files"), uuid, QStringLiteral("/Windows/win.ini")}) == 0;
}
