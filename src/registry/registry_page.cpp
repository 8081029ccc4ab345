#include "registry/registry_page.h"

#include "ui_registry_page.h"

#include "registry/registry_tree_widget.h"

#include <ic/qt/fs_names.h>

registry_page::registry_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::registry_page>())
{
    ui->setupUi(this);
    connect(ui->registry_diff_editor, &registryTreeWidget::report_changed, this, &registry_page::show_report);
}

registry_page::~registry_page() = default;

registryTreeWidget *registry_page::tree() const
{
    return ui->registry_diff_editor;
}

QAbstractButton *registry_page::dir_button() const
{
    return ui->open_registry_dir_dialog;
}

QString registry_page::dir_text() const
{
    return ui->registry_dir->text();
}

QString registry_page::report_text() const
{
    return ui->reg_diff_report->toPlainText();
}

QString registry_page::describe(const exchange_dir &dir)
{
    if (dir.path.isEmpty() && dir.part_id.isEmpty())
        return QString();
    const QString volume = dir.volume ? part_name_by_volume(dir.volume) : dir.part_id;
    return QStringLiteral("%1, %2: %3").arg(dir.disk, volume, dir.path);
}

void registry_page::show_dir(const exchange_dir &dir)
{
    ui->registry_dir->setText(describe(dir));
}

void registry_page::show_report(const QString &report)
{
    ui->reg_diff_report->setPlainText(report);
}
