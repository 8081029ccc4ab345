// The module's device information record; its class decides the layout of
// the hand-over block.
#ifndef ORVA_MODULE_ORVA_DEVICE_INFO_H
#define ORVA_MODULE_ORVA_DEVICE_INFO_H

#include <orva.h>

class OrvaDeviceInfo {
public:
    // Reads the record of the first module (null context and device).
    OrvaDeviceInfo();

    // The device class, 1 or 2 (0 when the record could not be read).
    int getOrvaDevClass() const { return m_info.dev_class; }

private:
    orva_device_info m_info{};
};

#endif
