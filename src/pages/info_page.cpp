#include "pages/info_page.h"

#include "ui_info_page.h"

#include "module/orva_fun_db.h"
#include "module/orva_information_storage.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include <orva.h>

#include <QApplication>
#include <QFile>

info_page::info_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::info_page>())
{
    ui->setupUi(this);
}

info_page::~info_page() = default;

void info_page::setOrvaInformation(orva_information_storage &storage)
{
    storage.load_all();
    ui->serial_value->setText(storage.get_serial_number());
    ui->version_value->setText(storage.get_version());
    ui->core_md5_value->setText(storage.get_core_md5());
    ui->orva_md5_value->setText(storage.get_orva_md5());
    ui->core_gost_value->setText(storage.get_core_gost());
    ui->orva_gost_value->setText(storage.get_orva_gost());

    QFile summary(QStringLiteral("./orvainfo.txt"));
    if (summary.open(QIODevice::ReadOnly | QIODevice::Text))
        ui->summary->setText(QString::fromUtf8(summary.readAll()));
    else
        ui->summary->clear();
}

void info_page::format_db()
{
    const QString title = QStringLiteral("Форматирование Базы Данных");
    message::box_request ask;
    ask.type = message::kind::question;
    ask.title = title;
    ask.text = title;
    ask.informative = QStringLiteral("После форматирования база данных будет безвозвратно утрачена. "
                                     "Вы действительно хотите форматировать БД?");
    ask.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    ask.default_button = QMessageBox::Ok;
    if (message::show(this, ask) != QMessageBox::Ok)
        return;

    orva_fun_db::object()->close_db();
    if (orva_erase_database(orva_initialization::object()->handle()) == ORVA_OK)
        message::information(this, title,
                             QStringLiteral("База данных успешно форматирована. Необходимо перезагрузить систему."));
    else
        message::information(this, title, QStringLiteral("Ошибка форматирования базы пользователей."));
    QApplication::exit(0);
}
