// Reference data and present pictures shared by the check and the pages.
#include "ic/qt/ic_holders.h"

#include "ic/qt/ic_data_area.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_icl.h>
#include <ic/rcl/rcl.h>
#include <ic/reg/reg.h>

#include <QByteArray>

bool hw_holder::load_stored(ic_data_area &area)
{
    hw_info *info = nullptr;
    const bool read = area.read_hw_info_from_device(&info) == 0;
    m_stored.reset(read ? info : nullptr);
    return read;
}

int hw_holder::scan_current()
{
    hw_info *info = nullptr;
    const int rc = hw_info_get_current(&info);
    m_current.reset(rc == HW_OK ? info : nullptr);
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
    if (area.read_reg_info_from_device(&list, &dir, &flag, disks) != 0) {
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
    if (!m_dir.volume || m_dir.path.isEmpty())
        return 4;
    const char *mount = nullptr;
    int rc = fs_volume_get_mount_point(m_dir.volume, 0, &mount);
    if (rc != FS_OK)
        return rc;
    m_mounted = m_dir.volume;
    const QByteArray windows = QByteArray(mount) + m_dir.path.toUtf8();
    rc = create_winreg(windows.constData(), &m_space);
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

fs_holder::fs_holder()
{
    fs_icl_create(&m_icl);
}

fs_holder::~fs_holder()
{
    fs_icl_destroy(m_icl);
}

bool fs_holder::load(ic_data_area &area)
{
    fs_icl *icl = nullptr;
    QList<fs_vmdk_image> images;
    if (area.read_fs_info_from_device(&icl, &images) != 0) {
        fs_icl *empty = nullptr;
        fs_icl_create(&empty);
        fs_icl_destroy(m_icl);
        m_icl = empty;
        m_images.clear();
        return false;
    }
    fs_icl_destroy(m_icl);
    m_icl = icl;
    m_images = images;
    return true;
}

int fs_holder::save(ic_data_area &area) const
{
    return area.save_fs_info_to_device(m_icl, m_images);
}

bool fs_holder::has_volumes() const
{
    return m_icl && fs_icl_first_volume(m_icl);
}

ic_holders &ic_holders::object()
{
    static ic_holders instance;
    return instance;
}
