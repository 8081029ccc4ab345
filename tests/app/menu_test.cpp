// The post-logon menu: the whole program on a simulated module and a
// simulated computer, from the logon through the boot-time check to the
// decision, the boot-device dialog, the keys and the hand-off. The hand-off
// helpers are scripts in the test's working directory that write down that
// they ran; the marker file goes there too.
#include "admin/main_window.h"
#include "auth/auth_form.h"
#include "auth/pass_change_dialog.h"
#include "check/check_fragments.h"
#include "log/log_types.h"
#include "menu/choose_boot_device.h"
#include "menu/menu.h"
#include "module/ia_block.h"
#include "module/orva_initialization.h"
#include "support/check_computer.h"
#include "support/handoff_place.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <cstring>

#include <unistd.h>

namespace {

const QString kIvanSerial = QString::fromLatin1(logon_module::kIvanSerial);
const QString kIvanPassword = QString::fromLatin1(logon_module::kIvanPassword);
const QString kChief = QString::fromLatin1(logon_module::kChiefSerial);
const QString kChiefPassword = QString::fromLatin1(logon_module::kChiefPassword);
const QDateTime kMondayMorning(QDate(2024, 3, 4), QTime(10, 0));

const QString kChiefGreeting = QStringLiteral("Добро пожаловать, Гл.Администратор! Выберите действие:");
// The verdict is a fragment of its own inside the result line.
const QString kHwPassed = QStringLiteral("Результат проверки оборудования: \nконтроль пройден");
const QString kHwFailed = QStringLiteral("Результат проверки оборудования: \nконтроль не пройден");
const QString kRemovable =
    QStringLiteral("Не удалось определить тип устройства загрузки ОС: загрузка ОС со съемного носителя запрещена");
const QString kInt13 = QStringLiteral(
    "Не удалось определить тип устройства загрузки ОС: вызов расширения прерывания int 13 завершился ошибкой");

// The form of this class among the top-level widgets (a visible one).
template <class Form>
Form *top_level(bool visible_only = false)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *f = qobject_cast<Form *>(w); f && (!visible_only || f->isVisible()))
            return f;
    }
    return nullptr;
}

Menu *the_menu()
{
    return top_level<Menu>();
}

MainWindow *the_main_window()
{
    return top_level<MainWindow>();
}

choose_boot_device *shown_device_dialog()
{
    return top_level<choose_boot_device>(true);
}

QString report_of(Menu *menu)
{
    return menu->findChild<QTextEdit *>(QStringLiteral("info"))->toPlainText();
}

// Only the reboot button / both choices and reboot.
bool only_reboot(Menu *menu)
{
    return shown(menu, "reboot") && !shown(menu, "proceed") && !shown(menu, "login_as_admin");
}
bool all_choices(Menu *menu)
{
    return shown(menu, "reboot") && shown(menu, "proceed") && shown(menu, "login_as_admin");
}

// Logs the user on through the logon form; the check runs inside.
void log_on(const logon_module &module, const QString &serial, const QString &password)
{
    auth_form *form = logon_form();
    QVERIFY(form);
    QVERIFY(present(module, form, serial));
    enter_password(form, password);
}

QList<log_entry> records_of_type(uint32_t type)
{
    module_session session;
    QList<log_entry> result;
    for (const log_entry &e : session.log()) {
        if (e.type == type)
            result.append(e);
    }
    return result;
}

// The disk, file and registry check records, as "type result text".
QStringList section_records()
{
    module_session session;
    QStringList out;
    for (const log_entry &e : session.log()) {
        if (e.type == LOG_DISK_CHECK || e.type == LOG_FS_CHECK || e.type == LOG_REGISTRY_CHECK)
            out << QStringLiteral("%1 %2 %3").arg(e.type).arg(e.result).arg(QString::fromUtf8(e.text));
    }
    return out;
}

// Ends the program with `code` from the event loop, unless something asked
// it to end before.
void end_later(int code)
{
    QTimer::singleShot(0, [code] { QApplication::exit(code); });
}

// A module with IVAN, a computer whose hardware is approved.
struct scene {
    logon_module module;
    check_computer computer;
    clock_guard clock{kMondayMorning};
    scripted_responder responder;
    handoff_place place;
    bool ok = false;

    scene()
    {
        // The operating system receives IVAN's identifier and name.
        ok = module.ready() && module.enroll_ivan() &&
             module.modify_user(QStringLiteral("IVAN"), [](orva_db_record &r) { r.ia_mask = 0x09; }) &&
             computer.build() && approve_hardware();
    }
};

} // namespace

class menu_test : public QObject {
    Q_OBJECT

private slots:
    void report_reads_as_the_whole_html();
    void ordinary_user_is_handed_off_at_once();
    void failed_check_data();
    void failed_check();
    void reboot_during_the_check();
    void keys_data();
    void keys();
    void administrator_chooses();
    void menu_after_the_password_change_dialog();
    void boot_device_data();
    void boot_device();
};

void menu_test::report_reads_as_the_whole_html()
{
    // Appending a fragment gives what setting the report's whole HTML with
    // the fragment after it gives: the same lines in the same formats.
    int argc = 1;
    char arg0[] = "menu_test";
    char *argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    using namespace check_fragments;
    const QStringList fragments{
        section_title(QStringLiteral("Контроль оборудования")), hw_class_header(QStringLiteral("CPU")),
        hw_device_ok(QStringLiteral("CPU-0")), hw_device_changed(QStringLiteral("0000:00:02.0")),
        hw_param_changed(QStringLiteral("Device")), hw_device_new(QStringLiteral("<b>1-3</b>")), hw_result(false),
        QString(), QStringLiteral("\n\t%1-%2").arg(QStringLiteral("sda"), QStringLiteral("sda1")),
        QStringLiteral("\n\t\t/etc/passwd - ОК"), QStringLiteral(" - диск не найден\n"),
        section_title(QStringLiteral("Контроль загрузочного носителя")), red_line(kRemovable + QStringLiteral("\n")),
        check_result(false), ok_line()};
    Menu menu;
    QTextEdit whole;
    for (QString fragment : fragments) {
        menu.show_info(fragment);
        whole.setHtml(whole.document()->toHtml() + fragment);
    }
    // A family that is the document's default reads as none (the whole HTML
    // names it on every span).
    auto lines = [](const QTextDocument *doc) {
        const QString default_family = doc->defaultFont().family();
        QStringList out;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            QString line;
            for (QTextBlock::iterator it = b.begin(); !it.atEnd(); ++it) {
                const QTextFragment f = it.fragment();
                const QString text = f.text();
                if (text.trimmed().isEmpty())
                    continue;
                const QTextCharFormat c = f.charFormat();
                QString family = c.fontFamilies().toStringList().join(QLatin1Char(','));
                if (family == default_family)
                    family.clear();
                line += QStringLiteral("[%1|%2|%3|%4|%5|%6]")
                            .arg(text.endsWith(QLatin1Char(' ')) ? text.chopped(1) : text)
                            .arg(c.foreground().color().name())
                            .arg(c.fontWeight())
                            .arg(c.fontItalic())
                            .arg(c.property(QTextFormat::FontSizeAdjustment).toInt())
                            .arg(family);
            }
            out << line;
        }
        return out;
    };
    const QTextDocument *shown = menu.findChild<QTextEdit *>(QStringLiteral("info"))->document();
    QCOMPARE(lines(shown), lines(whole.document()));
    QCOMPARE(menu.findChild<QTextEdit *>(QStringLiteral("info"))->textCursor().position(),
             shown->characterCount() - 1);
}

void menu_test::ordinary_user_is_handed_off_at_once()
{
    scene s;
    QVERIFY(s.ok);
    const orva_tmid tmid = make_tmid(kIvanSerial);

    const int code = run_program([&](bool &program_ends) {
        Menu *menu = the_menu();
        QVERIFY(menu);
        QVERIFY(!menu->isVisible());
        QSignalSpy started(menu, &Menu::started);
        log_on(s.module, kIvanSerial, kIvanPassword);
        program_ends = true;

        QCOMPARE(started.size(), 1);
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->windowTitle(), QStringLiteral("Добро пожаловать, IVAN! Выберите следующее действие:"));
        const QString report = report_of(menu);
        QVERIFY2(report.contains(QStringLiteral("Контроль оборудования")), qPrintable(report));
        QVERIFY2(report.contains(kHwPassed), qPrintable(report));
        QVERIFY(report.indexOf(QStringLiteral("Контроль загрузочного носителя")) > report.indexOf(kHwPassed));
        QVERIFY(report.endsWith(QStringLiteral(" - ОК")));
        // No button to press: the hand-off has run.
        QVERIFY(shown(menu, "proceed"));
        QVERIFY(!shown(menu, "login_as_admin"));
        auto *close_timer = menu->findChild<QTimer *>(QStringLiteral("close_timer"));
        QVERIFY(close_timer && close_timer->isActive() && close_timer->isSingleShot());
        QCOMPARE(close_timer->interval(), 5000);
        QCOMPARE(s.place.calls(), QStringList{"kexec"});
        QVERIFY(s.place.marker());
        QCOMPARE(orva_initialization::object()->initialised(), 0);
    });
    QCOMPARE(code, 0);

    // The module is free again, nobody is logged on (the mask asks for the
    // logoff), and the hand-over block holds the name and the identifier.
    module_session session;
    QVERIFY(session.ok());
    QCOMPARE(orva_get_current_user(session.handle(), nullptr, nullptr), ORVA_E_NO_SESSION);
    orva_ia_block ia{};
    QCOMPARE(orva_load_ia_data(session.handle(), &ia), ORVA_OK);
    QCOMPARE(QByteArray(ia.name), QByteArray("IVAN"));
    QCOMPARE(std::memcmp(&ia.tmid, &tmid, sizeof tmid), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(ia.password), sizeof ia.password),
             QByteArray(sizeof ia.password, '\0'));
    QVERIFY(records_of_type(LOG_HW_CHECK).isEmpty());
    QVERIFY(s.responder.boxes().isEmpty());
}

void menu_test::failed_check_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("cmdline");
    QTest::addColumn<bool>("admin");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<uint32_t>("hw_mask");
    // What else is stored besides the hardware: nothing, the disks, or the
    // Windows disk's files and registry (loop devices: root).
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QStringList>("records"); // disk, file and registry checks

    const QString card = QStringLiteral("pci 0000:00:19.0 vendor=8086 device=153a class=020000");
    const QString plain = QString::fromLatin1(check_computer::kCmdline);
    const QStringList new_card{QStringLiteral("PCI:"), QStringLiteral("0000:00:19.0 -новое устройство"), kHwFailed};
    const QString none;
    QTest::newRow("new PCI card, ordinary user") << card << plain << false << new_card << 0x80u << none
                                                 << QStringList();
    QTest::newRow("new PCI card, administrator") << card << plain << true << new_card << 0x80u << none
                                                 << QStringList();
    // Only the boot medium fails; the lines before it stay.
    QTest::newRow("removable boot device, ordinary user")
        << QString() << plain + QStringLiteral(" hd0_removable") << false
        << QStringList{kHwPassed, kRemovable, QStringLiteral("Результат проверки: \nконтроль не пройден")} << 0u
        << none << QStringList();
    QTest::newRow("int 13h failed, administrator") << QString() << plain + QStringLiteral(" int13_fails") << true
                                                   << QStringList{kHwPassed, kInt13} << 0u << none << QStringList();

    // A disk, a file and a registry value that differ from the reference,
    // each for both kinds of user; the hardware passes.
    const struct {
        const char *name;
        QString change; // "mbr": the boot loader in sda's MBR is overwritten
        QString reference;
        QStringList lines;
        QString record;
    } sections[] = {
        {"changed MBR", QStringLiteral("mbr"), QStringLiteral("disks"),
         {kHwPassed, QStringLiteral("Контроль дисков"), QStringLiteral("Диск был модифицирован: MBR модифицирована;"),
          QStringLiteral("Контроль загрузочного носителя")},
         QStringLiteral("16 131072 S0001")},
        {"changed controlled file", windows_disk(QStringLiteral("C:\\\\updater.exe"), QStringLiteral("omega")),
         QStringLiteral("windows"),
         {kHwPassed, QStringLiteral("Контроль целостности объектов ФС"),
          QStringLiteral("/Windows/win.ini - Нарушена целостность;"), QStringLiteral("Контроль загрузочного носителя")},
         QStringLiteral("32 131072 /Windows/win.ini")},
        {"changed controlled registry value", windows_disk(QStringLiteral("C:\\\\evil.exe")),
         QStringLiteral("windows"),
         {kHwPassed, QStringLiteral("Контроль целостности реестра"),
          QStringLiteral("Зарегистрировано нарушение целостности значения:"),
          QLatin1String(kSoftwareRun) + QStringLiteral("\\Updater"),
          QStringLiteral("Результат проверки: \nконтроль не пройден"), QStringLiteral("Контроль загрузочного носителя")},
         QLatin1String("128 131072 ") + QLatin1String(kSoftwareRun) + QStringLiteral("\\Updater")},
    };
    for (const auto &row : sections) {
        for (const bool admin : {false, true}) {
            QTest::addRow("%s, %s", row.name, admin ? "administrator" : "ordinary user")
                << row.change << plain << admin << row.lines << 0u << row.reference << QStringList{row.record};
        }
    }
}

void menu_test::failed_check()
{
    QFETCH(QString, change);
    QFETCH(QString, cmdline);
    QFETCH(bool, admin);
    QFETCH(QStringList, lines);
    QFETCH(uint32_t, hw_mask);
    QFETCH(QString, reference);
    QFETCH(QStringList, records);
    scene s;
    QVERIFY(s.ok);
    const bool windows = reference == QLatin1String("windows");
    if (windows) {
        if (geteuid() != 0)
            QSKIP("needs root: the Windows volume is mounted through a loop device");
        QVERIFY(s.computer.build(cmdline, windows_disk()) && s.computer.attach_loops());
        QVERIFY(approve_windows_reference(QStringLiteral(CHECK_APPROVE_PATH)));
    } else if (reference == QLatin1String("disks")) {
        module_session session;
        QVERIFY(session.ok() && approve_disks(session.handle()));
    }
    if (change == QLatin1String("mbr"))
        QVERIFY(s.computer.write_device(QStringLiteral("sda"), 100, "a changed boot loader"));
    else
        QVERIFY(s.computer.build(cmdline, change) && (!windows || s.computer.attach_loops()));

    const int code = run_program([&](bool &program_ends) {
        Menu *menu = the_menu();
        QVERIFY(menu);
        if (admin)
            log_on(s.module, kChief, kChiefPassword);
        else
            log_on(s.module, kIvanSerial, kIvanPassword);
        QVERIFY(menu->isVisible());
        const QString report = report_of(menu);
        int from = 0;
        for (const QString &line : lines) {
            const int at = report.indexOf(line, from);
            QVERIFY2(at >= 0, qPrintable(line + QStringLiteral(" after ") + report.mid(from)));
            from = at + static_cast<int>(line.size());
        }
        if (admin) {
            QCOMPARE(menu->windowTitle(), kChiefGreeting);
            QVERIFY(all_choices(menu));
            // The menu widens for the buttons it shows: no text is cut.
            for (const char *name : {"login_as_admin", "proceed", "reboot"}) {
                const auto *b = menu->findChild<QPushButton *>(QLatin1String(name));
                QTRY_VERIFY2(b->geometry().right() < menu->width() && b->width() >= b->sizeHint().width(), name);
            }
        } else {
            QVERIFY(only_reboot(menu));
        }
        // Nothing was handed off; the module session goes on.
        QVERIFY(s.place.calls().isEmpty());
        QVERIFY(!s.place.marker());
        QCOMPARE(orva_initialization::object()->initialised(), 1);
        click(menu, "reboot");
        program_ends = true;
    });
    QCOMPARE(code, 0);
    QVERIFY(!s.place.marker());

    const QList<log_entry> hw_records = records_of_type(LOG_HW_CHECK);
    if (hw_mask == 0) {
        QVERIFY(hw_records.isEmpty());
    } else {
        QCOMPARE(hw_records.size(), 1);
        QCOMPARE(hw_records[0].result, 0u);
        QCOMPARE(hw_records[0].param, QByteArray(reinterpret_cast<const char *>(&hw_mask), 4));
        QCOMPARE(QString::fromUtf8(hw_records[0].text), QStringLiteral("Чек0"));
    }
    QCOMPARE(section_records(), records);
}

void menu_test::reboot_during_the_check()
{
    // Escape while the report grows (the check lets events through between
    // its sections): the check ends, but nothing is handed off although it
    // passed.
    scene s;
    QVERIFY(s.ok);
    const int code = run_program([&](bool &program_ends) {
        Menu *menu = the_menu();
        QString report_then;
        QTimer::singleShot(0, [&] {
            report_then = report_of(menu);
            QTest::keyClick(menu, Qt::Key_Escape);
        });
        log_on(s.module, kIvanSerial, kIvanPassword);
        program_ends = true;
        QVERIFY2(report_then.contains(kHwPassed) && !report_then.contains(QStringLiteral("загрузочного")),
                 qPrintable(report_then));
        QVERIFY(report_of(menu).contains(QStringLiteral("Контроль загрузочного носителя")));
        QVERIFY(!shown(menu, "proceed"));
        QCOMPARE(orva_initialization::object()->initialised(), 1);
    });
    QCOMPARE(code, 0);
    QVERIFY(s.place.calls().isEmpty());
    QVERIFY(!s.place.marker());
}

void menu_test::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("to_report");
    QTest::addColumn<bool>("ends");
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false << true;
    QTest::newRow("Escape in the report") << int(Qt::Key_Escape) << int(Qt::NoModifier) << true << true;
    QTest::newRow("Ctrl+Alt+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier | Qt::AltModifier) << false
                                     << true;
    QTest::newRow("Ctrl+Alt+Delete on the keypad")
        << int(Qt::Key_Delete) << int(Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier) << false << true;
    QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << false << false;
    QTest::newRow("Ctrl+Alt+Shift+Delete")
        << int(Qt::Key_Delete) << int(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier) << false << false;
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << false << false;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << false << false;
}

void menu_test::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, to_report);
    QFETCH(bool, ends);
    // An ordinary user whose check failed: only the reboot is left.
    scene s;
    QVERIFY(s.ok);
    QVERIFY(s.computer.build(QString::fromLatin1(check_computer::kCmdline) + QStringLiteral(" hd0_removable")));

    constexpr int kStillThere = 55;
    const int code = run_program([&](bool &program_ends) {
        log_on(s.module, kIvanSerial, kIvanPassword);
        Menu *menu = the_menu();
        QVERIFY(menu && menu->isVisible() && only_reboot(menu));
        QWidget *target = to_report ? menu->findChild<QWidget *>(QStringLiteral("info")) : menu;
        QTest::keyClick(target, static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers));
        // A key that ends the program has ended the loop before this runs.
        QVERIFY(menu->isVisible() && only_reboot(menu));
        end_later(kStillThere);
        program_ends = true;
    });
    QCOMPARE(code, ends ? 0 : kStillThere);
    QVERIFY(!s.place.marker());
}

void menu_test::administrator_chooses()
{
    scene s;
    QVERIFY(s.ok);
    const orva_tmid chief = make_tmid(kChief);

    const int code = run_program([&](bool &) {
        Menu *menu = the_menu();
        MainWindow *window = the_main_window();
        QVERIFY(menu && window);
        QSignalSpy finished(menu, &Menu::finished);
        log_on(s.module, kChief, kChiefPassword);
        QVERIFY(all_choices(menu));
        const QString report = report_of(menu);
        QVERIFY(report.contains(kHwPassed));

        // The administration environment, then back to the same menu.
        click(menu, "login_as_admin");
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].value<orva_handle_t>(), orva_initialization::object()->handle());
        const orva_tmid passed = finished[0][1].value<orva_tmid>();
        QCOMPARE(std::memcmp(&passed, &chief, sizeof chief), 0);
        QVERIFY(!menu->isVisible());
        QVERIFY(window->isVisible());
        window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->windowTitle(), kChiefGreeting);
        QCOMPARE(report_of(menu), report);
        QVERIFY(all_choices(menu));

        // The device dialog: "Назад" and its close button bring the menu
        // back and keep the boot mode.
        for (const bool with_back : {true, false}) {
            bool seen = false;
            QTimer::singleShot(0, [&] {
                choose_boot_device *dialog = shown_device_dialog();
                QVERIFY(dialog);
                seen = true;
                QVERIFY(!menu->isVisible());
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Выберите загрузочное устройство"));
                QCOMPARE(dialog->focusWidget(), dialog->findChild<QWidget *>(QStringLiteral("boot")));
                QVERIFY(dialog->findChild<QRadioButton *>(QStringLiteral("hard_drive"))->isChecked());
                QVERIFY(enabled(dialog, "cdrom") && shown(dialog, "cdrom"));
                for (const char *off : {"cdrom_emulator_ram", "fssUsbBoot", "advancedBootMenuButton"})
                    QVERIFY2(!enabled(dialog, off) && !shown(dialog, off), off);
                for (const char *off : {"other", "boot_box"})
                    QVERIFY2(!enabled(dialog, off) && shown(dialog, off), off);
                dialog->findChild<QRadioButton *>(QStringLiteral("cdrom"))->setChecked(true);
                if (with_back)
                    click(dialog, "back");
                else
                    dialog->close();
            });
            click(menu, "proceed");
            QVERIFY(seen);
            QVERIFY(menu->isVisible());
            QCOMPARE(menu->boot_mode(), 0);
            QVERIFY(all_choices(menu));
        }
        QVERIFY(s.place.calls().isEmpty());
        QCOMPARE(orva_initialization::object()->initialised(), 1);
    });
    QCOMPARE(code, kEndedByTest);
}

void menu_test::menu_after_the_password_change_dialog()
{
    // An administrator whose password has expired goes on without changing
    // it: the menu and the check come all the same.
    scene s;
    QVERIFY(s.ok);
    QVERIFY(s.module.set_expiry(QStringLiteral("SUPERVISOR"), QDate(2024, 3, 3)));
    const int code = run_program([&](bool &) {
        Menu *menu = the_menu();
        QSignalSpy started(menu, &Menu::started);
        log_on(s.module, kChief, kChiefPassword);
        QVERIFY(!menu->isVisible());
        pass_change_dialog *dialog = change_dialog();
        QVERIFY(dialog && dialog->isVisible());
        click(dialog, "proceed");
        QCOMPARE(started.size(), 1);
        QVERIFY(menu->isVisible());
        QVERIFY(report_of(menu).contains(kHwPassed));
        QVERIFY(all_choices(menu));
    });
    QCOMPARE(code, kEndedByTest);
}

void menu_test::boot_device_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("marker");
    QTest::newRow("hard disk") << "hard_drive" << 0 << QStringList{"kexec"} << true;
    QTest::newRow("CD/DVD drive") << "cdrom" << 1 << QStringList{"kexec-boot-from-cd"} << false;
    // Not offered on screen; run detached.
    QTest::newRow("CD/DVD emulator in RAM") << "cdrom_emulator_ram" << 2
                                            << QStringList{"kexec-boot-from-cd-emul-ram"} << false;
}

void menu_test::boot_device()
{
    QFETCH(QString, device);
    QFETCH(int, mode);
    QFETCH(QStringList, calls);
    QFETCH(bool, marker);
    // An administrator continues the boot also after a failed check.
    scene s;
    QVERIFY(s.ok);
    QVERIFY(s.computer.build(QString::fromLatin1(check_computer::kCmdline), QStringLiteral("-card")));

    const int code = run_program([&](bool &program_ends) {
        log_on(s.module, kChief, kChiefPassword);
        Menu *menu = the_menu();
        QVERIFY(menu && all_choices(menu));
        QVERIFY(report_of(menu).contains(kHwFailed));
        QTimer::singleShot(0, [&] {
            choose_boot_device *dialog = shown_device_dialog();
            QVERIFY(dialog);
            dialog->findChild<QRadioButton *>(device)->setChecked(true);
            click(dialog, "boot");
        });
        click(menu, "proceed");
        program_ends = true;
        QCOMPARE(menu->boot_mode(), mode);
        QCOMPARE(orva_initialization::object()->initialised(), 0);
    });
    QCOMPARE(code, 0);
    QCOMPARE(s.place.calls(5000), calls);
    QCOMPARE(s.place.marker(), marker);
    // The chief administrator's mask is empty: nothing of him is handed over.
    module_session session;
    QVERIFY(session.ok());
    orva_ia_block ia{};
    QCOMPARE(orva_load_ia_data(session.handle(), &ia), ORVA_OK);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&ia), sizeof ia), QByteArray(sizeof ia, '\0'));
}

QTEST_APPLESS_MAIN(menu_test)
#include "menu_test.moc"
