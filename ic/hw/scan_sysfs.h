// Directory listings of the sysfs scanners.
#ifndef IC_HW_SCAN_SYSFS_H
#define IC_HW_SCAN_SYSFS_H

#include <dirent.h>
#include <stdlib.h>

// The entries of a scandir result, freed with it.
struct hw_dirents {
    struct dirent **list = nullptr;
    int count = 0;
    ~hw_dirents()
    {
        for (int i = 0; i < count; ++i)
            free(list[i]);
        free(list);
    }
};

#endif
