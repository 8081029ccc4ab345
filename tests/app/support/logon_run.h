// Logon scenarios: a module ready for logon, the whole program run with a
// scenario inside its event loop, and the forms of the logon as a user sees
// them. The form timers run in manual mode: the scenario delivers the ticks.
#ifndef ORVA_TESTS_APP_LOGON_RUN_H
#define ORVA_TESTS_APP_LOGON_RUN_H

#include "support/sim_module.h"

#include <orva.h>

#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

class MainWindow;
class auth_form;
class form_timer;
class pass_change_dialog;
class user_pass_form;
class QWidget;

// A formatted module whose chief administrator has an identifier and a
// password, so that the program starts with the logon form.
class logon_module : public sim_module {
public:
    static constexpr char kChiefSerial[] = "00000000AA01";
    static constexpr char kChiefPassword[] = "chief";
    // The ordinary user of the scenarios, IVAN of EVERYONE.
    static constexpr char kIvanSerial[] = "010203040506";
    static constexpr char kIvanPassword[] = "secret";

    logon_module();
    bool ready() const { return m_ready; }

    // A user with an identifier (family code 01 unless `extra` names one) and
    // a password; `extra` adds orva-sim enroll options.
    bool enroll(const QString &name, const QString &group, const QString &serial, const QString &password,
                const QStringList &extra = QStringList()) const;
    // IVAN with kIvanSerial and kIvanPassword; `extra` as for enroll().
    bool enroll_ivan(const QStringList &extra = QStringList()) const;
    // orva-sim config options ("--bad-count", "3", ...).
    bool config(const QStringList &options) const;
    // Changes a stored user record (only while the program is not running).
    bool modify_user(const QString &name, const std::function<void(orva_db_record &)> &change) const;
    // Sets the user's password expiration date (as modify_user).
    bool set_expiry(const QString &name, const QDate &date) const;
    // Presents the identifier on the reader / takes every identifier off.
    bool touch(const QString &serial, const QString &family = QStringLiteral("01")) const;
    bool untouch() const;

    // The logon records (type 4) of the event log, read after the run.
    QList<log_entry> logon_records() const;
    // The user's stored record, read after the run.
    orva_db_record user(const QString &name) const;

private:
    bool m_ready;
};

// The identifier orva-sim makes of a serial: family, serial, CRC-8.
orva_tmid make_tmid(const QString &serial, uint8_t family = 1);

// Fixes the program's clock and the module clock (log stamps, expiration
// dates) at this moment; the destructor of the guard lets them run again.
class clock_guard {
public:
    explicit clock_guard(const QDateTime &when);
    ~clock_guard();
    void set(const QDateTime &when);
};

// Runs the program with `scenario` inside its event loop. When the scenario
// returns, the program is ended with kEndedByTest unless it set
// `program_ends` (it expects the program to end by itself). Returns the
// program's exit code.
inline constexpr int kEndedByTest = 77;
int run_program(const std::function<void(bool &program_ends)> &scenario);

// ---- the forms ----------------------------------------------------------------

auth_form *logon_form();
pass_change_dialog *change_dialog();
// The user_pass_form on screen, or null.
user_pass_form *shown_user_pass_form();

// A named child: the form's timers ("poll_timer", "tm_timer", "pw_timer").
form_timer *timer_of(QObject *form, const char *name);
// Delivers `times` ticks of the named timer (it must be running).
bool tick(QObject *form, const char *name, int times = 1);

// Text of a named QLabel or QLineEdit of the form.
QString text_of(QWidget *form, const char *name);
// Whether a named child widget is visible / enabled.
bool shown(QWidget *form, const char *name);
bool enabled(QWidget *form, const char *name);

// Types text into a named line edit (appending), as keys.
void type_into(QWidget *form, const char *name, const QString &text);
// Types the password into the logon form and presses Return.
void enter_password(auth_form *form, const QString &password);
// Clicks a named push button, or the standard button of a named button box.
void click(QWidget *form, const char *name);
void click_box_button(QWidget *form, const char *box, int standard_button);

// Presents the identifier and lets the poll find it.
bool present(const logon_module &module, auth_form *form, const QString &serial,
             const QString &family = QStringLiteral("01"));

// The application of the tests that run without the whole program.
struct app_guard {
    int argc = 1;
    char name[8] = "test";
    char *argv[2] = {name, nullptr};
    QApplication app{argc, argv};
};

// The program's administration window, or null.
MainWindow *main_window();

// The chief administrator logs on and the administration window opens (as
// the menu opens it); null when the logon fails.
MainWindow *open_administration(const logon_module &module);

#endif
