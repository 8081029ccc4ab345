#include "accounts/new_user_name.h"

#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "ui/message.h"

#include <QRegularExpression>

namespace {

const QString kTitle = QStringLiteral("Создание новой записи");

} // namespace

new_user_name::new_user_name(QObject *parent)
    : QObject(parent)
{
}

QString new_user_name::name_error(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("Имя слишком короткое.");
    if (name.size() > db_record::kMaxNameLength)
        return QStringLiteral("Имя слишком длинное.");
    static const QRegularExpression kValid(QStringLiteral("^([a-zA-Z0-9]+)$"));
    if (!kValid.match(name).hasMatch())
        return QStringLiteral("Имя содержит недопустимые символы.");
    return QString();
}

QString new_user_name::ask(const QString &label)
{
    const std::optional<QString> typed = message::get_text(nullptr, kTitle, label.arg(db_record::kMaxNameLength));
    if (!typed)
        return QString();
    const QString error = name_error(*typed);
    if (!error.isEmpty()) {
        message::warning(nullptr, kTitle, error);
        return QString();
    }
    const QString name = typed->toUpper();
    if (orva_fun_db::object()->check_name(name)) {
        message::information(nullptr, kTitle, QStringLiteral("Это имя уже занято, выберите другое."));
        return QString();
    }
    return name;
}

void new_user_name::show_form()
{
    const QString name =
        ask(QStringLiteral("Введите имя пользователя (не более %1 символов, латинские буквы и цифры):"));
    if (!name.isEmpty())
        emit new_name(name);
}

void new_user_name::show_form_group()
{
    const QString name =
        ask(QStringLiteral("Введите имя группы (не более %1 символов, латинские буквы и цифры):"));
    if (!name.isEmpty())
        emit new_group_name(name);
}
