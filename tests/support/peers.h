// Test support: running peer programs and preparing their input.
#ifndef TESTS_SUPPORT_PEERS_H
#define TESTS_SUPPORT_PEERS_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace simtest {

inline std::string run(const std::string &cmd, int &status)
{
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    status = pclose(p);
    return out;
}

inline bool have(const std::string &program)
{
    int status;
    run("command -v " + program, status);
    return status == 0;
}

// The lines of a text, without their newlines.
inline std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The lines jq prints (raw output) for filter over the JSON text, which is
// written to scratch first; status is jq's.
inline std::vector<std::string> jq(const std::string &json, const std::string &filter, const std::string &scratch,
                                   int &status, std::string &out)
{
    std::ofstream(scratch) << json;
    out = run("jq -r '" + filter + "' " + scratch, status);
    return lines(out);
}

// size bytes at offset of a file.
inline std::string read_at(const std::string &path, uint64_t offset, size_t size)
{
    std::string out(size, '\0');
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || pread(fd, out.data(), size, off_t(offset)) != ssize_t(size))
        out.clear();
    if (fd >= 0)
        close(fd);
    return out;
}

// A dmidecode dump file (entry point at 0, table at 32) from a physical
// memory file whose entry point lies at entry.
inline std::vector<uint8_t> dmidecode_dump(const std::string &mem_path, uint32_t entry)
{
    auto fix = [](uint8_t *p, size_t n, size_t at) {
        p[at] = 0;
        unsigned sum = 0;
        for (size_t i = 0; i < n; ++i)
            sum += p[i];
        p[at] = uint8_t(-sum);
    };
    const std::string head = read_at(mem_path, entry, 0x1F);
    if (head.size() < 24)
        return {};
    if (head.compare(0, 5, "_SM3_") == 0) {
        // 64-bit entry point: maximum size at 12, table address at 16.
        std::vector<uint8_t> e(head.begin(), head.begin() + 24);
        const uint32_t length = uint32_t(e[12] | e[13] << 8 | e[14] << 16 | uint32_t(e[15]) << 24);
        uint64_t table = 0;
        for (int i = 7; i >= 0; --i)
            table = table << 8 | e[16 + i];
        e[16] = 32;
        std::fill(e.begin() + 17, e.end(), 0);
        fix(e.data(), 24, 5);
        e.resize(32, 0);
        const std::string t = read_at(mem_path, table, length);
        e.insert(e.end(), t.begin(), t.end());
        return e;
    }
    const bool sm = head.compare(0, 4, "_SM_") == 0;
    std::vector<uint8_t> e(head.begin(), head.begin() + (sm ? 0x1F : 15));
    uint8_t *legacy = sm ? &e[0x10] : &e[0];
    uint16_t length = uint16_t(legacy[6] | legacy[7] << 8);
    uint32_t table = uint32_t(legacy[8] | legacy[9] << 8 | legacy[10] << 16 | uint32_t(legacy[11]) << 24);
    legacy[8] = 32;
    legacy[9] = legacy[10] = legacy[11] = 0;
    fix(legacy, 15, 5);
    if (sm)
        fix(e.data(), 0x1F, 4);
    e.resize(32, 0);
    const std::string t = read_at(mem_path, table, length);
    e.insert(e.end(), t.begin(), t.end());
    return e;
}

// dmidecode output as structures: type name line, then "Key: Value" fields.
struct DmiRecord {
    std::string title;
    std::map<std::string, std::string> fields;
};

inline std::vector<DmiRecord> parse_dmidecode(const std::string &out)
{
    std::vector<DmiRecord> records;
    size_t pos = 0;
    while ((pos = out.find("\nHandle ", pos)) != std::string::npos) {
        size_t end = out.find("\n\n", pos + 1);
        std::string block = out.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
        DmiRecord rec;
        size_t line_start = block.find('\n') + 1;
        size_t line_end = block.find('\n', line_start);
        rec.title = block.substr(line_start, line_end - line_start);
        while (line_end != std::string::npos) {
            line_start = line_end + 1;
            line_end = block.find('\n', line_start);
            std::string line = block.substr(line_start, line_end == std::string::npos ? std::string::npos : line_end - line_start);
            if (line.size() > 1 && line[0] == '\t' && line[1] != '\t') {
                size_t colon = line.find(": ");
                if (colon != std::string::npos)
                    rec.fields[line.substr(1, colon - 1)] = line.substr(colon + 2);
            }
        }
        records.push_back(rec);
        pos = end == std::string::npos ? out.size() : end;
    }
    return records;
}

} // namespace simtest

#endif
