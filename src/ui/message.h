// Every message box and text prompt of the program goes through here, so that
// tests can put a scripted responder in place of the real dialogs.
#ifndef ORVA_UI_MESSAGE_H
#define ORVA_UI_MESSAGE_H

#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

#include <optional>

class QWidget;

namespace message {

enum class kind { critical, warning, information, question };

// One message box: what the user sees and which buttons answer it.
struct box_request {
    kind type = kind::information;
    QString title;
    QString text;
    QString informative;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    // Labels that replace the standard text of a button ("Не сохранять").
    QList<QPair<QMessageBox::StandardButton, QString>> button_texts;
};

// One line of text asked for.
struct text_request {
    QString title;
    QString label;
    QString text; // initial contents
    QLineEdit::EchoMode echo = QLineEdit::Normal;
};

// Answers boxes and prompts. The default responder shows the real dialogs.
class responder {
public:
    virtual ~responder() = default;
    // The button that closed the box.
    virtual QMessageBox::StandardButton box(QWidget *parent, const box_request &request) = 0;
    // The text entered, or nothing when the prompt was cancelled.
    virtual std::optional<QString> text(QWidget *parent, const text_request &request) = 0;
};

// Puts a responder in place (not owned); null restores the real dialogs.
void set_responder(responder *r);
responder *current_responder();

QMessageBox::StandardButton show(QWidget *parent, const box_request &request);

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     const QString &informative = QString(),
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                     QMessageBox::StandardButton default_button = QMessageBox::NoButton);
QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    const QString &informative = QString(),
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    QMessageBox::StandardButton default_button = QMessageBox::NoButton);
QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        const QString &informative = QString(),
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton default_button = QMessageBox::NoButton);
// A confirmation: OK and Cancel with OK the default unless said otherwise.
QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     const QString &informative = QString(),
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::StandardButton default_button = QMessageBox::Ok);

std::optional<QString> get_text(QWidget *parent, const text_request &request);
std::optional<QString> get_text(QWidget *parent, const QString &title, const QString &label,
                                const QString &text = QString(),
                                QLineEdit::EchoMode echo = QLineEdit::Normal);

} // namespace message

#endif
