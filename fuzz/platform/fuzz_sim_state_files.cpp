// The readers of the simulated module's stored files. The first byte picks
// the file kind; bit 7 of it wraps the rest in a valid envelope, so that the
// payload decoders are reached past the CRC.
#include "module_files.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace orva_sim;

namespace {

void decode_payload(int kind, const Bytes &payload)
{
    switch (kind) {
    case 0: { DeviceFile d; decode_device(payload, d); break; }
    case 1: {
        DatabaseFile db;
        if (decode_database(payload, db) == Status::Ok) {
            device_state(db);
            if (encode_database(db) != payload)
                __builtin_trap(); // a decoded file encodes back to itself
        }
        break;
    }
    case 2: { ConfigFile c; decode_config(payload, c); break; }
    case 3: {
        LogFile log;
        if (decode_log(payload, log) == Status::Ok && encode_log(log) != payload)
            __builtin_trap();
        break;
    }
    case 4: { IaFile ia; decode_ia(payload, ia); break; }
    default: {
        std::vector<ReaderEntry> reader;
        if (decode_reader(payload, reader) == Status::Ok && encode_reader(reader) != payload)
            __builtin_trap();
        break;
    }
    }
}

const FileKind *kinds[] = {&kDeviceKind, &kDatabaseKind, &kConfigKind, &kLogKind, &kIaKind, &kReaderKind};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int kind = (data[0] & 0x7f) % 6;
    bool wrap = data[0] & 0x80;
    const FileKind &fk = *kinds[kind];
    Bytes payload;
    if (wrap) {
        Bytes inner(data + 1, data + size);
        Bytes file = encode_envelope(fk.kind, fk.version, inner);
        if (decode_envelope(file.data(), file.size(), fk.kind, fk.version, fk.max_payload, payload) != Status::Ok)
            return 0;
    } else if (decode_envelope(data + 1, size - 1, fk.kind, fk.version, fk.max_payload, payload) != Status::Ok) {
        return 0;
    }
    decode_payload(kind, payload);
    return 0;
}
