#include "check/check_fragments.h"

namespace check_fragments {

namespace {

// A literal, not a QString object: fragments may be built during static
// initialisation elsewhere.
constexpr QLatin1String kBody("<body style='background-color:white'>");

// A line of the hardware section: the name in italics, then its verdict.
QString named_line(const QString &name, const QString &verdict)
{
    return kBody + QStringLiteral("<i>") + escaped(name) + QStringLiteral("</i>") + verdict;
}

} // namespace

QString escaped(const QString &text)
{
    // Characters that would end a line, reorder or hide what follows, or
    // show nothing are shown as their code: a name cannot forge or disguise
    // a line of the report.
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            shown += c.unicode() < 0x100 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                         : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown.toHtmlEscaped();
}

QString section_title(const QString &title)
{
    return kBody + QStringLiteral("<font size=5><b>") + title + QStringLiteral("\n</b></font></body>");
}

QString passed_text()
{
    return kBody + QStringLiteral("<font size=4 color = 'green'>контроль пройден</font></body>");
}

QString failed_text()
{
    return kBody + QStringLiteral("<font size=4 color='red'>контроль не пройден</font></body>");
}

QString check_result(bool passed)
{
    return kBody + QStringLiteral("<font size=4><i>Результат проверки: %1\n\n</i></font></body>")
                       .arg(passed ? passed_text() : failed_text());
}

QString red_line(const QString &text)
{
    return kBody + QStringLiteral("<font color='red' size=3 style='font-family:arial'>") + text;
}

QString ok_line()
{
    return kBody + QStringLiteral("<font size=4 color='green'> - ОК\n</body></font>");
}

QString hw_class_header(const QString &class_name)
{
    return kBody + QStringLiteral("<font size=4 color='black'><b>") + escaped(class_name) +
           QStringLiteral(":\n</b></font></body>");
}

QString hw_device_ok(const QString &device_name)
{
    return named_line(device_name,
                      QStringLiteral("<font size=4 color='green' style='font-family:arial'>- ОК\n</font></body>"));
}

QString hw_device_changed(const QString &device_name)
{
    return escaped(device_name) + QStringLiteral(": \n");
}

QString hw_param_changed(const QString &param_title)
{
    return named_line(param_title, QStringLiteral("<font color='red' size=4 style='font-family:arial'>"
                                                  "-параметр изменен\n</font></body>"));
}

QString hw_device_new(const QString &device_name)
{
    return named_line(device_name, QStringLiteral("<font size=4 color='red' style='font-family:arial'>"
                                                  " -новое устройство\n</font></body>"));
}

QString hw_device_removed(const QString &device_name)
{
    return named_line(device_name, QStringLiteral("<font color='red' size=4 style='font-family:arial'>"
                                                  " -устройство удалено\n</font></body>"));
}

QString hw_result(bool passed)
{
    return kBody + QStringLiteral("<font size=4><i>Результат проверки оборудования: %1\n\n</i></font></body>")
                       .arg(passed ? passed_text() : failed_text());
}

QString disk_line(const QString &disk_name, const QString &what)
{
    return red_line(escaped(disk_name) + what + QStringLiteral("\n</font></body>"));
}

QString reg_value_violated(const QString &key_path, const QString &value_name)
{
    return red_line(QStringLiteral("Зарегистрировано нарушение целостности значения:\n") +
                    escaped(key_path + QLatin1Char('\\') + value_name) + QStringLiteral("\n</font></body>"));
}

QString reg_key_violated(const QString &key_path)
{
    return red_line(QStringLiteral("Зарегистрировано нарушение целостности в следующей ветви реестра:\n") +
                    escaped(key_path) + QStringLiteral("</font></body>\n"));
}

QString reg_key_item(const QString &relative_path, const QString &value_name, const QString &flag_names)
{
    QString item = relative_path;
    if (!value_name.isNull())
        item += QLatin1Char('\\') + value_name;
    return red_line(escaped(item + QStringLiteral(" (") + flag_names + QLatin1Char(')')) +
                    QStringLiteral("\n</font></body>"));
}

QString reg_tree_error()
{
    return QStringLiteral("-ошибка построения дерева реестра.\n");
}

QString reg_problem_line(const QString &text)
{
    return red_line(escaped(text) + QStringLiteral("\n</font></body>"));
}

} // namespace check_fragments
