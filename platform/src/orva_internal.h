// Internal state of liborva: the library, its open handles, and the guard
// that every exported call runs through (no exception leaves the library).
#ifndef ORVA_PLATFORM_ORVA_INTERNAL_H
#define ORVA_PLATFORM_ORVA_INTERNAL_H

#include "module_files.h"
#include "orva.h"
#include "state_file.h"

#include <new>
#include <set>
#include <string>

struct orva_device {
    std::string dir;
    orva_sim::Fd lock;
    orva_sim::DeviceFile info;
    bool db_open = false;
    bool log_open = false;
    // Event-log reading position: the sequence number the next
    // orva_log_get_next_record returns (or the oldest after it).
    bool cursor_started = false;
    uint64_t next_seq = 0;
    orva_log_record current = {};
    std::string current_text;
    // Records made by orva_log_create_record and not yet destroyed.
    std::set<orva_log_record *> created;
};

namespace orva_sim {

int to_code(Status status);
// Missing module files are damage: the module was initialised with all of them.
inline int to_code_required(Status status)
{
    return status == Status::Missing ? ORVA_E_CORRUPT : to_code(status);
}

bool library_initialised();
// ORVA_OK with *device set, or the code for a missing library or bad handle.
int resolve(orva_handle_t handle, orva_device *&device);
// Frees a handle's resources and unlocks the module.
void release_device(orva_device *device);

template <typename F>
int guarded(F &&body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return ORVA_E_NOMEM;
    } catch (...) {
        return ORVA_E_UNKNOWN;
    }
}

// Runs body(device) for a valid handle, inside the guard.
template <typename F>
int with_device(orva_handle_t handle, F &&body)
{
    return guarded([&]() -> int {
        orva_device *device = nullptr;
        int rc = resolve(handle, device);
        return rc != ORVA_OK ? rc : body(*device);
    });
}

// The database file of an open module.
int load_database(orva_device &device, DatabaseFile &db);
int store_database(orva_device &device, const DatabaseFile &db);
// As load_database, and ORVA_E_STATE unless the database is formatted.
int load_formatted(orva_device &device, DatabaseFile &db);

} // namespace orva_sim

#endif
