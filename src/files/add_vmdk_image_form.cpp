#include "files/add_vmdk_image_form.h"

#include "ui_add_vmdk_image_form.h"

#include "ui/message.h"

#include <ic/qt/orva_fun_fs.h>

add_vmdk_image_form::add_vmdk_image_form(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::add_vmdk_image_form>())
{
    ui->setupUi(this);
}

add_vmdk_image_form::~add_vmdk_image_form() = default;

void add_vmdk_image_form::show_form(QString path)
{
    m_path = path;
    ui->name->clear();
    ui->name->setFocus();
    exec();
}

void add_vmdk_image_form::accept()
{
    const QString title = QStringLiteral("Подключение виртуального диска");
    const QString name = ui->name->text();
    if (name.isEmpty()) {
        message::warning(this, title, QStringLiteral("Имя слишком короткое."));
        return;
    }
    const orva_fun_fs *fs = orva_fun_fs::object();
    if (fs && fs->check_image_disk_name(name) != 0) {
        message::warning(this, title, QStringLiteral("Данная метка уже используется, выберите другую."));
        return;
    }
    QDialog::accept();
    emit add_vmdk_disk(m_path, name);
}
