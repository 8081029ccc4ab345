// The logon form: the user presents a touch-memory identifier and types a
// password; the module checks both and the form applies the account rules
// of the user's record (key, blocked account, working hours, password expiry,
// change on request), the attempt limits and the time-outs. Every outcome is
// written to the event log.
#ifndef ORVA_AUTH_AUTH_FORM_H
#define ORVA_AUTH_AUTH_FORM_H

#include "module/meta_types.h"

#include <orva.h>

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>

class form_timer;

namespace Ui {
class auth_form;
}

class auth_form : public QDialog {
    Q_OBJECT

public:
    // Where a logon stands.
    enum class stage {
        idle,        // show_form() not called yet
        waiting_id,  // polling for an identifier, identifier count-down
        password,    // identifier presented, password entry and count-down
        pass_change, // form hidden, the password-change dialog decides
        logged_on,   // logIn emitted, form closed
        closed_down, // only a reboot is possible
    };

    // Poll interval and count-down tick, milliseconds.
    static constexpr int kPollInterval = 100;
    static constexpr int kCountdownTick = 1000;

    explicit auth_form(orva_handle_t handle, QWidget *parent = nullptr);
    ~auth_form() override;

    stage current_stage() const { return m_stage; }
    int password_attempts_left() const { return m_password_attempts; }
    int identification_attempts_left() const { return m_id_attempts; }
    const orva_tmid &presented_tmid() const { return m_tmid; }

public slots:
    // Starts a logon: counters from the module, poll and identifier count-down.
    void show_form();
    // Abandons the presented identifier: ends the module logon, uses up one
    // identification attempt and waits for an identifier again.
    void cancel_id();
    // The OK button or Return in the password field.
    void login();
    // Connected to logIn by show_form(); nothing to do here.
    void after_login_check();

    // Timer ticks: identifier poll, identifier and password count-downs.
    void update_tmid();
    void tm_countdown();
    void pw_countdown();

signals:
    void logIn(orva_handle_t handle, orva_tmid tmid);
    void show_pass_change_dialog(QString reason, orva_db_record record, orva_handle_t handle);
    void authenticationHasFailed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // The title bar's close button: the logon form stays.
    void reject() override;

private slots:
    void on_reboot_clicked();

private:
    // Results of post_login_check.
    enum check_result {
        CHECK_OK = 0,
        CHECK_HANDLED = -1,      // an account rule dealt with the logon itself
        CHECK_KEY_MISMATCH = -2,
        CHECK_NO_RECORD = -3,    // the logged-on user's record cannot be read
    };

    // An account rule's verdict.
    struct rule_outcome {
        enum { allow, refuse, change_password } verdict = allow;
        QString reason; // the password-change dialog's text
    };

    // Reads the three settings; closes down (and -1) when one cannot be read.
    int set_counters();
    // The form reset, the settings read anew, the poll and the identifier
    // count-down running (closed down instead when the settings are
    // unreadable).
    void wait_for_identifier();
    // The first identifier on the reader and its user key; -1 when none.
    int read_tmid();
    void identifier_presented();
    // The password prompt after an identifier that needs a password.
    void ask_password(bool clear_message);
    // The logon with the current (empty) password field, uncounted and quiet.
    void login_nopass();
    // Results of module_logon besides orva_login's codes.
    enum { LOGON_NO_HASH = -2, LOGON_STILL_OPEN = -3 };
    // The steps login() and login_nopass() share: hashes the password, ends
    // a module logon this form left open, uses up a password attempt when
    // `counted`, logs on. orva_login's code; LOGON_NO_HASH when the hash
    // failed; LOGON_STILL_OPEN when the open logon could not be ended (the
    // form is closed down).
    int module_logon(const QString &password, bool counted);
    // After the module accepted the logon: the account checks and what
    // follows them. `quiet` (no password typed yet): a key mismatch ends the
    // module logon and asks for the password instead of being reported.
    void finish_logon(const QString &password, bool quiet);
    int post_login_check(const QString &password);
    rule_outcome check_user_admin(const orva_db_record &record);
    rule_outcome check_user_everyone(const orva_db_record &record);
    rule_outcome check_password_state(const orva_db_record &record);
    void key_mismatch();
    void record_unreadable();
    void logon_complete();

    // Ends the module logon of this form, whatever the hand-over will need
    // later: an abandoned logon must not stay open. False when it stays.
    bool end_module_logon();
    // The closed-down state: only the reboot remains.
    void hide_form(const QString &text);
    void reset_form();
    void stop_timers();
    void reset_password_time();
    void show_seconds_left(int milliseconds);
    void log_logon(uint32_t result);

    std::unique_ptr<Ui::auth_form> ui;
    orva_handle_t m_handle;
    stage m_stage = stage::idle;

    orva_tmid m_tmid{};
    uint8_t m_key[ORVA_PRIVATE_KEY_SIZE] = {};

    int m_tm_left = 0;         // identifier time left, ms
    int m_pw_left = 0;         // password time left, ms
    int m_pw_timeout = 0;      // password time-out last read, s
    int m_password_attempts = 0;
    int m_id_attempts = 0;
    bool m_change_requested = false;

    form_timer *m_poll_timer;
    form_timer *m_tm_timer;
    form_timer *m_pw_timer;
};

#endif
