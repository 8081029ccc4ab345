// The users page: the tree of groups and users and the settings of the
// selected record. Edits are kept in a change buffer (one full record per
// name) and written to the module by add_new_object(). A generated user key
// waits beside its record and is written into the identifier with it; the
// logged-on user's own new password and key reach the hand-over block only
// once his record has been written.
#ifndef ORVA_ACCOUNTS_ACCOUNT_EDITOR_H
#define ORVA_ACCOUNTS_ACCOUNT_EDITOR_H

#include "accounts/identifier_key.h"
#include "module/meta_types.h"

#include <orva.h>

#include <QHash>
#include <QString>
#include <QWidget>

#include <memory>

class subjects_tree_view;
class tmid_line_edit;

namespace Ui {
class account_editor;
}

class account_editor : public QWidget {
    Q_OBJECT

public:
    explicit account_editor(QWidget *parent = nullptr);
    ~account_editor() override;

    subjects_tree_view *subjects() const;
    tmid_line_edit *tmid_edit() const;

    // Set-up-user-record counter: reset on entering the page, one more per
    // record selected. While it is 0 an edit is not buffered.
    int setup_user_record_flag() const { return m_setup_user_record; }
    void set_setup_user_record_flag() { m_setup_user_record = 0; }
    void inc_setup_user_record_flag() { ++m_setup_user_record; }
    // Set by a change of a password rule; cleared by a complete apply.
    int passwd_modified_flag() const { return m_passwd_modified; }
    void set_passwd_modified_flag(int flag) { m_passwd_modified = flag; }

    const QHash<QString, orva_db_record> &change_buffer() const { return m_buffer; }
    // Drops every change not applied, with its key and password.
    void clear_change_buffer();

    const QString &current_name() const { return m_name; }
    bool password_set() const { return m_password_set; }

    // Stores the page into a copy of the shown record, replacing the buffer
    // entry of its name.
    void update_user();
    // Writes every buffered record to the module with its event-log record;
    // records written leave the buffer. True when all were written.
    bool add_new_object();

public slots:
    void showName(QString name, orva_db_record *record);
    void showTmid(QString name, orva_db_record *record);
    void showPassParams(QString name, orva_db_record *record);
    void showPassChng(QString name, orva_db_record *record);
    void showBlocked(QString name, orva_db_record *record);
    void showDevAccess(QString name, orva_db_record *record);
    void showPassAlp(QString name, orva_db_record *record);
    void showIfPassSet(QString name, orva_db_record *record);
    void showIeResults(QString name, orva_db_record *record);
    void showAccAttr(QString name, orva_db_record *record);
    void set_current_record(QString name, orva_db_record *record);

    // The identifier dialog's key, then its identifier.
    void new_key(const identifier_key &key);
    void new_tmid(orva_tmid tmid);
    void new_password(QString password);
    void working_hours_changed(orva_db_record *record);
    // The identifier field's reset button: asks, then resets the
    // identifier and the password.
    void reset_current_tmid();

signals:
    // A widget of the page changed.
    void edited();
    // A record has been selected (the apply action goes off).
    void record_selected();
    // The chief administrator now has an identifier and a password.
    void supervisor_created();
    void showTMIDsetter(orva_db_record *record);
    void show_user_pass_form(orva_db_record record, int mask, int min_length, int generate_only, int mode);
    void show_time_limitation_form(orva_db_record *record);

private:
    // What the widgets show of a record: its buffer entry when there is one.
    const orva_db_record &source(const QString &name, const orva_db_record *record) const;
    void widget_changed(bool password_rule);
    void reset_personal_parameters();
    void show_hours_state();
    // The alphabet bits of the four boxes.
    uint8_t alphabet() const;
    bool user_info_correct(const orva_db_record &record) const;
    int save_record(orva_db_record &record);
    // What a record's personal change carries besides the record: the key
    // made for its identifier, and the logged-on user's own password.
    struct secret {
        bool has_key = false;
        identifier_key key;
        bool has_password = false;
        QString password;
    };
    static void wipe(secret &pending);
    // The key waiting for the record that goes into its identifier (a key
    // of an identifier with memory); null when none has to.
    const identifier_key *key_to_write(const QString &name, const orva_db_record &record) const;
    // The record's new key into its identifier before the record is
    // written; false (said so, nothing written) when it is not there.
    bool write_new_key(const QString &name, const orva_db_record &record, uint8_t previous[ORVA_PRIVATE_KEY_SIZE]);
    // The old key back after the record could not be written.
    void restore_key(const QString &name, const orva_db_record &record, const uint8_t previous[ORVA_PRIVATE_KEY_SIZE]);
    // The logged-on user's own record written: his new password and key
    // for the hand-over block.
    void own_record_written(const QString &name, const orva_db_record &record);
    void drop_secret(const QString &name);
    void connect_widgets();

    std::unique_ptr<Ui::account_editor> ui;
    QHash<QString, orva_db_record> m_buffer;
    QHash<QString, secret> m_secrets; // beside the buffer entries
    // The dialog's key until its identifier comes, then the shown record's.
    secret m_key;
    QString m_name;
    orva_db_record m_record{};
    orva_tmid m_tmid{};
    QString m_password;
    bool m_personal_changed = false;
    bool m_password_set = false;
    uint8_t m_hours[ORVA_HOURS_SIZE] = {};
    int m_setup_user_record = 0;
    int m_passwd_modified = 0;
    // Set while widgets are filled from a record: those are no edits.
    bool m_filling = false;
};

#endif
