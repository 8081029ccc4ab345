// Identifier change of a record: the operator chooses how the user key is
// made, presents the identifier, and on OK the record gets the key's public
// key and the window the key (newKey) and the identifier (newTmid). Nothing
// is written into the identifier here: a generated key goes there when the
// change is applied, so a change that is dropped leaves the old key valid.
#ifndef ORVA_ACCOUNTS_TMID_SETTER_H
#define ORVA_ACCOUNTS_TMID_SETTER_H

#include "accounts/identifier_key.h"
#include "module/meta_types.h"

#include <orva.h>

#include <QDialog>

#include <cstdint>
#include <memory>

class form_timer;

namespace Ui {
class TMID_setter;
}

class TMID_setter : public QDialog {
    Q_OBJECT

public:
    static constexpr int kPollInterval = 100;

    explicit TMID_setter(QWidget *parent = nullptr);
    ~TMID_setter() override;

    // Whether an identifier has been accepted and OK is possible.
    bool identifier_ready() const { return m_ready; }
    // The notice for a descriptor whose first word says uninitialised.
    static void uninitialised_notice(QWidget *parent, uint32_t state);

public slots:
    // First screen: how the key is made.
    void showF(orva_db_record *record);
    // One poll of the reader.
    void update_tmid();
    void accept() override;
    void reject() override;

signals:
    // Emitted on OK in this order.
    void newKey(const identifier_key &key);
    void newTmid(orva_tmid tmid);

private slots:
    void on_next_clicked();
    void on_reset_clicked();

private:
    // The user key of the identifier and its public key; false after the
    // failure has been shown.
    bool create_keys(const orva_tmid &tmid, uint32_t state);
    void start_poll();
    void clear_keys();

    std::unique_ptr<Ui::TMID_setter> ui;
    form_timer *m_poll_timer;
    orva_db_record *m_record = nullptr;
    orva_tmid m_tmid{};
    uint32_t m_state = 0;
    bool m_ready = false;
    // An identifier that was refused stays refused until it leaves the
    // reader or the poll is restarted, so its box is not repeated every tick.
    bool m_refused = false;
    orva_tmid m_refused_tmid{};
    uint8_t m_key[ORVA_PRIVATE_KEY_SIZE] = {};
    uint8_t m_public_key[ORVA_PUBLIC_KEY_SIZE] = {};
};

#endif
