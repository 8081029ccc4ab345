// The identifier field of the users page: read-only, with a button that asks
// to reset the personal parameters (reset_tmid()).
#ifndef ORVA_ACCOUNTS_TMID_LINE_EDIT_H
#define ORVA_ACCOUNTS_TMID_LINE_EDIT_H

#include <orva.h>

#include <QLineEdit>
#include <QString>

class QAction;

class tmid_line_edit : public QLineEdit {
    Q_OBJECT

public:
    explicit tmid_line_edit(QWidget *parent = nullptr);

    // The identifier of a record that has none: FF "USER" two blanks FF.
    static orva_tmid no_tmid();
    static bool is_no_tmid(const orva_tmid &tmid);

    // Shows the identifier, "не установлен" for the placeholder.
    void set_tmid(const orva_tmid &tmid);
    QAction *reset_action() const { return m_reset; }

signals:
    void reset_tmid();

private:
    QAction *m_reset;
};

#endif
