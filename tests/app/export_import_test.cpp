// Export and import over simulated modules: the module opened by the access
// layer as at start-up, the export page driven through its slots, boxes
// answered by the scripted responder, and the module's database,
// configuration and blocks read back byte for byte and as orva-sim and
// orva-ic decode them.
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_initialization.h"
#include "pages/export_page.h"
#include "registry/registry_tree_widget.h"
#include "support/check_computer.h"
#include "support/scripted_responder.h"
#include "support/sim_module.h"

#include <ic/fs/fs_medium.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/ic_data_area.h>
#include <ic/qt/orva_fun_fs.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using master = export_import_master;

constexpr int kAllKinds = master::DB_USERS | master::DB_ICL_FS | master::DB_ICL_HD | master::DB_ICL_HW;
const QStringList kFiles = {"base-db.bin", "config-db.bin", "fs.bin", "hd.bin", "hw.bin"};

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

// Opens the module as start-up does.
bool open_module(const sim_module &module)
{
    qputenv("ORVA_SIM_DIR", module.dir().toLocal8Bit());
    return orva_initialization::object()->init() == 0;
}

void close_module()
{
    orva_fun_db::object()->close_db();
    orva_initialization::object()->exit();
}

// What export and import move.
struct module_data {
    QByteArray db, conf, hw, hd, fs;
    bool operator==(const module_data &o) const
    {
        return db == o.db && conf == o.conf && hw == o.hw && hd == o.hd && fs == o.fs;
    }
};

module_data read_data()
{
    module_data d;
    d.db.resize(ORVA_DB_IMAGE_SIZE);
    d.conf.resize(ORVA_CONF_SIZE);
    if (orva_read_db(handle(), d.db.data(), ORVA_DB_IMAGE_SIZE) != ORVA_OK)
        d.db.clear();
    if (orva_db_conf_get(handle(), d.conf.data()) != ORVA_OK)
        d.conf.clear();
    d.hw = master::read_raw_icl_block_from_device(master::BLOCK_HW);
    d.hd = master::read_raw_icl_block_from_device(master::BLOCK_HD);
    d.fs = master::read_raw_icl_block_from_device(master::BLOCK_FS);
    return d;
}

// Module A: a user of its own, its own configuration and three blocks.
bool fill_source(const sim_module &module)
{
    if (!module.init_formatted() ||
        !module.sim({"enroll", "IVAN", "--group", "EVERYONE", "--id", "010203040506", "--password", "secret"}) ||
        !module.sim({"config", "--tm-timeout", "33", "--page", "4", "--bad-count", "7"}) || !open_module(module))
        return false;
    ic_data_area area(handle());
    const QByteArray hw(300, 'h');
    const QByteArray hd(15352, 'd'); // the largest payload
    const bool ok = area.save_hw_hd_block_to_device(hw.constData(), uint32_t(hw.size()), ic_data_area::HW_BLOCK) == 0 &&
                    area.save_hw_hd_block_to_device(hd.constData(), uint32_t(hd.size()), ic_data_area::HD_BLOCK) == 0 &&
                    area.save_compressed_block(ic_data_area::FS_BLOCK, QByteArray(5000, 'i'), QByteArray(7000, 'f'),
                                               ic_data_area::kMaxFsBlock) == 0;
    close_module();
    return ok;
}

void check_all(export_page &page, bool checked = true)
{
    for (const char *name : {"checkBox_users", "checkBox_fs", "checkBox_hd", "checkBox_hw"})
        page.findChild<QCheckBox *>(QLatin1String(name))->setChecked(checked);
}

QStringList files_in(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

QString users_table(const sim_module &module)
{
    QString out;
    module.sim({"users"}, &out);
    return out;
}

// The module as the tools show it: the records and the configuration by
// orva-sim, every block decoded by orva-ic (empty when a tool fails).
QString decoded(const sim_module &module)
{
    QString config;
    if (!module.sim({"config"}, &config))
        return QString();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVA_SIM_DIR"), module.dir());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVA_IC_PATH), {QStringLiteral("module"), QStringLiteral("show"), QStringLiteral("--json")});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString();
    return users_table(module) + config + QString::fromUtf8(p.readAllStandardOutput());
}

// Mount points under `root`.
QStringList mounts_under(const QString &root)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    QStringList found;
    if (!mounts.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QString target = QString::fromLocal8Bit(line.split(' ').value(1));
        if (target.startsWith(root))
            found << target;
    }
    return found;
}

// The mount at dir, as /proc/self/mountinfo has it: its own flags ("ro" or
// "rw" first) and those of its file-system instance; empty when none.
struct mount_mode {
    QString own;
    QString instance;
};

// The registry's mount and the export's, at one moment.
struct mount_modes {
    mount_mode registry;
    mount_mode exchange;
};

mount_mode mode_of(const QString &dir)
{
    QFile info(QStringLiteral("/proc/self/mountinfo"));
    if (!info.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : info.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 5 && dash > 5 && dash + 3 < fields.size() && QString::fromLocal8Bit(fields[4]) == dir)
            return {QString::fromLatin1(fields[5].split(',').first()),
                    QString::fromLatin1(fields[dash + 3].split(',').first())};
    }
    return {};
}

} // namespace

class export_import_test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void export_then_import_into_a_second_module();
    void refused_imports_change_nothing();
    void export_refusals();
    void usb_medium_missing_or_unmountable();
    void usb_medium_round_trip();
    void directory_on_an_ext_volume_round_trip();
    void export_beside_a_read_only_registry_mount();

private:
    // The exchange directory on an ext partition as the storage.
    void use_storage(export_page &page)
    {
        page.set_exchange_dir(QStringLiteral("ext4"), m_work.filePath(QStringLiteral("usb")),
                              QStringLiteral("exchange"));
    }

    std::unique_ptr<QTemporaryDir> m_dir; // fetch directory and storage
    QDir m_work;
    QString m_storage;
};

void export_import_test::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_work.setPath(m_dir->path());
    universal_storage::set_fetch_directory(m_work.filePath(QStringLiteral("tmp")) + QLatin1Char('/'));
    QVERIFY(m_work.mkpath(QStringLiteral("tmp")));
    QVERIFY(m_work.mkpath(QStringLiteral("usb/exchange")));
    m_storage = m_work.filePath(QStringLiteral("usb/exchange"));
}

void export_import_test::cleanup()
{
    qunsetenv("ORVA_SYSROOT");
    if (orva_initialization::object()->initialised())
        close_module();
    // Work files never stay behind.
    const QStringList left = files_in(m_work.filePath(QStringLiteral("tmp")));
    m_dir.reset();
    QCOMPARE(left, QStringList());
}

void export_import_test::export_then_import_into_a_second_module()
{
    scripted_responder responder;
    sim_module a;
    QVERIFY(fill_source(a));
    sim_module b;
    QVERIFY(b.init_formatted());

    QVERIFY(open_module(a));
    const module_data source = read_data();
    QCOMPARE(source.hd.size(), 15360);
    export_page out;
    out.set_rights(db_record::ACCESS_ALL);
    use_storage(out);
    check_all(out);
    out.exportData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Данные успешно экспортированы."));
    QCOMPARE(files_in(m_storage), QStringList({"base-db.bin", "config-db.bin", "fs.bin", "hd.bin", "hw.bin"}));
    QCOMPARE(QFileInfo(m_storage + "/base-db.bin").size(), ORVA_DB_IMAGE_SIZE);
    QCOMPARE(QFileInfo(m_storage + "/config-db.bin").size(), ORVA_CONF_SIZE);
    QCOMPARE(QFileInfo(m_storage + "/hw.bin").size(), 308);
    QCOMPARE(QFileInfo(m_storage + "/fs.bin").size(), source.fs.size());
    close_module();

    QVERIFY(open_module(b));
    QVERIFY(!(read_data() == source));
    export_page in;
    in.set_rights(db_record::ACCESS_ALL);
    in.set_exchange_dir(QStringLiteral("vfat"), m_work.filePath(QStringLiteral("usb")), QStringLiteral("exchange"));
    in.master().set_selection(kAllKinds);
    QCOMPARE(in.master().import_data(), master::IMPORT_DONE);
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Данные успешно импортированы."));
    QVERIFY(!orva_fun_db::object()->is_db_open());
    const module_data imported = read_data();
    QCOMPARE(imported.db, source.db);
    QCOMPARE(imported.conf, source.conf);
    QCOMPARE(imported.hw, source.hw);
    QCOMPARE(imported.hd, source.hd);
    QCOMPARE(imported.fs, source.fs);
    close_module();
    // The tools see the same accounts, configuration and blocks in both.
    QVERIFY(users_table(a).contains(QStringLiteral("IVAN")));
    QVERIFY(!decoded(a).isEmpty());
    QCOMPARE(decoded(b), decoded(a));
}

void export_import_test::refused_imports_change_nothing()
{
    scripted_responder responder;
    sim_module a;
    QVERIFY(fill_source(a));
    sim_module b;
    QVERIFY(b.init_formatted());
    QVERIFY(open_module(a));
    export_page out;
    out.set_rights(db_record::ACCESS_ALL);
    use_storage(out);
    check_all(out);
    out.exportData();
    close_module();
    QDir exported(m_storage);
    QVERIFY(QFile::copy(m_storage + "/hd.bin", m_work.filePath("hd.keep")));

    struct refusal {
        const char *what;
        int kind;
        const char *file;
        int size_change; // 0: file removed
        const char *title;
    };
    const refusal cases[] = {
        {"database one byte short", master::DB_USERS, "base-db.bin", -1, "Импорт базы данных пользователей"},
        {"configuration missing", master::DB_USERS, "config-db.bin", 0, "Импорт базы данных пользователей"},
        {"hardware missing", master::DB_ICL_HW, "hw.bin", 0, "Импорт списка контроля аппаратуры"},
        {"files block cut", master::DB_ICL_FS, "fs.bin", -1, "Импорт списка контроля аппаратуры"},
        {"disks block one byte long", master::DB_ICL_HD, "hd.bin", 1, "Импорт списка контроля аппаратуры"},
    };
    QVERIFY(open_module(b));
    const module_data before = read_data();
    for (const refusal &c : cases) {
        const QString path = m_storage + QLatin1Char('/') + QLatin1String(c.file);
        QFile file(path);
        if (c.size_change == 0) {
            QVERIFY(file.remove());
        } else {
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(file.size() + c.size_change));
            file.close();
        }
        export_page in;
        in.set_rights(db_record::ACCESS_ALL);
        use_storage(in);
        in.master().set_selection(c.kind);
        const int boxes = responder.boxes().size();
        QCOMPARE(in.master().import_data(), master::IMPORT_NOTHING_WRITTEN);
        QCOMPARE(responder.boxes().size(), boxes + 1);
        QCOMPARE(responder.boxes().last().title, QString::fromUtf8(c.title));
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Ошибка сохранения базы данных в устройство."));
        QVERIFY2(read_data() == before, c.what);
    }
    // A failed kind does not stop the next one.
    QVERIFY(QFile::remove(m_storage + "/hd.bin"));
    QVERIFY(QFile::copy(m_work.filePath("hd.keep"), m_storage + "/hd.bin"));
    export_page in;
    in.set_rights(db_record::ACCESS_ALL);
    use_storage(in);
    in.master().set_selection(master::DB_ICL_HW | master::DB_ICL_HD);
    QCOMPARE(in.master().import_data(), master::IMPORT_PARTIAL);
    QCOMPARE(read_data().hd.size(), 15360);
    QCOMPARE(read_data().hw, before.hw);
}

void export_import_test::export_refusals()
{
    scripted_responder responder;
    sim_module b;
    QVERIFY(b.init_formatted());
    QVERIFY(open_module(b));
    export_page page;
    page.set_rights(db_record::ACCESS_ALL);

    // No storage yet.
    check_all(page);
    page.exportData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Необходимо установить каталог экспорта."));
    page.importData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Необходимо установить каталог импорта."));

    // Only FAT and ext partitions.
    for (const char *type : {"ntfs", "iso9660"}) {
        page.set_exchange_dir(QLatin1String(type), m_work.filePath(QStringLiteral("usb")), QStringLiteral("exchange"));
        QCOMPARE(responder.boxes().last().text,
                 QStringLiteral("Необходимо использовать раздел с файловой системой FATxx/ExtX."));
        QVERIFY(!page.master().is_storage_set());
    }
    page.set_exchange_dir(QStringLiteral("ext3"), m_work.filePath(QStringLiteral("usb")), QStringLiteral("exchange"));
    QCOMPARE(page.master().storage().storage_path(), m_storage + QLatin1Char('/'));

    // Nothing checked: no files, success all the same.
    check_all(page, false);
    page.exportData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Данные успешно экспортированы."));
    QCOMPARE(files_in(m_storage), QStringList());

    // A module without a hardware block: warned, no file.
    page.findChild<QCheckBox *>(QStringLiteral("checkBox_hw"))->setChecked(true);
    page.exportData();
    QCOMPARE(responder.boxes().at(responder.boxes().size() - 2).text,
             QStringLiteral("Не удалось экспортировать базу контроля аппаратуры."));
    QCOMPARE(files_in(m_storage), QStringList());

    // A storage that cannot take the files is no success.
    QVERIFY(QDir(m_storage).removeRecursively());
    page.master().set_selection(master::DB_USERS);
    QVERIFY(!page.master().export_data());
    QCOMPARE(responder.boxes().last().title, QStringLiteral("Ошибка экспорта базы"));
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Не удалось записать файл base-db.bin."));
}

void export_import_test::usb_medium_missing_or_unmountable()
{
    scripted_responder responder;
    sim_module b;
    QVERIFY(b.init_formatted());
    QVERIFY(open_module(b));
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("mnt")));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("dev/disk/by-label")));
    qputenv("ORVA_SYSROOT", root.path().toLocal8Bit());

    export_page page;

    page.set_rights(db_record::ACCESS_ALL);
    QSignalSpy directory(&page, &export_page::directory_choice_enabled);
    page.choose_storage(export_page::STORAGE_DISK);
    QCOMPARE(directory.size(), 1);
    QCOMPARE(directory.takeLast().at(0).toBool(), true);

    // No medium labelled ORVA, then one that holds no FAT or ext file system.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) {
            QFile node(root.filePath(QStringLiteral("dev/sdz1")));
            QVERIFY(node.open(QIODevice::WriteOnly));
            node.write(QByteArray(1 << 20, '\0'));
            node.close();
            QVERIFY(QFile::link(QStringLiteral("../../sdz1"), root.filePath(QStringLiteral("dev/disk/by-label/ORVA"))));
        }
        page.choose_storage(export_page::STORAGE_USB);
        QCOMPARE(responder.boxes().last().title, QStringLiteral("Экспорт/импорт"));
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Не удалось найти USB носитель."));
        QVERIFY(!page.master().is_storage_set());
        QCOMPARE(mounts_under(root.path()), QStringList());
    }
    page.exportData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Необходимо установить каталог экспорта."));
    qunsetenv("ORVA_SYSROOT");
}

void export_import_test::usb_medium_round_trip()
{
    if (geteuid() != 0)
        QSKIP("needs root: a FAT medium on a loop device is mounted");
    scripted_responder responder;
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("mnt")));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("dev/disk/by-label")));
    const QString image = m_work.filePath(QStringLiteral("medium.img"));
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(8 << 20));
    }
    // ext2: this kernel may have no FAT driver.
    QCOMPARE(QProcess::execute(QStringLiteral("mkfs.ext2"), {"-q", "-F", "-L", "ORVA", image}), 0);
    QProcess losetup;
    losetup.start(QStringLiteral("losetup"), {"--find", "--show", image});
    QVERIFY(losetup.waitForFinished() && losetup.exitCode() == 0);
    const QString loop = QString::fromLatin1(losetup.readAllStandardOutput()).trimmed();
    struct detach {
        QString device;
        ~detach() { QProcess::execute(QStringLiteral("losetup"), {"-d", device}); }
    } detach_guard{loop};
    struct stat st;
    QVERIFY(stat(loop.toLocal8Bit().constData(), &st) == 0);
    QVERIFY(mknod(root.filePath(QStringLiteral("dev/sdz1")).toLocal8Bit().constData(), S_IFBLK | 0600, st.st_rdev) == 0);
    QVERIFY(QFile::link(QStringLiteral("../../sdz1"), root.filePath(QStringLiteral("dev/disk/by-label/ORVA"))));
    qputenv("ORVA_SYSROOT", root.path().toLocal8Bit());

    sim_module a;
    QVERIFY(fill_source(a));
    sim_module b;
    QVERIFY(b.init_formatted());

    QVERIFY(open_module(a));
    const module_data source = read_data();
    export_page out;
    out.set_rights(db_record::ACCESS_ALL);
    QSignalSpy directory(&out, &export_page::directory_choice_enabled);
    out.choose_storage(export_page::STORAGE_USB);
    QCOMPARE(directory.size(), 1);
    QCOMPARE(directory.takeLast().at(0).toBool(), false);
    QVERIFY(out.master().is_storage_set());
    QCOMPARE(out.master().storage().storage_path(), root.filePath(QStringLiteral("mnt/orva/")));
    QCOMPARE(mounts_under(root.path()), QStringList());
    check_all(out);
    out.exportData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Данные успешно экспортированы."));
    QCOMPARE(mounts_under(root.path()), QStringList());
    close_module();

    // The files are on the medium.
    QCOMPARE(fs_medium_mount("/dev/disk/by-label/ORVA", "/mnt/orva", 0), 0);
    const QStringList on_medium = files_in(root.filePath(QStringLiteral("mnt/orva")));
    struct statvfs mounted;
    QCOMPARE(statvfs(root.filePath(QStringLiteral("mnt/orva")).toLocal8Bit().constData(), &mounted), 0);
    const unsigned long flags = ST_RDONLY | ST_NODEV | ST_NOSUID | ST_NOEXEC | ST_NOATIME;
    QCOMPARE(mounted.f_flag & flags, flags);
    QCOMPARE(fs_medium_unmount("/mnt/orva"), 0);
    QCOMPARE(on_medium, kFiles);

    QVERIFY(open_module(b));
    export_page in;
    in.set_rights(db_record::ACCESS_ALL);
    in.choose_storage(export_page::STORAGE_USB);
    in.master().set_selection(kAllKinds);
    QCOMPARE(in.master().import_data(), master::IMPORT_DONE);
    QCOMPARE(mounts_under(root.path()), QStringList());
    QVERIFY(read_data() == source);
    close_module();

    // A medium taken away after it was chosen: said so, nothing mounted.
    QVERIFY(QFile::remove(root.filePath(QStringLiteral("dev/sdz1"))));
    QVERIFY(open_module(b));
    out.exportData();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Не удалось найти USB носитель."));
    QCOMPARE(mounts_under(root.path()), QStringList());
    qunsetenv("ORVA_SYSROOT");
}

void export_import_test::directory_on_an_ext_volume_round_trip()
{
    if (geteuid() != 0)
        QSKIP("needs root: the exchange volume is a loop device mounted read-write");
    scripted_responder responder;
    const QString uuid = QStringLiteral("6f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9");
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline),
                           QStringLiteral("disk sdb size=16M controller=0000:00:1f.2 vendor=ATA model=EXCHANGE "
                                          "serial=X0001\n"
                                          "  part 1 start=1M size=12M\n"
                                          "    fs ext4 uuid=%1\n"
                                          "      file /etc/hosts content=\"127.0.0.1 localhost\"\n"
                                          "      dir /exchange\n")
                               .arg(uuid)));
    QVERIFY(computer.attach_loops({QStringLiteral("sdb1")}));

    // Module A holds this computer's hardware, disks and one file as the
    // reference, besides an account and a configuration of its own.
    sim_module a;
    QVERIFY(a.init_formatted());
    QVERIFY(a.sim({"enroll", "IVAN", "--group", "EVERYONE", "--id", "010203040506", "--password", "secret"}));
    QVERIFY(a.sim({"config", "--tm-timeout", "33", "--page", "4", "--bad-count", "7"}));
    QVERIFY(open_module(a));
    QVERIFY(approve_hardware(handle()));
    QVERIFY(approve_disks(handle()));
    QVERIFY(approve_files(handle(), uuid, {QStringLiteral("/etc/hosts")}));
    const module_data source = read_data();
    QVERIFY(!source.hw.isEmpty() && !source.hd.isEmpty() && !source.fs.isEmpty());

    // The page holds the volume mounted while it is the storage; the
    // export writes through a read-write mount of its own.
    orva_fun_fs *fs = orva_fun_fs::object();
    QVERIFY(fs);
    fs_volume *volume = find_volume_by_volume_id(fs->disk_list(), uuid);
    QVERIFY(volume);
    exchange_dir place;
    place.volume = volume;
    place.path = QStringLiteral("/exchange");
    QString base;
    {
        export_page out;
        out.set_rights(db_record::ACCESS_ALL);
        out.set_exchange_dir(place);
        QVERIFY(out.master().is_storage_set());
        QCOMPARE(volume->mount_count, 1);
        base = QString::fromUtf8(fs->disk_list()->base_dir);
        QCOMPARE(out.master().storage().storage_path(), QString::fromUtf8(volume->mount_dir) + "/exchange/");
        check_all(out);
        out.exportData();
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Данные успешно экспортированы."));
        QCOMPARE(volume->rw_mount_count, 0);
    }
    close_module();
    QCOMPARE(volume->mount_count, 0);
    QCOMPARE(mounts_under(base), QStringList());
    QVERIFY(!QFileInfo::exists(base));

    // Module B gets them from the volume, mounted again as the page mounts it.
    sim_module b;
    QVERIFY(b.init_formatted());
    const QString before = decoded(b);
    QVERIFY(open_module(b));
    {
        export_page in;
        in.set_rights(db_record::ACCESS_ALL);
        in.set_exchange_dir(place);
        QCOMPARE(files_in(in.master().storage().storage_path()), kFiles);
        in.master().set_selection(kAllKinds);
        QCOMPARE(in.master().import_data(), master::IMPORT_DONE);
        QVERIFY(read_data() == source);
    }
    close_module();
    fs->umount_disks();
    QCOMPARE(mounts_under(base), QStringList());

    const QString imported = decoded(b);
    QCOMPARE(imported.count(QStringLiteral("\"parsed\": true")), 2); // hardware and disks
    QVERIFY(imported.contains(QStringLiteral("\"/etc/hosts\"")));
    QVERIFY(imported != before);
    QCOMPARE(imported, decoded(a));
}

void export_import_test::export_beside_a_read_only_registry_mount()
{
    if (geteuid() != 0)
        QSKIP("needs root: the Windows volume is a loop device mounted read-only and read-write");
    scripted_responder responder;
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), windows_ext4_disk()));
    QVERIFY(computer.attach_loops({QStringLiteral("sdb1")}));
    sim_module a;
    QVERIFY(a.init_formatted());
    QVERIFY(open_module(a));
    QVERIFY(approve_registry(handle(), QLatin1String(kWindowsExtUuid), QStringLiteral("/Windows"),
                             {QLatin1String(kSoftwareRun)}));
    orva_fun_fs *fs = orva_fun_fs::object();
    fs_volume *volume = find_volume_by_volume_id(fs->disk_list(), QLatin1String(kWindowsExtUuid));
    QVERIFY(volume);
    exchange_dir windows;
    windows.volume = volume;
    windows.disk = disk_id_by_volume(volume);
    windows.part_id = part_id_by_volume(volume);
    windows.path = QStringLiteral("/Windows");
    QStringList exported;
    {
        // The registry page shows the Windows directory, mounted read-only.
        registryTreeWidget registry;
        registry.set_module(handle());
        QCOMPARE(registry.build_registry_tree(windows), 0);
        const QString registry_mount = QString::fromUtf8(volume->mount_dir);
        QCOMPARE(mode_of(registry_mount).own, QStringLiteral("ro"));

        // The export page takes the volume's root: the same mount, a clean path.
        export_page page;
        page.set_rights(db_record::ACCESS_ALL);
        exchange_dir root = windows;
        root.path = QStringLiteral("/");
        page.set_exchange_dir(root);
        QCOMPARE(volume->mount_count, 2);
        QCOMPARE(page.master().storage().storage_path(), registry_mount + QLatin1Char('/'));

        // The missing hardware list is said while the export runs: then the
        // export writes through a read-write mount of its own and the
        // registry's stays read-only.
        mount_modes during;
        QString storage_during;
        responder.on_box = [&](const message::box_request &box) {
            if (box.text != QStringLiteral("Не удалось экспортировать базу контроля аппаратуры."))
                return;
            during = {mode_of(registry_mount), volume->rw_mount_dir ? mode_of(QString::fromUtf8(volume->rw_mount_dir))
                                                                   : mount_mode()};
            storage_during = page.master().storage().storage_path();
        };
        for (const char *name : {"checkBox_users", "checkBox_hw"})
            page.findChild<QCheckBox *>(QLatin1String(name))->setChecked(true);
        page.exportData();
        responder.on_box = nullptr;
        QCOMPARE(during.registry.own, QStringLiteral("ro"));
        QCOMPARE(during.exchange.own, QStringLiteral("rw"));
        QVERIFY(storage_during.endsWith(QStringLiteral(".rw/")));
        QVERIFY(!storage_during.contains(QStringLiteral("//")));

        // Afterwards the read-write mount is gone and the registry's mount
        // and its instance are read-only.
        QCOMPARE(volume->rw_mount_count, 0);
        QCOMPARE(mode_of(registry_mount).own, QStringLiteral("ro"));
        QCOMPARE(mode_of(registry_mount).instance, QStringLiteral("ro"));
        QCOMPARE(page.master().storage().storage_path(), registry_mount + QLatin1Char('/'));
        QVERIFY(registry.find_item(QLatin1String(kSoftwareRun)));
    }
    // The files are on the volume, seen through a mount of its own.
    QCOMPARE(volume->mount_count, 0);
    const QString mount = fs->mount_volume(volume, false);
    QVERIFY(!mount.isEmpty());
    exported = files_in(mount);
    fs->umount_volume(volume);
    QCOMPARE(exported, QStringList({"base-db.bin", "config-db.bin"}));
}

QTEST_MAIN(export_import_test)
#include "export_import_test.moc"
