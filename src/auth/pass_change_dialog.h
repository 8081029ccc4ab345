// The password-change dialog of a logon: the password has expired, expires
// today or the user asked for a change. The user changes it, goes on without
// changing (administrators only) or gives the logon up.
#ifndef ORVA_AUTH_PASS_CHANGE_DIALOG_H
#define ORVA_AUTH_PASS_CHANGE_DIALOG_H

#include "module/meta_types.h"

#include <orva.h>

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class pass_change_dialog;
}

class pass_change_dialog : public QDialog {
    Q_OBJECT

public:
    explicit pass_change_dialog(QWidget *parent = nullptr);
    ~pass_change_dialog() override;

public slots:
    // The reason shown, the logged-on user's record and the module handle.
    void show_form(QString reason, orva_db_record record, orva_handle_t handle);
    // The new password from the password entry: stored as the logged-on
    // user's password, then the logon goes on.
    void change_current_password(QString password);
    // The password entry gave up (attempts used up): as "Выход".
    void slot_cancel_id();

signals:
    void show_user_pass_form(orva_db_record record, int alphabet, int min_length, int generate_only, int mode,
                             int count_attempts);
    void show_integrity_controller(orva_handle_t handle, orva_tmid tmid);
    void cancel_id();

protected:
    // Escape gives the logon up, as "Выход" does.
    void reject() override;

private slots:
    void on_change_but_clicked();
    void on_proceed_clicked();
    void on_cancel_clicked();

private:
    std::unique_ptr<Ui::pass_change_dialog> ui;
    orva_db_record m_record{};
    orva_handle_t m_handle = nullptr;
};

#endif
