// Peers: on a tree changed in every way the result flags can express, the
// check reports the paths and attributes `aide --check` reports, and every
// recorded digest equals `rhash --gost94-cryptopro`.
#include "ocl_support.h"
#include "peers.h"

#include <set>
#include <sstream>

namespace {

using namespace ocltest;

constexpr time_t kThen = 1600000000;

// path -> "added", "removed" or the changed attributes in aide's names.
using Report = std::map<std::string, std::string>;

std::string attr_names(uint32_t flags)
{
    static const struct {
        uint32_t bits;
        const char *name;
    } names[] = {
        {FS_OCL_GID_CHANGED | FS_OCL_DIR_GID_CHANGED, "gid"},
        {FS_OCL_DATA_CHANGED, "gost"},
        {FS_OCL_MTIME_CHANGED, "modify_time"},
        {FS_OCL_MODE_CHANGED | FS_OCL_DIR_MODE_CHANGED, "perm"},
        {FS_OCL_SIZE_CHANGED, "size"},
        {FS_OCL_UID_CHANGED | FS_OCL_DIR_UID_CHANGED, "uid"},
    };
    std::string out;
    for (const auto &n : names)
        if (flags & n.bits)
            out += (out.empty() ? "" : ",") + std::string(n.name);
    return out;
}

Report ours(const Results &results)
{
    Report r;
    for (const auto &[key, flags] : results) {
        std::string path = key;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (flags & FS_OCL_NEW_FILE)
            r[path] = "added";
        else if (flags & (FS_OCL_FILE_MISSING | FS_OCL_DIR_MISSING))
            r[path] = "removed";
        else
            r[path] = attr_names(flags);
    }
    return r;
}

// aide's JSON report: new directories are left out (the check reports the
// new files in them) and so is everything below a removed directory.
Report theirs(const std::string &json, const std::string &root)
{
    simtest::TempDir tmp("ocl-aide-report");
    const std::string file = tmp / "report.json";
    write(file, json);
    int status;
    const std::string lines = simtest::run(
        "jq -r '(.added // {} | to_entries[] | \"added \\(.value[0:1]) \\(.key)\"), "
        "(.removed // {} | to_entries[] | \"removed \\(.value[0:1]) \\(.key)\"), "
        "(.details // {} | to_entries[] | \"changed \\(.value | keys | join(\",\")) \\(.key)\")' " + file,
        status);
    EXPECT_EQ(status, 0) << lines;
    std::map<std::string, std::pair<std::string, std::string>> entries;
    std::istringstream in(lines);
    std::string kind, what, path;
    while (in >> kind >> what >> path)
        entries[path.substr(root.size())] = {kind, what};
    Report r;
    for (const auto &[path, e] : entries) {
        if (e.first == "added" && e.second == "d")
            continue;
        const std::string parent = path.substr(0, path.rfind('/'));
        auto p = entries.find(parent);
        if (e.first == "removed" && p != entries.end() && p->second.first == "removed")
            continue;
        r[path] = e.first == "changed" ? e.second : e.first;
    }
    return r;
}

void collect_digests(const fs_ocl_dir_info &info, const std::string &dir, std::map<std::string, std::string> &out)
{
    for (int32_t i = 0; i < info.dir_count; ++i)
        collect_digests(info.dirs[i], dir + "/" + info.dir_names[i], out);
    for (int32_t i = 0; i < info.file_count; ++i)
        out[dir + "/" + info.file_names[i]] = hex(info.file_hashes[i], FS_OCL_HASH_SIZE);
}

TEST(OclPeers, SameChangesAsAideAndSameDigestsAsRhash)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing owners needs root";
    for (const char *peer : {"aide", "rhash", "jq"})
        if (!simtest::have(peer))
            GTEST_SKIP() << peer << " is not installed (scripts/setup.sh installs it)";

    simtest::TempDir tmp("ocl-peers");
    const std::string root = tmp / "root";
    // Three levels, files of several sizes around the block size.
    const size_t sizes[] = {0, 1, 31, 32, 33, 16383, 16384, 16385, 100000};
    int n = 0;
    for (const char *dir : {"/c1", "/c2", "/c3", "/c4", "/c4/s", "/c5/s/t", "/c5"})
        for (const char *name : {"a", "b", "c"}) {
            std::string data(sizes[n++ % 9], '\0');
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = char(i * 7 + n);
            write(root + dir + "/" + name, data);
        }
    for (const auto &e : std::filesystem::recursive_directory_iterator(root))
        set_mtime(e.path(), kThen);

    auto ocl = make_ocl();
    fs_ocl_object *o = nullptr;
    ASSERT_EQ(fs_ocl_add_dir(ocl.get(), root.c_str(), "/", nullptr, 15, &o), FS_OCL_OK);

    int status;
    const std::string rhash = simtest::run("cd " + root + " && rhash --gost94-cryptopro -r .", status);
    ASSERT_EQ(status, 0) << rhash;
    std::map<std::string, std::string> expected_digests, digests;
    std::istringstream rh(rhash);
    std::string digest, path;
    while (rh >> digest >> path)
        expected_digests["/" + path.substr(path.compare(0, 2, "./") == 0 ? 2 : 0)] = digest;
    collect_digests(reinterpret_cast<fs_ocl_dir *>(o)->info, "", digests);
    EXPECT_EQ(digests.size(), 21u);
    EXPECT_EQ(digests, expected_digests);

    const std::string conf = tmp / "aide.conf";
    write(conf, "database_in=file:" + tmp.path() + "/aide.db\n" + "database_out=file:" + tmp.path() +
                    "/aide.db.new\n" + "gzip_dbout=no\nreport_format=json\nreport_url=stdout\n" + root +
                    " f p+u+g+s+m+gost\n" + root + " d p+u+g\n");
    const std::string init = simtest::run("aide --init -c " + conf, status);
    ASSERT_EQ(status, 0) << init;
    std::filesystem::rename(tmp / "aide.db.new", tmp / "aide.db");

    auto keep_time = [&](const std::string &rel) { set_mtime(root + rel, kThen); };
    write(root + "/c1/a", std::string(sizes[0], 'x')), keep_time("/c1/a");        // empty: unchanged
    write(root + "/c1/c", std::string(31, 'x')), keep_time("/c1/c");              // content only
    ASSERT_EQ(chmod((root + "/c1/b").c_str(), 0600), 0);                          // mode
    ASSERT_EQ(lchown((root + "/c2/a").c_str(), 4242, -1), 0);                      // owner
    ASSERT_EQ(lchown((root + "/c2/b").c_str(), -1, 4343), 0);                      // group
    write(root + "/c2/c", "grown"), keep_time("/c2/c");                           // size and content
    set_mtime(root + "/c3/a", kThen + 60);                                        // time only
    write(root + "/c3/new", "new");                                               // new file
    std::filesystem::remove(root + "/c3/b");                                      // missing file
    write(root + "/n/x", "x"), write(root + "/n/y/z", "z");                       // new directories
    std::filesystem::create_directories(root + "/n/empty");
    std::filesystem::remove_all(root + "/c4");                                    // missing directory
    ASSERT_EQ(chmod((root + "/c5").c_str(), 0700), 0);                            // directory mode
    ASSERT_EQ(lchown((root + "/c5/s").c_str(), 4242, 4343), 0);                    // directory owners

    const std::string report = simtest::run("aide --check -c " + conf + " 2>/dev/null", status);
    const Report aide = theirs(report, root);
    const Report mine = ours(check(ocl.get(), root));
    EXPECT_EQ(mine, aide);
    EXPECT_EQ(mine.size(), 13u);
}

} // namespace
