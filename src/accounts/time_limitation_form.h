// The working hours of a record: a table of 7 days by 48 half hours in which
// a selected cell is a half hour the user may work.
#ifndef ORVA_ACCOUNTS_TIME_LIMITATION_FORM_H
#define ORVA_ACCOUNTS_TIME_LIMITATION_FORM_H

#include "module/meta_types.h"

#include <orva.h>

#include <QDialog>

#include <memory>

namespace Ui {
class time_limitation_form;
}

class time_limitation_form : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDays = 7;
    static constexpr int kHalfHours = 48;

    explicit time_limitation_form(QWidget *parent = nullptr);
    ~time_limitation_form() override;

public slots:
    // Shows the record's map; OK writes the selection into it.
    void show_form(orva_db_record *record);
    void accept() override;

signals:
    void working_hours_changed(orva_db_record *record);

private:
    std::unique_ptr<Ui::time_limitation_form> ui;
    orva_db_record *m_record = nullptr;
};

#endif
