// The files section of the boot check with one and with several workers
// (ORVA_IC_WORKERS): the same report, the same file-check records and the
// same check results, byte for byte, on a volume whose controlled files
// changed, appeared, went, cannot be read or vanish while they are checked,
// and where a FIFO stands in place of a file (file_faults.h makes the
// entries misbehave).
#include "check/boot_check.h"
#include "check/check_sink.h"
#include "file_faults.h"

#include <ic/fs/fs_ocl.h>
#include <ic/fs/fs_ocl_check.h>
#include <ic/fs/fs_ocl_ptr.h>

#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

namespace stdfs = std::filesystem;

struct recording_sink final : check_sink {
    QStringList fragments;
    QStringList records;

    void info(const QString &fragment) override { fragments << fragment; }
    void log_record(uint32_t type, uint32_t result, const void *, const QString &text) override
    {
        records << QStringLiteral("log %1 %2 %3").arg(type).arg(result).arg(text);
    }
    void file_record(const QString &path, uint32_t check_flags) override
    {
        records << QStringLiteral("%1 %2").arg(path).arg(check_flags);
    }
};

// Files are read and hashed by ORVA_IC_WORKERS threads for the scope.
struct workers {
    explicit workers(int n) { qputenv("ORVA_IC_WORKERS", QByteArray::number(n)); }
    ~workers() { qunsetenv("ORVA_IC_WORKERS"); }
};

constexpr time_t kTime = 1600000000;

void set_time(const std::string &path)
{
    const timespec times[2] = {{kTime, 0}, {kTime, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void write(const std::string &path, const std::string &data)
{
    stdfs::create_directories(stdfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    set_time(path);
}

std::string random_bytes(std::mt19937 &rng, size_t n)
{
    std::string s(n, '\0');
    for (char &c : s)
        c = char(rng());
    return s;
}

// The volume as the list is taken: file objects under /files, a per-file
// directory /each, directories with one hash each (/hash_*).
void build(const std::string &r)
{
    std::mt19937 rng(24);
    for (const char *name : {"same.bin", "changed.bin", "grown.txt", "gone.txt", "fifo", "unreadable", "vanishing",
                             "attrs.txt"})
        write(r + "/files/" + name, random_bytes(rng, rng() % 300000));
    stdfs::create_symlink("same.bin", r + "/files/link");
    set_time(r + "/files/link");
    for (int d = 0; d < 3; ++d)
        for (int f = 0; f < 30; ++f)
            write(r + "/each/d" + std::to_string(d) + "/f" + std::to_string(f) + ".bin",
                  random_bytes(rng, rng() % 400000));
    for (const char *name : {"d0/gone.bin", "d1/unreadable", "d1/vanishing", "d2/fifo", "d2/vanishing/inner",
                             "old/kept.bin"})
        write(r + "/each/" + name, random_bytes(rng, 1000));
    for (const char *dir : {"hash_ok", "hash_changed", "hash_unreadable"})
        for (int f = 0; f < 20; ++f)
            write(r + "/" + dir + "/s" + std::to_string(f % 3) + "/f" + std::to_string(f),
                  random_bytes(rng, rng() % 300000));
    write(r + "/hash_unreadable/s1/unreadable", "u");
    // A file that cannot be read, then a directory that cannot be opened:
    // the file, met first, decides.
    write(r + "/hash_order/a/slow_unreadable", "u");
    write(r + "/hash_order/b/broken/f", "f");
}

// What changed on the volume since the list was taken.
void change(const std::string &r)
{
    std::mt19937 rng(42);
    const auto size = [](const std::string &path) { return size_t(stdfs::file_size(path)); };
    write(r + "/files/changed.bin", random_bytes(rng, size(r + "/files/changed.bin")));
    write(r + "/files/grown.txt", random_bytes(rng, size(r + "/files/grown.txt") + 1));
    stdfs::remove(r + "/files/gone.txt");
    stdfs::remove(r + "/files/fifo");
    mkfifo((r + "/files/fifo").c_str(), 0644);
    chmod((r + "/files/attrs.txt").c_str(), 0600);
    write(r + "/each/d0/f3.bin", random_bytes(rng, size(r + "/each/d0/f3.bin")));
    write(r + "/each/d0/new.bin", "new");
    stdfs::remove(r + "/each/d0/gone.bin");
    stdfs::remove(r + "/each/d2/fifo");
    mkfifo((r + "/each/d2/fifo").c_str(), 0644);
    write(r + "/each/new/x/y.bin", "new");
    stdfs::remove_all(r + "/each/old");
    write(r + "/hash_changed/s2/f5", "changed");
}

// The list of the volume at r, with every kind of object.
ic_fs::ocl_ptr take_list(const std::string &r)
{
    fs_ocl *raw = nullptr;
    if (fs_ocl_create(&raw) != FS_OCL_OK)
        return nullptr;
    ic_fs::ocl_ptr list(raw);
    const char *root = r.c_str();
    bool ok = true;
    for (const char *f : {"/files/same.bin", "/files/changed.bin", "/files/grown.txt", "/files/gone.txt",
                          "/files/fifo", "/files/unreadable", "/files/vanishing", "/files/link"})
        ok = ok && fs_ocl_add_file(raw, root, f, FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS, nullptr) == FS_OCL_OK;
    ok = ok && fs_ocl_add_file(raw, root, "/files/attrs.txt", FS_OCL_CONTROL_ATTRS, nullptr) == FS_OCL_OK;
    ok = ok && fs_ocl_add_dir(raw, root, "/each", nullptr, 15, nullptr) == FS_OCL_OK;
    for (const char *d : {"/hash_ok", "/hash_changed", "/hash_unreadable", "/hash_order"})
        ok = ok && fs_ocl_add_dir(raw, root, d, nullptr, 14, nullptr) == FS_OCL_OK;
    return ok ? std::move(list) : nullptr;
}

QByteArray image_of(const fs_ocl *list)
{
    uint8_t *data = nullptr;
    uint32_t size = 0;
    if (fs_ocl_write_to_mem(list, &data, &size) != FS_OCL_OK)
        return QByteArray();
    const QByteArray image(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    std::free(data);
    return image;
}

// One run on a volume built afresh: the list's image, then the report,
// the records and the results of its check after the changes.
struct run {
    QByteArray image;
    QStringList report;
    QStringList records;
    QStringList results; // "path flags", items joined to their object's path
};

run check_with(int n)
{
    const workers w(n);
    run out;
    QTemporaryDir tmp;
    const std::string r = QFile::encodeName(tmp.path()).toStdString() + "/volume";
    stdfs::create_directory(QFile::encodeName(tmp.path()).toStdString() + "/elsewhere");
    build(r);
    const ic_fs::ocl_ptr list = take_list(r);
    if (!list)
        return out;
    out.image = image_of(list.get());
    change(r);
    fs_ocl_check_info *raw = nullptr;
    file_faults::arm(QFile::encodeName(tmp.path()).toStdString() + "/elsewhere");
    const int rc = fs_ocl_check_info_create(list.get(), r.c_str(), &raw);
    file_faults::disarm();
    if (rc != FS_OCL_OK) {
        out.results << QStringLiteral("check failed: %1").arg(rc);
        return out;
    }
    const ic_fs::ocl_check_ptr check(raw);
    recording_sink sink;
    boot_check::report_volume_files(sink, list.get(), check.get());
    out.report = sink.fragments;
    out.records = sink.records;
    for (const fs_ocl_check_object *o = fs_ocl_check_first_object(raw); o; o = fs_ocl_check_next_object(raw, o)) {
        const QString path = QString::fromUtf8(o->object->path);
        if (o->variant == FS_OCL_CHECK_FILE)
            out.results << QStringLiteral("%1 %2").arg(path).arg(reinterpret_cast<const fs_ocl_check_file *>(o)->flags);
        for (const fs_ocl_check_dir_item *i = fs_ocl_check_first_dir_item(o); i; i = fs_ocl_check_next_dir_item(i))
            out.results << QStringLiteral("%1%2 %3").arg(path, QString::fromUtf8(i->path)).arg(i->flags);
    }
    return out;
}

} // namespace

class files_workers_test : public QObject {
    Q_OBJECT

private slots:
    void same_on_every_number_of_workers();
};

void files_workers_test::same_on_every_number_of_workers()
{
    const run one = check_with(1);
    QVERIFY(!one.image.isEmpty());
    const QStringList expected{
        QStringLiteral("/each/d0/f3.bin 4"),
        QStringLiteral("/each/d0/gone.bin 2"),
        QStringLiteral("/each/d0/new.bin 1"),
        QStringLiteral("/each/d1/unreadable 4"),
        QStringLiteral("/each/d1/vanishing 2"),
        QStringLiteral("/each/d2/vanishing/ 512"),
        QStringLiteral("/each/d2/fifo 2"),
        QStringLiteral("/each/new/x/y.bin 1"),
        QStringLiteral("/each/old/ 512"),
        QStringLiteral("/files/attrs.txt 8"),
        QStringLiteral("/files/changed.bin 4"),
        QStringLiteral("/files/fifo 2"),
        QStringLiteral("/files/gone.txt 2"),
        QStringLiteral("/files/grown.txt 68"),
        QStringLiteral("/files/unreadable 4"),
        QStringLiteral("/files/vanishing 2"),
        QStringLiteral("/hash_changed/ 256"),
        QStringLiteral("/hash_order/ 256"),
        QStringLiteral("/hash_unreadable/ 256"),
    };
    QCOMPARE(one.results, expected);
    QCOMPARE(one.records.size(), expected.size());
    for (int n : {2, 4}) {
        const run many = check_with(n);
        QVERIFY2(many.image == one.image, qPrintable(QStringLiteral("the list taken with %1 workers").arg(n)));
        QCOMPARE(many.report, one.report);
        QCOMPARE(many.records, one.records);
        QCOMPARE(many.results, one.results);
    }
}

QTEST_MAIN(files_workers_test)
#include "files_workers_test.moc"
