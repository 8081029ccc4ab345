// libtmid: the identifier reader and identifier memory over the state directory.
#include "module_files.h"
#include "tmid.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

using namespace orva_sim;

namespace {

struct TmidLibrary {
    bool initialised = false;
    std::string dir;
};

TmidLibrary &library()
{
    static TmidLibrary lib;
    return lib;
}

int to_code(Status status)
{
    switch (status) {
    case Status::Ok: return TMID_OK;
    case Status::Corrupt: return TMID_E_CORRUPT;
    case Status::NoMem: return TMID_E_NOMEM;
    default: return TMID_E_IO;
    }
}

template <typename F>
int guarded(F &&body)
{
    try {
        TmidLibrary &lib = library();
        if (!lib.initialised)
            return TMID_E_NOT_INITIALISED;
        if (!directory_exists(lib.dir))
            return TMID_E_NO_READER;
        return body(lib.dir);
    } catch (const std::bad_alloc &) {
        return TMID_E_NOMEM;
    } catch (...) {
        return TMID_E_IO;
    }
}

// TMID_OK when the identifier is on the reader.
int check_present(const std::string &dir, const uint8_t id[TMID_ID_SIZE])
{
    std::vector<ReaderEntry> reader;
    Status st = load_reader(dir, reader);
    if (st != Status::Ok)
        return to_code(st);
    for (const ReaderEntry &e : reader)
        if (std::memcmp(e.id, id, TMID_ID_SIZE) == 0)
            return TMID_OK;
    return TMID_E_ABSENT;
}

// Test control: ORVA_SIM_TMID_WRITE_FAULT="N" lets the next N page writes of
// this process succeed and fails every later one with TMID_E_IO, memory
// unchanged, as an identifier whose contact is lost; with "N:torn" the
// contact is lost during the first failing write, which stores the first
// half of its data. Counting starts again when the value changes; unset or
// empty, writes do not fail.
struct WriteFault {
    bool fails = false;
    bool torn = false;
};

WriteFault next_write_fault()
{
    static std::string armed;
    static long done = 0;
    const char *env = std::getenv("ORVA_SIM_TMID_WRITE_FAULT");
    const std::string value = env ? env : "";
    if (value != armed) {
        armed = value;
        done = 0;
    }
    if (value.empty())
        return {};
    char *end = nullptr;
    const long allowed = std::strtol(value.c_str(), &end, 10);
    WriteFault fault;
    fault.fails = done >= allowed;
    fault.torn = done == allowed && std::strcmp(end, ":torn") == 0;
    ++done;
    return fault;
}

bool pages_ok(const uint8_t *id, int page, int count, const void *data)
{
    return id != nullptr && data != nullptr && page >= 0 && count >= 1 &&
           page < TMID_PAGE_COUNT && count <= TMID_PAGE_COUNT - page;
}

} // namespace

extern "C" int tmid_init(void)
{
    try {
        TmidLibrary &lib = library();
        lib.dir = state_dir();
        if (!directory_exists(lib.dir))
            return TMID_E_NO_READER;
        lib.initialised = true;
        return TMID_OK;
    } catch (...) {
        return TMID_E_NOMEM;
    }
}

extern "C" int tmid_exit(void)
{
    TmidLibrary &lib = library();
    if (!lib.initialised)
        return TMID_E_NOT_INITIALISED;
    lib.initialised = false;
    return TMID_OK;
}

extern "C" int tmid_get_id_list(tmid_descriptor **list, int *count)
{
    return guarded([&](const std::string &dir) {
        if (list == nullptr || count == nullptr)
            return TMID_E_INVALID_ARG;
        std::vector<ReaderEntry> reader;
        Status st = load_reader(dir, reader);
        if (st != Status::Ok)
            return to_code(st);
        *list = nullptr;
        *count = 0;
        if (reader.empty())
            return TMID_OK;
        auto *out = static_cast<tmid_descriptor *>(std::calloc(reader.size(), sizeof(tmid_descriptor)));
        if (out == nullptr)
            return TMID_E_NOMEM;
        for (size_t i = 0; i < reader.size(); ++i) {
            out[i].state = reader[i].state;
            std::memcpy(out[i].id, reader[i].id, TMID_ID_SIZE);
            out[i].reader = 0;
        }
        *list = out;
        *count = static_cast<int>(reader.size());
        return TMID_OK;
    });
}

extern "C" int tmid_read_page(const uint8_t id[TMID_ID_SIZE], int page, int count, uint8_t *data)
{
    return guarded([&](const std::string &dir) {
        if (!pages_ok(id, page, count, data))
            return TMID_E_INVALID_ARG;
        int rc = check_present(dir, id);
        if (rc != TMID_OK)
            return rc;
        Bytes pages;
        Status st = load_pages(dir, id, pages);
        if (st != Status::Ok)
            return to_code(st);
        std::memcpy(data, pages.data() + page * TMID_PAGE_SIZE, static_cast<size_t>(count) * TMID_PAGE_SIZE);
        return TMID_OK;
    });
}

extern "C" int tmid_write_page(const uint8_t id[TMID_ID_SIZE], int page, int count, const uint8_t *data)
{
    return guarded([&](const std::string &dir) {
        if (!pages_ok(id, page, count, data))
            return TMID_E_INVALID_ARG;
        Fd lock;
        Status st = lock_file(dir, file::kReaderLock, true, lock);
        if (st != Status::Ok)
            return to_code(st);
        int rc = check_present(dir, id);
        if (rc != TMID_OK)
            return rc;
        Bytes pages;
        st = load_pages(dir, id, pages);
        if (st != Status::Ok)
            return to_code(st);
        const size_t size = static_cast<size_t>(count) * TMID_PAGE_SIZE;
        const WriteFault fault = next_write_fault();
        if (fault.fails) {
            if (!fault.torn)
                return TMID_E_IO;
            std::memcpy(pages.data() + page * TMID_PAGE_SIZE, data, size / 2);
            st = store_pages(dir, id, pages);
            return st == Status::Ok ? TMID_E_IO : to_code(st);
        }
        std::memcpy(pages.data() + page * TMID_PAGE_SIZE, data, size);
        return to_code(store_pages(dir, id, pages));
    });
}

extern "C" uint8_t tmid_crc8(const uint8_t *data, int length)
{
    uint8_t crc = 0;
    for (int i = 0; data != nullptr && i < length; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            uint8_t mix = (crc ^ byte) & 1;
            crc >>= 1;
            if (mix)
                crc ^= 0x8c;
            byte >>= 1;
        }
    }
    return crc;
}
