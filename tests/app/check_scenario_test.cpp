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

namespace {

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

// A formatted module opened by the program with its event log, and the
// check computer with its hardware and disks approved.
struct scene {
    sim_module module;
    check_computer computer;
    bool ok = false;

    scene()
    {
        ok = module.init_formatted() && orva_initialization::object()->init() == 0 &&
             orva_fun_log::object()->log_open() == 0 && computer.build() && approve_hardware(handle()) &&
             approve_disks(handle());
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
    QTest::newRow("nothing changed") << QString()
                                     << QStringList{disks, check_fragments::ok_line(), boot, check_fragments::ok_line()}
                                     << QStringList();
    QTest::newRow("changed MBR")
        << QStringLiteral("mbr")
        << QStringList{disks,
                       check_fragments::disk_line(QStringLiteral("S0001"),
                                                  QStringLiteral(" модифицирован:\n Диск был модифицирован: MBR "
                                                                 "модифицирована;")),
                       boot, check_fragments::ok_line()}
        << QStringList{QStringLiteral("16 131072 S0001")};
}

void check_scenario_test::section_fails()
{
    QFETCH(QString, change);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, records);
    scene s;
    QVERIFY(s.ok);
    if (change == QLatin1String("mbr"))
        QVERIFY(s.computer.write_device(QStringLiteral("sda"), 100, "a changed boot loader"));

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
