// The boot-time check as the program runs it: the integrity controller over
// a simulated module opened by the program's access objects and a simulated
// computer whose reference data is stored in the module; the report, the
// verdict and the records left in the module's event log.
#include "check/check_fragments.h"
#include "check/integrity_controller.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/orva_initialization.h"
#include "support/check_computer.h"
#include "support/sim_module.h"

#include <QtTest>

#include <unistd.h>

namespace {

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

// The check computer with the Windows disk, approved as the reference (its
// hardware, its disks, one file and one registry value) by a program of its
// own; then `change` is made and the module opened by the
// program's access objects with its event log.
struct scene {
    sim_module module;
    check_computer computer;
    bool ok = false;

    explicit scene(const QString &change)
    {
        const QString plain = QString::fromLatin1(check_computer::kCmdline);
        // A Windows that sleeps: approved and checked so.
        const QString hibernated = QStringLiteral("      file /hiberfil.sys content=HIBR\n");
        ok = module.init_formatted() &&
             computer.build(plain, change == QLatin1String("hibernated")
                                       ? windows_disk(QStringLiteral("C:\\\\updater.exe"), QStringLiteral("alpha"),
                                                      hibernated)
                                       : windows_disk()) &&
             computer.attach_loops() && approve_windows_reference(QStringLiteral(CHECK_APPROVE_PATH));
        if (ok && change == QLatin1String("mbr"))
            ok = computer.write_device(QStringLiteral("sda"), 100, "a changed boot loader");
        else if (ok && change == QLatin1String("file"))
            ok = computer.build(plain, windows_disk(QStringLiteral("C:\\\\updater.exe"), QStringLiteral("omega"))) &&
                 computer.attach_loops();
        else if (ok && change == QLatin1String("registry"))
            ok = computer.build(plain, windows_disk(QStringLiteral("C:\\\\evil.exe"))) && computer.attach_loops();
        ok = ok && orva_initialization::object()->init() == 0 && orva_fun_log::object()->log_open() == 0;
    }
    ~scene()
    {
        orva_fun_log::object()->log_close();
        orva_initialization::object()->exit();
    }
};

struct outcome {
    int finished = 0;
    bool passed = false;
    QStringList fragments;
};

outcome run_controller()
{
    outcome o;
    IntegrityController controller(handle());
    QObject::connect(&controller, &IntegrityController::info, [&o](QString &msg) { o.fragments << msg; });
    QObject::connect(&controller, &IntegrityController::finished, [&o](bool passed) {
        ++o.finished;
        o.passed = passed;
    });
    controller.start();
    return o;
}

// The records of the check types, as "type result text".
QStringList check_records()
{
    QStringList out;
    for (const log_entry &e : read_log(handle())) {
        if (e.type == LOG_HW_CHECK || e.type == LOG_DISK_CHECK || e.type == LOG_FS_CHECK ||
            e.type == LOG_REGISTRY_CHECK)
            out << QStringLiteral("%1 %2 %3").arg(e.type).arg(e.result).arg(QString::fromUtf8(e.text));
    }
    return out;
}

} // namespace

class check_scenario_test : public QObject {
    Q_OBJECT

private slots:
    void section_fails_data();
    void section_fails();
};

void check_scenario_test::section_fails_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("lines");   // in this order in the report
    QTest::addColumn<QStringList>("records"); // of the check types
    const QString disks = check_fragments::section_title(QStringLiteral("Контроль дисков"));
    const QString boot = check_fragments::section_title(QStringLiteral("Контроль загрузочного носителя"));
    const QString files = check_fragments::section_title(QStringLiteral("Контроль целостности объектов ФС"));
    const QString registry = check_fragments::section_title(QStringLiteral("Контроль целостности реестра"));
    const QString volume = QStringLiteral("\n\tW0001-Раздел 1");
    const QString ini_ok = QStringLiteral("\n\t\t/Windows/win.ini - ОК");
    const QString run = QString::fromLatin1(kSoftwareRun);
    const QString disks_ok = check_fragments::ok_line();
    QTest::newRow("nothing changed")
        << QString()
        << QStringList{disks, disks_ok, files, volume, ini_ok, registry, check_fragments::check_result(true), boot,
                       check_fragments::ok_line()}
        << QStringList();
    QTest::newRow("hibernated Windows")
        << QStringLiteral("hibernated")
        << QStringList{files, volume,
                       QStringLiteral(" - Windows в режиме гибернации, раздел смонтирован только для чтения;"), ini_ok,
                       registry, check_fragments::check_result(true)}
        << QStringList();
    QTest::newRow("changed MBR")
        << QStringLiteral("mbr")
        << QStringList{disks,
                       check_fragments::disk_line(QStringLiteral("S0001"),
                                                  QStringLiteral(" модифицирован:\n Диск был модифицирован: MBR "
                                                                 "модифицирована;")),
                       files, ini_ok, registry, check_fragments::check_result(true), boot}
        << QStringList{QStringLiteral("16 131072 S0001")};
    QTest::newRow("changed controlled file")
        << QStringLiteral("file")
        << QStringList{disks, disks_ok, files, volume, QStringLiteral("\n\t\t/Windows/win.ini - Нарушена целостность;"),
                       registry, check_fragments::check_result(true), boot}
        << QStringList{QStringLiteral("32 131072 /Windows/win.ini")};
    QTest::newRow("changed registry value")
        << QStringLiteral("registry")
        << QStringList{disks, disks_ok, files, ini_ok, registry,
                       check_fragments::reg_value_violated(run, QStringLiteral("Updater")),
                       check_fragments::check_result(false), boot, check_fragments::ok_line()}
        << QStringList{QStringLiteral("128 131072 ") + run + QStringLiteral("\\Updater")};
}

void check_scenario_test::section_fails()
{
    QFETCH(QString, change);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, records);
    if (geteuid() != 0)
        QSKIP("needs root: the Windows volume is mounted through a loop device");
    scene s(change);
    QVERIFY(s.ok);

    const outcome o = run_controller();
    QCOMPARE(o.finished, 1);
    QCOMPARE(o.passed, records.isEmpty());
    int from = 0;
    for (const QString &line : lines) {
        const int at = static_cast<int>(o.fragments.indexOf(line, from));
        QVERIFY2(at >= 0, qPrintable(line + QStringLiteral(" after ") + o.fragments.mid(from).join(QString())));
        from = at + 1;
    }
    QCOMPARE(check_records(), records);
}

QTEST_MAIN(check_scenario_test)
#include "check_scenario_test.moc"
