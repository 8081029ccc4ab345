// Reference data and present pictures shared by the check and the pages.
#include "ic/qt/ic_holders.h"

#include "ic/qt/ic_data_area.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/rcl/rcl.h>
#include <ic/reg/reg.h>
#include <ic/util/result.h>

#include <QByteArray>

#include <cstdlib>

namespace {

// A copy through the byte image (check flags included).
template <class Ptr, class Info>
int copy_through_image(const Info *info, int (*write)(const Info *, uint8_t **, uint32_t *),
                       int (*read)(const void *, uint32_t, Info **), Ptr *copy)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    int rc = write(info, &data, &size);
    if (rc != 0)
        return rc;
    Info *out = nullptr;
    rc = read(data, size, &out);
    std::free(data);
    if (rc == 0)
        copy->reset(out);
    return rc;
}

} // namespace

bool hw_holder::load_stored(ic_data_area &area)
{
    hw_info *info = nullptr;
    const bool read = area.read_hw_info_from_device(&info) == 0;
    m_diff.reset();
    m_stored.reset(read ? info : nullptr);
    ++m_generation;
    return read;
}

int hw_holder::scan_current()
{
    hw_info *info = nullptr;
    const int rc = hw_info_get_current(&info);
    m_diff.reset();
    m_current.reset(rc == HW_OK ? info : nullptr);
    ++m_generation;
    return rc;
}

int hw_holder::compare()
{
    m_diff.reset();
    if (!m_current)
        return HW_ERR_INVAL;
    hw_diff *diff = nullptr;
    const int rc = hw_diff_create(reference(), m_current.get(), &diff);
    if (rc == HW_OK)
        m_diff.reset(diff);
    return rc;
}

int hw_holder::adopt_current()
{
    hw_info *scan = nullptr;
    int rc = hw_info_get_current(&scan);
    if (rc != HW_OK)
        return rc;
    ic_hw::info_ptr current(scan);
    // Stored and current are the same scan held twice: an inventory compared
    // with itself would pair its devices with themselves.
    ic_hw::info_ptr copy;
    rc = copy_through_image(scan, &hw_info_write_to_mem, &hw_info_read_from_mem, &copy);
    if (rc != HW_OK)
        return rc;
    m_diff.reset();
    m_stored = std::move(copy);
    m_current = std::move(current);
    ++m_generation;
    return HW_OK;
}

int hw_holder::save(ic_data_area &area) const
{
    return m_stored ? area.save_hw_info_to_device(m_stored.get()) : -1;
}

void hw_holder::clear()
{
    m_diff.reset();
    m_stored.reset();
    m_current.reset();
    ++m_generation;
}

hd_holder::load_result hd_holder::load_stored(ic_data_area &area)
{
    hd_info *info = nullptr;
    const bool read = area.read_hd_info_from_device(&info) == 0;
    m_diff.reset();
    m_stored.reset(read ? info : nullptr);
    ++m_generation;
    if (read)
        return LOADED;
    return area.block_written(ic_data_area::HD_BLOCK) ? UNREADABLE : NOTHING_STORED;
}

int hd_holder::scan_current()
{
    hd_info *info = nullptr;
    const int rc = hd_info_get_current(&info);
    m_diff.reset();
    m_current.reset(rc == IC_OK ? info : nullptr);
    ++m_generation;
    return rc;
}

int hd_holder::compare()
{
    m_diff.reset();
    if (!m_stored || !m_current)
        return IC_ERR_INVAL;
    hd_diff *diff = nullptr;
    const int rc = hd_diff_create(m_stored.get(), m_current.get(), &diff);
    if (rc == IC_OK)
        m_diff.reset(diff);
    return rc;
}

int hd_holder::adopt_current(bool rescan)
{
    ic_hd::info_ptr current;
    const hd_info *source = m_current.get();
    if (rescan || !source) {
        hd_info *scan = nullptr;
        const int rc = hd_info_get_current(&scan);
        if (rc != IC_OK)
            return rc;
        current.reset(scan);
        source = scan;
    }
    // A picture of the computer carries no check flags: neither does its copy.
    ic_hd::info_ptr copy;
    const int rc = copy_through_image(source, &hd_info_write_to_mem, &hd_info_read_from_mem, &copy);
    if (rc != IC_OK)
        return rc;
    m_diff.reset();
    if (current)
        m_current = std::move(current);
    m_stored = std::move(copy);
    ++m_generation;
    return IC_OK;
}

int hd_holder::save(ic_data_area &area) const
{
    return area.save_hd_info_to_device(m_stored.get());
}

void hd_holder::clear()
{
    m_diff.reset();
    m_stored.reset();
    m_current.reset();
    ++m_generation;
}

reg_holder::reg_holder()
{
    rcl_create(&m_list);
}

reg_holder::~reg_holder()
{
    release_space();
    rcl_destroy(m_list);
}

void reg_holder::release_space()
{
    if (m_space)
        reg_destroy(m_space);
    m_space = nullptr;
    if (m_mounted)
        fs_volume_release_mount_point(m_mounted);
    m_mounted = nullptr;
}

bool reg_holder::load(ic_data_area &area, const fs_disk_list *disks)
{
    rcl *list = nullptr;
    exchange_dir dir;
    bool flag = false;
    release_space();
    m_unreadable = false;
    if (area.read_reg_info_from_device(&list, &dir, &flag, disks) != 0) {
        m_unreadable = area.block_written(ic_data_area::REG_BLOCK);
        rcl *empty = nullptr;
        rcl_create(&empty);
        rcl_destroy(m_list);
        m_list = empty;
        m_dir = exchange_dir();
        m_flag = false;
        return false;
    }
    rcl_destroy(m_list);
    m_list = list;
    m_dir = dir;
    m_flag = flag;
    return true;
}

int reg_holder::build_space()
{
    release_space();
    m_mount_error = 0;
    if (!m_dir.volume || m_dir.path.isEmpty())
        return 4;
    const char *mount = nullptr;
    int rc = fs_volume_get_mount_point(m_dir.volume, 0, &mount);
    if (rc != FS_OK) {
        m_mount_error = rc;
        return rc;
    }
    m_mounted = m_dir.volume;
    rc = create_winreg_in(mount, m_dir.path.toUtf8().constData(), &m_space);
    if (rc != REG_OK) {
        m_space = nullptr;
        release_space();
    }
    return rc;
}

int reg_holder::save(ic_data_area &area) const
{
    return area.save_reg_info_to_device(m_dir, m_list, m_flag);
}

ic_holders &ic_holders::object()
{
    static ic_holders instance;
    return instance;
}
