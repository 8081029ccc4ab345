#include "accounts/tmid_setter.h"

#include "accounts/tmid_line_edit.h"
#include "auth/form_timer.h"
#include "auth/user_key.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include "ui_tmid_setter.h"

#include <gost/gost_r3410.h>
#include <gost/tm_crc16.h>
#include <tmid.h>

#include <cstdlib>
#include <cstring>

namespace {

const QString kErrorTitle = QStringLiteral("Ошибка");

// Random source of a generated key: the module's generator.
int module_random(void *arg, unsigned char *buffer, unsigned int length)
{
    return orva_get_random_bytes(static_cast<orva_handle_t>(arg), buffer, length);
}

// Bytes of a generated key covered by its check value in the last two.
constexpr uint16_t kKeyCrcCovered = ORVA_PRIVATE_KEY_SIZE - 2;

} // namespace

TMID_setter::TMID_setter(QWidget *parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::TMID_setter>()),
      m_poll_timer(new form_timer(this))
{
    ui->setupUi(this);
    m_poll_timer->setObjectName(QStringLiteral("poll_timer"));
    connect(m_poll_timer, &form_timer::timeout, this, &TMID_setter::update_tmid);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &TMID_setter::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &TMID_setter::reject);
}

TMID_setter::~TMID_setter()
{
    clear_keys();
}

void TMID_setter::clear_keys()
{
    explicit_bzero(m_key, sizeof m_key);
    std::memset(m_public_key, 0, sizeof m_public_key);
    m_ready = false;
}

void TMID_setter::showF(orva_db_record *record)
{
    m_record = record;
    m_poll_timer->stop();
    clear_keys();
    ui->pages->setCurrentWidget(ui->key_page);
    ui->generate->setChecked(true);
    show();
    ui->next->setFocus();
}

void TMID_setter::on_next_clicked()
{
    ui->pages->setCurrentWidget(ui->tmid_page);
    start_poll();
}

void TMID_setter::on_reset_clicked()
{
    start_poll();
}

void TMID_setter::start_poll()
{
    clear_keys();
    m_refused = false;
    ui->tmid_value->clear();
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    m_poll_timer->start(kPollInterval);
}

void TMID_setter::uninitialised_notice(QWidget *parent, uint32_t state)
{
    if (state == TMID_STATE_UNINITIALISED)
        message::critical(parent, QStringLiteral("Подключен неинициализированный идентификатор"),
                          QStringLiteral("Проинициализируйте идентификатор согласно документации."));
}

void TMID_setter::update_tmid()
{
    tmid_descriptor *list = nullptr;
    int count = 0;
    const int code = tmid_get_id_list(&list, &count);
    const std::unique_ptr<tmid_descriptor, decltype(&std::free)> guard(list, &std::free);
    if (code != TMID_OK || count < 1 || !list) {
        m_refused = false;
        return;
    }
    orva_tmid tmid;
    static_assert(sizeof tmid == sizeof list[0].id, "identifier bytes");
    std::memcpy(&tmid, list[0].id, sizeof tmid);
    const uint32_t state = list[0].state;
    if (m_refused && std::memcmp(&tmid, &m_refused_tmid, sizeof tmid) == 0)
        return;
    m_refused = false;
    ui->tmid_value->setText(db_record::tmid_text(tmid));

    const orva_handle_t handle = orva_initialization::object()->handle();
    uint16_t number = 0;
    orva_db_record holder;
    if (orva_db_find_user_by_id(handle, &tmid, &number) == ORVA_OK &&
        orva_read_db_record(handle, number, &holder) == ORVA_OK && m_record &&
        db_record::name(holder.name) != db_record::name(m_record->name)) {
        m_refused = true;
        m_refused_tmid = tmid;
        message::information(this, QStringLiteral("Неверный идентификатор"),
                             QStringLiteral("Данный идентификатор(%1) уже используется в системе.")
                                 .arg(db_record::tmid_text(tmid)));
        return;
    }

    m_poll_timer->stop();
    if (!create_keys(tmid, state)) {
        m_refused = true;
        m_refused_tmid = tmid;
        m_poll_timer->start(kPollInterval);
        return;
    }
    m_tmid = tmid;
    m_state = state;
    m_ready = true;
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
}

bool TMID_setter::create_keys(const orva_tmid &tmid, uint32_t state)
{
    const orva_handle_t handle = orva_initialization::object()->handle();
    uint8_t key[ORVA_PRIVATE_KEY_SIZE] = {};
    bool made;
    if (tmid.family == 1) {
        user_key::serial_derived_key(tmid, key);
        made = true;
    } else if (ui->generate->isChecked()) {
        made = gost_r3410_01_generate_private_key_ex(key, GOST_R3410_01_CRYPTOPRO_A, module_random, handle) == 0;
        if (made) {
            const uint16_t crc = tm_crc16_calc(key, kKeyCrcCovered);
            key[kKeyCrcCovered] = static_cast<uint8_t>(crc & 0xFF);
            key[kKeyCrcCovered + 1] = static_cast<uint8_t>(crc >> 8);
        }
    } else {
        made = orva_fun_db::object()->read_private_key(tmid, key) == 0;
    }

    unsigned char x[1 + ORVA_PRIVATE_KEY_SIZE];
    unsigned char y[1 + ORVA_PUBLIC_KEY_SIZE] = {};
    x[0] = ORVA_PRIVATE_KEY_SIZE;
    std::memcpy(x + 1, key, sizeof key);
    made = made && gost_r3410_94_compute_public_key(x, y) == 0 && y[0] == ORVA_PUBLIC_KEY_SIZE;
    if (made) {
        std::memcpy(m_key, key, sizeof m_key);
        std::memcpy(m_public_key, y + 1, sizeof m_public_key);
    }
    explicit_bzero(key, sizeof key);
    explicit_bzero(x, sizeof x);
    if (!made) {
        message::critical(this, kErrorTitle, QStringLiteral("Ошибка создания ключевой пары."));
        uninitialised_notice(this, state);
        return false;
    }
    return true;
}

void TMID_setter::accept()
{
    if (!m_ready || !m_record)
        return;
    m_poll_timer->stop();
    identifier_key made;
    made.tmid = m_tmid;
    made.state = m_state;
    std::memcpy(made.key, m_key, sizeof made.key);
    std::memcpy(m_record->public_key, m_public_key, sizeof m_public_key);
    clear_keys();
    QDialog::accept();
    emit newKey(made);
    explicit_bzero(made.key, sizeof made.key);
    emit newTmid(made.tmid);
}

void TMID_setter::reject()
{
    m_poll_timer->stop();
    clear_keys();
    QDialog::reject();
}
