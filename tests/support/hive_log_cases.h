// Hives with transaction logs for the tests: the same changes written with
// logs of both formats in every arrangement Windows leaves them in, each a
// base with its logs whose final state (simcomputer::final_state) is what
// Windows loads.
#ifndef TESTS_SUPPORT_HIVE_LOG_CASES_H
#define TESTS_SUPPORT_HIVE_LOG_CASES_H

#include "simcomputer/regf.h"

#include <string>
#include <vector>

namespace simtest {

struct HiveLogCase {
    std::string name;
    simcomputer::RegHive hive; // the base with its logs
    bool recovers = true;      // false: dirty, and no log brings it anywhere
};

inline const char16_t kRunKey[] = u"Microsoft\\Windows\\CurrentVersion\\Run";

// A SOFTWARE hive of a few pages: the Run key with one value and keys with
// values around it, so that a write dirties some pages and not others.
inline simcomputer::RegHive log_case_base(simcomputer::RegLogFormat format)
{
    using namespace simcomputer;
    RegHive h;
    h.file_name = u"SOFTWARE";
    h.sequence = 1000;
    h.logs.format = format;
    RegValue &updater = h.root.child(kRunKey).value(u"Updater");
    updater.type = 1;
    updater.data = reg_sz(u"C:\\Program Files\\Updater\\updater.exe");
    for (int i = 0; i < 60; ++i) {
        RegKey &k = h.root.child(u"Classes\\.ext" + utf16(std::to_string(i)));
        k.value(u"").type = 1;
        k.value(u"").data = reg_sz(u"file type " + utf16(std::to_string(i)));
        k.value(u"Flags").type = 4;
        k.value(u"Flags").data = reg_dword(uint32_t(i));
    }
    return h;
}

namespace log_changes {
using simcomputer::RegKey;
inline void evil(RegKey &r)
{
    r.child(kRunKey).value(u"Evil").type = 1;
    r.child(kRunKey).value(u"Evil").data = simcomputer::reg_sz(u"C:\\Users\\Public\\evil.exe");
}
inline void retune(RegKey &r) // a changed value and a deleted key
{
    r.child(kRunKey).value(u"Updater").data = simcomputer::reg_sz(u"C:\\Updater\\v2.exe");
    r.remove(u"Classes\\.ext7");
}
inline void grow(RegKey &r) // big data: the hive bins grow by pages
{
    simcomputer::RegValue &v = r.child(u"Classes\\.ext40").value(u"Blob");
    v.type = 3;
    v.data.assign(40000, 0);
    for (size_t i = 0; i < v.data.size(); ++i)
        v.data[i] = uint8_t(i * 13 + 5);
}
inline void shrink(RegKey &r) // the big data gone: the hive bins shrink
{
    r.child(u"Classes\\.ext40").remove_value(u"Blob");
}
inline void new_key(RegKey &r)
{
    r.child(u"Microsoft\\Fresh\\Sub").value(u"Count").type = 4;
    r.child(u"Microsoft\\Fresh\\Sub").value(u"Count").data = simcomputer::reg_dword(3);
}
inline void stale(RegKey &r) // an earlier round's change, never in a final state
{
    r.child(kRunKey).value(u"Stale").type = 1;
    r.child(kRunKey).value(u"Stale").data = simcomputer::reg_sz(u"C:\\old.exe");
    r.remove(u"Classes\\.ext3");
}
} // namespace log_changes

inline std::vector<HiveLogCase> hive_log_cases()
{
    using namespace simcomputer;
    using namespace log_changes;
    using Change = void (*)(RegKey &);
    struct Write {
        Change change;
        unsigned file = 1;
        bool stale = false;
        RegLogDamage damage = RegLogDamage::none;
    };
    std::vector<HiveLogCase> cases;
    auto add = [&](const std::string &name, RegLogFormat format, std::vector<Write> writes,
                   void (*tune)(RegHive &) = nullptr, bool recovers = true) {
        RegHive h = log_case_base(format);
        for (const Write &w : writes) {
            RegLogEntry e;
            e.file = w.file;
            e.stale = w.stale;
            e.damage = w.damage;
            add_log_entry(h, e, w.change);
        }
        if (tune)
            tune(h);
        cases.push_back({name, std::move(h), recovers});
    };
    const auto N = RegLogFormat::new_, O = RegLogFormat::old_, S = RegLogFormat::old_single;
    const RegLogDamage damages[] = {RegLogDamage::hash1, RegLogDamage::hash2, RegLogDamage::signature,
                                    RegLogDamage::bins_size};
    const char *const damage_names[] = {"hash1", "hash2", "signature", "bins_size"};

    add("new_one_entry", N, {{evil}});
    add("new_several_entries", N, {{evil}, {retune}, {grow}, {new_key}});
    for (size_t i = 0; i < 4; ++i)
        add(std::string("new_broken_") + damage_names[i], N, {{evil}, {retune, 1, false, damages[i]}, {grow}});
    add("new_grows_then_shrinks", N, {{grow}, {shrink, 2}, {new_key, 2}});
    add("new_log1_then_log2", N, {{evil}, {retune}, {grow, 2}, {new_key, 2}});
    add("new_log2_then_log1", N, {{evil, 2}, {retune, 2}, {grow, 1}});
    add("new_broken_before_switch", N, {{evil}, {retune, 1, false, RegLogDamage::hash1}, {grow, 2}});
    add("new_stale_remnants", N, {{evil}, {retune}, {stale, 1, true}, {grow, 1, true}});
    add("new_log2_stale", N, {{evil}, {grow}, {stale, 2, true}, {new_key, 2, true}});
    add("new_log1_stale", N, {{stale, 1, true}, {evil, 2}, {grow, 2}});
    add("new_log1_empty", N, {{evil, 2}, {retune, 2}}, [](RegHive &h) { h.logs.empty_files = true; });
    add("new_log1_missing", N, {{evil, 2}, {retune, 2}});
    add("new_clean_with_stale_log", N, {{evil, 1, true}, {retune, 1, true}});
    add("new_clean_with_unapplied_log", N, {{evil}, {retune}}, [](RegHive &h) { h.logs.dirty = false; });
    add("new_torn_base_block", N, {{evil}, {grow}}, [](RegHive &h) { h.logs.torn = true; });
    add("old_single_log", S, {{evil}, {retune}});
    add("old_log1_current_log2_stale", O, {{evil}, {grow}, {stale, 2, true}});
    add("old_log2_current_log1_stale", O, {{stale, 1, true}, {evil, 2}, {retune, 2}});
    add("old_log1_empty", O, {{evil, 2}, {grow, 2}}, [](RegHive &h) { h.logs.empty_files = true; });
    add("old_clean_with_stale_log", S, {{evil, 1, true}});
    add("old_torn_base_block", O, {{evil}, {grow}}, [](RegHive &h) { h.logs.torn = true; });
    add("old_single_torn_base_block", S, {{retune}, {grow}}, [](RegHive &h) { h.logs.torn = true; });

    // Dirty without a log that recovers it: Windows refuses such a hive.
    add("new_dirty_without_logs", N, {}, [](RegHive &h) { h.logs.dirty = true; }, false);
    add("new_dirty_only_stale", N, {{evil, 1, true}, {grow, 2, true}}, [](RegHive &h) { h.logs.dirty = true; },
        false);
    add("new_first_entry_broken", N, {{evil, 1, false, RegLogDamage::hash2}, {grow}}, nullptr, false);
    add("old_dirty_only_stale", O, {{evil, 1, true}}, [](RegHive &h) { h.logs.dirty = true; }, false);
    return cases;
}

} // namespace simtest

#endif
