// Monitor scanner: the EDID of each DDC port read by running the video BIOS
// in an emulated real-mode machine.
#include "hw_internal.h"

#include <ic/hw/hw_scan.h>

#include "ic/sys/sysroot.h"
#include "ic/sys/vbe.h"

namespace {

unsigned timeout_s = IC_SYS_VBE_TIMEOUT_S;
uint64_t max_instructions = 0;

void log_line(void *, const char *line)
{
    IC_LOG(ic_log_hw, IC_LOG_DEBUG, "%s\n", line);
}

struct vbe_guard {
    ic_sys_vbe *vbe = nullptr;
    ~vbe_guard() { ic_sys_vbe_destroy(vbe); }
};

} // namespace

void hw_scan_set_monitor_limits(unsigned seconds, uint64_t instructions)
{
    timeout_s = seconds ? seconds : IC_SYS_VBE_TIMEOUT_S;
    max_instructions = instructions;
}

int scan_monitor(hw_info *info)
{
    HW_ENTER();
    if (!info)
        HW_RETURN(HW_ERR_INVAL);
    // The emulator's log is only produced when someone reads it.
    const bool logging = ic_log_enabled(&ic_log_hw, IC_LOG_DEBUG);
    vbe_guard g;
    int rc = ic_sys_vbe_create(logging ? log_line : nullptr, nullptr, &g.vbe);
    if (rc == IC_SYS_ENOENT) {
        // UEFI without a compatibility module: no monitors, the rest stands.
        IC_LOG(ic_log_hw, IC_LOG_WARN, "no video BIOS: monitors not scanned\n");
        HW_RETURN(HW_OK);
    }
    if (rc != IC_SYS_OK)
        HW_RETURN(rc == IC_SYS_ENOMEM ? HW_ERR_NOMEM : HW_ERR_IO);
    ic_sys_vbe_set_limits(g.vbe, timeout_s, max_instructions);
    for (unsigned port = 0; port < IC_SYS_VBE_PORTS; ++port) {
        uint8_t edid[IC_SYS_VBE_EDID_SIZE];
        rc = ic_sys_vbe_read_edid(g.vbe, port, edid);
        if (rc == IC_SYS_ETIMEDOUT) {
            // A video BIOS that hangs once hangs on every port: one limit, not six.
            IC_LOG(ic_log_hw, IC_LOG_WARN, "port %u: the video BIOS did not return, the other ports are skipped\n",
                   port);
            break;
        }
        if (rc != IC_SYS_OK) {
            IC_LOG(ic_log_hw, IC_LOG_DEBUG, "port %u: no EDID (%d)\n", port, rc);
            continue;
        }
        rc = _hw_create_monitor_device(info, port, edid);
        if (rc != HW_OK)
            HW_RETURN(rc);
    }
    HW_RETURN(HW_OK);
}
