// The files of a simulated module in its state directory, one struct per
// file with its decoder (from an envelope payload) and encoder.
//
//   device    class, integrity-data area size, serial, hardware version
//   database  status, format id, logon session, database image
//   config    the 12-byte configuration record
//   log       event log records
//   icdata    integrity-data area       aux     auxiliary area
//   iadata    hand-over block           wskey   workstation private key
//   reader    identifiers on the reader tm-<id>.page  identifier memory
//   lock      held from orva_open_device to orva_close_device
//   reader.lock  serialises changes of the reader and identifier memory
#ifndef ORVA_PLATFORM_MODULE_FILES_H
#define ORVA_PLATFORM_MODULE_FILES_H

#include "bytes.h"
#include "orva.h"
#include "state_file.h"
#include "tmid.h"

#include <string>
#include <vector>

namespace orva_sim {

namespace file {
constexpr const char *kDevice = "device";
constexpr const char *kDatabase = "database";
constexpr const char *kConfig = "config";
constexpr const char *kLog = "log";
constexpr const char *kIcData = "icdata";
constexpr const char *kAux = "aux";
constexpr const char *kIaData = "iadata";
constexpr const char *kWsKey = "wskey";
constexpr const char *kReader = "reader";
constexpr const char *kLock = "lock";
constexpr const char *kReaderLock = "reader.lock";
} // namespace file

constexpr uint32_t kMinAreaSize = 65536;
constexpr uint32_t kMaxAreaSize = 64u << 20;
constexpr size_t kLogTextMax = ORVA_LOG_TEXT_MAX;
constexpr size_t kReaderMax = 16;

// $ORVA_SIM_DIR, else /var/lib/orva-sim.
std::string state_dir();

struct DeviceFile {
    uint32_t dev_class = ORVA_DEV_CLASS_1;
    uint32_t area_size = ORVA_IC_DATA_DEFAULT_SIZE;
    uint32_t serial = 0;
    uint8_t hw_version[3] = {1, 0, 0};
};

// Stored database status; FORMATTED reads as ORVA_STATE_READY once the
// chief administrator is set up.
struct DatabaseFile {
    uint32_t status = ORVA_STATE_NEW;
    uint32_t format_id = 0;     // changes at every format and erase
    uint16_t session = 0;       // record number of the logged-on user, 0: none
    Bytes image;                // ORVA_DB_IMAGE_SIZE bytes, sealed
};

struct ConfigFile {
    uint8_t bytes[ORVA_CONF_SIZE] = {20, 20, 3, 0xfe, 0, 0, 0, 0, 0, 0, 0, 0};
};

struct LogEntry {
    uint32_t type = 0;
    uint32_t result = 0;
    uint32_t date = 0;
    uint32_t time = 0;
    uint8_t param_size = 0;
    uint8_t param[ORVA_LOG_PARAM_MAX] = {};
    std::string text;
    size_t stored_size() const { return 16 + 1 + param_size + 2 + text.size(); }
};

// The entry of a record (param_size at most ORVA_LOG_PARAM_MAX) with the
// first text_size bytes of its text.
LogEntry log_entry_of(const orva_log_record &record, size_t text_size);

struct LogFile {
    uint64_t first_seq = 0;          // sequence number of entries[0]
    std::vector<LogEntry> entries;   // oldest first
    size_t stored_size() const;
    // Appends, dropping the oldest entries until the log fits its capacity.
    // False when the entry alone is larger than the capacity.
    bool append(const LogEntry &entry);
    uint64_t end_seq() const { return first_seq + entries.size(); }
};

struct IaFile {
    uint32_t format_id = 0;          // the database format the block belongs to
    uint8_t block[ORVA_IA_DATA_SIZE] = {};
};

struct ReaderEntry {
    uint32_t state = TMID_STATE_INITIALISED;
    uint8_t id[TMID_ID_SIZE] = {};
};

// Decoders check every field; a payload that could not have been written by
// the encoder is Corrupt.
Status decode_device(const Bytes &payload, DeviceFile &out);
Bytes encode_device(const DeviceFile &in);
Status decode_database(const Bytes &payload, DatabaseFile &out);
Bytes encode_database(const DatabaseFile &in);
Status decode_config(const Bytes &payload, ConfigFile &out);
Bytes encode_config(const ConfigFile &in);
Status decode_log(const Bytes &payload, LogFile &out);
Bytes encode_log(const LogFile &in);
Status decode_ia(const Bytes &payload, IaFile &out);
Bytes encode_ia(const IaFile &in);
Status decode_reader(const Bytes &payload, std::vector<ReaderEntry> &out);
Bytes encode_reader(const std::vector<ReaderEntry> &in);

// Envelope kind, version and largest payload of each stored file.
struct FileKind {
    const char *name;
    char kind[4];
    uint32_t version;
    size_t max_payload;
};
extern const FileKind kDeviceKind, kDatabaseKind, kConfigKind, kLogKind, kIcDataKind, kAuxKind,
    kIaKind, kWsKeyKind, kReaderKind, kPageKind;

// Reading and writing a whole file of a kind in a directory.
Status load(const std::string &dir, const FileKind &kind, Bytes &payload);
Status store(const std::string &dir, const FileKind &kind, const Bytes &payload);

Status load_device(const std::string &dir, DeviceFile &out);
Status load_database(const std::string &dir, DatabaseFile &out);
Status load_config(const std::string &dir, ConfigFile &out);
Status load_log(const std::string &dir, LogFile &out);
Status load_ia(const std::string &dir, IaFile &out);
// A missing reader file is an empty reader.
Status load_reader(const std::string &dir, std::vector<ReaderEntry> &out);

// Changes of the reader, each under the reader lock. present: appends the
// identifier, or updates its state when it is already there; Busy-free.
// remove: id null removes all; Missing when the identifier is not there.
Status reader_present(const std::string &dir, const ReaderEntry &entry);
Status reader_remove(const std::string &dir, const uint8_t *id);

// Identifier memory: TMID_PAGE_COUNT pages; a missing file reads 0xFF.
std::string page_file_name(const uint8_t id[TMID_ID_SIZE]);
Status load_pages(const std::string &dir, const uint8_t id[TMID_ID_SIZE], Bytes &pages);
Status store_pages(const std::string &dir, const uint8_t id[TMID_ID_SIZE], const Bytes &pages);

// A random format id, never 0 and never `previous`.
uint32_t new_format_id(uint32_t previous);

// Computed device state (ORVA_STATE_*) of a database.
uint32_t device_state(const DatabaseFile &db);

} // namespace orva_sim

#endif
