#include "files/fs_icl_flag_sel.h"

#include "ui_fs_icl_flag_sel.h"

#include <ic/fs/fs_ocl.h>

fs_icl_flag_sel::fs_icl_flag_sel(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::fs_icl_flag_sel>())
{
    ui->setupUi(this);
}

fs_icl_flag_sel::~fs_icl_flag_sel() = default;

QStringList fs_icl_flag_sel::split_masks(const QString &text)
{
    return text.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

void fs_icl_flag_sel::showF(int type)
{
    m_type = type;
    const bool dir = type == FS_OCL_TYPE_DIR;
    // What a file is added with by default; a directory as when dropped.
    ui->each_file->setChecked(dir);
    ui->recursive->setChecked(dir);
    ui->control_data->setChecked(true);
    ui->control_attrs->setChecked(true);
    ui->masks->clear();
    for (QWidget *w : {static_cast<QWidget *>(ui->each_file), static_cast<QWidget *>(ui->recursive),
                       static_cast<QWidget *>(ui->masks_label), static_cast<QWidget *>(ui->masks)})
        w->setEnabled(dir);
    exec();
}

void fs_icl_flag_sel::accept()
{
    const bool dir = m_type == FS_OCL_TYPE_DIR;
    int flags = 0;
    if (dir && ui->each_file->isChecked())
        flags |= FS_OCL_EACH_FILE;
    if (dir && ui->recursive->isChecked())
        flags |= FS_OCL_RECURSIVE;
    if (ui->control_data->isChecked())
        flags |= FS_OCL_CONTROL_DATA;
    if (ui->control_attrs->isChecked())
        flags |= FS_OCL_CONTROL_ATTRS;
    const QStringList masks = dir ? split_masks(ui->masks->text()) : QStringList();
    QDialog::accept();
    emit result(m_type, flags, masks);
}
