// Password entry with the account's password rules: the old password (when
// asked), the new one twice, generation, and a limited number of tries when
// the tries are counted. Serves the password change at logon and the
// account editor.
#ifndef ORVA_AUTH_USER_PASS_FORM_H
#define ORVA_AUTH_USER_PASS_FORM_H

#include "module/meta_types.h"

#include <orva.h>

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class user_pass_form;
}

class user_pass_form : public QDialog {
    Q_OBJECT

public:
    // mode: the old password is asked (0) or not (1).
    enum { MODE_OLD_PASSWORD = 0, MODE_NEW_ONLY = 1 };

    explicit user_pass_form(QWidget *parent = nullptr);
    ~user_pass_form() override;

    int attempts_left() const { return m_attempts_left; }

    // The rule check of the record's alphabet (shown when `show` is 1).
    int check_pass_correctness(const QString &password, int mask, int show);
    // A generated password of the given length.
    QString generate_pass(int mask, int length) const;

public slots:
    // Record, alphabet mask, minimum length, generate-only (1), mode; tries
    // are not counted.
    void show_form(orva_db_record record, int mask, int min_length, int generate_only, int mode);
    // The same; count_attempts 1 counts failed tries against the record's
    // attempts-for-change.
    void show_form(orva_db_record record, int mask, int min_length, int generate_only, int mode,
                   int count_attempts);

signals:
    void new_password(QString password);
    void cancel_id();

private slots:
    void on_generate_clicked();
    void on_new_pass_edit1_textEdited(const QString &text);
    void check_and_accept();

private:
    // The steps of the OK button; false at the first failure (shown).
    bool check_entry();

    std::unique_ptr<Ui::user_pass_form> ui;
    orva_db_record m_record{};
    int m_mask = 0;
    int m_min_length = 0;
    int m_generate_only = 0;
    int m_mode = MODE_OLD_PASSWORD;
    int m_count_attempts = 0;
    int m_attempts_left = 0;
};

#endif
