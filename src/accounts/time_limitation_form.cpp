#include "accounts/time_limitation_form.h"

#include "ui_time_limitation_form.h"

#include <QItemSelection>

static_assert(time_limitation_form::kDays * time_limitation_form::kHalfHours == ORVA_HOURS_SIZE,
              "one cell per byte of the map");

time_limitation_form::time_limitation_form(QWidget *parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::time_limitation_form>())
{
    ui->setupUi(this);
    QTableWidget *table = ui->hours_table;
    table->setRowCount(kDays);
    table->setColumnCount(kHalfHours);
    const QStringList days{QStringLiteral("Пн"), QStringLiteral("Вт"), QStringLiteral("Ср"), QStringLiteral("Чт"),
                           QStringLiteral("Пт"), QStringLiteral("Сб"), QStringLiteral("Вс")};
    table->setVerticalHeaderLabels(days);
    QStringList halves;
    for (int column = 0; column < kHalfHours; ++column)
        halves << QStringLiteral("%1:%2").arg(column / 2).arg(column % 2 ? QStringLiteral("30") : QStringLiteral("00"));
    table->setHorizontalHeaderLabels(halves);
    for (int row = 0; row < kDays; ++row) {
        for (int column = 0; column < kHalfHours; ++column)
            table->setItem(row, column, new QTableWidgetItem);
    }
    table->resizeColumnsToContents();
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &time_limitation_form::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &time_limitation_form::reject);
}

time_limitation_form::~time_limitation_form() = default;

void time_limitation_form::show_form(orva_db_record *record)
{
    m_record = record;
    if (!record)
        return;
    QTableWidget *table = ui->hours_table;
    table->clearSelection();
    for (int row = 0; row < kDays; ++row) {
        for (int column = 0; column < kHalfHours; ++column)
            table->item(row, column)->setSelected(record->hours[row * kHalfHours + column] != 0);
    }
    show();
}

void time_limitation_form::accept()
{
    if (m_record) {
        for (int row = 0; row < kDays; ++row) {
            for (int column = 0; column < kHalfHours; ++column)
                m_record->hours[row * kHalfHours + column] = ui->hours_table->item(row, column)->isSelected() ? 1 : 0;
        }
        emit working_hours_changed(m_record);
    }
    QDialog::accept();
}
