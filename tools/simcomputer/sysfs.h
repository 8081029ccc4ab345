// Sysfs, udev database and device nodes of a simulated computer.
#ifndef SIMCOMPUTER_SYSFS_H
#define SIMCOMPUTER_SYSFS_H

#include "simcomputer/simcomputer.h"
#include "tree.h"

namespace simcomputer {

void write_sysfs(const Computer &computer, Tree &tree);

} // namespace simcomputer

#endif
