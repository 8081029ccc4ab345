// File systems on partitions, virtual-disk image files inside them, and LVM
// volumes of a simulated computer.
#ifndef SIMCOMPUTER_VOLUMES_H
#define SIMCOMPUTER_VOLUMES_H

#include "simcomputer/simcomputer.h"
#include "tree.h"

namespace simcomputer {

// The computer with the udev ID_FS_* properties of its file systems added
// to their partitions (a property given in the description wins).
Computer with_volume_properties(const Computer &computer);

// Writes every partition's file system into the disk node at the
// partition's offset and into the partition node; the LVM volumes as
// device-mapper devices (sysfs, udev database, node files, links).
void write_volumes(const Computer &computer, Tree &tree);

} // namespace simcomputer

#endif
