// Connection: library start and end, opening and closing the module.
#include "orva_internal.h"

#include <cstdlib>
#include <memory>

using namespace orva_sim;

namespace {

struct Library {
    bool initialised = false;
    std::string dir;
    std::set<orva_device *> handles;
};

Library &library()
{
    static Library lib;
    return lib;
}

} // namespace

namespace orva_sim {

int to_code(Status status)
{
    switch (status) {
    case Status::Ok: return ORVA_OK;
    case Status::Missing: return ORVA_E_NOT_FOUND;
    case Status::Corrupt: return ORVA_E_CORRUPT;
    case Status::ReadError: return ORVA_E_READ;
    case Status::WriteError: return ORVA_E_WRITE;
    case Status::Busy: return ORVA_E_BUSY;
    case Status::NoMem: return ORVA_E_NOMEM;
    }
    return ORVA_E_UNKNOWN;
}

bool library_initialised()
{
    return library().initialised;
}

int resolve(orva_handle_t handle, orva_device *&device)
{
    Library &lib = library();
    if (!lib.initialised)
        return ORVA_E_NOT_INITIALISED;
    if (handle == nullptr || lib.handles.count(handle) == 0)
        return ORVA_E_BAD_HANDLE;
    device = handle;
    return ORVA_OK;
}

void release_device(orva_device *device)
{
    for (orva_log_record *record : device->created) {
        std::free(record->text);
        std::free(record);
    }
    library().handles.erase(device);
    delete device; // closes the lock file, which releases the lock
}

int load_database(orva_device &device, DatabaseFile &db)
{
    return to_code_required(orva_sim::load_database(device.dir, db));
}

int store_database(orva_device &device, const DatabaseFile &db)
{
    return to_code(store(device.dir, kDatabaseKind, encode_database(db)));
}

int load_formatted(orva_device &device, DatabaseFile &db)
{
    int rc = load_database(device, db);
    if (rc == ORVA_OK && db.status != ORVA_STATE_FORMATTED)
        return ORVA_E_STATE;
    return rc;
}

} // namespace orva_sim

extern "C" int orva_init(int flags)
{
    return guarded([&] {
        if (flags != 0)
            return ORVA_E_INVALID_ARG;
        Library &lib = library();
        if (!lib.initialised) {
            lib.dir = state_dir();
            lib.initialised = true;
        }
        return ORVA_OK;
    });
}

extern "C" int orva_exit(int flags)
{
    return guarded([&] {
        if (flags != 0)
            return ORVA_E_INVALID_ARG;
        Library &lib = library();
        if (!lib.initialised)
            return ORVA_E_NOT_INITIALISED;
        while (!lib.handles.empty())
            release_device(*lib.handles.begin());
        lib.initialised = false;
        return ORVA_OK;
    });
}

extern "C" int orva_open_device(int index, orva_handle_t *handle, int flags)
{
    return guarded([&] {
        Library &lib = library();
        if (!lib.initialised)
            return ORVA_E_NOT_INITIALISED;
        if (handle == nullptr || flags != 0 || index < 0)
            return ORVA_E_INVALID_ARG;
        *handle = nullptr;
        if (index != 0 || !directory_exists(lib.dir))
            return ORVA_E_NO_DEVICE;
        DeviceFile info;
        Status st = load_device(lib.dir, info);
        if (st == Status::Missing)
            return ORVA_E_NO_DEVICE;
        if (st != Status::Ok)
            return to_code(st);
        auto device = std::make_unique<orva_device>();
        device->dir = lib.dir;
        st = lock_file(lib.dir, file::kLock, false, device->lock);
        if (st != Status::Ok)
            return to_code(st);
        // Read again under the lock: an initialisation may have finished in between.
        st = load_device(lib.dir, device->info);
        if (st != Status::Ok)
            return st == Status::Missing ? ORVA_E_NO_DEVICE : to_code(st);
        lib.handles.insert(device.get());
        *handle = device.release();
        return ORVA_OK;
    });
}

extern "C" int orva_close_device(orva_handle_t handle)
{
    return with_device(handle, [](orva_device &device) {
        release_device(&device);
        return ORVA_OK;
    });
}
