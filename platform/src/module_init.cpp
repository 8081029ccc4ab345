#include "module_init.h"

#include "db_image.h"

#include <cerrno>
#include <sys/stat.h>

namespace orva_sim {

namespace {

bool make_dirs(const std::string &path)
{
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return directory_exists(path);
}

} // namespace

InitResult init_module(const std::string &dir, const DeviceFile &device, uint32_t state, bool force)
{
    if (state != ORVA_STATE_NEW && state != ORVA_STATE_ERASED)
        return InitResult::Failed;
    if (!make_dirs(dir))
        return InitResult::Failed;
    Fd lock;
    Status st = lock_file(dir, file::kLock, false, lock);
    if (st == Status::Busy)
        return InitResult::Busy;
    if (st != Status::Ok)
        return InitResult::Failed;
    DeviceFile existing;
    if (load_device(dir, existing) != Status::Missing && !force)
        return InitResult::Exists;

    // Without a device file there is no module, so a crash half-way leaves
    // none rather than a mixture of two; the device file goes last.
    static const uint8_t no_version[4] = {0, 0, 0, 0};
    DatabaseFile db;
    db.status = state;
    db.format_id = new_format_id(0);
    db.image = make_empty_image(no_version);
    bool ok = remove_state_file(dir, file::kDevice) == Status::Ok &&
              store(dir, kDatabaseKind, encode_database(db)) == Status::Ok &&
              store(dir, kConfigKind, encode_config(ConfigFile())) == Status::Ok &&
              store(dir, kLogKind, encode_log(LogFile())) == Status::Ok &&
              store(dir, kIcDataKind, Bytes(device.area_size, 0)) == Status::Ok &&
              store(dir, kAuxKind, Bytes(ORVA_AUX_DATA_SIZE, 0)) == Status::Ok &&
              remove_state_file(dir, file::kIaData) == Status::Ok &&
              remove_state_file(dir, file::kWsKey) == Status::Ok &&
              store(dir, kDeviceKind, encode_device(device)) == Status::Ok;
    return ok ? InitResult::Ok : InitResult::Failed;
}

} // namespace orva_sim
