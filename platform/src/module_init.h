// Creating a module's state directory (orva-sim init, tests).
#ifndef ORVA_PLATFORM_MODULE_INIT_H
#define ORVA_PLATFORM_MODULE_INIT_H

#include "module_files.h"

#include <string>

namespace orva_sim {

enum class InitResult { Ok, Exists, Busy, Failed };

// Writes a fresh module into dir (created when missing): the device file,
// an empty database in `state` (ORVA_STATE_NEW or ORVA_STATE_ERASED), the
// default configuration, an empty log, zeroed integrity-data and auxiliary
// areas. Refuses an existing module unless `force`, and a module that is
// open. The reader and identifier memory are kept.
InitResult init_module(const std::string &dir, const DeviceFile &device, uint32_t state, bool force);

} // namespace orva_sim

#endif
