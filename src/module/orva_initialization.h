// The connection to the module: both libraries initialised and the device
// open. One process-wide object, created on first use and never destroyed.
#ifndef ORVA_MODULE_ORVA_INITIALIZATION_H
#define ORVA_MODULE_ORVA_INITIALIZATION_H

#include <orva.h>

class orva_initialization {
public:
    static orva_initialization *object();

    // orva_init, tmid_init, orva_open_device, orva_log_open. 0, or -1 after
    // the failure has been shown. Earlier steps are not undone.
    int init();
    // Closes the log and the device and ends both libraries, once.
    void exit();

    orva_handle_t handle() const { return m_handle; }
    int initialised() const { return m_initialised; }

private:
    orva_initialization() = default;

    orva_handle_t m_handle = nullptr; // first: its address is orva_open_device's out-argument
    int m_initialised = 0;
};

#endif
