// The large hive of the registry benchmarks.
#ifndef BENCH_REG_BENCH_HIVE_H
#define BENCH_REG_BENCH_HIVE_H

#include "simcomputer/regf.h"

#include <string>

namespace bench_reg {

using simcomputer::RegKey;

// Services-like keys: 3 levels below the root, 4 values each.
inline simcomputer::RegHive make_hive(size_t keys) {
    simcomputer::RegHive hive;
    size_t made = 0;
    for (size_t a = 0; made < keys; ++a) {
        RegKey top;
        top.name = simcomputer::utf16("Group" + std::to_string(a));
        for (size_t b = 0; b < 100 && made < keys; ++b) {
            RegKey mid;
            mid.name = simcomputer::utf16("Service" + std::to_string(b));
            mid.class_name = u"Class";
            for (size_t c = 0; c < 30 && made < keys; ++c, ++made) {
                RegKey leaf;
                leaf.name = simcomputer::utf16("Parameters" + std::to_string(c));
                const uint32_t n = uint32_t(made);
                leaf.values.push_back({u"Start", {}, 4, simcomputer::reg_dword(n % 5), {}});
                leaf.values.push_back({u"Type", {}, 4, simcomputer::reg_dword(16), {}});
                leaf.values.push_back({u"ImagePath", {}, 2,
                                       simcomputer::reg_sz(simcomputer::utf16("system32\\drivers\\d" + std::to_string(n) + ".sys")), {}});
                leaf.values.push_back({u"Blob", {}, 3, std::vector<uint8_t>(24 + n % 40, uint8_t(n)), {}});
                mid.subkeys.push_back(std::move(leaf));
            }
            top.subkeys.push_back(std::move(mid));
        }
        hive.root.subkeys.push_back(std::move(top));
    }
    return hive;
}

} // namespace bench_reg

#endif
