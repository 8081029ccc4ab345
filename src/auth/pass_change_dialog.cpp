#include "auth/pass_change_dialog.h"

#include "log/log_types.h"
#include "log/orva_fun_log.h"
#include "module/orva_fun_db.h"
#include "module/password_hash.h"
#include "ui/message.h"
#include "ui/trace.h"

#include "ui_pass_change_dialog.h"

#include <cstring>

pass_change_dialog::pass_change_dialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::pass_change_dialog>())
{
    ui->setupUi(this);
}

pass_change_dialog::~pass_change_dialog() = default;

void pass_change_dialog::show_form(QString reason, orva_db_record record, orva_handle_t handle)
{
    ORVA_TRACE();
    m_record = record;
    m_handle = handle;
    ui->information->setText(reason);
    const bool may_change = m_record.who_changes == 1;
    show();
    ui->proceed->setVisible(m_record.admin == 1);
    ui->change_but->setVisible(may_change);
    // "Сменить" has the focus; without it, "Выход".
    if (may_change)
        ui->change_but->setFocus();
    else
        ui->cancel->setFocus();
}

void pass_change_dialog::on_change_but_clicked()
{
    emit show_user_pass_form(m_record, m_record.alphabet, m_record.min_length, m_record.generate_only, 0, 1);
}

void pass_change_dialog::on_proceed_clicked()
{
    emit show_integrity_controller(m_handle, m_record.tmid);
    hide();
}

void pass_change_dialog::on_cancel_clicked()
{
    hide();
    emit cancel_id();
}

void pass_change_dialog::slot_cancel_id()
{
    on_cancel_clicked();
}

void pass_change_dialog::reject()
{
    on_cancel_clicked();
}

void pass_change_dialog::change_current_password(QString password)
{
    orva_xid_t xid;
    int code = password_xid(m_handle, orva_get_dev_class_by_handle(m_handle), m_record.tmid, password, &xid);
    if (code == ORVA_OK)
        code = orva_change_current_user_password(m_handle, &xid);
    explicit_bzero(&xid, sizeof xid);
    if (code != ORVA_OK) {
        // The dialog stays: the user may try again or give up.
        message::critical(this, QStringLiteral("Ошибка"),
                          QStringLiteral("Не удалось сменить пароль: %1.").arg(code));
        return;
    }
    // The operating system receives the new password, not the old one.
    orva_fun_db::object()->update_ia_data(m_record, password);
    orva_fun_log::object()->append_log_record(LOG_PASSWORD_CHANGE, LOG_OK, nullptr, QString());
    emit show_integrity_controller(m_handle, m_record.tmid);
    hide();
}
