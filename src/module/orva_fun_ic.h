// Which hardware is under control: seven control words, one per hardware
// class (0 CPU, 1 BIOS, 2 MEMORY, 3 MEDIA, 4 PCI, 5 USB, 6 MONITOR); a word
// of 1 puts the class under control. One process-wide object.
#ifndef ORVA_MODULE_ORVA_FUN_IC_H
#define ORVA_MODULE_ORVA_FUN_IC_H

#include <cstdint>

struct hw_check_configuration {
    static constexpr int kClassCount = 7;
    uint32_t control[kClassCount] = {};
};

class orva_fun_ic {
public:
    // Control setting of a device that is checked.
    static constexpr uint32_t kDeviceChecked = 2;
    // Kind of a changed parameter difference.
    static constexpr uint32_t kParamChanged = 1;

    static orva_fun_ic *object();

    // The configuration in use (never null).
    hw_check_configuration *configuration() const { return m_configuration; }
    // Uses `configuration` from now on (not owned); null restores the
    // object's own, which controls nothing.
    void set_configuration(hw_check_configuration *configuration);

    // The class's control word is 1. Classes outside 0-6 are not controlled.
    bool check_device_type(int device_class) const;
    // Any class is controlled.
    bool control_hw() const;

    // A device difference counts when its class is controlled, the device's
    // control setting is 2 and the difference is not empty (kind 0 is "same").
    bool check_device(int device_class, uint32_t device_setting, uint32_t diff_kind) const;
    // A parameter difference counts when its device difference counts, the
    // parameter is checked (flag 1) and it changed (kind 1).
    bool check_param(int device_class, uint32_t device_setting, uint32_t diff_kind,
                     uint32_t param_flag, uint32_t param_diff_kind) const;

private:
    orva_fun_ic();

    hw_check_configuration m_own;
    hw_check_configuration *m_configuration;
};

#endif
