// The "windows" keyword: a Windows directory with hives and user profiles.
//
//   windows /Windows
//     hive SYSTEM [version=1.3] [log=new|old|old_single] [dirty=yes|no] [sequence=N]
//         [torn=yes] [empty_logs=yes] [folded=yes]
//       key "ControlSet001\\Services\\Beep" [class=TEXT] [timestamp=N] [symlink=yes]
//           [security=none|HEX] [list=li|lf|lh|ri] [sublist=li|lf|lh] [chunk=N] [wide=yes]
//         value NAME TYPE [DATA...] [fill=N] [raw_size=N] [wide=yes]
//         key SUBPATH ...
//       entry [file=LOG1|LOG2|LOG] [stale=yes] [damage=hash1|hash2|signature|bins_size] [time=N]
//         key ... / value ... / delete key PATH / delete value NAME
//     profile SID path="%systemdrive%\\Users\\ivan" [log=...]
//       key ...
#include "description.h"
#include "simcomputer/regf.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

namespace simcomputer {
namespace {

[[noreturn]] void fail(const Node &n, const std::string &message)
{
    throw description_error{n.line, n.keyword + ": " + message};
}

// Attributes of one line; each must be taken once by the handler.
class LineAttrs {
public:
    explicit LineAttrs(const Node &n) : n_(n), used_(n.attrs.size(), false) {}
    const std::string *get(const char *key)
    {
        for (size_t i = 0; i < n_.attrs.size(); ++i)
            if (n_.attrs[i].first == key) {
                used_[i] = true;
                return &n_.attrs[i].second;
            }
        return nullptr;
    }
    uint64_t num(const char *key, uint64_t def, uint64_t max)
    {
        const std::string *v = get(key);
        return v ? number(*v, max) : def;
    }
    bool flag(const char *key)
    {
        const std::string *v = get(key);
        return v && yes(n_, key, *v);
    }
    static bool yes(const Node &n, const char *key, const std::string &v)
    {
        if (v == "no" || v == "0" || v == "false")
            return false;
        if (v == "yes" || v == "1" || v == "true")
            return true;
        fail(n, "bad value for " + std::string(key) + ": " + v);
    }
    uint64_t number(const std::string &s, uint64_t max) const
    {
        errno = 0;
        char *end = nullptr;
        const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        unsigned long long v = std::strtoull(s.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
        if (s.empty() || s[0] == '-' || errno || *end || end == s.c_str() + (hex ? 2 : 0) || v > max)
            fail(n_, "bad number " + s);
        return v;
    }
    void finish() const
    {
        for (size_t i = 0; i < used_.size(); ++i)
            if (!used_[i])
                fail(n_, "unknown attribute " + n_.attrs[i].first);
    }

private:
    const Node &n_;
    std::vector<bool> used_;
};

std::vector<uint8_t> hex_bytes(const Node &n, const std::string &s)
{
    if (s.size() % 2)
        fail(n, "odd number of hex digits");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < s.size(); i += 2) {
        char *end;
        const std::string pair = s.substr(i, 2);
        unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end || pair.find_first_of("+- ") != std::string::npos)
            fail(n, "bad hex digits " + pair);
        out.push_back(uint8_t(v));
    }
    return out;
}

RegList list_kind(const Node &n, const std::string *v)
{
    static const std::map<std::string, RegList> kinds = {
        {"li", RegList::li}, {"lf", RegList::lf}, {"lh", RegList::lh}, {"ri", RegList::ri}};
    if (!v)
        return RegList::auto_;
    auto it = kinds.find(*v);
    if (it == kinds.end())
        fail(n, "bad list kind " + *v);
    return it->second;
}

void value_line(const Node &n, RegKey &key)
{
    if (!n.children.empty())
        fail(n, "has no nested lines");
    if (n.args.size() < 2)
        fail(n, "NAME TYPE [DATA] expected");
    LineAttrs a(n);
    static const std::map<std::string, uint32_t> types = {
        {"none", 0},  {"sz", 1},       {"expand_sz", 2}, {"binary", 3}, {"dword", 4},
        {"dword_be", 5}, {"link", 6},  {"multi_sz", 7},  {"qword", 11}};
    RegValue v;
    v.name = n.args[0] == "@" ? u"" : utf16(n.args[0]);
    auto t = types.find(n.args[1]);
    v.type = t != types.end() ? t->second : uint32_t(a.number(n.args[1], 0xFFFFFFFF));
    const std::vector<std::string> data(n.args.begin() + 2, n.args.end());
    const uint64_t fill = a.num("fill", 0, 64u << 20);
    if (fill) {
        if (!data.empty())
            fail(n, "fill= and data exclude each other");
        v.data.resize(fill);
        for (size_t i = 0; i < fill; ++i)
            v.data[i] = uint8_t(i * 7 + 1);
    } else if (v.type == 7) {
        std::vector<std::u16string> strings;
        for (const auto &s : data)
            strings.push_back(utf16(s));
        v.data = reg_multi_sz(strings);
    } else if (data.size() > 1) {
        fail(n, "one data argument expected");
    } else if (data.empty()) {
    } else if (v.type == 1 || v.type == 2 || v.type == 6) {
        v.data = reg_sz(utf16(data[0]));
    } else if (v.type == 4) {
        v.data = reg_dword(uint32_t(a.number(data[0], 0xFFFFFFFF)));
    } else if (v.type == 11) {
        v.data = reg_qword(a.number(data[0], UINT64_MAX));
    } else {
        v.data = hex_bytes(n, data[0]);
    }
    if (v.type == 6 && !data.empty())
        v.data.resize(v.data.size() - 2); // links are stored without a terminator
    if (const std::string *raw = a.get("raw_size"))
        v.raw_size = uint32_t(a.number(*raw, 0xFFFFFFFF));
    if (a.flag("wide"))
        v.form = RegNameForm::wide;
    a.finish();
    key.value(v.name) = v;
}

void delete_line(const Node &n, RegKey &key)
{
    if (!n.children.empty() || !n.attrs.empty() || n.args.size() != 2 || (n.args[0] != "key" && n.args[0] != "value"))
        fail(n, "key PATH or value NAME expected");
    const std::u16string name = n.args[1] == "@" && n.args[0] == "value" ? u"" : utf16(n.args[1]);
    if (!(n.args[0] == "key" ? key.remove(name) : key.remove_value(name)))
        fail(n, "no " + n.args[0] + " " + n.args[1] + " to delete");
}

// Lines inside a key (or a hive's root); delete lines only in a log entry.
void key_children(const Node &n, RegKey &k, bool edits);

void key_line(const Node &n, RegKey &parent, bool edits)
{
    if (n.args.size() != 1)
        fail(n, "one key path expected");
    LineAttrs a(n);
    const bool literal = a.flag("literal");
    if (literal && n.args[0].empty())
        fail(n, "a literal key needs a name");
    if (literal) {
        parent.subkeys.push_back(RegKey{});
        parent.subkeys.back().name = utf16(n.args[0]);
        parent.subkeys.back().literal = true;
    }
    RegKey &k = literal ? parent.subkeys.back() : parent.child(utf16(n.args[0]));
    if (const std::string *c = a.get("class"))
        k.class_name = utf16(*c);
    k.timestamp = a.num("timestamp", k.timestamp, UINT64_MAX);
    // A key named again keeps what its earlier lines gave it.
    if (const std::string *v = a.get("symlink"))
        k.symlink = LineAttrs::yes(n, "symlink", *v);
    if (const std::string *s = a.get("security"))
        k.security = *s == "none" ? std::nullopt : std::optional<std::vector<uint8_t>>(hex_bytes(n, *s));
    if (const std::string *v = a.get("list"))
        k.list = list_kind(n, v);
    if (const std::string *v = a.get("sublist"))
        k.sublist = list_kind(n, v);
    if (k.sublist == RegList::ri)
        fail(n, "an index list holds li, lf or lh lists");
    k.ri_chunk = unsigned(a.num("chunk", k.ri_chunk, 65535));
    if (a.flag("wide"))
        k.form = RegNameForm::wide;
    a.finish();
    key_children(n, k, edits);
}

void key_children(const Node &n, RegKey &k, bool edits)
{
    for (const Node &c : n.children) {
        if (c.keyword == "key")
            key_line(c, k, edits);
        else if (c.keyword == "value")
            value_line(c, k);
        else if (c.keyword == "delete" && edits)
            delete_line(c, k);
        else
            fail(c, "unknown keyword inside " + n.keyword);
    }
}

// One write the logs record: the state before it with the entry's lines,
// changed keys stamped with its time.
void entry_line(const Node &n, RegHive &hive)
{
    if (hive.logs.format == RegLogFormat::none)
        fail(n, "log= of the hive names the log format first");
    if (!n.args.empty())
        fail(n, "has no arguments");
    LineAttrs a(n);
    RegLogEntry e;
    e.stale = a.flag("stale");
    const bool single = hive.logs.format == RegLogFormat::old_single;
    if (const std::string *f = a.get("file")) {
        if (*f != (single ? "LOG" : "LOG1") && (single || *f != "LOG2"))
            fail(n, single ? "file=LOG expected" : "file=LOG1 or LOG2 expected");
        e.file = *f == "LOG2" ? 2 : 1;
    }
    static const std::map<std::string, RegLogDamage> damages = {{"hash1", RegLogDamage::hash1},
                                                                {"hash2", RegLogDamage::hash2},
                                                                {"signature", RegLogDamage::signature},
                                                                {"bins_size", RegLogDamage::bins_size}};
    if (const std::string *d = a.get("damage")) {
        auto it = damages.find(*d);
        if (it == damages.end())
            fail(n, "bad damage " + *d);
        e.damage = it->second;
    }
    e.time = a.num("time", 0, UINT64_MAX);
    a.finish();
    add_log_entry(hive, std::move(e), [&](RegKey &root) { key_children(n, root, true); });
}

// The attributes of a hive's logs on its hive or profile line.
void log_attributes(const Node &n, LineAttrs &a, RegHive &hive)
{
    static const std::map<std::string, RegLogFormat> formats = {
        {"new", RegLogFormat::new_}, {"old", RegLogFormat::old_}, {"old_single", RegLogFormat::old_single}};
    if (const std::string *f = a.get("log")) {
        auto it = formats.find(*f);
        if (it == formats.end())
            fail(n, "log=new, old or old_single expected");
        if (hive.logs.format == RegLogFormat::none)
            hive.sequence = 1000; // room for stale entries before it
        hive.logs.format = it->second;
    }
    // A hive named again keeps what its earlier lines gave it.
    if (const std::string *d = a.get("dirty"))
        hive.logs.dirty = LineAttrs::yes(n, "dirty", *d);
    hive.sequence = uint32_t(a.num("sequence", hive.sequence, 0xFFFFFFF0u));
    if (const std::string *t = a.get("torn"))
        hive.logs.torn = LineAttrs::yes(n, "torn", *t);
    if (const std::string *e = a.get("empty_logs"))
        hive.logs.empty_files = LineAttrs::yes(n, "empty_logs", *e);
    if (hive.logs.format == RegLogFormat::none && (hive.logs.dirty || hive.logs.torn || hive.logs.empty_files))
        fail(n, "log= names the log format first");
}

// The hive's lines: the base's keys and values, then the log entries.
void hive_lines(const Node &n, RegHive &hive, bool folded)
{
    for (const Node &c : n.children) {
        if (c.keyword == "entry")
            entry_line(c, hive);
        else if (!hive.logs.entries.empty() && (c.keyword == "key" || c.keyword == "value"))
            fail(c, "the base's lines come before the log entries");
        else if (c.keyword == "key")
            key_line(c, hive.root, false);
        else if (c.keyword == "value")
            value_line(c, hive.root);
        else
            fail(c, "unknown keyword inside " + n.keyword);
    }
    const std::string error = regf_log_error(hive);
    if (!error.empty())
        fail(n, error);
    if (folded && hive.logs.format == RegLogFormat::none)
        fail(n, "folded= needs the logs that log= names");
    if (folded) {
        std::optional<RegHive> last = final_state(hive);
        if (!last)
            fail(n, "a dirty hive that no log recovers cannot be folded");
        hive = std::move(*last);
    }
}

} // namespace

Windows parse_windows(const Node &n)
{
    if (n.args.size() != 1 || n.args[0].empty() || n.args[0][0] != '/')
        fail(n, "the absolute path of the Windows directory expected");
    LineAttrs(n).finish();
    Windows w = Windows::with_defaults(n.args[0]);
    for (const Node &c : n.children) {
        if (c.keyword == "hive") {
            static const char *const names[] = {"SYSTEM", "SOFTWARE", "SECURITY", "SAM", "DEFAULT"};
            if (c.args.size() != 1 || std::none_of(std::begin(names), std::end(names),
                                                   [&](const char *s) { return c.args[0] == s; }))
                fail(c, "one of SYSTEM, SOFTWARE, SECURITY, SAM, DEFAULT expected");
            RegHive &hive = w.hive(c.args[0]);
            LineAttrs a(c);
            if (const std::string *v = a.get("version")) {
                if (*v != "1.3" && *v != "1.5")
                    fail(c, "version 1.3 or 1.5 expected");
                hive.minor = *v == "1.3" ? 3 : 5;
            }
            log_attributes(c, a, hive);
            const bool folded = a.flag("folded");
            a.finish();
            hive_lines(c, hive, folded);
        } else if (c.keyword == "profile") {
            if (c.args.size() != 1)
                fail(c, "the user's security identifier expected");
            RegProfile p;
            p.sid = c.args[0];
            LineAttrs a(c);
            const std::string *path = a.get("path");
            if (!path)
                fail(c, "path= is required");
            p.image_path = *path;
            log_attributes(c, a, p.hive);
            const bool folded = a.flag("folded");
            a.finish();
            p.hive.file_name = u"NTUSER.DAT";
            p.hive.root.child(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
            hive_lines(c, p.hive, folded);
            w.profiles.push_back(std::move(p));
        } else {
            fail(c, "unknown keyword inside windows");
        }
    }
    return w;
}

} // namespace simcomputer
