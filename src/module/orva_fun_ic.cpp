#include "module/orva_fun_ic.h"

orva_fun_ic *orva_fun_ic::object()
{
    static orva_fun_ic *instance = new orva_fun_ic;
    return instance;
}

orva_fun_ic::orva_fun_ic()
    : m_configuration(&m_own)
{
}

void orva_fun_ic::set_configuration(hw_check_configuration *configuration)
{
    m_configuration = configuration ? configuration : &m_own;
}

bool orva_fun_ic::check_device_type(int device_class) const
{
    if (device_class < 0 || device_class >= hw_check_configuration::kClassCount)
        return false;
    return m_configuration->control[device_class] == 1;
}

bool orva_fun_ic::control_hw() const
{
    for (int c = 0; c < hw_check_configuration::kClassCount; ++c) {
        if (check_device_type(c))
            return true;
    }
    return false;
}

bool orva_fun_ic::check_device(int device_class, uint32_t device_setting, uint32_t diff_kind) const
{
    return check_device_type(device_class) && device_setting == kDeviceChecked && diff_kind != 0;
}

bool orva_fun_ic::check_param(int device_class, uint32_t device_setting, uint32_t diff_kind,
                              uint32_t param_flag, uint32_t param_diff_kind) const
{
    return check_device(device_class, device_setting, diff_kind) && param_flag == 1 &&
           param_diff_kind == kParamChanged;
}
