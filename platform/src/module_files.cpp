#include "module_files.h"

#include "db_image.h"

#include <cstdlib>
#include <cstring>
#include <sys/random.h>

namespace orva_sim {

const FileKind kDeviceKind = {file::kDevice, {'D', 'E', 'V', ' '}, 1, 16};
const FileKind kDatabaseKind = {file::kDatabase, {'D', 'B', ' ', ' '}, 1, 16 + ORVA_DB_IMAGE_SIZE};
const FileKind kConfigKind = {file::kConfig, {'C', 'O', 'N', 'F'}, 1, ORVA_CONF_SIZE};
const FileKind kLogKind = {file::kLog, {'L', 'O', 'G', ' '}, 1, 12 + ORVA_LOG_CAPACITY};
const FileKind kIcDataKind = {file::kIcData, {'I', 'C', ' ', ' '}, 1, kMaxAreaSize};
const FileKind kAuxKind = {file::kAux, {'A', 'U', 'X', ' '}, 1, ORVA_AUX_DATA_SIZE};
const FileKind kIaKind = {file::kIaData, {'I', 'A', ' ', ' '}, 1, 4 + ORVA_IA_DATA_SIZE};
const FileKind kWsKeyKind = {file::kWsKey, {'W', 'S', 'K', ' '}, 1, ORVA_PRIVATE_KEY_SIZE};
const FileKind kReaderKind = {file::kReader, {'R', 'D', 'R', ' '}, 1, 4 + kReaderMax * 12};
const FileKind kPageKind = {"", {'P', 'A', 'G', 'E'}, 1, TMID_PAGE_COUNT * TMID_PAGE_SIZE};

std::string state_dir()
{
    const char *dir = std::getenv("ORVA_SIM_DIR");
    return dir && *dir ? std::string(dir) : std::string("/var/lib/orva-sim");
}

Status load(const std::string &dir, const FileKind &kind, Bytes &payload)
{
    return read_state_file(dir + "/" + kind.name, kind.kind, kind.version, kind.max_payload, payload);
}

Status store(const std::string &dir, const FileKind &kind, const Bytes &payload)
{
    return write_state_file(dir, kind.name, kind.kind, kind.version, payload);
}

namespace {

// Loads a file of a kind and decodes its payload into out.
template <typename T>
Status load_decoded(const std::string &dir, const FileKind &kind, Status (*decode)(const Bytes &, T &),
                    T &out)
{
    Bytes payload;
    Status st = load(dir, kind, payload);
    return st == Status::Ok ? decode(payload, out) : st;
}

} // namespace

// ---- device ----------------------------------------------------------------

Status decode_device(const Bytes &payload, DeviceFile &out)
{
    if (payload.size() != 16)
        return Status::Corrupt;
    const uint8_t *p = payload.data();
    out.dev_class = get_u32(p);
    out.area_size = get_u32(p + 4);
    out.serial = get_u32(p + 8);
    std::memcpy(out.hw_version, p + 12, 3);
    if ((out.dev_class != ORVA_DEV_CLASS_1 && out.dev_class != ORVA_DEV_CLASS_2) ||
        out.area_size < kMinAreaSize || out.area_size > kMaxAreaSize || p[15] != 0)
        return Status::Corrupt;
    return Status::Ok;
}

Bytes encode_device(const DeviceFile &in)
{
    Bytes b;
    append_u32(b, in.dev_class);
    append_u32(b, in.area_size);
    append_u32(b, in.serial);
    b.insert(b.end(), in.hw_version, in.hw_version + 3);
    b.push_back(0);
    return b;
}

Status load_device(const std::string &dir, DeviceFile &out)
{
    return load_decoded(dir, kDeviceKind, decode_device, out);
}

// ---- database --------------------------------------------------------------

Status decode_database(const Bytes &payload, DatabaseFile &out)
{
    if (payload.size() != 16 + ORVA_DB_IMAGE_SIZE)
        return Status::Corrupt;
    const uint8_t *p = payload.data();
    out.status = get_u32(p);
    out.format_id = get_u32(p + 4);
    out.session = get_u16(p + 8);
    if (out.status != ORVA_STATE_NEW && out.status != ORVA_STATE_ERASED &&
        out.status != ORVA_STATE_FORMATTED)
        return Status::Corrupt;
    if (out.session > ORVA_DB_MAX_RECORDS || get_u16(p + 10) != 0 || get_u32(p + 12) != 0)
        return Status::Corrupt;
    if (!validate_image(p + 16, ORVA_DB_IMAGE_SIZE, nullptr))
        return Status::Corrupt;
    out.image.assign(p + 16, p + payload.size());
    RecordTable table(out.image);
    if (out.session != 0 && !table.is_user(out.session))
        return Status::Corrupt;
    if (out.status != ORVA_STATE_FORMATTED && table.count() != 0)
        return Status::Corrupt;
    return Status::Ok;
}

Bytes encode_database(const DatabaseFile &in)
{
    Bytes b;
    b.reserve(16 + in.image.size());
    append_u32(b, in.status);
    append_u32(b, in.format_id);
    append_u16(b, in.session);
    append_u16(b, 0);
    append_u32(b, 0);
    b.insert(b.end(), in.image.begin(), in.image.end());
    return b;
}

Status load_database(const std::string &dir, DatabaseFile &out)
{
    return load_decoded(dir, kDatabaseKind, decode_database, out);
}

uint32_t new_format_id(uint32_t previous)
{
    uint32_t id = previous;
    while (id == previous || id == 0) {
        if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id))
            id = previous + 1;
    }
    return id;
}

uint32_t device_state(const DatabaseFile &db)
{
    if (db.status != ORVA_STATE_FORMATTED)
        return db.status;
    Bytes image = db.image;
    RecordTable table(image);
    uint16_t n = table.find_user("SUPERVISOR", 10);
    if (n == 0)
        return ORVA_STATE_FORMATTED;
    orva_db_record record = table.get(n);
    return tmid_assigned(record.tmid) && xid_hash_set(record.xid) ? ORVA_STATE_READY
                                                                   : ORVA_STATE_FORMATTED;
}

// ---- configuration ---------------------------------------------------------

Status decode_config(const Bytes &payload, ConfigFile &out)
{
    if (payload.size() != ORVA_CONF_SIZE)
        return Status::Corrupt;
    for (size_t i = 8; i < ORVA_CONF_SIZE; ++i)
        if (payload[i] != 0)
            return Status::Corrupt;
    std::memcpy(out.bytes, payload.data(), ORVA_CONF_SIZE);
    return Status::Ok;
}

Bytes encode_config(const ConfigFile &in)
{
    return Bytes(in.bytes, in.bytes + ORVA_CONF_SIZE);
}

Status load_config(const std::string &dir, ConfigFile &out)
{
    return load_decoded(dir, kConfigKind, decode_config, out);
}

// ---- event log -------------------------------------------------------------
// Payload: u64 sequence number of the oldest entry, u32 entry count, then
// per entry: type, result, date, time (u32 each), param size (u8), the
// param bytes, text length (u16), the text bytes (no NUL).

LogEntry log_entry_of(const orva_log_record &record, size_t text_size)
{
    LogEntry entry;
    entry.type = record.type;
    entry.result = record.result;
    entry.date = record.date;
    entry.time = record.time;
    entry.param_size = static_cast<uint8_t>(record.param_size);
    std::memcpy(entry.param, record.param, record.param_size);
    entry.text.assign(record.text, text_size);
    return entry;
}

size_t LogFile::stored_size() const
{
    size_t total = 0;
    for (const LogEntry &e : entries)
        total += e.stored_size();
    return total;
}

bool LogFile::append(const LogEntry &entry)
{
    if (entry.stored_size() > ORVA_LOG_CAPACITY)
        return false;
    size_t total = stored_size() + entry.stored_size();
    size_t drop = 0;
    while (total > ORVA_LOG_CAPACITY) {
        total -= entries[drop].stored_size();
        ++drop;
    }
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(drop));
    first_seq += drop;
    entries.push_back(entry);
    return true;
}

Status decode_log(const Bytes &payload, LogFile &out)
{
    Reader r(payload.data(), payload.size());
    uint32_t count = 0;
    if (!r.u64(out.first_seq) || !r.u32(count) || count > ORVA_LOG_CAPACITY / 19)
        return Status::Corrupt;
    out.entries.clear();
    out.entries.reserve(count);
    size_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        LogEntry e;
        uint16_t text_size = 0;
        if (!r.u32(e.type) || !r.u32(e.result) || !r.u32(e.date) || !r.u32(e.time) ||
            !r.u8(e.param_size) || e.param_size > ORVA_LOG_PARAM_MAX)
            return Status::Corrupt;
        const uint8_t *param = r.bytes(e.param_size);
        if (!param || !r.u16(text_size) || text_size > kLogTextMax)
            return Status::Corrupt;
        std::memcpy(e.param, param, e.param_size);
        const uint8_t *text = r.bytes(text_size);
        if (!text || std::memchr(text, 0, text_size))
            return Status::Corrupt;
        e.text.assign(reinterpret_cast<const char *>(text), text_size);
        total += e.stored_size();
        out.entries.push_back(std::move(e));
    }
    if (r.left() != 0 || total > ORVA_LOG_CAPACITY || out.first_seq > UINT64_MAX - count)
        return Status::Corrupt;
    return Status::Ok;
}

Bytes encode_log(const LogFile &in)
{
    Bytes b;
    b.reserve(12 + in.stored_size());
    append_u64(b, in.first_seq);
    append_u32(b, static_cast<uint32_t>(in.entries.size()));
    for (const LogEntry &e : in.entries) {
        append_u32(b, e.type);
        append_u32(b, e.result);
        append_u32(b, e.date);
        append_u32(b, e.time);
        b.push_back(e.param_size);
        b.insert(b.end(), e.param, e.param + e.param_size);
        append_u16(b, static_cast<uint16_t>(e.text.size()));
        b.insert(b.end(), e.text.begin(), e.text.end());
    }
    return b;
}

Status load_log(const std::string &dir, LogFile &out)
{
    return load_decoded(dir, kLogKind, decode_log, out);
}

// ---- hand-over block -------------------------------------------------------

Status decode_ia(const Bytes &payload, IaFile &out)
{
    if (payload.size() != 4 + ORVA_IA_DATA_SIZE)
        return Status::Corrupt;
    out.format_id = get_u32(payload.data());
    std::memcpy(out.block, payload.data() + 4, ORVA_IA_DATA_SIZE);
    return Status::Ok;
}

Bytes encode_ia(const IaFile &in)
{
    Bytes b;
    append_u32(b, in.format_id);
    b.insert(b.end(), in.block, in.block + ORVA_IA_DATA_SIZE);
    return b;
}

Status load_ia(const std::string &dir, IaFile &out)
{
    return load_decoded(dir, kIaKind, decode_ia, out);
}

// ---- reader and identifier memory -------------------------------------------

Status decode_reader(const Bytes &payload, std::vector<ReaderEntry> &out)
{
    Reader r(payload.data(), payload.size());
    uint32_t count = 0;
    if (!r.u32(count) || count > kReaderMax || r.left() != count * 12u)
        return Status::Corrupt;
    out.clear();
    for (uint32_t i = 0; i < count; ++i) {
        ReaderEntry e;
        r.u32(e.state);
        std::memcpy(e.id, r.bytes(TMID_ID_SIZE), TMID_ID_SIZE);
        if (e.state != TMID_STATE_UNINITIALISED && e.state != TMID_STATE_INITIALISED)
            return Status::Corrupt;
        for (const ReaderEntry &other : out)
            if (std::memcmp(other.id, e.id, TMID_ID_SIZE) == 0)
                return Status::Corrupt;
        out.push_back(e);
    }
    return Status::Ok;
}

Bytes encode_reader(const std::vector<ReaderEntry> &in)
{
    Bytes b;
    append_u32(b, static_cast<uint32_t>(in.size()));
    for (const ReaderEntry &e : in) {
        append_u32(b, e.state);
        b.insert(b.end(), e.id, e.id + TMID_ID_SIZE);
    }
    return b;
}

Status load_reader(const std::string &dir, std::vector<ReaderEntry> &out)
{
    Status st = load_decoded(dir, kReaderKind, decode_reader, out);
    if (st == Status::Missing) {
        out.clear();
        return Status::Ok;
    }
    return st;
}

namespace {

// Loads the reader under the reader lock, lets change(reader) edit it and
// stores it when change returns Ok.
template <typename F>
Status change_reader(const std::string &dir, F &&change)
{
    Fd lock;
    Status st = lock_file(dir, file::kReaderLock, true, lock);
    std::vector<ReaderEntry> reader;
    if (st == Status::Ok)
        st = load_reader(dir, reader);
    if (st == Status::Ok)
        st = change(reader);
    return st == Status::Ok ? store(dir, kReaderKind, encode_reader(reader)) : st;
}

} // namespace

Status reader_present(const std::string &dir, const ReaderEntry &entry)
{
    return change_reader(dir, [&](std::vector<ReaderEntry> &reader) {
        for (ReaderEntry &e : reader) {
            if (std::memcmp(e.id, entry.id, TMID_ID_SIZE) == 0) {
                e.state = entry.state;
                return Status::Ok;
            }
        }
        if (reader.size() >= kReaderMax)
            return Status::WriteError;
        reader.push_back(entry);
        return Status::Ok;
    });
}

Status reader_remove(const std::string &dir, const uint8_t *id)
{
    return change_reader(dir, [&](std::vector<ReaderEntry> &reader) {
        if (id == nullptr) {
            reader.clear();
            return Status::Ok;
        }
        size_t before = reader.size();
        for (size_t i = reader.size(); i-- > 0;)
            if (std::memcmp(reader[i].id, id, TMID_ID_SIZE) == 0)
                reader.erase(reader.begin() + static_cast<std::ptrdiff_t>(i));
        return reader.size() == before ? Status::Missing : Status::Ok;
    });
}

std::string page_file_name(const uint8_t id[TMID_ID_SIZE])
{
    static const char hex[] = "0123456789abcdef";
    std::string name = "tm-";
    for (int i = 0; i < TMID_ID_SIZE; ++i) {
        name += hex[id[i] >> 4];
        name += hex[id[i] & 15];
    }
    return name + ".page";
}

Status load_pages(const std::string &dir, const uint8_t id[TMID_ID_SIZE], Bytes &pages)
{
    std::string name = page_file_name(id);
    Status st = read_state_file(dir + "/" + name, kPageKind.kind, kPageKind.version,
                                kPageKind.max_payload, pages);
    if (st == Status::Missing) {
        pages.assign(kPageKind.max_payload, 0xff);
        return Status::Ok;
    }
    if (st == Status::Ok && pages.size() != kPageKind.max_payload)
        return Status::Corrupt;
    return st;
}

Status store_pages(const std::string &dir, const uint8_t id[TMID_ID_SIZE], const Bytes &pages)
{
    return write_state_file(dir, page_file_name(id), kPageKind.kind, kPageKind.version, pages);
}

} // namespace orva_sim
