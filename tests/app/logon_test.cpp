// Logon scenarios: the whole program on a simulated module, identifiers
// presented on the simulated reader, passwords typed as keys, boxes answered
// by the scripted responder, the clocks fixed and the form's timers ticked by
// hand.
#include "auth/account_rules.h"
#include "auth/auth_form.h"
#include "auth/form_timer.h"
#include "auth/pass_change_dialog.h"
#include "auth/user_pass_form.h"
#include "auth/user_key.h"
#include "log/log_types.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "support/fault_injection.h"
#include "support/logon_run.h"
#include "support/scripted_responder.h"

#include <gost/gost_r3410.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>

namespace {

using stage = auth_form::stage;

const QString kIvanSerial = QString::fromLatin1(logon_module::kIvanSerial);
const QString kIvanPassword = QString::fromLatin1(logon_module::kIvanPassword);
const QString kStranger = QStringLiteral("0000DEADBEEF");
const QString kChief = QString::fromLatin1(logon_module::kChiefSerial);
const QString kChiefPassword = QString::fromLatin1(logon_module::kChiefPassword);

// Monday, 4 March 2024.
const QDate kMonday(2024, 3, 4);
const QDateTime kMondayMorning(kMonday, QTime(10, 0));

const QString kSecondsLeft = QStringLiteral("Осталось %1 секунд.");
const QString kTimeout = QStringLiteral("Превышен таймаут ожидания. Необходима перезагрузка.");
const QString kPasswordLimit = QStringLiteral("Исчерпан лимит попыток ввода пароля. Необходима перезагрузка.");
const QString kIdentificationLimit =
    QStringLiteral("Исчерпан лимит попыток идентификации. Необходима перезагрузка.");
const QString kBadPassword = QStringLiteral("Неверный пароль. Попробуйте ввести пароль еще раз.");

QByteArray bytes_of(const orva_tmid &tmid)
{
    return QByteArray(reinterpret_cast<const char *>(&tmid), sizeof tmid);
}

uint32_t log_date(const QDate &d)
{
    return static_cast<uint32_t>(d.year()) | static_cast<uint32_t>(d.month()) << 16 |
           static_cast<uint32_t>(d.day()) << 24;
}

QList<uint32_t> results_of(const QList<log_entry> &records)
{
    QList<uint32_t> r;
    for (const log_entry &e : records)
        r.append(e.result);
    return r;
}

bool timers_stopped(QObject *form)
{
    return !timer_of(form, "poll_timer")->is_active() && !timer_of(form, "tm_timer")->is_active() &&
           !timer_of(form, "pw_timer")->is_active();
}

// The form is waiting for an identifier, as after a start or a cancel.
bool waiting_for_identifier(auth_form *form)
{
    return form->isVisible() && form->current_stage() == stage::waiting_id &&
           text_of(form, "caption") == QStringLiteral("Предъявите идентификатор.") &&
           text_of(form, "tmid_value").isEmpty() && !enabled(form, "pass_value") &&
           !enabled(form, "buttonBox") && timer_of(form, "poll_timer")->is_active() &&
           timer_of(form, "tm_timer")->is_active() && !timer_of(form, "pw_timer")->is_active();
}

// The closed-down form: only the reboot button and the text.
bool closed_down(auth_form *form, const QString &text)
{
    return form->isVisible() && form->current_stage() == stage::closed_down && shown(form, "reboot") &&
           !shown(form, "caption") && !shown(form, "tmid_label") && !shown(form, "tmid_value") &&
           !shown(form, "pass_label") && !shown(form, "pass_value") && !shown(form, "buttonBox") &&
           text_of(form, "message") == text && timers_stopped(form);
}

bool module_logon_open()
{
    return orva_fun_low_level::object()->logged_in() != 0;
}

QString hex(const QByteArray &b)
{
    return QString::fromLatin1(b.toHex());
}

// A GOST R 34.10-94 pair: 32 private bytes and the 64 public ones.
struct key_pair {
    QByteArray private_key;
    QByteArray public_key;
};

key_pair make_key_pair(char seed)
{
    key_pair k;
    k.private_key = QByteArray(ORVA_PRIVATE_KEY_SIZE, 0);
    for (int i = 0; i < ORVA_PRIVATE_KEY_SIZE; ++i)
        k.private_key[i] = static_cast<char>(seed + 7 * i);
    unsigned char x[1 + ORVA_PRIVATE_KEY_SIZE];
    x[0] = ORVA_PRIVATE_KEY_SIZE;
    std::memcpy(x + 1, k.private_key.constData(), ORVA_PRIVATE_KEY_SIZE);
    unsigned char y[1 + ORVA_PUBLIC_KEY_SIZE] = {};
    if (gost_r3410_94_compute_public_key(x, y) == 0)
        k.public_key = QByteArray(reinterpret_cast<const char *>(y + 1), ORVA_PUBLIC_KEY_SIZE);
    return k;
}

} // namespace

class logon_test : public QObject {
    Q_OBJECT

private slots:
    void init() { form_timer::set_manual(true); }
    void cleanup() { fault::clear(); }

    // Rules on their own.
    void serial_derived_key();
    void working_hours_index_data();
    void working_hours_index();
    void expiry_text_data();
    void expiry_text();

    // Logon as a user goes through it.
    void success_with_password();
    void logon_without_password();
    void unknown_identifier_uses_identification_attempts();
    void wrong_passwords_until_the_limit();
    void success_with_the_last_attempt();
    void hash_failure_costs_no_attempt();
    void blocked_account_then_administrator();
    void working_hours_half_hours();
    void password_expires_today();
    void expired_password_administrator_proceeds();
    void change_on_request();
    void change_on_request_administrator_only();
    void identifier_timeout();
    void password_timeout();
    void key_mismatch_then_matching_key();
    void key_mismatch_without_password_is_quiet();
    void cancel_in_password_change_then_new_logon();
    void cancel_button_gives_identifier_up();
    void logout_failure_closes_down();
    void settings_unreadable();
    void escape_reboots();
    void ctrl_alt_delete_in_password_field_reboots();
    void reboot_button_after_close_down();
};

// ---- rules ---------------------------------------------------------------------

void logon_test::serial_derived_key()
{
    // Seed 0x04030201 from serial bytes 01 02 03 04; the other bytes and the
    // family code take no part.
    const QByteArray expected =
        QByteArray::fromHex("b9830a84c75d90643165188ec450467902620478f6a85c5a70f71d0f909be879");
    uint8_t key[ORVA_PRIVATE_KEY_SIZE];
    user_key::serial_derived_key(make_tmid(kIvanSerial, 1), key);
    QCOMPARE(hex(QByteArray(reinterpret_cast<const char *>(key), sizeof key)), hex(expected));
    user_key::serial_derived_key(make_tmid(QStringLiteral("01020304FFFF"), 0), key);
    QCOMPARE(hex(QByteArray(reinterpret_cast<const char *>(key), sizeof key)), hex(expected));
}

void logon_test::working_hours_index_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<int>("index");
    QTest::newRow("Monday 00:00") << QDateTime(kMonday, QTime(0, 0)) << 0;
    QTest::newRow("Monday 08:29") << QDateTime(kMonday, QTime(8, 29, 59)) << 16;
    QTest::newRow("Monday 08:30") << QDateTime(kMonday, QTime(8, 30)) << 17;
    QTest::newRow("Tuesday 00:00") << QDateTime(kMonday.addDays(1), QTime(0, 0)) << 48;
    QTest::newRow("Sunday 23:59") << QDateTime(kMonday.addDays(6), QTime(23, 59)) << 335;
    QTest::newRow("invalid") << QDateTime() << -1;
}

void logon_test::working_hours_index()
{
    QFETCH(QDateTime, when);
    QFETCH(int, index);
    QCOMPARE(account_rules::hours_index(when), index);

    orva_db_record record;
    std::memset(&record, 0xFF, sizeof record);
    QCOMPARE(account_rules::working_hours_allow(record, when), index >= 0);
    if (index >= 0) {
        record.hours[index] = 0;
        QVERIFY(!account_rules::working_hours_allow(record, when));
        record.hours[index] = 1;
        QVERIFY(account_rules::working_hours_allow(record, when));
    }
}

void logon_test::expiry_text_data()
{
    QTest::addColumn<int>("validity");
    QTest::addColumn<QDate>("expires"); // invalid: -1, -1, -1
    QTest::addColumn<QString>("text");
    const QString last_day = QStringLiteral("Сегодня последний день смены пароля.");
    const QString expired = QStringLiteral("Пароль просрочен. Смените пароль.");
    QTest::newRow("no validity, no date") << 0 << QDate() << QString();
    QTest::newRow("today") << 30 << kMonday << last_day;
    QTest::newRow("yesterday") << 30 << kMonday.addDays(-1) << expired;
    QTest::newRow("tomorrow") << 30 << kMonday.addDays(1) << QString();
    QTest::newRow("a year ago") << 30 << kMonday.addYears(-1) << expired;
    // A date from an earlier validity still counts.
    QTest::newRow("no validity, past date") << 0 << kMonday.addDays(-3) << expired;
    QTest::newRow("validity without a date") << 30 << QDate() << expired;
}

void logon_test::expiry_text()
{
    QFETCH(int, validity);
    QFETCH(QDate, expires);
    QFETCH(QString, text);
    orva_db_record record{};
    record.validity = static_cast<uint8_t>(validity);
    record.exp_day = expires.isValid() ? expires.day() : -1;
    record.exp_month = expires.isValid() ? expires.month() : -1;
    record.exp_year = expires.isValid() ? expires.year() : -1;
    QCOMPARE(account_rules::expiry_text(record, kMonday), text);
}

// ---- logon ------------------------------------------------------------------------

void logon_test::success_with_password()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;
    const orva_tmid tmid = make_tmid(kIvanSerial);

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QVERIFY(form);
        QVERIFY(waiting_for_identifier(form));
        QCOMPARE(form->windowTitle(), QStringLiteral("Вход в систему (ORVA v.0.3.0.29)"));
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(20));
        QVERIFY(!shown(form, "reboot"));
        QCOMPARE(timer_of(form, "poll_timer")->interval(), 100);
        QCOMPARE(timer_of(form, "tm_timer")->interval(), 1000);
        QCOMPARE(form->password_attempts_left(), 3);
        QCOMPARE(form->identification_attempts_left(), 3);
        QSignalSpy logged_in(form, &auth_form::logIn);

        // An empty reader: the poll goes on.
        QVERIFY(tick(form, "poll_timer"));
        QVERIFY(tick(form, "tm_timer", 2));
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(18));
        QVERIFY(waiting_for_identifier(form));

        QVERIFY(present(module, form, kIvanSerial));
        QCOMPARE(text_of(form, "tmid_value"),
                 QStringLiteral("01 010203040506 %1").arg(tmid.crc, 2, 16, QLatin1Char('0')).toUpper());
        QCOMPARE(form->current_stage(), stage::password);
        QCOMPARE(text_of(form, "caption"), QStringLiteral("Введите пароль."));
        QCOMPARE(text_of(form, "message"), QString());
        QVERIFY(enabled(form, "pass_value"));
        QVERIFY(enabled(form, "buttonBox"));
        QCOMPARE(form->focusWidget(), form->findChild<QWidget *>(QStringLiteral("pass_value")));
        QVERIFY(!timer_of(form, "poll_timer")->is_active());
        QVERIFY(!timer_of(form, "tm_timer")->is_active());
        QVERIFY(timer_of(form, "pw_timer")->is_active());
        QCOMPARE(logged_in.count(), 0); // the try without a password failed quietly

        enter_password(form, kIvanPassword);
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(logged_in[0][0].value<orva_handle_t>(), orva_initialization::object()->handle());
        QCOMPARE(bytes_of(logged_in[0][1].value<orva_tmid>()), bytes_of(tmid));
        QVERIFY(!form->isVisible());
        QCOMPARE(form->current_stage(), stage::logged_on);
        QVERIFY(timers_stopped(form));
        QVERIFY(module_logon_open()); // it stays open for the hand-over
        QCOMPARE(text_of(form, "pass_value"), QString()); // the typed password is gone

        // What the operating system will receive: password (class 1: length
        // byte first) and the serial-derived key.
        orva_fun_db *db = orva_fun_db::object();
        QCOMPARE(db->current_user_name(), QStringLiteral("IVAN"));
        const orva_ia_block &ia = db->ia_block();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(ia.password), 7), QByteArray("\x06secret"));
        uint8_t key[ORVA_PRIVATE_KEY_SIZE];
        user_key::serial_derived_key(tmid, key);
        QCOMPARE(hex(QByteArray(reinterpret_cast<const char *>(ia.user_key), 32)),
                 hex(QByteArray(reinterpret_cast<const char *>(key), 32)));
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    const QList<log_entry> log = module.logon_records();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].result, uint32_t(LOG_OK));
    QCOMPARE(log[0].param, bytes_of(tmid));
    QCOMPARE(log[0].date, log_date(kMonday));
}

void logon_test::logon_without_password()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll(QStringLiteral("PETR"), QStringLiteral("EVERYONE"), kIvanSerial, QString()));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        // No prompt: the logon is complete.
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(form->current_stage(), stage::logged_on);
        QVERIFY(!form->isVisible());
        QVERIFY(!timer_of(form, "pw_timer")->is_active());
        QCOMPARE(form->password_attempts_left(), 3); // not counted
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_OK});
}

void logon_test::unknown_identifier_uses_identification_attempts()
{
    logon_module module;
    QVERIFY(module.ready());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QVERIFY(module.touch(kStranger));
        for (int attempt = 1; attempt <= 3; ++attempt) {
            // The identifier stays on the reader: every poll finds it again.
            QVERIFY(tick(form, "poll_timer"));
            QCOMPARE(form->current_stage(), stage::password);
            enter_password(form, QStringLiteral("guess"));
            if (attempt < 3) {
                QVERIFY(waiting_for_identifier(form));
                QCOMPARE(text_of(form, "message"), QStringLiteral("Незарегистрированный пользователь"));
                QCOMPARE(form->identification_attempts_left(), 3 - attempt);
                QCOMPARE(form->password_attempts_left(), 3); // counted anew
            }
        }
        QVERIFY(closed_down(form, kIdentificationLimit));
        QVERIFY(!tick(form, "poll_timer"));
        QVERIFY(!module_logon_open());
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    const QList<log_entry> log = module.logon_records();
    QCOMPARE(results_of(log), (QList<uint32_t>{LOG_UNKNOWN_USER, LOG_UNKNOWN_USER, LOG_UNKNOWN_USER}));
    QCOMPARE(log[0].param, bytes_of(make_tmid(kStranger)));
}

void logon_test::wrong_passwords_until_the_limit()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        QVERIFY(tick(form, "pw_timer", 5));
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(15));

        for (int attempt = 1; attempt <= 2; ++attempt) {
            enter_password(form, QStringLiteral("wrong%1").arg(attempt));
            QCOMPARE(form->current_stage(), stage::password);
            QCOMPARE(text_of(form, "message"), kBadPassword);
            QCOMPARE(text_of(form, "pass_value"), QString());
            QCOMPARE(form->password_attempts_left(), 3 - attempt);
            // The password time starts again.
            QVERIFY(tick(form, "pw_timer"));
            QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(19));
        }
        enter_password(form, QStringLiteral("wrong3"));
        QVERIFY(closed_down(form, kPasswordLimit));
        QCOMPARE(logged_in.count(), 0);
        // Nothing reaches the hidden field any more.
        enter_password(form, kIvanPassword);
        QCOMPARE(logged_in.count(), 0);
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    // The last wrong password is logged too.
    QCOMPARE(results_of(module.logon_records()),
             (QList<uint32_t>{LOG_BAD_PASSWORD, LOG_BAD_PASSWORD, LOG_BAD_PASSWORD}));
}

void logon_test::success_with_the_last_attempt()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.config({QStringLiteral("--bad-count"), QStringLiteral("2")}));
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QCOMPARE(form->password_attempts_left(), 2);
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        enter_password(form, QStringLiteral("wrong"));
        QCOMPARE(form->password_attempts_left(), 1);
        enter_password(form, kIvanPassword);
        QCOMPARE(form->password_attempts_left(), 0);
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(form->current_stage(), stage::logged_on);
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), (QList<uint32_t>{LOG_BAD_PASSWORD, LOG_OK}));
}

void logon_test::hash_failure_costs_no_attempt()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;
    const QString hash_error = QStringLiteral("Возникла ошибка при вычислении свертки пароля. ");

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        // The try without a password: its own short text, then the prompt.
        fault::fail_next("orva_make_xid", ORVA_E_NOMEM);
        QVERIFY(present(module, form, kIvanSerial));
        QCOMPARE(form->current_stage(), stage::password);
        QCOMPARE(text_of(form, "message"), hash_error);
        QVERIFY(enabled(form, "pass_value"));
        QVERIFY(timer_of(form, "pw_timer")->is_active());

        // A typed password: reported, no attempt used, the password time anew.
        QVERIFY(tick(form, "pw_timer", 4));
        fault::fail_next("orva_make_xid", ORVA_E_NOMEM);
        enter_password(form, kIvanPassword);
        QCOMPARE(text_of(form, "message"), hash_error + QStringLiteral("Попробуйте ввести пароль еще раз."));
        QCOMPARE(form->current_stage(), stage::password);
        QCOMPARE(form->password_attempts_left(), 3);
        QVERIFY(!module_logon_open());
        QVERIFY(tick(form, "pw_timer"));
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(19));

        form->findChild<QLineEdit *>(QStringLiteral("pass_value"))->clear();
        enter_password(form, kIvanPassword);
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(form->password_attempts_left(), 2);
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_OK});
}

void logon_test::blocked_account_then_administrator()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan({QStringLiteral("--blocked")}));
    // The blocked byte does not hold administrators back.
    QVERIFY(module.modify_user(QStringLiteral("SUPERVISOR"), [](orva_db_record &r) { r.blocked = 1; }));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        enter_password(form, kIvanPassword);
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(kind_name(responder.boxes()[0].type), "critical");
        QCOMPARE(responder.boxes()[0].title, QStringLiteral("Информация"));
        QCOMPARE(responder.boxes()[0].text, QStringLiteral("Учетная запись заблокирована."));
        QCOMPARE(logged_in.count(), 0);
        // The identifier is given up and the module logon ended.
        QVERIFY(waiting_for_identifier(form));
        QCOMPARE(form->identification_attempts_left(), 2);
        QVERIFY(!module_logon_open());

        QVERIFY(module.untouch());
        QVERIFY(present(module, form, kChief));
        enter_password(form, kChiefPassword);
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(bytes_of(logged_in[0][1].value<orva_tmid>()), bytes_of(make_tmid(kChief)));
        QCOMPARE(orva_fun_db::object()->current_user_name(), QStringLiteral("SUPERVISOR"));
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(results_of(module.logon_records()), (QList<uint32_t>{LOG_BLOCKED, LOG_OK}));
}

void logon_test::working_hours_half_hours()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    // Monday 08:00-08:29 and Sunday 23:30-23:59 forbidden, 08:30 allowed.
    QVERIFY(module.modify_user(QStringLiteral("IVAN"), [](orva_db_record &r) {
        r.hours[16] = 0;
        r.hours[17] = 1;
        r.hours[335] = 0;
    }));
    clock_guard clock(QDateTime(kMonday.addDays(6), QTime(23, 45)));
    scripted_responder responder;
    const QString limited = QStringLiteral("Установлены ограничения на работу в данное время.");

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        enter_password(form, kIvanPassword);
        QCOMPARE(responder.boxes().size(), 1);
        QVERIFY(waiting_for_identifier(form));

        clock.set(QDateTime(kMonday, QTime(8, 29)));
        QVERIFY(tick(form, "poll_timer"));
        enter_password(form, kIvanPassword);
        QCOMPARE(responder.boxes().size(), 2);
        QVERIFY(waiting_for_identifier(form));
        QCOMPARE(logged_in.count(), 0);

        clock.set(QDateTime(kMonday, QTime(8, 30)));
        QVERIFY(tick(form, "poll_timer"));
        enter_password(form, kIvanPassword);
        QCOMPARE(logged_in.count(), 1);
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(responder.boxes().size(), 2);
    for (const message::box_request &box : responder.boxes()) {
        QCOMPARE(kind_name(box.type), "critical");
        QCOMPARE(box.title, QStringLiteral("Информация"));
        QCOMPARE(box.text, limited);
    }
    QCOMPARE(results_of(module.logon_records()), (QList<uint32_t>{LOG_TIME_LIMIT, LOG_TIME_LIMIT, LOG_OK}));
}

void logon_test::password_expires_today()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    QVERIFY(module.set_expiry(QStringLiteral("IVAN"), kMonday));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;
    const orva_tmid tmid = make_tmid(kIvanSerial);

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        pass_change_dialog *dialog = change_dialog();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QSignalSpy go_on(dialog, &pass_change_dialog::show_integrity_controller);
        QVERIFY(present(module, form, kIvanSerial));
        enter_password(form, kIvanPassword);

        QCOMPARE(logged_in.count(), 0);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->current_stage(), stage::pass_change);
        QVERIFY(timers_stopped(form));
        QCOMPARE(text_of(form, "pass_value"), QString());
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Смените пароль"));
        QCOMPARE(text_of(dialog, "information"), QStringLiteral("Сегодня последний день смены пароля."));
        QVERIFY(!shown(dialog, "proceed")); // not an administrator
        QVERIFY(shown(dialog, "change_but"));
        QVERIFY(shown(dialog, "cancel"));

        // The change through the password entry: old password asked.
        click(dialog, "change_but");
        user_pass_form *entry = shown_user_pass_form();
        QVERIFY(entry);
        QVERIFY(shown(entry, "old_pass_edit"));
        type_into(entry, "old_pass_edit", kIvanPassword);
        type_into(entry, "new_pass_edit1", QStringLiteral("renewed1"));
        type_into(entry, "new_pass_edit2", QStringLiteral("renewed1"));
        click_box_button(entry, "buttonBox", QDialogButtonBox::Ok);

        QCOMPARE(go_on.count(), 1);
        QCOMPARE(go_on[0][0].value<orva_handle_t>(), orva_initialization::object()->handle());
        QCOMPARE(bytes_of(go_on[0][1].value<orva_tmid>()), bytes_of(tmid));
        QVERIFY(!dialog->isVisible());
        QVERIFY(!shown_user_pass_form());
        // The operating system receives the new password.
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(orva_fun_db::object()->ia_block().password), 9),
                 QByteArray("\x08renewed1"));
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_OK});

    // The module holds the new password with a new expiration date.
    const orva_db_record ivan = module.user(QStringLiteral("IVAN"));
    module_session session;
    orva_xid_t xid;
    QCOMPARE(orva_make_xid(session.handle(), 1, &tmid, "renewed1", &xid), ORVA_OK);
    QCOMPARE(orva_xid_compare(session.handle(), &xid, &ivan.xid), ORVA_OK);
    QCOMPARE(QDate(ivan.exp_year, ivan.exp_month, ivan.exp_day), kMonday.addDays(30));
    QCOMPARE(session.log().last().type, uint32_t(LOG_PASSWORD_CHANGE));
}

void logon_test::expired_password_administrator_proceeds()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.set_expiry(QStringLiteral("SUPERVISOR"), kMonday.addDays(-1)));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        pass_change_dialog *dialog = change_dialog();
        QSignalSpy go_on(dialog, &pass_change_dialog::show_integrity_controller);
        QVERIFY(present(module, form, kChief));
        enter_password(form, kChiefPassword);
        QVERIFY(dialog->isVisible());
        QCOMPARE(text_of(dialog, "information"), QStringLiteral("Пароль просрочен. Смените пароль."));
        QVERIFY(shown(dialog, "proceed"));
        QVERIFY(shown(dialog, "change_but"));

        click(dialog, "proceed");
        QCOMPARE(go_on.count(), 1);
        QCOMPARE(bytes_of(go_on[0][1].value<orva_tmid>()), bytes_of(make_tmid(kChief)));
        QVERIFY(!dialog->isVisible());
        QVERIFY(module_logon_open());
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_OK});
}

void logon_test::change_on_request()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        pass_change_dialog *dialog = change_dialog();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        // Control while the password field has the focus.
        QTest::keyClick(form->findChild<QLineEdit *>(QStringLiteral("pass_value")), Qt::Key_Control);
        enter_password(form, kIvanPassword);
        QCOMPARE(logged_in.count(), 0);
        QVERIFY(dialog->isVisible());
        QCOMPARE(text_of(dialog, "information"), QStringLiteral("Смените пароль"));
        QVERIFY(shown(dialog, "change_but"));
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_OK});
}

void logon_test::change_on_request_administrator_only()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    QVERIFY(module.modify_user(QStringLiteral("IVAN"), [](orva_db_record &r) { r.who_changes = 0; }));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        // Control before the identifier: the request holds for this logon.
        QTest::keyClick(form, Qt::Key_Control);
        QVERIFY(present(module, form, kIvanSerial));
        enter_password(form, kIvanPassword);
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(kind_name(responder.boxes()[0].type), "warning");
        QCOMPARE(responder.boxes()[0].title, QStringLiteral("Смена пароля"));
        QCOMPARE(responder.boxes()[0].text,
                 QStringLiteral("Только Администратору разрешено изменить пароль вашей учетной записи."));
        // The logon goes on.
        QCOMPARE(logged_in.count(), 1);
        QVERIFY(!change_dialog()->isVisible());
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_OK});
}

void logon_test::identifier_timeout()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.config({QStringLiteral("--tm-timeout"), QStringLiteral("5")}));
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy failed(form, &auth_form::authenticationHasFailed);
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(5));
        for (int left = 4; left >= 0; --left) {
            QVERIFY(tick(form, "tm_timer"));
            QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(left));
        }
        QCOMPARE(failed.count(), 0);
        QVERIFY(tick(form, "tm_timer"));
        QVERIFY(closed_down(form, kTimeout));
        QCOMPARE(failed.count(), 1);
        // An identifier presented now is not read.
        QVERIFY(module.touch(kIvanSerial));
        form->update_tmid();
        QCOMPARE(form->current_stage(), stage::closed_down);
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    const QList<log_entry> log = module.logon_records();
    QCOMPARE(results_of(log), QList<uint32_t>{LOG_TM_TIMEOUT});
    QCOMPARE(log[0].param, QByteArray(8, '\0'));
}

void logon_test::password_timeout()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.config({QStringLiteral("--pw-timeout"), QStringLiteral("3")}));
    QVERIFY(module.enroll_ivan());
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy failed(form, &auth_form::authenticationHasFailed);
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        QVERIFY(tick(form, "pw_timer", 3));
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(0));
        QVERIFY(tick(form, "pw_timer"));
        QVERIFY(closed_down(form, kTimeout));
        QCOMPARE(failed.count(), 0);
        form->login();
        QCOMPARE(logged_in.count(), 0);
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    const QList<log_entry> log = module.logon_records();
    QCOMPARE(results_of(log), QList<uint32_t>{LOG_PW_TIMEOUT});
    QCOMPARE(log[0].param, bytes_of(make_tmid(kIvanSerial)));
}

void logon_test::key_mismatch_then_matching_key()
{
    logon_module module;
    QVERIFY(module.ready());
    const key_pair anna_key = make_key_pair(1);
    const key_pair boris_key = make_key_pair(2);
    QCOMPARE(anna_key.public_key.size(), ORVA_PUBLIC_KEY_SIZE);
    const QString anna = QStringLiteral("0000000000B1");
    const QString boris = QStringLiteral("0000000000B2");
    // Anna's identifier holds her key, her record someone else's public key.
    QVERIFY(module.enroll(QStringLiteral("ANNA"), QStringLiteral("EVERYONE"), anna, QStringLiteral("anna"),
                          {QStringLiteral("--family"), QStringLiteral("0C"), QStringLiteral("--key"),
                           hex(anna_key.private_key), QStringLiteral("--public-key"), hex(boris_key.public_key)}));
    QVERIFY(module.enroll(QStringLiteral("BORIS"), QStringLiteral("EVERYONE"), boris, QStringLiteral("boris"),
                          {QStringLiteral("--family"), QStringLiteral("0C"), QStringLiteral("--key"),
                           hex(boris_key.private_key), QStringLiteral("--public-key"), hex(boris_key.public_key)}));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, anna, QStringLiteral("0C")));
        enter_password(form, QStringLiteral("anna"));
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(kind_name(responder.boxes()[0].type), "critical");
        QCOMPARE(responder.boxes()[0].title, QStringLiteral("Доступ запрещен"));
        QCOMPARE(responder.boxes()[0].text, QStringLiteral("Секретный ключ не соответствует идентификатору."));
        QCOMPARE(logged_in.count(), 0);
        QVERIFY(waiting_for_identifier(form));
        QCOMPARE(form->identification_attempts_left(), 2);
        QVERIFY(!module_logon_open());

        // A second logon in the same run works.
        QVERIFY(module.untouch());
        QVERIFY(present(module, form, boris, QStringLiteral("0C")));
        enter_password(form, QStringLiteral("boris"));
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(orva_fun_db::object()->current_user_name(), QStringLiteral("BORIS"));
        QCOMPARE(hex(QByteArray(reinterpret_cast<const char *>(orva_fun_db::object()->ia_block().user_key), 32)),
                 hex(boris_key.private_key));
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(responder.boxes().size(), 1);
    const QList<log_entry> log = module.logon_records();
    QCOMPARE(results_of(log), (QList<uint32_t>{LOG_UNKNOWN_USER, LOG_OK}));
    QCOMPARE(log[0].param, bytes_of(make_tmid(anna, 0x0C)));
}

void logon_test::key_mismatch_without_password_is_quiet()
{
    logon_module module;
    QVERIFY(module.ready());
    const key_pair own = make_key_pair(3);
    const key_pair other = make_key_pair(4);
    const QString clara = QStringLiteral("0000000000C1");
    QVERIFY(module.enroll(QStringLiteral("CLARA"), QStringLiteral("EVERYONE"), clara, QString(),
                          {QStringLiteral("--family"), QStringLiteral("0C"), QStringLiteral("--key"),
                           hex(own.private_key), QStringLiteral("--public-key"), hex(other.public_key)}));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, clara, QStringLiteral("0C")));
        // The empty password logged on, the key did not match: no message,
        // the module logon ended, the password is asked.
        QVERIFY(responder.boxes().isEmpty());
        QCOMPARE(form->current_stage(), stage::password);
        QVERIFY(!module_logon_open());
        // The typed (empty) password shows it.
        enter_password(form, QString());
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes()[0].text, QStringLiteral("Секретный ключ не соответствует идентификатору."));
        QVERIFY(waiting_for_identifier(form));
        QCOMPARE(logged_in.count(), 0);
    });

    QCOMPARE(code, kEndedByTest);
    QCOMPARE(results_of(module.logon_records()), QList<uint32_t>{LOG_UNKNOWN_USER});
}

void logon_test::cancel_in_password_change_then_new_logon()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.enroll_ivan());
    QVERIFY(module.set_expiry(QStringLiteral("IVAN"), QDate(2024, 1, 1)));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        pass_change_dialog *dialog = change_dialog();
        QSignalSpy logged_in(form, &auth_form::logIn);
        QVERIFY(present(module, form, kIvanSerial));
        enter_password(form, kIvanPassword);
        QVERIFY(dialog->isVisible());
        QVERIFY(module_logon_open());
        QCOMPARE(orva_fun_db::object()->ia_block().password[0], uint8_t(6));

        click(dialog, "cancel");
        QVERIFY(!dialog->isVisible());
        QVERIFY(waiting_for_identifier(form));
        // Nothing of the abandoned logon is kept for the hand-over.
        const orva_ia_block &ia = orva_fun_db::object()->ia_block();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&ia), sizeof ia), QByteArray(sizeof ia, 0));
        QCOMPARE(text_of(form, "message"), kSecondsLeft.arg(20));
        QCOMPARE(form->identification_attempts_left(), 2);
        // The abandoned logon is over in the module as well.
        QVERIFY(!module_logon_open());
        uint16_t number = 0;
        QCOMPARE(orva_get_current_user(orva_initialization::object()->handle(), &number, nullptr),
                 ORVA_E_NO_SESSION);

        QVERIFY(module.untouch());
        QVERIFY(present(module, form, kChief));
        enter_password(form, kChiefPassword);
        QCOMPARE(logged_in.count(), 1);
        QCOMPARE(orva_fun_db::object()->current_user_name(), QStringLiteral("SUPERVISOR"));
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QCOMPARE(results_of(module.logon_records()), (QList<uint32_t>{LOG_OK, LOG_OK}));
}

void logon_test::cancel_button_gives_identifier_up()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.config({QStringLiteral("--bad-count"), QStringLiteral("2")}));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QVERIFY(present(module, form, kChief));
        QVERIFY(tick(form, "pw_timer", 4));
        click_box_button(form, "buttonBox", QDialogButtonBox::Cancel);
        QVERIFY(waiting_for_identifier(form));
        QCOMPARE(form->identification_attempts_left(), 1);
        QVERIFY(tick(form, "poll_timer"));
        click_box_button(form, "buttonBox", QDialogButtonBox::Cancel);
        QVERIFY(closed_down(form, kIdentificationLimit));
    });

    QCOMPARE(code, kEndedByTest);
    QVERIFY(responder.boxes().isEmpty());
    QVERIFY(module.logon_records().isEmpty());
}

void logon_test::logout_failure_closes_down()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.set_expiry(QStringLiteral("SUPERVISOR"), QDate(2024, 1, 1)));
    clock_guard clock(kMondayMorning);
    scripted_responder responder;

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QVERIFY(present(module, form, kChief));
        enter_password(form, kChiefPassword);
        QVERIFY(change_dialog()->isVisible());
        fault::fail_next("orva_logout", ORVA_E_READ);
        click(change_dialog(), "cancel");
        // Not a silent failure at the next try: the form says what happened.
        QVERIFY(closed_down(form, QStringLiteral("Не удалось завершить сеанс пользователя в контроллере "
                                                 "(ошибка 7507). Необходима перезагрузка.")));
    });

    QCOMPARE(code, kEndedByTest);
}

void logon_test::settings_unreadable()
{
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;
    fault::fail_next("orva_db_conf_get_pw_timeout", ORVA_E_READ);

    const int code = run_program([&](bool &) {
        auth_form *form = logon_form();
        QVERIFY(closed_down(form, QStringLiteral("Не удалось получить настройки контроллера. "
                                                 "Необходима перезагрузка.")));
    });

    QCOMPARE(code, kEndedByTest);
}

void logon_test::escape_reboots()
{
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &program_ends) {
        program_ends = true;
        QTest::keyClick(logon_form(), Qt::Key_Escape);
    });

    QCOMPARE(code, 0);
}

void logon_test::ctrl_alt_delete_in_password_field_reboots()
{
    logon_module module;
    QVERIFY(module.ready());
    scripted_responder responder;

    const int code = run_program([&](bool &program_ends) {
        auth_form *form = logon_form();
        QVERIFY(present(module, form, kChief));
        program_ends = true;
        QTest::keyClick(form->findChild<QLineEdit *>(QStringLiteral("pass_value")), Qt::Key_Delete,
                        Qt::ControlModifier | Qt::AltModifier);
    });

    QCOMPARE(code, 0);
}

void logon_test::reboot_button_after_close_down()
{
    logon_module module;
    QVERIFY(module.ready());
    QVERIFY(module.config({QStringLiteral("--tm-timeout"), QStringLiteral("0")}));
    scripted_responder responder;

    const int code = run_program([&](bool &program_ends) {
        auth_form *form = logon_form();
        QVERIFY(tick(form, "tm_timer"));
        QVERIFY(closed_down(form, kTimeout));
        program_ends = true;
        click(form, "reboot");
    });

    QCOMPARE(code, 0);
}

QTEST_APPLESS_MAIN(logon_test)
#include "logon_test.moc"
