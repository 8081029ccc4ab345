#include "check/boot_check.h"

#include "check/check_fragments.h"
#include "check/check_sink.h"
#include "log/log_types.h"

#include <ic/hw/hw_diff.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>
#include <ic/util/le.h>

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

QString boot_check::disks_title()
{
    return QStringLiteral("Контроль дисков");
}

QString boot_check::files_title()
{
    return QStringLiteral("Контроль целостности объектов ФС");
}

QString boot_check::registry_title()
{
    return QStringLiteral("Контроль целостности реестра");
}

QString boot_check::no_disk_list()
{
    return QStringLiteral("\tОшибка получения списка разделов дисков.\n");
}

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

boot_check::boot_check(orva_handle_t handle, ic_holders &holders)
    : m_area(handle),
      m_holders(holders)
{
}

boot_check::~boot_check() = default;

bool boot_check::run(check_sink &sink)
{
    load_hardware();
    load_disks();
    load_registry();
    load_files();
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
    m_holders.hw.load_stored(m_area);
}

void boot_check::load_disks()
{
    // Nothing of an earlier picture stays: the pages show what this check
    // compared.
    m_holders.hd.clear();
    switch (m_holders.hd.load_stored(m_area)) {
    case hd_holder::LOADED:
        // The administrator may have switched disk control off.
        m_disk_control = (m_holders.hd.stored()->flags & HD_INFO_CONTROL) != 0;
        break;
    case hd_holder::UNREADABLE:
        // The section says so: stored partition tables must be compared.
        m_disks_unreadable = true;
        break;
    case hd_holder::NOTHING_STORED:
        break;
    }
}

boot_check::registry_state boot_check::load_registry_block(ic_data_area &area, reg_holder &registry)
{
    if (!registry.load(area, nullptr))
        return registry.unreadable() ? REGISTRY_UNREADABLE : REGISTRY_NOTHING_STORED;
    if (!registry.flag())
        return REGISTRY_OFF;
    orva_fun_fs *fs = orva_fun_fs::object();
    if (!fs)
        return REGISTRY_NO_DISKS;
    exchange_dir dir = registry.dir();
    const volume_lookup found = lookup_volume_by_volume_id(fs->disk_list(), dir.part_id, dir.disk, &dir.volume);
    registry.set_dir(dir);
    switch (found) {
    case VOLUME_FOUND: return REGISTRY_FOUND;
    case VOLUME_AMBIGUOUS: return REGISTRY_AMBIGUOUS;
    default: return REGISTRY_NOT_FOUND;
    }
}

void boot_check::load_registry()
{
    m_registry = load_registry_block(m_area, m_holders.reg);
    // A directory without a path builds no name space: the section says so.
    if (m_registry == REGISTRY_FOUND && m_holders.reg.build_space() != 0 && m_holders.reg.mount_error() != 0)
        m_registry = REGISTRY_MOUNT_FAILED;
}

void boot_check::load_files()
{
    fs_icl *icl = nullptr;
    if (m_area.read_fs_info_from_device(&icl, &m_images) != 0) {
        m_files = m_area.block_written(ic_data_area::FS_BLOCK) ? FILES_UNREADABLE : FILES_NOTHING_STORED;
        return;
    }
    // The list goes to orva_fun_fs, where the disk list is.
    orva_fun_fs *fs = orva_fun_fs::object();
    if (!fs) {
        fs_icl_destroy(icl);
        m_files = FILES_NO_DISKS;
        return;
    }
    fs->set_icl(icl);
    m_files = FILES_LOADED;
}

void boot_check::prepare_session(check_sink &sink)
{
    hw_holder &hw = m_holders.hw;
    if (hw.scan_current() != HW_OK)
        sink.info(QStringLiteral("Ошибка получения списка оборудования.\n"));
    // Nothing stored: the computer is compared with itself.
    else if (hw.compare() != HW_OK)
        sink.info(QStringLiteral("Ошибка при сравнении списков оборудования.\n"));
    if (m_disk_control) {
        hd_holder &hd = m_holders.hd;
        if (hd.scan_current() != 0)
            sink.info(QStringLiteral("Ошибка получения списка дисков.\n"));
        else if (hd.compare() != 0)
            sink.info(QStringLiteral("Ошибка сравнения списков дисков.\n"));
    }
    // The current-run file list is built by the files page when it is
    // asked for: at boot it would read every controlled file a second time,
    // whatever its size.
}

bool boot_check::hardware_section(check_sink &sink)
{
    begin_section(sink, QStringLiteral("Контроль оборудования"));
    const hw_diff *diff = m_holders.hw.diff();
    // Without a comparison the hardware cannot be vouched for.
    bool passed = diff != nullptr;
    uint32_t mask = 0;
    for (uint32_t c = 0; diff && c < HW_CLASS_COUNT; ++c) {
        const uint32_t class_flag = m_holders.hw.reference()->flags[c];
        if (class_flag != 0)
            sink.info(hw_class_header(text_of(hw_class_name(c))));
        bool counted = false;
        for (const hw_dev_diff *dev = hw_diff_get_first_device(diff, c); dev; dev = hw_diff_get_next_device(diff, dev)) {
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
    if (m_disks_unreadable) {
        begin_section(sink, disks_title());
        sink.info(QStringLiteral("\tОшибка при восстановлении списка дисков.\n"));
        sink.info(check_result(false));
        return false;
    }
    if (!m_disk_control)
        return true;
    return compare_disks(sink, m_holders.hd.diff());
}

bool boot_check::files_section(check_sink &sink)
{
    const auto not_checked = [&sink](const QString &why) {
        begin_section(sink, files_title());
        sink.info(why);
        return false;
    };
    switch (m_files) {
    case FILES_NOTHING_STORED:
        return true;
    case FILES_UNREADABLE:
        return not_checked(QStringLiteral("\tОшибка при восстановлении списка контроля целостности файлов.\n"));
    case FILES_NO_DISKS:
        return not_checked(no_disk_list());
    case FILES_LOADED:
        break;
    }
    // The list was loaded into orva_fun_fs: its disk list exists.
    orva_fun_fs *fs = orva_fun_fs::object();
    const int unattached = check_volumes(*fs, m_images, m_fs_check, &sink);
    return compare_files(sink, m_fs_check.get(), unattached);
}

bool boot_check::registry_section(check_sink &sink)
{
    switch (m_registry) {
    case REGISTRY_NOTHING_STORED:
    case REGISTRY_OFF:
        return true;
    case REGISTRY_FOUND:
        return compare_registry(sink, m_holders.reg.list(), m_holders.reg.space());
    default:
        return registry_not_checked(sink, m_registry, m_holders.reg.dir(), m_holders.reg.mount_error());
    }
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
