#include "auth/user_pass_form.h"

#include "auth/password_rules.h"
#include "module/orva_initialization.h"
#include "module/password_hash.h"
#include "ui/message.h"
#include "ui/trace.h"

#include "ui_user_pass_form.h"

#include <cstring>

namespace {

const QString kInputError = QString::fromUtf16(password_rules::kInputErrorTitle);
const QString kWrongOldPassword = QStringLiteral("Неправильный старый пароль.");
const QString kMismatch = QStringLiteral("Введенные пароли не совпадают.");
const QString kTooShort = QStringLiteral("Слишком короткий пароль.");
const QString kChangeError = QStringLiteral("Ошибка смены пароля");
const QString kChangeLimit = QStringLiteral("Лимит попыток смены пароля исчерпан.");

} // namespace

user_pass_form::user_pass_form(QWidget *parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::user_pass_form>())
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &user_pass_form::check_and_accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &user_pass_form::reject);
}

user_pass_form::~user_pass_form() = default;

int user_pass_form::check_pass_correctness(const QString &password, int mask, int show)
{
    return password_rules::check_pass_correctness(password, mask, show, this);
}

QString user_pass_form::generate_pass(int mask, int length) const
{
    return password_rules::generate_pass(mask, length);
}

void user_pass_form::show_form(orva_db_record record, int mask, int min_length, int generate_only, int mode)
{
    show_form(record, mask, min_length, generate_only, mode, 0);
}

void user_pass_form::show_form(orva_db_record record, int mask, int min_length, int generate_only, int mode,
                               int count_attempts)
{
    ORVA_TRACE();
    m_record = record;
    m_mask = mask;
    m_min_length = min_length;
    m_generate_only = generate_only;
    m_mode = mode;
    m_count_attempts = count_attempts;
    m_attempts_left = record.change_attempts;

    ui->old_pass_edit->clear();
    ui->new_pass_edit1->clear();
    ui->new_pass_edit2->clear();
    ui->new_pass_edit1->setReadOnly(false);
    ui->label->show();
    ui->old_pass_edit->show();
    for (QLineEdit *edit : {ui->old_pass_edit, ui->new_pass_edit1, ui->new_pass_edit2})
        edit->setEchoMode(QLineEdit::Password);
    show();
    ui->old_pass_edit->setFocus();

    if (m_generate_only == 1) {
        // Shown as text: the user has to confirm a password nobody typed.
        ui->new_pass_edit1->setEchoMode(QLineEdit::Normal);
        ui->new_pass_edit1->setText(generate_pass(m_mask, m_min_length));
        ui->new_pass_edit1->setReadOnly(true);
    }
    if (m_mode == MODE_NEW_ONLY) {
        ui->label->hide();
        ui->old_pass_edit->hide();
        ui->new_pass_edit1->setFocus();
    }
}

void user_pass_form::on_generate_clicked()
{
    ui->new_pass_edit1->setEchoMode(QLineEdit::Normal);
    ui->new_pass_edit1->setText(generate_pass(m_mask, m_min_length));
}

void user_pass_form::on_new_pass_edit1_textEdited(const QString &)
{
    ui->new_pass_edit1->setEchoMode(QLineEdit::Password);
}

bool user_pass_form::check_entry()
{
    if (m_mode == MODE_OLD_PASSWORD) {
        const orva_handle_t handle = orva_initialization::object()->handle();
        orva_xid_t xid;
        int code = password_xid(handle, m_record.xid.dev_class, m_record.tmid, ui->old_pass_edit->text(), &xid);
        if (code == ORVA_OK)
            code = orva_xid_compare(handle, &xid, &m_record.xid);
        explicit_bzero(&xid, sizeof xid);
        if (code != ORVA_OK) {
            message::information(this, kInputError, kWrongOldPassword);
            return false;
        }
    }
    const QString password = ui->new_pass_edit1->text();
    if (password != ui->new_pass_edit2->text()) {
        message::information(this, kInputError, kMismatch);
        return false;
    }
    if (check_pass_correctness(password, m_mask, 1) != 0)
        return false;
    if (password.size() < m_min_length) {
        message::information(this, kInputError, kTooShort);
        return false;
    }
    return true;
}

void user_pass_form::check_and_accept()
{
    const bool passed = check_entry();
    const QString password = ui->new_pass_edit1->text();
    ui->old_pass_edit->clear();
    ui->new_pass_edit2->clear();
    if (m_generate_only != 1)
        ui->new_pass_edit1->clear();

    if (passed) {
        hide();
        emit new_password(password);
        return;
    }
    if (m_count_attempts == 1 && --m_attempts_left == 0) {
        message::information(this, kChangeError, kChangeLimit);
        hide();
        emit cancel_id();
    }
}
