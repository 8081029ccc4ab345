// The registry page on a simulated computer with a Windows volume and a
// simulated module: approving keys and values, the boot-time check against
// what was saved, a changed value shown on the page, the tick states, the
// stored block against the command line's, saves that fail, and the reset.
#include "admin/main_window.h"
#include "check/boot_check.h"
#include "check/check_sink.h"
#include "ic/qt/ic_data_area.h"
#include "registry/registry_page.h"
#include "registry/registry_tree_widget.h"
#include "support/check_computer.h"
#include "support/fault_injection.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"
#include "support/sim_module.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/qt/fs_names.h>
#include <ic/qt/ic_holders.h>
#include <ic/qt/orva_fun_fs.h>

#include <QApplication>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <optional>

#include <unistd.h>

namespace {

const char kUuid[] = "0B7C6A523E1F4D2A";
const QString kRun = QStringLiteral("\\REGISTRY\\MACHINE\\SOFTWARE\\Run");
const QString kTcpip = QStringLiteral("\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001\\Services\\Tcpip");
const QString kSaved = QStringLiteral("СКЦ реестра успешно сохранен.");
const QString kTitle = QStringLiteral("Контроль Реестра");

// A second disk with the Windows volume. `updater`: data of the value
// Run\Updater; `extra`: more lines under the SOFTWARE hive.
QString registry_disk(const QString &updater, const QString &extra = QString())
{
    return QStringLiteral("disk sdb size=64M controller=0000:00:1f.2 vendor=ATA model=WINDISK serial=W0001\n"
                          "  part 1 start=1M size=48M type=7\n"
                          "    fs ntfs uuid=%1\n"
                          "      windows /Windows\n"
                          "        hive SYSTEM\n"
                          "          key \"ControlSet001\\\\Services\\\\Tcpip\" class=Network\n"
                          "            value ImagePath expand_sz \"system32\\\\drivers\\\\tcpip.sys\"\n"
                          "            key Parameters\n"
                          "              value Hostname sz station\n"
                          "        hive SOFTWARE\n"
                          "          key Run\n"
                          "            value Updater sz \"%2\"\n"
                          "            value Other dword 7\n"
                          "%3")
        .arg(QLatin1String(kUuid), updater, extra);
}

// Records the verdict of every section that ran.
struct section_sink final : check_sink {
    QString current;
    QMap<QString, bool> verdicts;
    void info(const QString &) override {}
    void log_record(uint32_t, uint32_t, const void *, const QString &) override {}
    void file_record(const QString &, uint32_t) override {}
    void section_begin(const QString &title) override { current = title; }
    void section_end(bool passed) override
    {
        if (!current.isEmpty())
            verdicts[current] = passed;
        current.clear();
    }
};

// The registry section of a boot check run on the module now: passed,
// failed, or nothing when it did not run.
std::optional<bool> registry_verdict(orva_handle_t handle)
{
    section_sink sink;
    boot_check(handle).run(sink);
    // The check leaves its picture in the holders (as for the pages after
    // logon); its mount goes here.
    ic_holders::object().reg.release_space();
    const QString title = QStringLiteral("Контроль целостности реестра");
    if (!sink.verdicts.contains(title))
        return std::nullopt;
    return sink.verdicts.value(title);
}

// The registry block as stored: header and compressed data.
QByteArray reg_block(orva_handle_t handle)
{
    ic_data_area area(handle);
    QByteArray header(8, '\0');
    if (orva_load_ic_data(handle, header.data(), ic_data_area::kCompressedBase, 8) != ORVA_OK)
        return QByteArray();
    const uint32_t z = qFromLittleEndian<uint32_t>(header.constData());
    if (z + 8 > area.getRegBlockSize())
        return header;
    QByteArray block(static_cast<qsizetype>(z + 8), '\0');
    if (orva_load_ic_data(handle, block.data(), ic_data_area::kCompressedBase, z + 8) != ORVA_OK)
        return QByteArray();
    return block;
}

reg_holder &holder()
{
    return ic_holders::object().reg;
}

// The name space goes and its volume is unmounted (the directory stays).
void release_registry()
{
    holder().release_space();
}

bool ticked(const QTreeWidgetItem *item)
{
    return item->checkState(0) == Qt::Checked;
}

bool user_checkable(const QTreeWidgetItem *item)
{
    return item->flags() & Qt::ItemIsUserCheckable;
}

fs_volume *windows_volume()
{
    orva_fun_fs *fs = orva_fun_fs::object();
    return fs ? find_volume_by_volume_id(fs->disk_list(), QLatin1String(kUuid)) : nullptr;
}

// The computer with the Windows disk (loop devices behind its volumes) and
// a formatted module opened by the test.
struct scene {
    app_guard app;
    check_computer computer;
    sim_module module;
    std::unique_ptr<module_session> session;
    scripted_responder responder;

    bool ready(const QString &disk, int area_size = 0)
    {
        const bool module_ok = area_size ? module.sim({QStringLiteral("init"), QStringLiteral("--area-size"),
                                                       QString::number(area_size)}) &&
                                               module.sim({QStringLiteral("format")})
                                         : module.init_formatted();
        if (!module_ok || !change(disk))
            return false;
        session = std::make_unique<module_session>();
        return session->ok();
    }
    // The computer built anew with another Windows disk.
    bool change(const QString &disk)
    {
        return computer.build(QString::fromLatin1(check_computer::kCmdline), disk) && computer.attach_loops();
    }
    orva_handle_t handle() const { return session->handle(); }
    fs_volume *volume() const { return windows_volume(); }
    // The place as the directory dialog gives it.
    exchange_dir dir(const QString &path = QStringLiteral("/Windows")) const
    {
        exchange_dir d;
        d.volume = volume();
        d.disk = disk_id_by_volume(d.volume);
        d.part_id = part_id_by_volume(d.volume);
        d.path = path;
        return d;
    }
};

bool run_orva_ic(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(ORVA_IC_PATH), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("orva-ic %s: %s", qPrintable(args.join(QLatin1Char(' '))), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

} // namespace

class registry_page_test : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (geteuid() != 0)
            QSKIP("needs root: the Windows volume is mounted through a loop device");
    }
    void cleanup() { fault::clear(); }

    void approve_check_change_and_approve_again();
    void tick_states();
    void directory_without_a_hive();
    void failed_saves_keep_stored_block();
    void reset_turns_control_off();
    void stored_list_after_logon();
};

void registry_page_test::approve_check_change_and_approve_again()
{
    scene s;
    QVERIFY(s.ready(registry_disk(QStringLiteral("C:\\\\updater.exe"))));
    registryTreeWidget tree;
    tree.set_module(s.handle());
    QCOMPARE(tree.build_registry_tree(s.dir()), 0);
    QVERIFY(holder().flag());

    // Key items: timestamp and class; value items: type and data.
    QTreeWidgetItem *tcpip = tree.find_item(kTcpip);
    const QString updater_name = QStringLiteral("Updater");
    QTreeWidgetItem *updater = tree.find_item(kRun, &updater_name);
    QVERIFY(tcpip && updater);
    QVERIFY(tcpip->text(1).startsWith(QStringLiteral("timestamp: 0x")));
    QVERIFY(tcpip->text(1).endsWith(QStringLiteral(", class:Network")));
    QCOMPARE(updater->text(1), QStringLiteral("type: SZ\ndata: C:\\updater.exe"));

    tcpip->setCheckState(0, Qt::Checked);
    updater->setCheckState(0, Qt::Checked);
    rcl *list = holder().list();
    QCOMPARE(list->key_count, 1u);
    QCOMPARE(list->value_count, 1u);
    QCOMPARE(rcl_first_key(list)->flags, uint16_t(0x7F));
    QCOMPARE(rcl_first_value(list)->flags, uint16_t(0x60));
    tree.save_reg_info();
    QCOMPARE(s.responder.boxes().last().title, kTitle);
    QCOMPARE(s.responder.boxes().last().text, kSaved);
    const QByteArray saved = reg_block(s.handle());
    QVERIFY(saved.size() > 8);

    // The command line stores the same block for the same selection.
    const QString windows = QString::fromUtf8(s.volume()->mount_dir) + QStringLiteral("/Windows");
    const QString image = s.module.temp_path() + QStringLiteral("/list.rcl");
    QVERIFY(run_orva_ic({QStringLiteral("rcl"), QStringLiteral("add"), image, windows, QStringLiteral("key"), kTcpip}));
    QVERIFY(run_orva_ic({QStringLiteral("rcl"), QStringLiteral("add"), image, windows, QStringLiteral("value"), kRun,
                         updater_name}));
    s.session.reset();
    QVERIFY(run_orva_ic({QStringLiteral("module"), QStringLiteral("approve"), QStringLiteral("reg"),
                         QLatin1String(kUuid), QStringLiteral("/Windows"), image}));
    s.session = std::make_unique<module_session>();
    QVERIFY(s.session->ok());
    tree.set_module(s.handle());
    QCOMPARE(reg_block(s.handle()), saved);

    release_registry();
    QCOMPARE(registry_verdict(s.handle()), std::optional<bool>(true));

    // The controlled value changes: the check fails, the page shows it.
    QVERIFY(s.change(registry_disk(QStringLiteral("C:\\\\evil.exe"))));
    QCOMPARE(registry_verdict(s.handle()), std::optional<bool>(false));
    QCOMPARE(tree.load_reg_data(), 0);
    QCOMPARE(tree.differences(), QStringList{kRun + QStringLiteral("\\Updater: VALUE_DATA_MODIFIED")});
    updater = tree.find_item(kRun, &updater_name);
    tcpip = tree.find_item(kTcpip);
    QVERIFY(ticked(updater) && ticked(tcpip));
    QCOMPARE(updater->text(1), QStringLiteral("type: SZ\ndata: C:\\evil.exe"));
    QVERIFY(updater->background(0).style() != Qt::NoBrush);
    QVERIFY(updater->toolTip(0).contains(QStringLiteral("VALUE_DATA_MODIFIED")));
    QVERIFY(updater->parent()->isExpanded());
    QCOMPARE(tcpip->background(0).style(), Qt::NoBrush);

    // Approved again: the value's entry is taken anew.
    updater->setCheckState(0, Qt::Unchecked);
    QCOMPARE(holder().list()->value_count, 0u);
    updater->setCheckState(0, Qt::Checked);
    tree.save_reg_info();
    QCOMPARE(s.responder.boxes().last().text, kSaved);
    QVERIFY(reg_block(s.handle()) != saved);
    // The page compares again with what is stored now.
    QVERIFY(tree.differences().isEmpty());
    QCOMPARE(updater->background(0).style(), Qt::NoBrush);
    release_registry();
    QCOMPARE(registry_verdict(s.handle()), std::optional<bool>(true));
}

void registry_page_test::tick_states()
{
    scene s;
    // A value whose data cannot be read (its record claims 5 inline bytes).
    QVERIFY(s.ready(registry_disk(QStringLiteral("x"), QStringLiteral("          key Broken\n"
                                                                       "            value Bad binary 01020304 "
                                                                       "raw_size=0x80000005\n"))));
    registryTreeWidget tree;
    tree.set_module(s.handle());
    QCOMPARE(tree.build_registry_tree(s.dir()), 0);
    rcl *list = holder().list();

    // A key: one entry, its whole sub-tree ticked and locked.
    QTreeWidgetItem *tcpip = tree.find_item(kTcpip);
    QTreeWidgetItem *services = tcpip->parent();
    tcpip->setCheckState(0, Qt::Checked);
    QCOMPARE(list->key_count, 1u);
    QCOMPARE(list->value_count, 0u);
    QCOMPARE(tcpip->childCount(), 2); // Parameters, ImagePath
    QTreeWidgetItem *parameters = tcpip->child(0);
    QTreeWidgetItem *hostname = parameters->child(0);
    for (QTreeWidgetItem *item : {parameters, hostname, tcpip->child(1)})
        QVERIFY(ticked(item) && !user_checkable(item));
    QCOMPARE(services->checkState(0), services->childCount() == 1 ? Qt::Checked : Qt::PartiallyChecked);
    QVERIFY(!rcl_find_key(list, reinterpret_cast<const reg_char *>(registryTreeWidget::key_path(services).utf16())));

    // Unticked: no entry below it, the sub-tree free and clear again.
    tcpip->setCheckState(0, Qt::Unchecked);
    QCOMPARE(list->key_count, 0u);
    for (QTreeWidgetItem *item : {parameters, hostname})
        QVERIFY(!ticked(item) && user_checkable(item));
    QCOMPARE(services->checkState(0), Qt::Unchecked);

    // Values one by one: the key looks ticked once all are, without an entry.
    QTreeWidgetItem *run = tree.find_item(kRun);
    QCOMPARE(run->childCount(), 2);
    run->child(0)->setCheckState(0, Qt::Checked);
    QCOMPARE(run->checkState(0), Qt::PartiallyChecked);
    run->child(1)->setCheckState(0, Qt::Checked);
    QCOMPARE(run->checkState(0), Qt::Checked);
    QCOMPARE(list->value_count, 2u);
    QCOMPARE(list->key_count, 0u);

    // A value that cannot be read is not added and stays unticked.
    const QString bad_name = QStringLiteral("Bad");
    QTreeWidgetItem *bad = tree.find_item(QStringLiteral("\\REGISTRY\\MACHINE\\SOFTWARE\\Broken"), &bad_name);
    QVERIFY(bad);
    QCOMPARE(bad->text(1), QStringLiteral("type: BINARY\ndata: ?"));
    bad->setCheckState(0, Qt::Checked);
    QCOMPARE(s.responder.boxes().last().title, QStringLiteral("Ошибка"));
    QCOMPARE(s.responder.boxes().last().text,
             QStringLiteral("Возникла ошибка при добавлении \n\\REGISTRY\\MACHINE\\SOFTWARE\\Broken\\Bad\n реестра в СКЦ."));
    QVERIFY(!ticked(bad));
    QCOMPARE(list->value_count, 2u);
    release_registry();
}

void registry_page_test::directory_without_a_hive()
{
    scene s;
    // A directory with four of the five standard hive files.
    QString files;
    for (const char *hive : {"SOFTWARE", "SYSTEM", "SECURITY", "DEFAULT"})
        files += QStringLiteral("      file /Bad/System32/config/%1 content=x\n").arg(QLatin1String(hive));
    QVERIFY(s.ready(registry_disk(QStringLiteral("x")) + files));
    registryTreeWidget tree;
    tree.set_module(s.handle());
    QCOMPARE(tree.build_registry_tree(s.dir()), 0);
    QVERIFY(tree.root()->childCount() > 0);

    // A directory lacking a hive, and a volume the boot check would not find
    // again by its identity (here a copy of the real one).
    fs_volume copy = *s.volume();
    exchange_dir elsewhere = s.dir();
    elsewhere.volume = &copy;
    for (const exchange_dir &dir : {s.dir(QStringLiteral("/Bad")), elsewhere}) {
        QVERIFY(tree.build_registry_tree(dir) != 0);
        QCOMPARE(s.responder.boxes().last().title, QStringLiteral("Ошибка"));
        QCOMPARE(s.responder.boxes().last().text,
                 QStringLiteral("Возникла ошибка при построении дерева реестра.\nПопробуйте выбрать корректный "
                                "каталог %windir%."));
        QCOMPARE(tree.root()->childCount(), 0);
        QVERIFY(!user_checkable(tree.root()));
        QVERIFY(!holder().flag());
        QVERIFY(!holder().space());
        QCOMPARE(s.volume()->mount_count, 0);
    }
}

void registry_page_test::failed_saves_keep_stored_block()
{
    scene s;
    // A key whose picture does not fit the registry block of a small area.
    QString big = QStringLiteral("          key Big\n");
    for (int i = 0; i < 1500; ++i)
        big += QStringLiteral("            value V%1 dword %2\n").arg(i).arg(i * 7919);
    QVERIFY(s.ready(registry_disk(QStringLiteral("x"), big), 65536));
    registryTreeWidget tree;
    tree.set_module(s.handle());
    QCOMPARE(tree.build_registry_tree(s.dir()), 0);
    const QString updater_name = QStringLiteral("Updater");
    tree.find_item(kRun, &updater_name)->setCheckState(0, Qt::Checked);
    tree.save_reg_info();
    QCOMPARE(s.responder.boxes().last().text, kSaved);
    const QByteArray before = reg_block(s.handle());

    // The module refuses the write.
    tree.find_item(kTcpip)->setCheckState(0, Qt::Checked);
    fault::fail_next("orva_save_ic_data", ORVA_E_WRITE);
    tree.save_reg_info();
    QCOMPARE(s.responder.boxes().last().type, message::kind::critical);
    QCOMPARE(s.responder.boxes().last().title, kTitle);
    QCOMPARE(s.responder.boxes().last().text, QStringLiteral("Не удалось сохранить СКЦ реестра."));
    QCOMPARE(reg_block(s.handle()), before);

    // Too large for the block.
    tree.find_item(QStringLiteral("\\REGISTRY\\MACHINE\\SOFTWARE\\Big"))->setCheckState(0, Qt::Checked);
    tree.save_reg_info();
    QCOMPARE(s.responder.boxes().last().type, message::kind::critical);
    QCOMPARE(s.responder.boxes().last().text,
             QStringLiteral("Не удалось сохранить СКЦ реестра. Список слишком большой.\n Попробуйте поставить меньше "
                            "элементов на контроль."));
    QCOMPARE(reg_block(s.handle()), before);
    release_registry();
    QCOMPARE(registry_verdict(s.handle()), std::optional<bool>(true));
}

void registry_page_test::reset_turns_control_off()
{
    scene s;
    QVERIFY(s.ready(registry_disk(QStringLiteral("x"))));
    registryTreeWidget tree;
    tree.set_module(s.handle());
    QCOMPARE(tree.build_registry_tree(s.dir()), 0);
    tree.find_item(kTcpip)->setCheckState(0, Qt::Checked);
    tree.save_reg_info();
    QCOMPARE(s.responder.boxes().last().text, kSaved);

    QVERIFY(tree.destr());
    QCOMPARE(tree.root()->childCount(), 0);
    QVERIFY(!rcl_first_key(holder().list()));
    QVERIFY(!holder().space());
    QCOMPARE(s.volume()->mount_count, 0);
    // The module keeps the list with registry control off.
    rcl *stored = nullptr;
    exchange_dir dir;
    bool flag = true;
    QCOMPARE(ic_data_area(s.handle()).read_reg_info_from_device(&stored, &dir, &flag), 0);
    QCOMPARE(stored->key_count, 1u);
    QVERIFY(!flag);
    QCOMPARE(dir.path, QStringLiteral("/Windows"));
    rcl_destroy(stored);
    QCOMPARE(registry_verdict(s.handle()), std::nullopt);

    // Next start: the kept list waits for a directory; edits before that
    // cannot be saved with control off unnoticed.
    QCOMPARE(tree.load_reg_data(), 0);
    QCOMPARE(tree.root()->childCount(), 0);
    QCOMPARE(holder().list()->key_count, 1u);
    QCOMPARE(tree.build_registry_tree(s.dir()), 0);
    QVERIFY(ticked(tree.find_item(kTcpip)));
    QVERIFY(!user_checkable(tree.find_item(kTcpip)->child(0)));
    release_registry();
}

void registry_page_test::stored_list_after_logon()
{
    check_computer computer;
    QVERIFY(computer.build(QString::fromLatin1(check_computer::kCmdline), registry_disk(QStringLiteral("x"))));
    QVERIFY(computer.attach_loops());
    logon_module module;
    QVERIFY(module.ready());
    {
        module_session session;
        QVERIFY(session.ok());
        QVERIFY(approve_registry(session.handle(), QLatin1String(kUuid), QStringLiteral("/Windows"),
                                 {kRun + QStringLiteral(":Updater")}));
    }
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_administration(module);
        QVERIFY(w);
        QTest::keyClick(w, Qt::Key_6, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_REGISTRY));
        registry_page *page = w->registry();
        QVERIFY(page->dir_text().startsWith(QStringLiteral("W0001, ")));
        QVERIFY(page->dir_text().endsWith(QStringLiteral(": /Windows")));
        const QString updater_name = QStringLiteral("Updater");
        QTreeWidgetItem *updater = page->tree()->find_item(kRun, &updater_name);
        QVERIFY(updater && ticked(updater));
        QCOMPARE(updater->parent()->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(page->report_text(), QStringLiteral("Отличий нет."));

        QTest::keyClick(w, Qt::Key_F1);
        QCOMPARE(responder.boxes().last().text, kSaved);
        QTest::keyClick(w, Qt::Key_F2);
        QCOMPARE(responder.boxes().last().title, kTitle);
        QCOMPARE(responder.boxes().last().text, QStringLiteral("КЦ реестра был очищен. Создайте новый СКЦ."));
        QCOMPARE(page->tree()->root()->childCount(), 0);
        QVERIFY(page->dir_text().isEmpty());
        responder.answer(QMessageBox::Cancel);
        QTest::keyClick(w, Qt::Key_F3);
        QCOMPARE(responder.boxes().last().title, QStringLiteral("Выход"));
    });
    QCOMPARE(code, kEndedByTest);
    QCOMPARE(windows_volume()->mount_count, 0);
}

QTEST_APPLESS_MAIN(registry_page_test)
#include "registry_page_test.moc"
