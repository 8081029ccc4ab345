#include "pages/disks_page.h"

#include "ui_disks_page.h"

#include "pages/disk_tree_widget.h"

disks_page::disks_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::disks_page>())
{
    ui->setupUi(this);
    connect(ui->disk_diff_editor, &diskTreeWidget::report_changed, this, &disks_page::show_report);
}

disks_page::~disks_page() = default;

diskTreeWidget *disks_page::tree() const
{
    return ui->disk_diff_editor;
}

QString disks_page::report_text() const
{
    return ui->hd_diff_report->toPlainText();
}

void disks_page::show_report(const QString &report)
{
    ui->hd_diff_report->setPlainText(report.isEmpty() ? QStringLiteral("Отличий нет.") : report);
}
