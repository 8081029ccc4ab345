// Settings, information and database-formatting scenarios: the whole program
// on a simulated module, the chief administrator logged on and the
// administration window opened; boxes answered by the scripted responder and
// the module read back through the library.
#include "admin/main_window.h"
#include "auth/auth_form.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "pages/info_page.h"
#include "pages/settings_page.h"
#include "support/check_computer.h"
#include "support/fault_injection.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <gost/gost_r3410.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

#include <cstring>

namespace {

MainWindow *open_chief(const logon_module &module)
{
    auth_form *form = logon_form();
    if (!present(module, form, QString::fromLatin1(logon_module::kChiefSerial)))
        return nullptr;
    enter_password(form, QString::fromLatin1(logon_module::kChiefPassword));
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *mw = qobject_cast<MainWindow *>(w)) {
            mw->showForm(orva_initialization::object()->handle(),
                         make_tmid(QString::fromLatin1(logon_module::kChiefSerial)));
            return mw;
        }
    }
    return nullptr;
}

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

template <class W>
W *child(QWidget *parent, const char *name)
{
    return parent->findChild<W *>(QLatin1String(name));
}

// Module values as the settings page shows them.
struct stored_settings {
    int page, tm_timeout, pw_timeout, bad_count, watchdog;
    bool operator==(const stored_settings &o) const
    {
        return page == o.page && tm_timeout == o.tm_timeout && pw_timeout == o.pw_timeout &&
               bad_count == o.bad_count && watchdog == o.watchdog;
    }
};

stored_settings read_settings()
{
    uint8_t page = 0, tm = 0, pw = 0, bad = 0;
    uint32_t watchdog = 0;
    orva_db_conf_get_tm_page_no(handle(), &page);
    orva_db_conf_get_tm_timeout(handle(), &tm);
    orva_db_conf_get_pw_timeout(handle(), &pw);
    orva_db_conf_get_max_bad_count(handle(), &bad);
    orva_get_watchdog_timeout(handle(), &watchdog);
    return {uint8_t(~page), tm, pw, bad, int(watchdog)};
}

QString run_tool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromLatin1(p.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0);
}

// With ORVA_SCREENSHOT_DIR set (a run under Xvfb), the window as shown on
// each page is saved there.
void snapshot(MainWindow *w, int mode, const char *name)
{
    const QString dir = qEnvironmentVariable("ORVA_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    emit w->itemSelectedModes(mode);
    QTest::qWait(200);
    w->grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
}

} // namespace

class admin_pages_test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { fault::clear(); }

    void settings_at_and_beyond_their_bounds_data();
    void settings_at_and_beyond_their_bounds();
    void settings_load_and_failed_write();
    void station_key();
    void information_page();
    void format_database();
};

void admin_pages_test::settings_at_and_beyond_their_bounds_data()
{
    QTest::addColumn<QString>("spin_box");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("identifier page") << "spinBox_4_1" << 0 << 255;
    QTest::newRow("identifier time-out") << "spinBox_5_1" << 0 << 60;
    QTest::newRow("password time-out") << "spinBox_6" << 5 << 60;
    QTest::newRow("failed logons") << "spinBox_7" << 1 << 10;
    QTest::newRow("watchdog") << "watchDogTimeOutSpinBox" << 0 << 99;
}

void admin_pages_test::settings_at_and_beyond_their_bounds()
{
    QFETCH(QString, spin_box);
    QFETCH(int, low);
    QFETCH(int, high);
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_chief(module);
        QVERIFY(w);
        QTest::keyClick(w, Qt::Key_7, Qt::AltModifier);
        QCOMPARE(w->get_current_mode(), int(MainWindow::MODE_SETTINGS));
        QVERIFY(!w->settings_apply_action()->isEnabled());
        auto *box = child<QSpinBox>(w->settings(), spin_box.toLatin1().constData());
        QVERIFY(box);

        auto stored = [&] {
            const stored_settings s = read_settings();
            const int values[] = {s.page, s.tm_timeout, s.pw_timeout, s.bad_count, s.watchdog};
            const char *names[] = {"spinBox_4_1", "spinBox_5_1", "spinBox_6", "spinBox_7", "watchDogTimeOutSpinBox"};
            for (int i = 0; i < 5; ++i) {
                if (spin_box == QLatin1String(names[i]))
                    return values[i];
            }
            return -1;
        };
        // Typed values beyond a bound are held at it; each bound is stored.
        for (const auto &[typed, expected] : {std::pair{low - 1, low}, {low, low}, {high, high}, {high + 1, high}}) {
            box->selectAll();
            QTest::keyClicks(box, QString::number(typed));
            QTest::keyClick(box, Qt::Key_Enter);
            box->setValue(typed);
            QCOMPARE(box->value(), expected);
            w->set_pref_apply_button_enabled();
            w->settings_apply_action()->trigger();
            QCOMPARE(responder.boxes().last().text, QStringLiteral("Настройки комплекса успешно изменены."));
            QVERIFY(!w->settings_apply_action()->isEnabled());
            QCOMPARE(stored(), expected);
        }
        // Entering the page again shows what the module holds.
        box->setValue(low == 0 ? 1 : low + 1);
        responder.answer(QMessageBox::Discard);
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QTest::keyClick(w, Qt::Key_7, Qt::AltModifier);
        QCOMPARE(box->value(), high);
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_pages_test::settings_load_and_failed_write()
{
    logon_module module;
    QVERIFY(module.ready());
    // Identifier page 1 is stored as 0xFE.
    QVERIFY(module.config({"--page", "1", "--tm-timeout", "11", "--pw-timeout", "12", "--bad-count", "4",
                           "--watchdog", "7"}));
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_chief(module);
        QVERIFY(w);
        settings_page *page = w->settings();
        uint8_t raw = 0;
        QCOMPARE(orva_db_conf_get_tm_page_no(handle(), &raw), ORVA_OK);
        QCOMPARE(raw, uint8_t(0xFE));
        QTest::keyClick(w, Qt::Key_7, Qt::AltModifier);
        QCOMPARE(child<QSpinBox>(page, "spinBox_4_1")->value(), 1);
        QCOMPARE(child<QSpinBox>(page, "spinBox_5_1")->value(), 11);
        QCOMPARE(child<QSpinBox>(page, "spinBox_6")->value(), 12);
        QCOMPARE(child<QSpinBox>(page, "spinBox_7")->value(), 4);
        QCOMPARE(child<QSpinBox>(page, "watchDogTimeOutSpinBox")->value(), 7);
        QVERIFY(!w->settings_apply_action()->isEnabled());

        // The NIRUN box alone offers "Применить"; applying sets the switch.
        QTest::keyClick(child<QCheckBox>(page, "checkBox_3_1"), Qt::Key_Space);
        QVERIFY(w->settings_apply_action()->isEnabled());
        QTest::keyClick(w, Qt::Key_F2);
        QCOMPARE(orva_fun_db::object()->get_start_nirun(), 1);

        // A refused password time-out: the values before it are written,
        // those after it are not.
        child<QSpinBox>(page, "spinBox_4_1")->setValue(0);
        child<QSpinBox>(page, "spinBox_5_1")->setValue(30);
        child<QSpinBox>(page, "spinBox_6")->setValue(40);
        child<QSpinBox>(page, "spinBox_7")->setValue(9);
        child<QSpinBox>(page, "watchDogTimeOutSpinBox")->setValue(50);
        fault::fail_next("orva_db_conf_write_pw_timeout", ORVA_E_WRITE);
        w->settings_apply_action()->trigger();
        QCOMPARE(responder.boxes().last().title, QStringLiteral("Ошибка"));
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Возникла ошибка сохранения таймаута пароля."));
        QVERIFY(!w->settings_apply_action()->isEnabled());
        QCOMPARE(orva_db_conf_get_tm_page_no(handle(), &raw), ORVA_OK);
        QCOMPARE(raw, uint8_t(0xFF));
        QVERIFY((read_settings() == stored_settings{0, 30, 12, 4, 7}));

        // A failed read is reported and the loading goes on.
        fault::fail_next("orva_db_conf_get_pw_timeout", ORVA_E_READ);
        QTest::keyClick(w, Qt::Key_1, Qt::AltModifier);
        QTest::keyClick(w, Qt::Key_7, Qt::AltModifier);
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Возникла ошибка при чтении таймаута пароля."));
        QCOMPARE(child<QSpinBox>(page, "spinBox_6")->value(), 40);
        QCOMPARE(child<QSpinBox>(page, "spinBox_7")->value(), 4);
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_pages_test::station_key()
{
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        MainWindow *w = open_chief(module);
        QVERIFY(w);
        QTest::keyClick(w, Qt::Key_7, Qt::AltModifier);
        // No key yet.
        uint8_t before[ORVA_PRIVATE_KEY_SIZE] = {};
        QCOMPARE(orva_iares_get_ws_private_key(handle(), before), ORVA_E_NOT_SET);

        responder.answer(QMessageBox::Cancel);
        QTest::keyClick(w, Qt::Key_F1);
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Изменение ключа станции."));
        QCOMPARE(responder.boxes().last().informative, QStringLiteral("Вы действительно желаете изменить ключ станции?"));
        uint8_t key[ORVA_PRIVATE_KEY_SIZE];
        QCOMPARE(orva_iares_get_ws_private_key(handle(), key), ORVA_E_NOT_SET);

        for (int round = 0; round < 2; ++round) {
            responder.answer(QMessageBox::Ok);
            w->page_actions(MainWindow::MODE_SETTINGS).at(0)->trigger();
            QCOMPARE(responder.boxes().last().title, QStringLiteral("Внимание"));
            QCOMPARE(responder.boxes().last().text, QStringLiteral("Ключ станции успешно изменен."));
            QCOMPARE(orva_iares_get_ws_private_key(handle(), key), ORVA_OK);
            QVERIFY(std::memcmp(key, before, sizeof key) != 0);
            std::memcpy(before, key, sizeof key);
            // The stored key is a valid private key: its public key checks.
            uint8_t x[1 + ORVA_PRIVATE_KEY_SIZE] = {ORVA_PRIVATE_KEY_SIZE};
            std::memcpy(x + 1, key, sizeof key);
            uint8_t y[1 + ORVA_PUBLIC_KEY_SIZE] = {ORVA_PUBLIC_KEY_SIZE};
            QCOMPARE(gost_r3410_94_compute_public_key(x, y), 0);
            QCOMPARE(orva_fun_db::object()->check_keys(key, y + 1), 0);
            y[1] ^= 1;
            QCOMPARE(orva_fun_db::object()->check_keys(key, y + 1), -1);
        }
    });
    QCOMPARE(code, kEndedByTest);
}

void admin_pages_test::information_page()
{
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;
    QTemporaryDir work;
    QVERIFY(QFile::copy(QStringLiteral(ORVA_GUI_PATH), work.filePath(QStringLiteral("orva-ng-gui"))));
    const QString md5 = run_tool(QStringLiteral("md5sum"), {work.filePath(QStringLiteral("orva-ng-gui"))});
    const QString gost = run_tool(QStringLiteral(ORVA_IC_PATH), {QStringLiteral("gost"),
                                                                 work.filePath(QStringLiteral("orva-ng-gui"))});
    const QString rhash = run_tool(QStringLiteral("rhash"), {QStringLiteral("--gost-cryptopro"),
                                                             work.filePath(QStringLiteral("orva-ng-gui"))});
    QCOMPARE(md5.size(), 32);
    QCOMPARE(gost.size(), 64);
    QCOMPARE(gost, rhash);
    // The page shows the 256-bit digest as a number, most significant byte
    // first: orva-ic's (and rhash's) digest bytes in reverse order.
    QString reversed;
    for (int i = 62; i >= 0; i -= 2)
        reversed += gost.mid(i, 2);
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));

    for (bool with_summary : {false, true}) {
        if (with_summary) {
            QFile summary(work.filePath(QStringLiteral("orvainfo.txt")));
            QVERIFY(summary.open(QIODevice::WriteOnly));
            summary.write("Сборка 29\nкомплект 2\n");
        }
        const int code = run_program([&](bool &) {
            MainWindow *w = open_chief(module);
            QVERIFY(w);
            info_page *page = w->information();
            const QString unknown = QStringLiteral("Неизвестно");
            QCOMPARE(child<QLabel>(page, "serial_value")->text(), unknown);
            QCOMPARE(child<QLabel>(page, "version_value")->text(), QStringLiteral("ORVA v.0.3.0.29"));
            QCOMPARE(child<QLabel>(page, "core_md5_value")->text(), md5);
            QCOMPARE(child<QLabel>(page, "core_gost_value")->text(), reversed);
            QCOMPARE(child<QLabel>(page, "orva_md5_value")->text(), unknown);
            QCOMPARE(child<QLabel>(page, "orva_gost_value")->text(), unknown);
            QCOMPARE(child<QLabel>(page, "summary")->text(),
                     with_summary ? QStringLiteral("Сборка 29\nкомплект 2\n") : QString());
            if (with_summary) {
                w->resize(1024, 700);
                snapshot(w, MainWindow::MODE_SETTINGS, "settings");
                snapshot(w, MainWindow::MODE_INFO, "information");
                snapshot(w, MainWindow::MODE_EXPORT_IMPORT, "export_import");
            }
        });
        QCOMPARE(code, kEndedByTest);
        if (with_summary)
            break;
    }
    QVERIFY(QDir::setCurrent(previous));
}

void admin_pages_test::format_database()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    scripted_responder responder;

    const int code = run_program([&](bool &program_ends) {
        MainWindow *w = open_chief(module);
        QVERIFY(w);
        QAction *format = w->page_actions(MainWindow::MODE_USERS).at(5);
        responder.answer(QMessageBox::Cancel);
        format->trigger();
        QCOMPARE(responder.boxes().last().text, QStringLiteral("Форматирование Базы Данных"));
        QCOMPARE(read_records(handle()).size(), 4);
        QVERIFY(orva_fun_db::object()->is_db_open());

        responder.answer(QMessageBox::Ok);
        format->trigger();
        QCOMPARE(responder.boxes().last().text,
                 QStringLiteral("База данных успешно форматирована. Необходимо перезагрузить систему."));
        QVERIFY(!orva_fun_db::object()->is_db_open());
        program_ends = true;
    });
    QCOMPARE(code, 0);

    // The next start finds an erased module and writes exactly the default
    // records (and the first reference of a computer it can scan).
    check_computer computer;
    QVERIFY(computer.build());
    QCOMPARE(orva_initialization::object()->init(), 0);
    orva_fun_low_level *low = orva_fun_low_level::object();
    QCOMPARE(low->initialize_device(), 1);
    QCOMPARE(low->device_state().state, uint32_t(ORVA_STATE_ERASED));
    QStringList names;
    for (const orva_db_record &r : read_records(handle()))
        names << QString::fromLatin1(r.name) + (r.is_group ? QStringLiteral("/group") : QString());
    QCOMPARE(names, QStringList({"ADMINS/group", "EVERYONE/group", "SUPERVISOR"}));
    orva_fun_db::object()->close_db();
    orva_initialization::object()->exit();
}

QTEST_APPLESS_MAIN(admin_pages_test)
#include "admin_pages_test.moc"
