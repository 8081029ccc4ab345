#include "pages/settings_page.h"

#include "ui_settings_page.h"

#include "module/orva_fun_db.h"
#include "ui/message.h"

#include <QCheckBox>
#include <QSpinBox>

#include <cstdint>

namespace {

const QString kError = QStringLiteral("Ошибка");
const QString kAttention = QStringLiteral("Внимание");

// One byte-sized value: its control, its module calls and its texts.
struct byte_setting {
    QSpinBox *Ui::settings_page::*control;
    int (orva_fun_db::*get)(uint8_t *);
    int (orva_fun_db::*set)(uint8_t);
    bool complement; // stored as the bitwise complement (identifier page)
    const char *read_error;
    const char *write_error;
};

// In the order of loading and writing.
const byte_setting kByteSettings[] = {
    {&Ui::settings_page::spinBox_4_1, &orva_fun_db::get_tm_page_no, &orva_fun_db::set_tm_page_no, true,
     "Возникла ошибка при чтении страницы идентификатора.",
     "Возникла ошибка сохранения страницы идентификатора."},
    {&Ui::settings_page::spinBox_5_1, &orva_fun_db::get_tm_timeout, &orva_fun_db::set_tm_timeout, false,
     "Возникла ошибка при чтении таймаута идентификатора.",
     "Возникла ошибка сохранения таймаута идентификатора."},
    {&Ui::settings_page::spinBox_6, &orva_fun_db::get_pw_timeout, &orva_fun_db::set_pw_timeout, false,
     "Возникла ошибка при чтении таймаута пароля.",
     "Возникла ошибка сохранения таймаута пароля."},
    {&Ui::settings_page::spinBox_7, &orva_fun_db::get_max_bad_count, &orva_fun_db::set_max_bad_count, false,
     "Возникла ошибка при чтении количества неудачных логинов.",
     "Возникла ошибка сохранения количества неудачных логинов."},
};

} // namespace

settings_page::settings_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::settings_page>())
{
    ui->setupUi(this);
    // connect_activete_pref_apply
    for (const byte_setting &s : kByteSettings)
        connect(ui.get()->*s.control, &QSpinBox::valueChanged, this, &settings_page::changed);
    connect(ui->watchDogTimeOutSpinBox, &QSpinBox::valueChanged, this, &settings_page::changed);
    connect(ui->checkBox_3_1, &QCheckBox::clicked, this, &settings_page::changed);
}

settings_page::~settings_page() = default;

void settings_page::load()
{
    orva_fun_db *db = orva_fun_db::object();
    for (const byte_setting &s : kByteSettings) {
        uint8_t value = 0;
        if ((db->*s.get)(&value) != 0) {
            message::warning(this, kError, QString::fromUtf8(s.read_error));
            continue;
        }
        (ui.get()->*s.control)->setValue(s.complement ? uint8_t(~value) : value);
    }
    uint32_t watchdog = 0;
    if (db->get_watchdog_timeout(&watchdog) != 0)
        message::warning(this, kError,
                         QStringLiteral("Возникла ошибка при чтении значения таймаута сторожевого таймера."));
    else
        ui->watchDogTimeOutSpinBox->setValue(int(std::min<uint32_t>(watchdog, INT32_MAX)));
}

bool settings_page::save_config()
{
    orva_fun_db *db = orva_fun_db::object();
    db->save_start_nirun(ui->checkBox_3_1->isChecked() ? 1 : 0);
    for (const byte_setting &s : kByteSettings) {
        const auto value = static_cast<uint8_t>((ui.get()->*s.control)->value());
        if ((db->*s.set)(s.complement ? uint8_t(~value) : value) != 0) {
            message::warning(this, kError, QString::fromUtf8(s.write_error));
            return false;
        }
    }
    if (db->set_watchdog_timeout(static_cast<uint32_t>(ui->watchDogTimeOutSpinBox->value())) != 0) {
        message::warning(this, kError, QStringLiteral("Возникла ошибка сохранения значения сторожевого таймера."));
        return false;
    }
    message::warning(this, kAttention, QStringLiteral("Настройки комплекса успешно изменены."));
    return true;
}

void settings_page::gen_ws_key()
{
    message::box_request ask;
    ask.type = message::kind::question;
    ask.title = QStringLiteral("Изменение ключа станции");
    ask.text = QStringLiteral("Изменение ключа станции.");
    ask.informative = QStringLiteral("Вы действительно желаете изменить ключ станции?");
    ask.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    ask.default_button = QMessageBox::Ok;
    if (message::show(this, ask) != QMessageBox::Ok)
        return;
    if (orva_fun_db::object()->generate_ws_key() != 0)
        message::warning(this, kError, QStringLiteral("При генерации нового ключа возникла ошибка."));
    else
        message::warning(this, kAttention, QStringLiteral("Ключ станции успешно изменен."));
}
