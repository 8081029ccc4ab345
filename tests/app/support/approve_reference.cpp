// Stores the computer of ORVA_SYSROOT as the reference of the module in
// ORVA_SIM_DIR: its hardware and its partition tables, every class, device,
// parameter and disk under control. For demos and scripted set-ups.
#include "support/check_computer.h"
#include "support/sim_module.h"

#include <cstdio>

int main()
{
    module_session session;
    if (!session.ok()) {
        std::fprintf(stderr, "approve_reference: the module cannot be opened (code %d)\n", session.code());
        return 1;
    }
    if (!approve_hardware(session.handle())) {
        std::fprintf(stderr, "approve_reference: the hardware could not be stored\n");
        return 1;
    }
    if (!approve_disks(session.handle())) {
        std::fprintf(stderr, "approve_reference: the partition tables could not be stored\n");
        return 1;
    }
    return 0;
}
