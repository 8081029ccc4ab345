// The message module with its real dialogs, the clock and the trace line.
#include "support/scripted_responder.h"
#include "ui/clock.h"
#include "ui/message.h"
#include "ui/trace.h"

#include <QInputDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// Runs `act` on the first modal dialog once it is shown.
template <class Dialog, class Act>
void when_shown(Act act)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto *d = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start();
}

QStringList g_debug_lines;

void capture(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg)
        g_debug_lines << text;
}

} // namespace

class message_test : public QObject {
    Q_OBJECT

private slots:
    void real_box_shows_the_request();
    void real_prompt_returns_text_or_nothing();
    void scripted_responder_records_and_answers();
    void clock_can_be_fixed();
    void trace_line();
};

void message_test::real_box_shows_the_request()
{
    QString title, text, informative, save_label;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QAbstractButton *default_button = nullptr;
    QAbstractButton *save_button = nullptr;
    when_shown<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        informative = box->informativeText();
        icon = box->icon();
        default_button = box->defaultButton();
        save_button = box->button(QMessageBox::Save);
        save_label = box->button(QMessageBox::Discard)->text();
        box->button(QMessageBox::Discard)->click();
    });

    message::box_request request;
    request.type = message::kind::question;
    request.title = QStringLiteral("Настройки");
    request.text = QStringLiteral("Вы изменили параметры учетных записей.");
    request.informative = QStringLiteral("Желаете сохранить изменения?");
    request.buttons = QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel;
    request.default_button = QMessageBox::Save;
    request.button_texts = {{QMessageBox::Discard, QStringLiteral("Не сохранять")}};
    const QMessageBox::StandardButton answer = message::show(nullptr, request);

    QCOMPARE(answer, QMessageBox::Discard);
    QCOMPARE(title, request.title);
    QCOMPARE(text, request.text);
    QCOMPARE(informative, request.informative);
    QCOMPARE(icon, QMessageBox::Question);
    QVERIFY(default_button);
    QCOMPARE(default_button, save_button);
    QCOMPARE(save_label, QStringLiteral("Не сохранять"));

    // A confirmation defaults to OK, and Enter takes it.
    when_shown<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    QCOMPARE(message::question(nullptr, QStringLiteral("Выход"), QStringLiteral("?")), QMessageBox::Ok);
    when_shown<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); });
    QCOMPARE(message::question(nullptr, QStringLiteral("Выход"), QStringLiteral("?")), QMessageBox::Cancel);
}

void message_test::real_prompt_returns_text_or_nothing()
{
    QString label;
    when_shown<QInputDialog>([&label](QInputDialog *d) {
        label = d->labelText();
        d->setTextValue(QStringLiteral("petr"));
        d->accept();
    });
    std::optional<QString> text = message::get_text(nullptr, QStringLiteral("Создание новой записи"),
                                                    QStringLiteral("Введите имя:"));
    QVERIFY(text);
    QCOMPARE(*text, QStringLiteral("petr"));
    QCOMPARE(label, QStringLiteral("Введите имя:"));

    when_shown<QInputDialog>([](QInputDialog *d) { d->reject(); });
    text = message::get_text(nullptr, QStringLiteral("Создание новой записи"), QStringLiteral("Введите имя:"));
    QVERIFY(!text);
}

void message_test::scripted_responder_records_and_answers()
{
    {
        scripted_responder responder;
        responder.answer(QMessageBox::Cancel);
        responder.answer_text(QStringLiteral("IVAN"));
        QCOMPARE(message::question(nullptr, QStringLiteral("Т"), QStringLiteral("A")), QMessageBox::Cancel);
        QCOMPARE(message::question(nullptr, QStringLiteral("Т"), QStringLiteral("B")), QMessageBox::Ok);
        QCOMPARE(message::critical(nullptr, QStringLiteral("Ошибка"), QStringLiteral("C")), QMessageBox::Ok);
        QCOMPARE(*message::get_text(nullptr, QStringLiteral("Т"), QStringLiteral("L")), QStringLiteral("IVAN"));
        QVERIFY(!message::get_text(nullptr, QStringLiteral("Т"), QStringLiteral("L")));
        QCOMPARE(responder.boxes().size(), 3);
        QCOMPARE(responder.boxes()[2].text, QStringLiteral("C"));
        QCOMPARE(responder.boxes()[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(responder.prompts().size(), 2);
    }
    QCOMPARE(message::current_responder() == nullptr, false);
    QVERIFY(dynamic_cast<scripted_responder *>(message::current_responder()) == nullptr);
}

void message_test::clock_can_be_fixed()
{
    const QDateTime fixed(QDate(2024, 3, 5), QTime(8, 29, 59));
    app_clock::set_fixed(fixed);
    QCOMPARE(app_clock::current_date_time(), fixed);
    app_clock::set_fixed(QDateTime());
    QVERIFY(qAbs(app_clock::current_date_time().secsTo(QDateTime::currentDateTime())) < 5);
}

void message_test::trace_line()
{
    g_debug_lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    const int line = __LINE__ + 1;
    ORVA_TRACE() << "./kexeck";
    qInstallMessageHandler(previous);
    QCOMPARE(g_debug_lines.size(), 1);
    QCOMPARE(g_debug_lines[0], QStringLiteral("%1:tests/app/message_test.cpp:trace_line:: ./kexeck").arg(line));
}

QTEST_MAIN(message_test)
#include "message_test.moc"
