#include "auth/auth_form.h"

#include "auth/account_rules.h"
#include "auth/form_timer.h"
#include "auth/user_key.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "module/password_hash.h"
#include "ui/clock.h"
#include "ui/message.h"
#include "ui/trace.h"

#include "ui_auth_form.h"

#include <tmid.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

#include <cstdlib>
#include <cstring>

namespace {

const QString kPresentIdentifier = QStringLiteral("Предъявите идентификатор.");
const QString kEnterPassword = QStringLiteral("Введите пароль.");
const QString kSecondsLeft = QStringLiteral("Осталось %1 секунд.");
const QString kHashError = QStringLiteral("Возникла ошибка при вычислении свертки пароля. ");
const QString kHashRetry = QStringLiteral("Попробуйте ввести пароль еще раз.");
const QString kUnknownUser = QStringLiteral("Незарегистрированный пользователь");
const QString kBadPassword = QStringLiteral("Неверный пароль. Попробуйте ввести пароль еще раз.");
const QString kLogonError = QStringLiteral("Ошибка входа в систему: %1. Попробуйте ввести пароль еще раз.");
const QString kSettingsUnreadable =
    QStringLiteral("Не удалось получить настройки контроллера. Необходима перезагрузка.");
const QString kPasswordLimit = QStringLiteral("Исчерпан лимит попыток ввода пароля. Необходима перезагрузка.");
const QString kIdentificationLimit =
    QStringLiteral("Исчерпан лимит попыток идентификации. Необходима перезагрузка.");
const QString kTimeout = QStringLiteral("Превышен таймаут ожидания. Необходима перезагрузка.");
const QString kLogoutFailed =
    QStringLiteral("Не удалось завершить сеанс пользователя в контроллере (ошибка %1). Необходима перезагрузка.");

const QString kAccessDenied = QStringLiteral("Доступ запрещен");
const QString kKeyMismatch = QStringLiteral("Секретный ключ не соответствует идентификатору.");
const QString kInformation = QStringLiteral("Информация");
const QString kBlocked = QStringLiteral("Учетная запись заблокирована.");
const QString kHoursLimited = QStringLiteral("Установлены ограничения на работу в данное время.");
const QString kChangeTitle = QStringLiteral("Смена пароля");
const QString kAdminOnlyChanges =
    QStringLiteral("Только Администратору разрешено изменить пароль вашей учетной записи.");
const QString kErrorTitle = QStringLiteral("Ошибка");
const QString kRecordUnreadable = QStringLiteral("Ошибка получения записи текущего пользователя.");

const QString kChangeRequested = QStringLiteral("Смените пароль");

bool is_reboot_key(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    return event->key() == Qt::Key_Escape ||
           (event->key() == Qt::Key_Delete && mods == (Qt::ControlModifier | Qt::AltModifier));
}

} // namespace

auth_form::auth_form(orva_handle_t handle, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::auth_form>()),
      m_handle(handle),
      m_poll_timer(new form_timer(this)),
      m_tm_timer(new form_timer(this)),
      m_pw_timer(new form_timer(this))
{
    ui->setupUi(this);
    m_poll_timer->setObjectName(QStringLiteral("poll_timer"));
    m_tm_timer->setObjectName(QStringLiteral("tm_timer"));
    m_pw_timer->setObjectName(QStringLiteral("pw_timer"));
    connect(m_poll_timer, &form_timer::timeout, this, &auth_form::update_tmid);
    connect(m_tm_timer, &form_timer::timeout, this, &auth_form::tm_countdown);
    connect(m_pw_timer, &form_timer::timeout, this, &auth_form::pw_countdown);

    // Return in the password field logs on; the dialog itself has no default
    // button (it would log on a second time).
    for (QAbstractButton *b : ui->buttonBox->buttons()) {
        if (auto *push = qobject_cast<QPushButton *>(b))
            push->setAutoDefault(false);
    }
    connect(ui->pass_value, &QLineEdit::returnPressed, this, &auth_form::login);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &auth_form::login);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &auth_form::cancel_id);
    ui->reboot->hide();
}

auth_form::~auth_form()
{
    explicit_bzero(m_key, sizeof m_key);
}

// ---- the start and the settings ----------------------------------------------

void auth_form::show_form()
{
    ORVA_TRACE();
    connect(this, &auth_form::logIn, this, &auth_form::after_login_check, Qt::UniqueConnection);
    m_handle = orva_initialization::object()->handle();
    ui->reboot->hide();
    orva_fun_db::object()->save_start_nirun(0);
    wait_for_identifier();
    m_id_attempts = m_password_attempts;
    show();
}

void auth_form::wait_for_identifier()
{
    reset_form();
    m_stage = stage::waiting_id;
    if (set_counters() != 0)
        return; // closed down: nothing runs
    m_pw_timer->stop();
    m_poll_timer->start(kPollInterval);
    m_tm_timer->start(kCountdownTick);
    show_seconds_left(m_tm_left);
}

int auth_form::set_counters()
{
    orva_fun_db *db = orva_fun_db::object();
    uint8_t tm_timeout = 0;
    uint8_t pw_timeout = 0;
    uint8_t bad_count = 0;
    bool failed = db->get_tm_timeout(&tm_timeout) != ORVA_OK;
    failed = db->get_pw_timeout(&pw_timeout) != ORVA_OK || failed;
    failed = db->get_max_bad_count(&bad_count) != ORVA_OK || failed;
    m_password_attempts = bad_count;
    m_tm_left = tm_timeout * 1000;
    m_pw_timeout = pw_timeout;
    m_pw_left = pw_timeout * 1000;
    if (failed) {
        hide_form(kSettingsUnreadable);
        return -1;
    }
    return 0;
}

void auth_form::reset_password_time()
{
    uint8_t pw_timeout = 0;
    if (orva_fun_db::object()->get_pw_timeout(&pw_timeout) == ORVA_OK)
        m_pw_timeout = pw_timeout;
    m_pw_left = m_pw_timeout * 1000;
}

// ---- the identifier ----------------------------------------------------------

void auth_form::update_tmid()
{
    if (m_stage != stage::waiting_id)
        return;
    if (read_tmid() != 0)
        return;
    identifier_presented();
}

int auth_form::read_tmid()
{
    tmid_descriptor *list = nullptr;
    int count = 0;
    const int code = tmid_get_id_list(&list, &count);
    const std::unique_ptr<tmid_descriptor, decltype(&std::free)> guard(list, &std::free);
    if (code != TMID_OK || count < 1 || !list)
        return -1;

    orva_tmid tmid;
    static_assert(sizeof tmid == sizeof list[0].id, "identifier bytes");
    std::memcpy(&tmid, list[0].id, sizeof tmid);
    uint8_t key[ORVA_PRIVATE_KEY_SIZE] = {};
    if (tmid.family <= 1) {
        if (list[0].state > 1)
            user_key::serial_derived_key(tmid, key);
    } else if (orva_fun_db::object()->read_private_key(tmid, key) != 0) {
        explicit_bzero(key, sizeof key);
        return -1;
    }
    m_tmid = tmid;
    std::memcpy(m_key, key, sizeof m_key);
    explicit_bzero(key, sizeof key);
    return 0;
}

void auth_form::identifier_presented()
{
    m_poll_timer->stop();
    m_tm_timer->stop();
    ui->tmid_value->setText(db_record::tmid_text(m_tmid));
    m_stage = stage::password;
    login_nopass();
}

void auth_form::ask_password(bool clear_message)
{
    m_stage = stage::password;
    ui->caption->setText(kEnterPassword);
    if (clear_message)
        ui->message->clear();
    ui->pass_value->setEnabled(true);
    ui->buttonBox->setEnabled(true);
    ui->pass_value->setFocus();
    m_pw_timer->start(kCountdownTick);
}

// ---- logon -------------------------------------------------------------------

int auth_form::module_logon(const QString &password, bool counted)
{
    orva_xid_t xid;
    if (password_xid(m_handle, orva_get_dev_class_by_handle(m_handle), m_tmid, password, &xid) != ORVA_OK)
        return LOGON_NO_HASH;
    orva_fun_low_level *low = orva_fun_low_level::object();
    if (low->logged_in() && !end_module_logon()) {
        explicit_bzero(&xid, sizeof xid);
        return LOGON_STILL_OPEN;
    }
    if (counted)
        --m_password_attempts;
    const int code = low->log_in(m_tmid, xid);
    explicit_bzero(&xid, sizeof xid);
    return code;
}

void auth_form::finish_logon(const QString &password, bool quiet)
{
    switch (post_login_check(password)) {
    case CHECK_OK:
        logon_complete();
        return;
    case CHECK_HANDLED:
        // A refusal (already shown) gives the identifier up; the password
        // change keeps the form hidden.
        if (m_stage != stage::pass_change)
            cancel_id();
        return;
    case CHECK_KEY_MISMATCH:
        if (!quiet)
            key_mismatch();
        else if (end_module_logon())
            ask_password(true); // the typed password will show it
        return;
    default:
        record_unreadable();
        return;
    }
}

void auth_form::login_nopass()
{
    const QString password = ui->pass_value->text();
    const int code = module_logon(password, false);
    if (code == LOGON_NO_HASH) {
        ui->message->setText(kHashError);
        ask_password(false);
    } else if (code == ORVA_OK) {
        finish_logon(password, true);
    } else if (code != LOGON_STILL_OPEN) {
        ask_password(true);
    }
}

void auth_form::login()
{
    if (m_stage != stage::password)
        return;
    m_pw_timer->stop();
    const QString password = ui->pass_value->text();
    const int code = module_logon(password, true);
    if (code == LOGON_NO_HASH) {
        ui->message->setText(kHashError + kHashRetry);
        reset_password_time();
        m_pw_timer->start(kCountdownTick);
        return;
    }
    if (code == LOGON_STILL_OPEN)
        return;
    if (code == ORVA_OK) {
        finish_logon(password, false);
        return;
    }

    // The module refused: every refusal is logged, also the last one.
    uint32_t result = orva_fun_log::acia_to_log_code(code);
    if (result == LOG_UNMAPPED)
        result = LOG_UNKNOWN_ERROR;
    log_logon(result);
    if (m_password_attempts <= 0) {
        hide_form(kPasswordLimit);
        return;
    }
    if (code == ORVA_E_UNKNOWN_ID) {
        cancel_id();
        if (m_stage == stage::waiting_id)
            ui->message->setText(kUnknownUser);
        return;
    }
    ui->pass_value->clear();
    ui->message->setText(code == ORVA_E_BAD_PASSWORD ? kBadPassword : kLogonError.arg(code));
    reset_password_time();
    m_pw_timer->start(kCountdownTick);
}

int auth_form::post_login_check(const QString &password)
{
    orva_fun_db *db = orva_fun_db::object();
    const std::optional<orva_db_record> record = db->get_current_record_low_level();
    if (!record)
        return CHECK_NO_RECORD;
    db->set_current_user_name(db_record::name(record->name));

    if (m_tmid.family > 1 && db->check_keys(m_key, record->public_key) != 0)
        return CHECK_KEY_MISMATCH;

    const rule_outcome outcome = record->admin ? check_user_admin(*record) : check_user_everyone(*record);
    if (outcome.verdict == rule_outcome::refuse)
        return CHECK_HANDLED;

    // What the operating system receives about this logon; the form keeps
    // neither the password nor the key.
    db->set_selected_user_pr_key(m_key);
    db->update_ia_data(*record, password);
    explicit_bzero(m_key, sizeof m_key);
    ui->pass_value->clear();

    if (outcome.verdict == rule_outcome::change_password) {
        hide();
        m_stage = stage::pass_change;
        log_logon(LOG_OK);
        emit show_pass_change_dialog(outcome.reason, *record, m_handle);
        return CHECK_HANDLED;
    }
    return CHECK_OK;
}

// ---- account rules -------------------------------------------------------------

auth_form::rule_outcome auth_form::check_user_everyone(const orva_db_record &record)
{
    if (record.blocked == 1) {
        log_logon(LOG_BLOCKED);
        message::critical(this, kInformation, kBlocked);
        return {rule_outcome::refuse, QString()};
    }
    if (!account_rules::working_hours_allow(record, app_clock::current_date_time())) {
        log_logon(LOG_TIME_LIMIT);
        message::critical(this, kInformation, kHoursLimited);
        return {rule_outcome::refuse, QString()};
    }
    return check_password_state(record);
}

auth_form::rule_outcome auth_form::check_user_admin(const orva_db_record &record)
{
    return check_password_state(record);
}

auth_form::rule_outcome auth_form::check_password_state(const orva_db_record &record)
{
    const QString expiry = account_rules::expiry_text(record, app_clock::current_date_time().date());
    if (!expiry.isEmpty())
        return {rule_outcome::change_password, expiry};
    if (m_change_requested) {
        if (record.who_changes == 1)
            return {rule_outcome::change_password, kChangeRequested};
        message::warning(this, kChangeTitle, kAdminOnlyChanges);
    }
    return {rule_outcome::allow, QString()};
}

// ---- outcomes ------------------------------------------------------------------

void auth_form::key_mismatch()
{
    log_logon(LOG_UNKNOWN_USER);
    message::critical(this, kAccessDenied, kKeyMismatch);
    cancel_id();
}

void auth_form::record_unreadable()
{
    message::critical(this, kErrorTitle, kRecordUnreadable);
    cancel_id();
}

void auth_form::logon_complete()
{
    stop_timers();
    log_logon(LOG_OK);
    m_stage = stage::logged_on;
    emit logIn(m_handle, m_tmid);
    hide();
}

void auth_form::after_login_check()
{
}

void auth_form::cancel_id()
{
    if (m_stage == stage::idle || m_stage == stage::logged_on || m_stage == stage::closed_down)
        return;
    if (!end_module_logon())
        return;
    // A password change given up: its password and key are not handed over.
    orva_fun_db::object()->wipe_ia_data();
    show();
    --m_id_attempts;
    if (m_id_attempts <= 0) {
        hide_form(kIdentificationLimit);
        return;
    }
    wait_for_identifier();
}

bool auth_form::end_module_logon()
{
    orva_fun_low_level *low = orva_fun_low_level::object();
    if (!low->logged_in())
        return true;
    // log_out() leaves the module logon open unless the hand-over asks to end
    // it; nothing has been handed over yet, so it ends here.
    const bool required = low->getIsLogOutRequired();
    low->setIsLogOutRequired(true);
    const int code = low->log_out();
    low->setIsLogOutRequired(required);
    if (!low->logged_in())
        return true;
    ORVA_TRACE() << "logout failed" << code;
    show();
    hide_form(kLogoutFailed.arg(code));
    return false;
}

// ---- time-outs -------------------------------------------------------------------

void auth_form::tm_countdown()
{
    if (m_stage != stage::waiting_id)
        return;
    if (m_tm_left < 1) {
        m_poll_timer->stop();
        m_tm_timer->stop();
        std::memset(&m_tmid, 0, sizeof m_tmid);
        log_logon(LOG_TM_TIMEOUT);
        hide_form(kTimeout);
        emit authenticationHasFailed();
        return;
    }
    m_tm_left -= 1000;
    show_seconds_left(m_tm_left);
}

void auth_form::pw_countdown()
{
    if (m_stage != stage::password)
        return;
    if (m_pw_left < 1) {
        m_pw_timer->stop();
        log_logon(LOG_PW_TIMEOUT);
        hide_form(kTimeout);
        return;
    }
    m_pw_left -= 1000;
    show_seconds_left(m_pw_left);
}

void auth_form::show_seconds_left(int milliseconds)
{
    ui->message->setText(kSecondsLeft.arg(milliseconds / 1000));
}

// ---- states of the form ------------------------------------------------------------

void auth_form::hide_form(const QString &text)
{
    stop_timers();
    m_stage = stage::closed_down;
    ui->caption->hide();
    ui->tmid_label->hide();
    ui->tmid_value->hide();
    ui->pass_label->hide();
    ui->pass_value->hide();
    ui->pass_value->clear();
    ui->buttonBox->hide();
    ui->reboot->show();
    ui->message->setText(text);
    explicit_bzero(m_key, sizeof m_key);
    ui->reboot->setFocus();
}

void auth_form::reset_form()
{
    ui->caption->setText(kPresentIdentifier);
    ui->tmid_value->clear();
    ui->pass_value->clear();
    ui->message->clear();
    ui->pass_value->setEnabled(false);
    ui->buttonBox->setEnabled(false);
    std::memset(&m_tmid, 0, sizeof m_tmid);
    explicit_bzero(m_key, sizeof m_key);
    m_change_requested = false;
}

void auth_form::stop_timers()
{
    m_poll_timer->stop();
    m_tm_timer->stop();
    m_pw_timer->stop();
}

void auth_form::log_logon(uint32_t result)
{
    orva_fun_log::object()->append_log_record(LOG_LOGIN, result, &m_tmid, QString());
}

// ---- keys ----------------------------------------------------------------------------

void auth_form::on_reboot_clicked()
{
    QApplication::exit(0);
}

void auth_form::keyPressEvent(QKeyEvent *event)
{
    if (is_reboot_key(event)) {
        on_reboot_clicked();
        return;
    }
    if (event->key() == Qt::Key_Control && (m_stage == stage::waiting_id || m_stage == stage::password))
        m_change_requested = true;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void auth_form::reject()
{
}
