// hivexml (libhivex-bin) as a peer of the hive reader: its XML read back
// into keys (with their last-write times) and values, and a value of ours
// compared with its view of the same value.
#ifndef TESTS_IC_REG_HIVEXML_H
#define TESTS_IC_REG_HIVEXML_H

#include "reg_walk.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace regtest {

// hivexml's view of a value: the type name and the value, either as text,
// a list of strings or bytes (base64).
struct PeerValue {
    std::string type, text;
    bool bytes = false;
    std::vector<std::string> list;
};

struct PeerKey {
    std::string path;
    std::string mtime; // "2022-06-17T00:00:00Z"
    std::vector<std::pair<std::string, PeerValue>> values;
};

inline std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        size_t end = s.find(';', i);
        std::string entity = s.substr(i + 1, end - i - 1);
        i = end;
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (entity[0] == '#') {
            unsigned long cp = entity[1] == 'x' ? std::stoul(entity.substr(2), nullptr, 16) : std::stoul(entity.substr(1));
            reg_char units[3] = {reg_char(cp), 0, 0};
            if (cp > 0xFFFF) {
                units[0] = reg_char(0xD800 + ((cp - 0x10000) >> 10));
                units[1] = reg_char(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            out += regtest::u8(units);
        }
    }
    return out;
}

inline std::map<std::string, std::string> attributes(const std::string &tag)
{
    std::map<std::string, std::string> out;
    size_t i = tag.find(' ');
    while (i != std::string::npos && i < tag.size()) {
        size_t eq = tag.find('=', i);
        if (eq == std::string::npos)
            break;
        size_t start = tag.find_first_not_of(' ', i);
        std::string name = tag.substr(start, eq - start);
        size_t close = tag.find('"', eq + 2);
        out[name] = unescape(tag.substr(eq + 2, close - eq - 2));
        i = close + 1;
    }
    return out;
}

inline std::vector<uint8_t> base64(const std::string &s)
{
    static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : s) {
        size_t d = digits.find(c);
        if (d == std::string::npos)
            continue; // line breaks and padding
        acc = acc << 6 | uint32_t(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(acc >> bits));
        }
    }
    return out;
}

// Keys of hivexml's document in document order.
inline std::vector<PeerKey> parse_hivexml(const std::string &xml)
{
    std::vector<PeerKey> keys;
    std::vector<std::string> path;
    PeerValue *value = nullptr;
    size_t i = 0;
    while ((i = xml.find('<', i)) != std::string::npos) {
        size_t end = xml.find('>', i);
        std::string tag = xml.substr(i + 1, end - i - 1);
        size_t text_end = xml.find('<', end);
        std::string text = xml.substr(end + 1, text_end - end - 1);
        i = end + 1;
        if (tag.rfind("node ", 0) == 0) {
            auto a = attributes(tag);
            std::string p;
            if (!a.count("root")) {
                path.push_back(a["name"]);
                for (const auto &c : path)
                    p += "\\" + c;
            }
            keys.push_back({p, {}, {}});
        } else if (tag == "/node") {
            if (!path.empty())
                path.pop_back();
        } else if (tag.rfind("value ", 0) == 0) {
            auto a = attributes(tag);
            keys.back().values.emplace_back(a.count("default") ? "" : a["key"], PeerValue{});
            value = &keys.back().values.back().second;
            value->type = a["type"];
            value->bytes = a.count("encoding") && a["encoding"] == "base64";
            value->text = a["value"];
        } else if (tag == "mtime" && !keys.empty()) {
            keys.back().mtime = text;
        } else if (tag == "string" && value) {
            value->list.push_back(unescape(text));
        }
    }
    return keys;
}

inline uint64_t le(const std::vector<uint8_t> &b, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n && i < b.size(); ++i)
        v |= uint64_t(b[i]) << (8 * i);
    return v;
}

inline std::string utf16_text(const std::vector<uint8_t> &b, bool stop_at_nul)
{
    std::vector<reg_char> units;
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
        reg_char c = reg_char(b[i] | b[i + 1] << 8);
        if (c == 0 && stop_at_nul)
            break;
        units.push_back(c);
    }
    units.push_back(0);
    return regtest::u8(units.data());
}

// Whether hivexml's value describes our value's type and data exactly.
inline void expect_same(const Value &ours, const PeerValue &peer, const std::string &where)
{
    static const std::map<std::string, std::set<uint32_t>> types = {
        {"none", {0}}, {"string", {1}}, {"expand", {2}}, {"binary", {3}}, {"int32", {4, 5}},
        {"link", {6}}, {"string-list", {7}}, {"resource-list", {8}}, {"int64", {11}}};
    ASSERT_TRUE(types.count(peer.type)) << where << ": type " << peer.type;
    EXPECT_TRUE(types.at(peer.type).count(ours.type)) << where << ": " << peer.type << " vs " << ours.type;
    if (peer.bytes) {
        EXPECT_EQ(base64(peer.text), ours.data) << where;
    } else if (peer.type == "int32") {
        uint32_t v = uint32_t(le(ours.data, 4));
        if (ours.type == 5)
            v = __builtin_bswap32(v);
        EXPECT_EQ(std::to_string(v), peer.text) << where;
    } else if (peer.type == "int64") {
        EXPECT_EQ(std::to_string(le(ours.data, 8)), peer.text) << where;
    } else if (peer.type == "string-list") {
        std::vector<std::string> list;
        std::vector<uint8_t> piece;
        for (size_t i = 0; i + 1 < ours.data.size(); i += 2) {
            if (ours.data[i] == 0 && ours.data[i + 1] == 0) {
                list.push_back(utf16_text(piece, false));
                piece.clear();
            } else {
                piece.push_back(ours.data[i]);
                piece.push_back(ours.data[i + 1]);
            }
        }
        EXPECT_EQ(list, peer.list) << where;
    } else {
        EXPECT_EQ(utf16_text(ours.data, true), peer.text) << where;
    }
}

} // namespace regtest

#endif
