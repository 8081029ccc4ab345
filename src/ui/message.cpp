#include "ui/message.h"

#include <QApplication>
#include <QInputDialog>
#include <QPushButton>

namespace message {

namespace {

QMessageBox::Icon icon_of(kind type)
{
    switch (type) {
    case kind::critical: return QMessageBox::Critical;
    case kind::warning: return QMessageBox::Warning;
    case kind::information: return QMessageBox::Information;
    case kind::question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// A parentless box would open behind a full-screen window on some window
// managers; the active window keeps it in front.
QWidget *owner(QWidget *parent)
{
    return parent ? parent : QApplication::activeWindow();
}

class dialog_responder final : public responder {
public:
    QMessageBox::StandardButton box(QWidget *parent, const box_request &request) override
    {
        QMessageBox box(icon_of(request.type), request.title, request.text, request.buttons,
                        owner(parent));
        if (!request.informative.isEmpty())
            box.setInformativeText(request.informative);
        if (request.default_button != QMessageBox::NoButton)
            box.setDefaultButton(request.default_button);
        for (const auto &label : request.button_texts) {
            if (QAbstractButton *b = box.button(label.first))
                b->setText(label.second);
        }
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }

    std::optional<QString> text(QWidget *parent, const text_request &request) override
    {
        bool ok = false;
        QString value = QInputDialog::getText(owner(parent), request.title, request.label,
                                              request.echo, request.text, &ok);
        if (!ok)
            return std::nullopt;
        return value;
    }
};

dialog_responder g_dialogs;
responder *g_current = &g_dialogs;

QMessageBox::StandardButton make_box(kind type, QWidget *parent, const QString &title,
                                     const QString &text, const QString &informative,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton default_button)
{
    box_request request;
    request.type = type;
    request.title = title;
    request.text = text;
    request.informative = informative;
    request.buttons = buttons;
    request.default_button = default_button;
    return show(parent, request);
}

} // namespace

void set_responder(responder *r)
{
    g_current = r ? r : &g_dialogs;
}

responder *current_responder()
{
    return g_current;
}

QMessageBox::StandardButton show(QWidget *parent, const box_request &request)
{
    return g_current->box(parent, request);
}

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     const QString &informative,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton default_button)
{
    return make_box(kind::critical, parent, title, text, informative, buttons, default_button);
}

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    const QString &informative,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton default_button)
{
    return make_box(kind::warning, parent, title, text, informative, buttons, default_button);
}

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        const QString &informative,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton default_button)
{
    return make_box(kind::information, parent, title, text, informative, buttons, default_button);
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     const QString &informative,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton default_button)
{
    return make_box(kind::question, parent, title, text, informative, buttons, default_button);
}

std::optional<QString> get_text(QWidget *parent, const text_request &request)
{
    return g_current->text(parent, request);
}

std::optional<QString> get_text(QWidget *parent, const QString &title, const QString &label,
                                const QString &text, QLineEdit::EchoMode echo)
{
    text_request request;
    request.title = title;
    request.label = label;
    request.text = text;
    request.echo = echo;
    return get_text(parent, request);
}

} // namespace message
