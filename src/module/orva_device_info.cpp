#include "module/orva_device_info.h"

OrvaDeviceInfo::OrvaDeviceInfo()
{
    if (orva_get_device_info(nullptr, nullptr, &m_info) != ORVA_OK)
        m_info = orva_device_info{};
}
