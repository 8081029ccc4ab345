#include "accounts/account_editor.h"

#include "accounts/subjects_tree_view.h"
#include "accounts/tmid_line_edit.h"
#include "accounts/tmid_setter.h"
#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_initialization.h"
#include "module/password_hash.h"
#include "ui/message.h"

#include "ui_account_editor.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <cstring>

namespace {

const QString kErrorTitle = QStringLiteral("Ошибка");

// Device-access first byte: the bits of the three devices over 0xF8.
constexpr uint8_t kDeviceBase = 0xF8;
// Device-access second byte: "Фиксировать".
constexpr uint8_t kDeviceFix = 0x80;
// Longest validity the page offers, days.
constexpr int kMaxValidity = 999;

// Sets the flag for the lifetime of the guard.
class flag_guard {
public:
    explicit flag_guard(bool &flag) : m_flag(flag), m_saved(flag) { m_flag = true; }
    ~flag_guard() { m_flag = m_saved; }
    flag_guard(const flag_guard &) = delete;
    flag_guard &operator=(const flag_guard &) = delete;

private:
    bool &m_flag;
    bool m_saved;
};

orva_handle_t module_handle()
{
    return orva_initialization::object()->handle();
}

// The bits whose boxes are checked.
uint32_t checked_bits(std::initializer_list<std::pair<const QCheckBox *, uint32_t>> boxes)
{
    uint32_t bits = 0;
    for (const auto &[box, bit] : boxes)
        bits |= box->isChecked() ? bit : 0u;
    return bits;
}

bool all_zero(const orva_tmid &tmid)
{
    const orva_tmid zero{};
    return std::memcmp(&tmid, &zero, sizeof tmid) == 0;
}

bool same_tmid(const orva_tmid &a, const orva_tmid &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const QString kKeyWriteFailed = QStringLiteral("Ошибка записи ключа в память идентификатора.");

} // namespace

account_editor::account_editor(QWidget *parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::account_editor>())
{
    ui->setupUi(this);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showName);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showTmid);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showPassParams);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showPassChng);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showBlocked);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showDevAccess);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showPassAlp);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showIfPassSet);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showIeResults);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::showAccAttr);
    connect(ui->subjects, &subjects_tree_view::show_record, this, &account_editor::set_current_record);
    connect(ui->subjects, &subjects_tree_view::record_deleted, this, [this](const QString &name) {
        m_buffer.remove(name);
        drop_secret(name);
    });
    connect(ui->tmid_edit, &tmid_line_edit::reset_tmid, this, &account_editor::reset_current_tmid);

    connect(ui->change_tmid, &QPushButton::clicked, this, [this] { emit showTMIDsetter(&m_record); });
    connect(ui->change_pass, &QPushButton::clicked, this, [this] {
        const int mask = static_cast<int>(alphabet());
        const int mode = orva_xid_is_set(module_handle(), &m_record.xid) == 1 ? 0 : 1;
        emit show_user_pass_form(m_record, mask, ui->min_length->value(), ui->generate_only->isChecked() ? 1 : 0,
                                 mode);
    });
    connect(ui->change_hours, &QPushButton::clicked, this, [this] {
        std::memcpy(m_record.hours, m_hours, sizeof m_hours);
        emit show_time_limitation_form(&m_record);
    });
    connect_widgets();
}

account_editor::~account_editor()
{
    clear_change_buffer();
}

void account_editor::clear_change_buffer()
{
    m_buffer.clear();
    for (secret &pending : m_secrets)
        wipe(pending);
    m_secrets.clear();
    wipe(m_key);
}

subjects_tree_view *account_editor::subjects() const
{
    return ui->subjects;
}

tmid_line_edit *account_editor::tmid_edit() const
{
    return ui->tmid_edit;
}

void account_editor::connect_widgets()
{
    for (QCheckBox *box : {ui->blocked, ui->device_1, ui->device_2, ui->device_3, ui->device_fix, ui->acc_users,
                           ui->acc_icl, ui->acc_log, ui->acc_settings, ui->ia_0, ui->ia_1, ui->ia_2, ui->ia_3,
                           ui->ia_4, ui->ia_5, ui->ia_6, ui->ia_7})
        connect(box, &QCheckBox::toggled, this, [this] { widget_changed(false); });
    for (QCheckBox *box : {ui->generate_only, ui->alp_digits, ui->alp_upper, ui->alp_lower, ui->alp_special})
        connect(box, &QCheckBox::toggled, this, [this] { widget_changed(true); });
    for (QSpinBox *spin : {ui->min_length, ui->validity, ui->change_attempts})
        connect(spin, &QSpinBox::valueChanged, this, [this] { widget_changed(true); });
    for (QRadioButton *radio : {ui->admin_only, ui->user_and_admin})
        connect(radio, &QRadioButton::toggled, this, [this] { widget_changed(false); });
}

void account_editor::widget_changed(bool password_rule)
{
    if (m_filling)
        return;
    if (password_rule)
        m_passwd_modified = 1;
    emit edited();
}

const orva_db_record &account_editor::source(const QString &name, const orva_db_record *record) const
{
    const auto it = m_buffer.constFind(name);
    if (it != m_buffer.constEnd())
        return *it;
    return record ? *record : m_record;
}

// ---- showing a record ----------------------------------------------------------

void account_editor::showName(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const bool group = source(name, record).is_group == 1;
    ui->record_title->setText((group ? QStringLiteral("Настройки группы: ") : QStringLiteral("Настройки пользователя: ")) +
                              name);
    ui->personal_box->setVisible(!group);
}

void account_editor::showTmid(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    m_tmid = source(name, record).tmid;
    ui->tmid_edit->set_tmid(m_tmid);
}

void account_editor::showPassParams(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const orva_db_record &r = source(name, record);
    ui->min_length->setValue(r.min_length);
    ui->validity->setValue(static_cast<int>(std::min<uint32_t>(db_record::validity_days(r), kMaxValidity)));
    ui->change_attempts->setValue(r.change_attempts);
}

void account_editor::showPassChng(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const orva_db_record &r = source(name, record);
    ui->user_and_admin->setChecked(r.who_changes == 1);
    ui->admin_only->setChecked(r.who_changes != 1);
    ui->generate_only->setChecked(r.generate_only == 1);
}

void account_editor::showBlocked(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const orva_db_record &r = source(name, record);
    ui->blocked->setChecked(r.blocked == 1);
    std::memcpy(m_hours, r.hours, sizeof m_hours);
    show_hours_state();
}

void account_editor::show_hours_state()
{
    const bool limited = std::any_of(std::begin(m_hours), std::end(m_hours), [](uint8_t b) { return b == 0; });
    ui->hours_state->setText(limited ? QStringLiteral("заданы") : QStringLiteral("не заданы"));
}

void account_editor::showDevAccess(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const orva_db_record &r = source(name, record);
    ui->device_1->setChecked(r.device_access[0] & 1);
    ui->device_2->setChecked(r.device_access[0] & 2);
    ui->device_3->setChecked(r.device_access[0] & 4);
    ui->device_fix->setChecked(r.device_access[1] & kDeviceFix);
}

void account_editor::showPassAlp(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const orva_db_record &r = source(name, record);
    ui->alp_digits->setChecked(r.alphabet & db_record::ALPHABET_DIGITS);
    ui->alp_upper->setChecked(r.alphabet & db_record::ALPHABET_UPPER);
    ui->alp_lower->setChecked(r.alphabet & db_record::ALPHABET_LOWER);
    ui->alp_special->setChecked(r.alphabet & db_record::ALPHABET_SPECIAL);
}

void account_editor::showIfPassSet(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const bool set = orva_xid_is_set(module_handle(), &source(name, record).xid) == 1;
    ui->pass_state->setText(set ? QStringLiteral("установлен") : QStringLiteral("не установлен"));
}

void account_editor::showIeResults(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const uint8_t mask = source(name, record).ia_mask;
    QCheckBox *boxes[] = {ui->ia_0, ui->ia_1, ui->ia_2, ui->ia_3, ui->ia_4, ui->ia_5, ui->ia_6, ui->ia_7};
    for (int bit = 0; bit < 8; ++bit)
        boxes[bit]->setChecked(mask & (1u << bit));
}

void account_editor::showAccAttr(QString name, orva_db_record *record)
{
    const flag_guard filling(m_filling);
    const orva_db_record &r = source(name, record);
    ui->acc_users->setChecked(r.access & db_record::ACCESS_USERS);
    ui->acc_icl->setChecked(r.access & db_record::ACCESS_ICL);
    ui->acc_log->setChecked(r.access & db_record::ACCESS_LOG);
    ui->acc_settings->setChecked(r.access & db_record::ACCESS_SETTINGS);
    ui->access_box->setVisible(r.is_group != 1 && db_record::name_is(r.group, db_record::kAdmins));
    ui->access_box->setEnabled(orva_fun_db::object()->current_user_name() ==
                               QLatin1String(db_record::kSupervisor));
}

void account_editor::set_current_record(QString name, orva_db_record *record)
{
    emit record_selected();
    m_name = name;
    m_record = source(name, record);
    m_tmid = m_record.tmid;
    m_password.clear();
    wipe(m_key);
    m_personal_changed = false;
    m_password_set = orva_xid_is_set(module_handle(), &m_record.xid) == 1;
    ++m_setup_user_record;
}

// ---- personal parameters -------------------------------------------------------

void account_editor::reset_personal_parameters()
{
    m_tmid = tmid_line_edit::no_tmid();
    orva_xid_reset(module_handle(), &m_record.xid);
    m_password.clear();
    m_key.has_key = false;
    m_personal_changed = true;
    m_password_set = false;
    ui->tmid_edit->set_tmid(m_tmid);
    ui->pass_state->setText(QStringLiteral("не установлен"));
}

void account_editor::reset_current_tmid()
{
    if (m_name.isEmpty())
        return;
    if (message::question(this, QStringLiteral("Сброс персональных параметров"),
                          QStringLiteral("Вы желаете сбросить персональные параметры пользователя?")) !=
        QMessageBox::Ok)
        return;
    reset_personal_parameters();
    wipe(m_key);
    emit edited();
}

void account_editor::new_key(const identifier_key &key)
{
    wipe(m_key);
    m_key.key = key;
}

void account_editor::new_tmid(orva_tmid tmid)
{
    // The key the dialog made for this identifier comes first.
    const bool keyed = same_tmid(m_key.key.tmid, tmid) && !all_zero(tmid);
    reset_personal_parameters();
    m_key.has_key = keyed;
    m_tmid = tmid;
    ui->tmid_edit->set_tmid(m_tmid);
    emit edited();
}

void account_editor::new_password(QString password)
{
    m_password = password;
    // A new password alone is stored too, hashed with the shown identifier.
    m_personal_changed = true;
    m_password_set = true;
    ui->pass_state->setText(QStringLiteral("установлен"));
    emit edited();
}

void account_editor::working_hours_changed(orva_db_record *record)
{
    if (!record)
        return;
    std::memcpy(m_hours, record->hours, sizeof m_hours);
    show_hours_state();
    emit edited();
}

// ---- change buffer -------------------------------------------------------------

void account_editor::update_user()
{
    if (m_name.isEmpty())
        return;
    orva_db_record r = m_record;
    r.blocked = ui->blocked->isChecked() ? 1 : 0;
    r.min_length = static_cast<uint8_t>(ui->min_length->value());
    r.change_attempts = static_cast<uint8_t>(ui->change_attempts->value());
    const uint32_t validity = static_cast<uint32_t>(ui->validity->value());
    if (validity > 254) {
        r.validity = db_record::kValidityLong;
        r.validity_long = validity;
    } else {
        r.validity = static_cast<uint8_t>(validity);
    }
    if (validity != db_record::validity_days(m_record))
        orva_update_password_expiration_date(module_handle(), &r);
    r.who_changes = ui->user_and_admin->isChecked() ? 1 : 0;
    r.generate_only = ui->generate_only->isChecked() ? 1 : 0;
    r.alphabet = alphabet();
    r.device_access[0] = static_cast<uint8_t>(
        kDeviceBase | checked_bits({{ui->device_1, 1u}, {ui->device_2, 2u}, {ui->device_3, 4u}}));
    r.device_access[1] = static_cast<uint8_t>((m_record.device_access[1] & ~kDeviceFix) |
                                              checked_bits({{ui->device_fix, kDeviceFix}}));
    r.access = checked_bits({{ui->acc_users, db_record::ACCESS_USERS},
                             {ui->acc_icl, db_record::ACCESS_ICL},
                             {ui->acc_log, db_record::ACCESS_LOG},
                             {ui->acc_settings, db_record::ACCESS_SETTINGS}});
    r.ia_mask = static_cast<uint8_t>(checked_bits({{ui->ia_0, 1u << 0}, {ui->ia_1, 1u << 1}, {ui->ia_2, 1u << 2},
                                                   {ui->ia_3, 1u << 3}, {ui->ia_4, 1u << 4}, {ui->ia_5, 1u << 5},
                                                   {ui->ia_6, 1u << 6}, {ui->ia_7, 1u << 7}}));
    std::memcpy(r.hours, m_hours, sizeof r.hours);

    if (m_personal_changed) {
        r.tmid = m_tmid;
        orva_xid_t xid;
        const bool hashed =
            m_password_set &&
            password_xid(module_handle(), orva_get_dev_class_by_handle(module_handle()), m_tmid, m_password, &xid) ==
                ORVA_OK;
        if (hashed)
            orva_update_password(module_handle(), &xid, &r);
        else
            // No password for the new identifier yet: none is stored.
            orva_xid_reset(module_handle(), &r.xid);
        explicit_bzero(&xid, sizeof xid);
        // What goes with the record when it is written.
        drop_secret(m_name);
        secret &pending = m_secrets[m_name];
        pending.has_key = m_key.has_key;
        if (m_key.has_key)
            pending.key = m_key.key;
        pending.has_password = hashed && m_name == orva_fun_db::object()->current_user_name();
        if (pending.has_password)
            pending.password = m_password;
    }
    m_buffer.insert(m_name, r);
}

uint8_t account_editor::alphabet() const
{
    return static_cast<uint8_t>(checked_bits({{ui->alp_digits, db_record::ALPHABET_DIGITS},
                                              {ui->alp_upper, db_record::ALPHABET_UPPER},
                                              {ui->alp_lower, db_record::ALPHABET_LOWER},
                                              {ui->alp_special, db_record::ALPHABET_SPECIAL}}));
}

bool account_editor::user_info_correct(const orva_db_record &record) const
{
    if (orva_xid_is_set(module_handle(), &record.xid) != 1)
        return false;
    if (tmid_line_edit::is_no_tmid(record.tmid) || all_zero(record.tmid))
        return false;
    // The page's flag speaks for the record it shows.
    return db_record::name(record.name) != m_name || m_password_set;
}

int account_editor::save_record(orva_db_record &r)
{
    orva_fun_db *db = orva_fun_db::object();
    const QString name = db_record::name(r.name);
    uint32_t type;
    int code;
    int number;
    if (r.is_group == 1) {
        number = db->group_record_no(r);
        if (number >= 0) {
            code = db->update_group_record(static_cast<uint16_t>(number), r);
            type = LOG_GROUP_ATTRIBUTES;
        } else {
            code = db->create_group_record(r);
            type = LOG_GROUP_CREATE;
        }
        if (code != 0) {
            message::critical(this, kErrorTitle,
                              code > 0 ? QStringLiteral("Ошибка создания группы:%1.").arg(code)
                                       : QStringLiteral("Ошибка создания группы."));
            return code;
        }
    } else {
        if (!user_info_correct(r)) {
            message::warning(this, QStringLiteral("Неверные параметры пользователя"),
                             QStringLiteral("Не установлены идентификатор и(или) пароль пользователя."));
            return -1;
        }
        uint8_t previous[ORVA_PRIVATE_KEY_SIZE];
        if (!write_new_key(name, r, previous)) {
            explicit_bzero(previous, sizeof previous);
            return -1;
        }
        number = db->user_record_no(r);
        if (number >= 0) {
            code = db->update_user_record(static_cast<uint16_t>(number), r);
            type = LOG_USER_ATTRIBUTES;
        } else {
            code = db->create_user_record(r);
            type = LOG_USER_CREATE;
        }
        if (code != 0) {
            message::critical(this, kErrorTitle, QStringLiteral("Ошибка создания пользователя:%1.").arg(code));
            restore_key(name, r, previous);
            explicit_bzero(previous, sizeof previous);
            return code;
        }
        explicit_bzero(previous, sizeof previous);
        own_record_written(name, r);
    }
    if (number < 0)
        number = r.is_group == 1 ? db->group_record_no(r) : db->user_record_no(r);
    const uint32_t parameter = number < 0 ? 0 : static_cast<uint32_t>(number);
    orva_fun_log::object()->append_log_record(type, LOG_OK, &parameter, name);
    return 0;
}

bool account_editor::add_new_object()
{
    bool all_saved = true;
    bool supervisor = false;
    // Groups first: a new user may belong to a new group.
    QStringList names;
    for (auto it = m_buffer.cbegin(); it != m_buffer.cend(); ++it) {
        if (it->is_group == 1)
            names.prepend(it.key());
        else
            names.append(it.key());
    }
    for (const QString &name : names) {
        orva_db_record r = m_buffer.value(name);
        if (save_record(r) != 0) {
            all_saved = false;
            continue;
        }
        m_buffer.remove(name);
        drop_secret(name);
        supervisor = supervisor || (r.is_group != 1 && db_record::name_is(r.name, db_record::kSupervisor));
    }
    // The tree shows what the module holds; what was not written stays in
    // the buffer and is shown from there.
    ui->subjects->rebuild(m_name);
    if (supervisor)
        emit supervisor_created();
    if (!all_saved)
        return false;
    QString text = QStringLiteral("Все изменения были сохранены.");
    if (m_passwd_modified)
        text += QStringLiteral("\nНовые параметры пароля вступят в силу после его изменения.");
    m_passwd_modified = 0;
    message::information(this, QStringLiteral("Учетные записи"), text);
    return true;
}

// ---- keys and the hand-over block ------------------------------------------------

void account_editor::wipe(secret &pending)
{
    explicit_bzero(pending.key.key, sizeof pending.key.key);
    pending.key = identifier_key();
    pending.has_key = false;
    pending.password.clear();
    pending.has_password = false;
}

void account_editor::drop_secret(const QString &name)
{
    const auto it = m_secrets.find(name);
    if (it == m_secrets.end())
        return;
    wipe(*it);
    m_secrets.erase(it);
}

const identifier_key *account_editor::key_to_write(const QString &name, const orva_db_record &record) const
{
    const auto it = m_secrets.constFind(name);
    // Keys of family 1 come from the serial number: nothing is stored.
    if (it == m_secrets.constEnd() || !it->has_key || !same_tmid(it->key.tmid, record.tmid) || record.tmid.family <= 1)
        return nullptr;
    return &it->key;
}

bool account_editor::write_new_key(const QString &name, const orva_db_record &record,
                                   uint8_t previous[ORVA_PRIVATE_KEY_SIZE])
{
    const identifier_key *key = key_to_write(name, record);
    if (!key)
        return true;
    const orva_fun_db::key_write result = orva_fun_db::object()->replace_private_key(key->tmid, key->key, previous);
    if (result == orva_fun_db::KEY_WRITTEN)
        return true;
    QString text = kKeyWriteFailed + QLatin1Char('\n');
    switch (result) {
    case orva_fun_db::KEY_UNREAD:
        text += QStringLiteral("Идентификатор %1 не предъявлен или не читается: ключ не записан, прежний ключ "
                               "идентификатора сохранен.")
                    .arg(db_record::tmid_text(key->tmid));
        break;
    case orva_fun_db::KEY_OLD_KEPT:
        text += QStringLiteral("Прежний ключ идентификатора сохранен.");
        break;
    default:
        text += QStringLiteral("Прежний ключ идентификатора утрачен: вход с этим идентификатором невозможен, "
                               "пока ключ не будет записан.");
        break;
    }
    text += QStringLiteral("\nИзменения учетной записи %1 не применены.").arg(name);
    message::critical(this, QStringLiteral("Ошибка записи"), text);
    TMID_setter::uninitialised_notice(this, key->state);
    return false;
}

void account_editor::restore_key(const QString &name, const orva_db_record &record,
                                 const uint8_t previous[ORVA_PRIVATE_KEY_SIZE])
{
    const identifier_key *key = key_to_write(name, record);
    if (!key)
        return;
    uint8_t written[ORVA_PRIVATE_KEY_SIZE];
    const orva_fun_db::key_write result = orva_fun_db::object()->replace_private_key(key->tmid, previous, written);
    explicit_bzero(written, sizeof written);
    if (result != orva_fun_db::KEY_WRITTEN)
        message::critical(this, QStringLiteral("Ошибка записи"),
                          QStringLiteral("Прежний ключ идентификатора %1 не восстановлен: вход с этим "
                                         "идентификатором невозможен.")
                              .arg(db_record::tmid_text(key->tmid)));
}

void account_editor::own_record_written(const QString &name, const orva_db_record &record)
{
    const auto it = m_secrets.constFind(name);
    if (it == m_secrets.constEnd() || !it->has_password)
        return;
    orva_fun_db *db = orva_fun_db::object();
    // A new identifier brings its key; otherwise the logon's stays.
    if (it->has_key && same_tmid(it->key.tmid, record.tmid))
        db->set_selected_user_pr_key(it->key.key);
    db->update_ia_data(record, it->password);
}
