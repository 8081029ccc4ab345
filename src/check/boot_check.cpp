#include "check/boot_check.h"

#include "check/check_fragments.h"
#include "check/check_sink.h"
#include "log/log_types.h"

#include <ic/hw/hw_diff.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>
#include <ic/util/le.h>

#include <QFile>

#include <cstring>

namespace {

using namespace check_fragments;

// USB devices of these vendors (the module's own readers) never count.
bool exempt_usb_device(const hw_dev_diff *dev)
{
    const hw_device *device = dev->first ? dev->first : dev->second;
    const hw_param *vendor = device ? hw_device_get_param_by_name(device, "id_vendor") : nullptr;
    if (!vendor || !vendor->text)
        return false;
    return std::strcmp(vendor->text, "17e4") == 0 || std::strcmp(vendor->text, "072f") == 0;
}

QString text_of(const char *text)
{
    return QString::fromUtf8(text ? text : "");
}

} // namespace

uint32_t boot_check::hw_mask_bit(uint32_t hw_class)
{
    switch (hw_class) {
    case HW_CLASS_CPU: return 0x4;
    case HW_CLASS_BIOS: return 0x1;
    case HW_CLASS_MEMORY: return 0x8;
    case HW_CLASS_MEDIA: return 0x10;
    case HW_CLASS_PCI: return 0x80;
    case HW_CLASS_USB: return 0x1000;
    case HW_CLASS_MONITOR: return 0x400;
    default: return 0;
    }
}

boot_check::boot_check(orva_handle_t handle)
    : m_area(handle)
{
}

boot_check::~boot_check()
{
    reg_destroy(m_winreg);
    rcl_destroy(m_rcl);
    if (m_registry_volume)
        orva_fun_fs::object()->umount_volume(m_registry_volume);
}

bool boot_check::run(check_sink &sink)
{
    load_hardware();
    load_disks(sink);
    load_registry(sink);
    load_files(sink);
    prepare_session(sink);

    bool passed = true;
    using section = bool (boot_check::*)(check_sink &);
    for (section s : {&boot_check::hardware_section, &boot_check::disks_section, &boot_check::files_section,
                      &boot_check::registry_section, &boot_check::boot_medium_section}) {
        const bool section_passed = (this->*s)(sink);
        if (!section_passed)
            passed = false;
        sink.section_end(section_passed);
        sink.between_sections();
    }
    return passed;
}

void boot_check::begin_section(check_sink &sink, const QString &title)
{
    sink.section_begin(title);
    sink.info(section_title(title));
}

void boot_check::load_hardware()
{
    hw_info *stored = nullptr;
    if (m_area.read_hw_info_from_device(&stored) == 0) {
        m_stored_hw_owned.reset(stored);
        m_stored_hw = stored;
    }
    m_hw_control = true;
}

void boot_check::load_disks(check_sink &sink)
{
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> block = m_area.read_hw_hd_block_from_device(&size, ic_data_area::HD_BLOCK);
    if (!block)
        return;
    hd_info *stored = nullptr;
    if (hd_info_read_from_mem(block.get(), size, &stored) != 0) {
        sink.info(QStringLiteral("\tОшибка при восстановлении списка дисков.\n"));
        return;
    }
    m_stored_hd.reset(stored);
    // The administrator may have switched disk control off.
    m_disk_control = (stored->flags & HD_INFO_CONTROL) != 0;
}

void boot_check::load_registry(check_sink &)
{
    rcl *list = nullptr;
    exchange_dir dir;
    bool flag = false;
    // The disks are looked at only when a registry block is stored.
    if (m_area.read_reg_info_from_device(&list, &dir, &flag) != 0)
        return;
    m_rcl = list;
    orva_fun_fs *fs = flag && !dir.path.isEmpty() ? orva_fun_fs::object() : nullptr;
    fs_volume *volume = fs ? find_volume_by_volume_id(fs->disk_list(), dir.part_id) : nullptr;
    m_registry_runs = volume != nullptr;
    if (!m_registry_runs)
        return;
    const QString mount_dir = fs->mount_volume(volume, false);
    if (mount_dir.isEmpty())
        return;
    m_registry_volume = volume;
    const QByteArray windows = QFile::encodeName(mount_dir + dir.path);
    reg *space = nullptr;
    if (create_winreg(windows.constData(), &space) == REG_OK)
        m_winreg = space;
}

void boot_check::load_files(check_sink &)
{
    fs_icl *icl = nullptr;
    if (m_area.read_fs_info_from_device(&icl, &m_images) != 0)
        return;
    // The list goes to orva_fun_fs, where the disk list is.
    orva_fun_fs *fs = orva_fun_fs::object();
    if (!fs) {
        fs_icl_destroy(icl);
        return;
    }
    fs->set_icl(icl);
    m_files_stored = true;
}

void boot_check::prepare_session(check_sink &sink)
{
    if (m_hw_control) {
        hw_info *current = nullptr;
        if (hw_info_get_current(&current) != HW_OK) {
            sink.info(QStringLiteral("Ошибка получения списка оборудования.\n"));
        } else {
            m_current_hw.reset(current);
            // Nothing stored: the computer is compared with itself.
            if (!m_stored_hw)
                m_stored_hw = current;
            hw_diff *diff = nullptr;
            if (hw_diff_create(m_stored_hw, current, &diff) != HW_OK)
                sink.info(QStringLiteral("Ошибка при сравнении списков оборудования.\n"));
            else
                m_hw_diff.reset(diff);
        }
    }
    if (m_disk_control) {
        hd_info *current = nullptr;
        if (hd_info_get_current(&current) != 0) {
            sink.info(QStringLiteral("Ошибка получения списка дисков.\n"));
        } else {
            m_current_hd.reset(current);
            hd_diff *diff = nullptr;
            if (hd_diff_create(m_stored_hd.get(), current, &diff) != 0)
                sink.info(QStringLiteral("Ошибка сравнения списков дисков.\n"));
            else
                m_hd_diff.reset(diff);
        }
    }
    if (m_files_stored) {
        orva_fun_fs *fs = orva_fun_fs::object();
        if (!fs || fs->create_session_icl() != 0)
            sink.info(QStringLiteral("Ошибка при создании СКЦ текущей сессии."));
    }
}

bool boot_check::hardware_section(check_sink &sink)
{
    if (!m_hw_control)
        return true;
    begin_section(sink, QStringLiteral("Контроль оборудования"));
    // Without a comparison the hardware cannot be vouched for.
    bool passed = m_hw_diff != nullptr;
    uint32_t mask = 0;
    for (uint32_t c = 0; m_hw_diff && c < HW_CLASS_COUNT; ++c) {
        const uint32_t class_flag = m_stored_hw->flags[c];
        if (class_flag != 0)
            sink.info(hw_class_header(text_of(hw_class_name(c))));
        bool counted = false;
        for (const hw_dev_diff *dev = hw_diff_get_first_device(m_hw_diff.get(), c); dev;
             dev = hw_diff_get_next_device(m_hw_diff.get(), dev)) {
            if (dev->kind != HW_DIFF_SAME)
                sink.hw_configuration_changed();
            if (c == HW_CLASS_USB && dev->kind != HW_DIFF_SAME && exempt_usb_device(dev))
                continue;
            const hw_device *stored = dev->first;
            const bool checked = stored && stored->flags == HW_DEVICE_CHECKED;
            switch (dev->kind) {
            case HW_DIFF_SAME:
                if (checked)
                    sink.info(hw_device_ok(text_of(stored->name)));
                break;
            case HW_DIFF_CHANGED:
                if (checked && class_flag != 0)
                    sink.info(hw_device_changed(text_of(stored->name)));
                for (const hw_param_diff *p = hw_dev_diff_get_first_param(dev); p;
                     p = hw_dev_diff_get_next_param(dev, p)) {
                    if (p->kind != HW_PARAM_DIFF_CHANGED)
                        continue;
                    if (class_flag == HW_CLASS_CHECKED && checked && p->first &&
                        p->first->flags == HW_PARAM_CHECKED) {
                        sink.info(hw_param_changed(text_of(p->first->title)));
                        counted = true;
                    }
                }
                break;
            case HW_DIFF_NEW:
                if (class_flag == HW_CLASS_CHECKED && dev->second) {
                    sink.info(hw_device_new(text_of(dev->second->name)));
                    counted = true;
                }
                break;
            case HW_DIFF_REMOVED:
                if (class_flag == HW_CLASS_CHECKED && stored) {
                    sink.info(hw_device_removed(text_of(stored->name)));
                    counted = true;
                }
                break;
            default:
                break;
            }
        }
        if (counted) {
            passed = false;
            mask |= hw_mask_bit(c);
        }
    }
    if (mask != 0) {
        uint8_t parameter[4];
        ic_store_le(parameter, mask, sizeof parameter);
        sink.log_record(LOG_HW_CHECK, LOG_OK, parameter, QStringLiteral("Чек0"));
    }
    if (passed)
        sink.hw_check_success();
    sink.info(hw_result(passed));
    return passed;
}

bool boot_check::disks_section(check_sink &sink)
{
    if (!m_disk_control)
        return true;
    return compare_disks(sink, m_hd_diff.get());
}

bool boot_check::files_section(check_sink &sink)
{
    if (!m_files_stored)
        return true;
    orva_fun_fs *fs = orva_fun_fs::object();
    // The registered images are attached (and registered again) first.
    int unattached = 0;
    for (const fs_vmdk_image &image : m_images) {
        fs_volume *host = fs ? find_volume_by_volume_id(fs->disk_list(), image.host_id) : nullptr;
        if (!host || fs->add_vmdk_disk(image.path, image.name, host) != 0)
            ++unattached;
    }
    fs_icl_check_info *check = nullptr;
    if (fs && fs_icl_check_info_create_all(fs->icl(), fs->disk_list(), &check) == 0)
        m_fs_check.reset(check);
    return compare_files(sink, m_fs_check.get(), unattached);
}

bool boot_check::registry_section(check_sink &sink)
{
    if (!m_registry_runs)
        return true;
    return compare_registry(sink, m_rcl, m_winreg);
}

bool boot_check::boot_medium_section(check_sink &sink)
{
    begin_section(sink, QStringLiteral("Контроль загрузочного носителя"));
    const QString unknown = QStringLiteral("Не удалось определить тип устройства загрузки ОС");
    QString problem;
    if (!m_cmdline.load())
        problem = unknown + QStringLiteral("\n");
    else if (m_cmdline.isInt13Fails())
        problem = unknown + QStringLiteral(": вызов расширения прерывания int 13 завершился ошибкой\n");
    else if (m_cmdline.isBootDeviceRemovable())
        problem = unknown + QStringLiteral(": загрузка ОС со съемного носителя запрещена\n");
    if (problem.isEmpty()) {
        sink.info(ok_line());
        return true;
    }
    sink.info(red_line(problem));
    sink.info(check_result(false));
    return false;
}
