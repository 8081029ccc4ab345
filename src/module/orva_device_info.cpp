#include "module/orva_device_info.h"

OrvaDeviceInfo::OrvaDeviceInfo()
    : m_result(orva_get_device_info(nullptr, nullptr, &m_info))
{
    if (m_result != ORVA_OK)
        m_info = orva_device_info{};
}
