// The files page on a simulated computer and module: approving files
// through the administration window, the boot-time check against what was
// saved, a changed file shown with its result and approved again, the block
// as orva-ic writes it, the flag dialog and the image form, removing
// entries, and saves that fail.
#include "admin/main_window.h"
#include "auth/auth_form.h"
#include "check/integrity_controller.h"
#include "files/add_vmdk_image_form.h"
#include "files/dir_cont_tree_view.h"
#include "files/disk_tree_model.h"
#include "files/disk_tree_view.h"
#include "files/files_page.h"
#include "files/fs_icl_flag_sel.h"
#include "files/icl_tree_model.h"
#include "files/icl_tree_view.h"
#include "ic/qt/ic_data_area.h"
#include "log/log_types.h"
#include "module/orva_initialization.h"
#include "support/check_computer.h"
#include "support/fault_injection.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <ic/fs/fs_icl.h>
#include <ic/fs/fs_icl_ptr.h>
#include <ic/fs/fs_ocl.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/orva_fun_fs.h>
#include <simcomputer/simcomputer.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <functional>

namespace {

const char kUuid[] = "5e2d1c0b-4a3f-4e8d-9c7b-6a5f4e3d2c1b";
const char kConfig[] = "alpha-config-v1";
const char kChanged[] = "omega-config-v2";

// A disk with the volume whose files are approved.
QString files_disk()
{
    return QStringLiteral("disk sdb size=64M controller=0000:00:1f.2 vendor=ATA model=FILEDISK serial=F0001\n"
                          "  part 1 start=1M size=48M\n"
                          "    fs ext4 uuid=%1\n"
                          "      file /etc/app.conf content=%2\n"
                          "      file /etc/motd content=welcome\n"
                          "      file /data/a.exe content=exe-alpha\n"
                          "      file /data/b.doc content=B\n"
                          "      file /data/sub/c.exe content=C\n")
        .arg(QLatin1String(kUuid), QLatin1String(kConfig));
}

enum { ATTACH, DETACH, ADD, REMOVE, SAVE, RECALC, TRANSFER };

fs_volume *volume_of(const char *uuid)
{
    orva_fun_fs *fs = orva_fun_fs::object();
    return fs ? find_volume_by_volume_id(fs->disk_list(), QString::fromLatin1(uuid)) : nullptr;
}

// The files block as stored (header and compressed data).
QByteArray fs_block(orva_handle_t handle)
{
    ic_data_area area(handle);
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> raw = area.read_raw_icl_block_from_device(&size, ic_data_area::FS_BLOCK);
    return raw ? QByteArray(reinterpret_cast<const char *>(raw.get()), static_cast<qsizetype>(size)) : QByteArray();
}

// The boot-time check as the program runs it, its data handed to the window.
bool run_check(MainWindow *w)
{
    IntegrityController controller(orva_initialization::object()->handle());
    QObject::connect(&controller, &IntegrityController::send_data, w, &MainWindow::send_data);
    bool passed = false;
    QObject::connect(&controller, &IntegrityController::finished, [&passed](bool p) { passed = p; });
    controller.start();
    QCoreApplication::processEvents();
    return passed;
}

// Drops local paths onto the check-list tree as a drag from the directory
// view would.
void drop(icl_tree_view *view, const QStringList &paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    // The drop goes to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &event);
}

// Runs `act` on the modal dialog of type D once it is on screen.
template <class D>
void when_shown(const std::function<void(D *)> &act, int attempts = 50)
{
    QTimer::singleShot(10, [act, attempts] {
        if (auto *d = qobject_cast<D *>(QApplication::activeModalWidget()))
            act(d);
        else if (attempts > 0)
            when_shown<D>(act, attempts - 1);
    });
}

// Answers the flag dialog: the check boxes to clear and the mask line.
void answer_flags(const QStringList &clear, const QString &masks = QString())
{
    when_shown<fs_icl_flag_sel>([clear, masks](fs_icl_flag_sel *d) {
        for (const QString &name : clear)
            d->findChild<QCheckBox *>(name)->setChecked(false);
        if (!masks.isNull())
            d->findChild<QLineEdit *>(QStringLiteral("masks"))->setText(masks);
        click_box_button(d, "buttons", QDialogButtonBox::Ok);
    });
}

// The row whose "Имя" is text, anywhere below parent.
QModelIndex row_named(const QAbstractItemModel *m, const QString &text, const QModelIndex &parent = QModelIndex())
{
    for (int r = 0; r < m->rowCount(parent); ++r) {
        const QModelIndex i = m->index(r, 0, parent);
        if (i.data().toString() == text)
            return i;
        const QModelIndex below = row_named(m, text, i);
        if (below.isValid())
            return below;
    }
    return QModelIndex();
}

QString cell(const QModelIndex &row, int column)
{
    return row.sibling(row.row(), column).data().toString();
}

int box(const QModelIndex &row, int column)
{
    return row.sibling(row.row(), column).data(Qt::CheckStateRole).toInt();
}

// Overwrites the first occurrence of `from` in the volume's bytes (behind
// its loop device; nothing may have it mounted), and drops what the loop
// device has cached of the old bytes (udev may still hold it open).
bool change_volume_bytes(const QString &node, const QByteArray &from, const QByteArray &to)
{
    const QString root = QString::fromLocal8Bit(qgetenv("ORVA_SYSROOT"));
    QFile file(root + QStringLiteral("/.loops/") + node);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf(from);
    if (at < 0 || !file.seek(at) || file.write(to) != to.size() || !file.flush() || ::fsync(file.handle()) != 0)
        return false;
    const int device = ::open(QFile::encodeName(root + QStringLiteral("/dev/") + node).constData(), O_RDONLY);
    if (device < 0)
        return false;
    const bool flushed = ::ioctl(device, BLKFLSBUF, 0) == 0;
    ::close(device);
    return flushed;
}

// The mount options of the directory, or empty when nothing is mounted there.
QStringList mount_options(const QString &dir)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return QStringList();
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 3 && QString::fromLocal8Bit(fields[1]) == dir)
            return QString::fromLatin1(fields[3]).split(QLatin1Char(','));
    }
    return QStringList();
}

// Loop devices of the simulated computer are left alone; no other loop
// device stays bound after a test.
QStringList bound_loops()
{
    QStringList out;
    QDir block(QStringLiteral("/sys/class/block"));
    for (const QString &name : block.entryList({QStringLiteral("loop*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile backing(block.filePath(name + QStringLiteral("/loop/backing_file")));
        if (backing.open(QIODevice::ReadOnly))
            out << QString::fromLocal8Bit(backing.readAll()).trimmed();
    }
    return out;
}

// A page of its own, wired to its disk tree as the window wires it.
struct page_alone {
    fs_icl_flag_sel flags;
    files_page page;
    page_alone()
    {
        QObject::connect(page.disk_tree(), &disk_tree_view::GivePart, &page, &files_page::set_volume);
        QObject::connect(&page, &files_page::showFlagSelector, &flags, &fs_icl_flag_sel::showF);
        QObject::connect(&flags, &fs_icl_flag_sel::result, &page, &files_page::getDirFlag);
        page.setup(orva_initialization::object()->handle());
    }
};

// Without the whole program: the file disk (with `extra` lines of its
// volume), or another `disk`, behind loop devices and a formatted module
// opened as the program opens it.
struct mounted_scene {
    app_guard app;
    check_computer computer;
    sim_module module;
    bool ready(const QString &extra = QString(), const QString &disk = files_disk())
    {
        return computer.build(QString::fromLatin1(check_computer::kCmdline), disk + extra) &&
               computer.attach_loops() && module.init_formatted() && orva_initialization::object()->init() == 0;
    }
    ~mounted_scene() { orva_initialization::object()->exit(); }
};

} // namespace

class files_page_test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { fault::clear(); }

    void approve_change_file_and_approve_again();
    void block_as_orva_ic_writes_it();
    void image_label_and_failed_attach();
    void mask_splitting_data();
    void mask_splitting();
    void removing_and_failed_saves();
    void windows_volume_on_ntfs();
    void screenshot_on_demo_computer();
    void disks_listed_again_on_entering();
};

void files_page_test::approve_change_file_and_approve_again()
{
    if (geteuid() != 0)
        QSKIP("needs root: the volume is mounted through a loop device");
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), files_disk()));
    QVERIFY(computer.attach_loops());
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_administration(module);
        QVERIFY(w);
        const orva_handle_t handle = orva_initialization::object()->handle();
        files_page *page = w->files();
        const QList<QAction *> actions = w->page_actions(MainWindow::MODE_FILES);

        // The disks: the volume under "Физические диски"; nothing shown
        // until a volume is selected.
        QTest::keyClick(w, Qt::Key_5, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_FILES));
        const disk_tree_model *disks = page->disk_tree()->disk_model();
        QCOMPARE(disks->index(0, 0).data().toString(), QStringLiteral("Физические диски"));
        QCOMPARE(disks->index(1, 0).data().toString(), QStringLiteral("Виртуальные диски"));
        QVERIFY(row_named(disks, QStringLiteral("F0001")).isValid());
        QVERIFY(page->dir_contents()->isHidden());
        fs_volume *volume = volume_of(kUuid);
        QVERIFY(volume);
        QCOMPARE(row_named(disks, QStringLiteral("Раздел 1 (ext4)")), disks->index_of(volume));
        QVERIFY(page->disk_tree()->select_volume(volume));
        QVERIFY(!page->dir_contents()->isHidden());
        const QString root = page->dir_contents()->root();
        QCOMPARE(root, QString::fromUtf8(volume->mount_dir));
        QVERIFY(mount_options(root).contains(QStringLiteral("ro")));

        // Dropped: a directory with every flag, a file with contents and
        // attributes; through the dialog a file with attributes only.
        drop(page->icl_tree(), {root + QStringLiteral("/data"), root + QStringLiteral("/etc/app.conf")});
        answer_flags({QStringLiteral("control_data")});
        page->add_files({root + QStringLiteral("/etc/motd")});
        // A directory with one hash over its files, its own level only.
        answer_flags({QStringLiteral("each_file"), QStringLiteral("recursive")});
        page->add_files({root + QStringLiteral("/etc")});
        const icl_tree_model *m = page->icl_model();
        QCOMPARE(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Хэш"));
        const QModelIndex disk_row = m->index(0, 0);
        QCOMPARE(disk_row.data().toString(), QStringLiteral("F0001"));
        QCOMPARE(m->index(0, 0, disk_row).data().toString(), QStringLiteral("Раздел 1"));
        const QModelIndex data = row_named(m, QStringLiteral("/data"));
        QCOMPARE(cell(data, 1), QStringLiteral("Файлы по отдельности"));
        for (int column : {2, 3, 4})
            QCOMPARE(box(data, column), int(Qt::Checked));
        const QModelIndex conf = row_named(m, QStringLiteral("/etc/app.conf"));
        const QString approved_hash = cell(conf, 1);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{64}$")).match(approved_hash).hasMatch());
        QCOMPARE(conf.sibling(conf.row(), 1).data(Qt::FontRole).value<QFont>().family(), QStringLiteral("Monospace"));
        QCOMPARE(box(conf, 4), int(Qt::Unchecked));
        const QModelIndex motd = row_named(m, QStringLiteral("/etc/motd"));
        QCOMPARE(cell(motd, 1), QStringLiteral("только наличие"));
        QCOMPARE(box(motd, 2), int(Qt::Unchecked));
        QCOMPARE(box(motd, 3), int(Qt::Checked));
        QCOMPARE(cell(motd, 5), QStringLiteral("OK"));
        QCOMPARE(box(row_named(m, QStringLiteral("/etc")), 4), int(Qt::Unchecked));
        // Sorted by name.
        QCOMPARE(data.row(), 0);
        QCOMPARE(motd.row(), 3);

        // Dropped again: refused with its message, the list unchanged.
        drop(page->icl_tree(), {root + QStringLiteral("/data")});
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Каталог уже поставлен на контроль."));
        QCOMPARE(responder.boxes().last().title, QStringLiteral("Добавление объекта"));
        QCOMPARE(m->rowCount(m->index(0, 0, m->index(0, 0))), 4);

        QTest::keyClick(w, Qt::Key_F5);
        QCOMPARE(responder.boxes().last().text, QStringLiteral("СКЦ был успешно сохранен."));
        QCOMPARE(responder.boxes().last().title, QStringLiteral("Запись СКЦ"));
        bool logged = false;
        for (const log_entry &e : read_log(handle))
            logged = logged || e.type == LOG_FS_LIST_CHANGE;
        QVERIFY(logged);

        // Leaving the page unmounts the volume.
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QCOMPARE(volume->mount_count, 0);
        QVERIFY(mount_options(root).isEmpty());
        QVERIFY(page->dir_contents()->isHidden());

        // The check reads what was saved and passes.
        QVERIFY(run_check(w));

        // A controlled file changed on the volume: the check fails and the
        // page shows the object's result.
        QVERIFY(change_volume_bytes(QStringLiteral("sdb1"), kConfig, kChanged));
        QVERIFY(change_volume_bytes(QStringLiteral("sdb1"), "exe-alpha", "exe-omega"));
        QVERIFY(!run_check(w));
        QTest::keyClick(w, Qt::Key_5, Qt::AltModifier);
        const QModelIndex changed = row_named(m, QStringLiteral("/etc/app.conf"));
        QVERIFY(changed.isValid());
        QCOMPARE(cell(changed, 5), QStringLiteral("Целостность нарушена"));
        QCOMPARE(m->rowCount(changed), 1);
        QCOMPARE(m->index(0, 0, changed).data().toString(), QStringLiteral(" Нарушена целостность;"));
        // In the per-file directory: its result row, the file below it.
        const QModelIndex dir_result = m->index(0, 0, row_named(m, QStringLiteral("/data")));
        QCOMPARE(cell(row_named(m, QStringLiteral("/data")), 5), QStringLiteral("Целостность нарушена"));
        QCOMPARE(dir_result.data().toString(), QStringLiteral(" Нарушена целостность;"));
        QCOMPARE(m->rowCount(dir_result), 1);
        const QModelIndex item = m->index(0, 0, dir_result);
        QCOMPARE(item.data().toString(), QStringLiteral("/a.exe"));
        QCOMPARE(cell(item, 5), QStringLiteral(" Нарушена целостность;"));
        QCOMPARE(cell(row_named(m, QStringLiteral("/etc/motd")), 5), QStringLiteral("OK"));
        // The directory as a whole: one result row, nothing below it.
        const QModelIndex etc_result = m->index(0, 0, row_named(m, QStringLiteral("/etc")));
        QCOMPARE(etc_result.data().toString(), QStringLiteral(" Целостность каталога нарушена;"));
        QCOMPARE(m->rowCount(etc_result), 0);

        // Approved again: recount and save; the check passes.
        QTest::keyClick(w, Qt::Key_F6);
        QVERIFY(actions[RECALC]->isVisible());
        QCOMPARE(cell(row_named(m, QStringLiteral("/etc/app.conf")), 5), QStringLiteral("OK"));
        QVERIFY(cell(row_named(m, QStringLiteral("/etc/app.conf")), 1) != approved_hash);
        QTest::keyClick(w, Qt::Key_F5);
        QCOMPARE(responder.boxes().last().text, QStringLiteral("СКЦ был успешно сохранен."));
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QVERIFY(run_check(w));
    });
    QCOMPARE(code, kEndedByTest);
    QCOMPARE(bound_loops().filter(QStringLiteral(".img")), QStringList());
}

void files_page_test::block_as_orva_ic_writes_it()
{
    if (geteuid() != 0)
        QSKIP("needs root: the volume is mounted through a loop device");
    mounted_scene scene;
    QVERIFY(scene.ready());
    scripted_responder responder;

    QByteArray saved;
    {
        page_alone alone;
        files_page &page = alone.page;
        QVERIFY(page.disk_tree()->select_volume(volume_of(kUuid)));
        const QString root = page.dir_contents()->root();
        drop(page.icl_tree(), {root + QStringLiteral("/data"), root + QStringLiteral("/etc/app.conf")});
        // A directory of its own level only, two masks (the blank after
        // the comma belongs to the second).
        answer_flags({QStringLiteral("each_file"), QStringLiteral("recursive")}, QStringLiteral("*.conf, *.txt,"));
        page.add_files({root + QStringLiteral("/etc")});
        const fs_icl_volume *entry = fs_icl_first_volume(orva_fun_fs::object()->icl());
        QVERIFY(entry);
        const auto *etc = reinterpret_cast<const fs_ocl_dir *>(fs_icl_volume_find_object(entry, "/etc"));
        QVERIFY(etc);
        QCOMPARE(int(etc->object.flags), int(FS_OCL_CONTROL_DATA | FS_OCL_CONTROL_ATTRS));
        QVERIFY(etc->masks && etc->masks[0] && etc->masks[1] && !etc->masks[2]);
        QCOMPARE(QByteArray(etc->masks[1]), QByteArray(" *.txt"));
        page.save_fs_info();
        QCOMPARE(responder.boxes().last().text, QStringLiteral("СКЦ был успешно сохранен."));
        saved = fs_block(orva_initialization::object()->handle());
    }
    QVERIFY(!saved.isEmpty());

    // The same selection through orva-ic into the same module.
    orva_initialization::object()->exit();
    const QString list = scene.module.temp_path() + QStringLiteral("/files.icl");
    const QString volume = QString::fromLatin1(kUuid);
    const QList<QStringList> runs = {
        {QStringLiteral("fs"), QStringLiteral("add"), QStringLiteral("--list"), list, volume, QStringLiteral("/data"),
         QStringLiteral("--flags"), QStringLiteral("15")},
        {QStringLiteral("fs"), QStringLiteral("add"), QStringLiteral("--list"), list, volume,
         QStringLiteral("/etc/app.conf"), QStringLiteral("--flags"), QStringLiteral("12")},
        {QStringLiteral("fs"), QStringLiteral("add"), QStringLiteral("--list"), list, volume, QStringLiteral("/etc"),
         QStringLiteral("--flags"), QStringLiteral("12"), QStringLiteral("--mask"), QStringLiteral("*.conf"),
         QStringLiteral("--mask"), QStringLiteral(" *.txt")},
        {QStringLiteral("module"), QStringLiteral("approve"), QStringLiteral("fs"), list},
    };
    for (const QStringList &args : runs) {
        QProcess tool;
        tool.start(QStringLiteral(ORVA_IC_PATH), args);
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    }
    QCOMPARE(orva_initialization::object()->init(), 0);
    QCOMPARE(fs_block(orva_initialization::object()->handle()), saved);
}

void files_page_test::image_label_and_failed_attach()
{
    if (geteuid() != 0)
        QSKIP("needs root: the hosting volume is mounted through a loop device");
    mounted_scene scene;
    QVERIFY(scene.ready(QStringLiteral("      image /images/disk.img size=8M\n"
                                       "        part 1 start=1M size=6M\n"
                                       "          fs ext4\n")));
    scripted_responder responder;
    add_vmdk_image_form form;
    {
        page_alone alone;
        files_page &page = alone.page;
        QObject::connect(&page, &files_page::show_vmdk_form, &form, &add_vmdk_image_form::show_form);
        QObject::connect(&form, &add_vmdk_image_form::add_vmdk_disk, &page, &files_page::add_vmdk_disk);
        QVERIFY(page.disk_tree()->select_volume(volume_of(kUuid)));
        const QString image = page.dir_contents()->root() + QStringLiteral("/images/disk.img");

        // No label: the form stays; with one it is taken. A simulated
        // computer has no loop device of its own for the image.
        responder.on_box = [&form](const message::box_request &) {
            form.findChild<QLineEdit *>(QStringLiteral("name"))->setText(QStringLiteral("IMG"));
        };
        when_shown<add_vmdk_image_form>([](add_vmdk_image_form *d) {
            click_box_button(d, "buttons", QDialogButtonBox::Ok);
            click_box_button(d, "buttons", QDialogButtonBox::Ok);
        });
        page.attach_image(image);
        responder.on_box = nullptr;
        QCOMPARE(responder.boxes().size(), 2);
        QCOMPARE(responder.boxes().first().text, QStringLiteral("Имя слишком короткое."));
        QCOMPARE(responder.boxes().first().title, QStringLiteral("Подключение виртуального диска"));
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Не удалось подключить виртуальный диск."));
        QVERIFY(orva_fun_fs::object()->vmdk_images().isEmpty());
        const disk_tree_model *disks = page.disk_tree()->disk_model();
        QCOMPARE(disks->rowCount(disks->index(1, 0)), 0);
        // The volume stays selected and shown.
        QCOMPARE(page.disk_tree()->current_volume(), volume_of(kUuid));
        QVERIFY(!page.dir_contents()->isHidden());

        // A directory is no image; neither is a path off the volume.
        page.attach_image(page.dir_contents()->root() + QStringLiteral("/images"));
        page.attach_image(QStringLiteral("/etc/hostname"));
        QCOMPARE(responder.boxes().size(), 2);
    }
    QCOMPARE(volume_of(kUuid)->mount_count, 0);
}

void files_page_test::mask_splitting_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("masks");
    QTest::newRow("empty: every file") << QString() << QStringList();
    QTest::newRow("one") << QStringLiteral("*.exe") << QStringList{QStringLiteral("*.exe")};
    QTest::newRow("blank stays with the next") << QStringLiteral("*.exe, *.doc")
                                               << QStringList{QStringLiteral("*.exe"), QStringLiteral(" *.doc")};
    QTest::newRow("empty parts dropped") << QStringLiteral(",*.a,,*.b,")
                                         << QStringList{QStringLiteral("*.a"), QStringLiteral("*.b")};
    QTest::newRow("only blanks kept") << QStringLiteral(" , ") << QStringList{QStringLiteral(" "), QStringLiteral(" ")};
}

void files_page_test::mask_splitting()
{
    QFETCH(QString, line);
    QFETCH(QStringList, masks);
    QCOMPARE(fs_icl_flag_sel::split_masks(line), masks);
}

void files_page_test::removing_and_failed_saves()
{
    app_guard app;
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), files_disk()));
    sim_module module;
    QVERIFY(module.init_formatted());
    QCOMPARE(orva_initialization::object()->init(), 0);
    const orva_handle_t handle = orva_initialization::object()->handle();
    scripted_responder responder;
    orva_fun_fs *fs = orva_fun_fs::object();
    QVERIFY(fs);

    page_alone alone;
    files_page &page = alone.page;
    // Records of two disks, as read from a module: /a and /b on F0001,
    // /c in the image IMG.
    fs_volume_id *raw = nullptr;
    QCOMPARE(fs_partition_id_create("F0001", 1, &raw), 0);
    const ic_fs::volume_id_ptr disk(raw);
    QCOMPARE(fs_image_partition_id_create("IMG", 1, &raw), 0);
    const ic_fs::volume_id_ptr image(raw);
    auto add = [](fs_icl *icl, const fs_volume_id *id, const QByteArray &path) {
        uint8_t hash[FS_OCL_HASH_SIZE];
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(hash), FS_OCL_HASH_SIZE / 4);
        return fs_icl_add_file_info(icl, id, path.constData(), FS_OCL_CONTROL_DATA, hash, nullptr, nullptr) == 0;
    };
    QVERIFY(add(fs->icl(), disk.get(), "/a") && add(fs->icl(), disk.get(), "/b") && add(fs->icl(), image.get(), "/c"));
    page.setup_model();
    const icl_tree_model *m = page.icl_model();
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("F0001"));
    QCOMPARE(m->index(1, 0).data().toString(), QStringLiteral("IMG"));

    page.save_fs_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("СКЦ был успешно сохранен."));
    const QByteArray stored = fs_block(handle);
    QVERIFY(!stored.isEmpty());

    // The last object of a volume removed: its volume and disk go too.
    auto remove = [&page, m](const QString &name) {
        page.icl_tree()->setCurrentIndex(row_named(m, name));
        page.remove_object();
    };
    remove(QStringLiteral("/c"));
    QCOMPARE(m->rowCount(), 1);
    QVERIFY(!row_named(m, QStringLiteral("IMG")).isValid());
    remove(QStringLiteral("/a"));
    QVERIFY(row_named(m, QStringLiteral("/b")).isValid());
    QVERIFY(!row_named(m, QStringLiteral("/a")).isValid());

    // A write that fails: its message, the stored block as it was.
    fault::fail_next("orva_save_ic_data", ORVA_E_WRITE);
    page.save_fs_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("Не удалось сохранить список контролируемых файлов."));
    QCOMPARE(responder.boxes().last().title, QStringLiteral("Ошибка записи СКЦ"));
    QCOMPARE(kind_name(responder.boxes().last().type), "critical");
    QCOMPARE(fs_block(handle), stored);

    // A list whose block would not fit: the warning, nothing written.
    for (int i = 0; i < 20000; ++i)
        QVERIFY(add(fs->icl(), disk.get(), QByteArray("/many/") + QByteArray::number(i)));
    page.save_fs_info();
    QCOMPARE(responder.boxes().last().text,
             QStringLiteral("Не удалось сохранить список контролируемых файлов.\n Попробуйте поставить на "
                            "контроль меньше файлов."));
    QCOMPARE(kind_name(responder.boxes().last().type), "warning");
    QCOMPARE(fs_block(handle), stored);

    // Moved to another disk: asked for both labels; a cancelled second
    // prompt changes nothing.
    responder.answer_text(QStringLiteral("F0001"));
    page.transfer_icl();
    QVERIFY(row_named(m, QStringLiteral("F0001")).isValid());
    responder.answer_text(QStringLiteral("F0001"));
    responder.answer_text(QStringLiteral("F0002"));
    page.transfer_icl();
    QCOMPARE(responder.prompts().last().title, QStringLiteral("Запрос метки идентификатора диска"));
    QCOMPARE(responder.prompts().last().label, QStringLiteral("Введите метку диска, на которую хотите сменить."));
    QVERIFY(!row_named(m, QStringLiteral("F0001")).isValid());
    QVERIFY(row_named(m, QStringLiteral("F0002")).isValid());

    // The disk row removed: every volume of that disk.
    remove(QStringLiteral("F0002"));
    QCOMPARE(m->rowCount(), 0);
    QCOMPARE(fs->icl()->count, 0u);
    orva_initialization::object()->exit();
}

// With ORVA_SCREENSHOT_DIR set (a run under Xvfb): the page on the demo
// computer with a Windows directory and a file approved, one file of the
// directory changed since, and the results of the check.
// The protected system's NTFS volume: browsed read-only, a file approved
// with its digest and saved.
void files_page_test::windows_volume_on_ntfs()
{
    if (geteuid() != 0)
        QSKIP("needs root: the volume is mounted through a loop device");
    mounted_scene scene;
    QVERIFY(scene.ready(QString(), windows_disk()));
    scripted_responder responder;
    page_alone alone;
    files_page &page = alone.page;
    fs_volume *volume = volume_of(kWindowsUuid);
    QVERIFY(volume);
    const disk_tree_model *disks = page.disk_tree()->disk_model();
    QCOMPARE(row_named(disks, QStringLiteral("Раздел 1 (ntfs)")), disks->index_of(volume));
    QVERIFY(page.disk_tree()->select_volume(volume));
    const QString root = page.dir_contents()->root();
    QVERIFY(mount_options(root).contains(QStringLiteral("ro")));
    drop(page.icl_tree(), {root + QStringLiteral("/Windows/win.ini")});
    const QModelIndex ini = row_named(page.icl_model(), QStringLiteral("/Windows/win.ini"));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{64}$")).match(cell(ini, 1)).hasMatch());
    page.save_fs_info();
    QCOMPARE(responder.boxes().last().text, QStringLiteral("СКЦ был успешно сохранен."));
}

void files_page_test::screenshot_on_demo_computer()
{
    const QString dir = qEnvironmentVariable("ORVA_SCREENSHOT_DIR");
    if (dir.isEmpty())
        QSKIP("only for a look at the page: set ORVA_SCREENSHOT_DIR and run under Xvfb");
    if (geteuid() != 0)
        QSKIP("needs root: the volumes are mounted through loop devices");
    QTemporaryDir temp;
    simcomputer::Computer model;
    simcomputer::Error err;
    const std::string root = temp.filePath(QStringLiteral("root")).toStdString();
    QVERIFY2(simcomputer::parse_file(ORVA_DEMO_COMPUTER, model, err) && simcomputer::build(model, root, err),
             err.text().c_str());
    const QByteArray saved_root = qgetenv("ORVA_SYSROOT");
    qputenv("ORVA_SYSROOT", QByteArray::fromStdString(root));
    QVERIFY2(simcomputer::attach_loops(root, err), err.text().c_str());
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;
    const char system[] = "7c1e4b2a-5d3f-4a6e-9b8c-1f2e3d4c5b6a";

    run_program([&](bool &) {
        MainWindow *w = open_administration(module);
        QVERIFY(w);
        w->resize(1280, 800);
        files_page *page = w->files();
        QTest::keyClick(w, Qt::Key_5, Qt::AltModifier);
        QVERIFY(page->disk_tree()->select_volume(volume_of(system)));
        const QString mount = page->dir_contents()->root();
        drop(page->icl_tree(), {mount + QStringLiteral("/Windows/System32"), mount + QStringLiteral("/bootmgr")});
        QTest::keyClick(w, Qt::Key_F5);
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QVERIFY(change_volume_bytes(QStringLiteral("sda1"), "127.0.0.1 localhost", "127.0.0.9 localhost"));
        run_check(w);
        QTest::keyClick(w, Qt::Key_5, Qt::AltModifier);
        QVERIFY(page->disk_tree()->select_volume(volume_of(system)));
        page->dir_contents()->expandAll();
        QTest::qWait(500);
        QVERIFY(w->grab().save(dir + QStringLiteral("/files_page.png")));
        // The flag dialog of a directory, as "Добавить файлы" opens it.
        when_shown<fs_icl_flag_sel>([dir](fs_icl_flag_sel *d) {
            d->grab().save(dir + QStringLiteral("/flag_dialog.png"));
            d->reject();
        });
        page->add_files({page->dir_contents()->root() + QStringLiteral("/Windows")});
    });
    QVERIFY2(simcomputer::detach_loops(root, err), err.text().c_str());
    qputenv("ORVA_SYSROOT", saved_root);
}

void files_page_test::disks_listed_again_on_entering()
{
    // The disks could not be listed when the page was set up: entering it
    // lists them, nothing keeps "no disks" for the run.
    app_guard app;
    sim_module module;
    check_computer computer;
    QVERIFY(module.init_formatted());
    QCOMPARE(orva_initialization::object()->init(), 0);
    computer.remove();
    {
        page_alone alone;
        const disk_tree_model *disks = alone.page.disk_tree()->disk_model();
        QCOMPARE(disks->rowCount(), 0);
        QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), files_disk()));
        alone.page.enter();
        QCOMPARE(disks->rowCount(disks->index(0, 0)), 2);
    }
    orva_initialization::object()->exit();
}

QTEST_APPLESS_MAIN(files_page_test)
#include "files_page_test.moc"
