// Opens the module named by ORVA_SIM_DIR, says "open" and keeps it open until
// standard input closes.
#include <orva.h>

#include <cstdio>

int main()
{
    orva_handle_t handle = nullptr;
    if (orva_init(0) != ORVA_OK || orva_open_device(0, &handle, 0) != ORVA_OK) {
        std::puts("failed");
        return 1;
    }
    std::puts("open");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    orva_close_device(handle);
    orva_exit(0);
    return 0;
}
