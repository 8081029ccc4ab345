#include "support/logon_run.h"

#include "admin/main_window.h"
#include "app/orva_app.h"
#include "auth/auth_form.h"
#include "auth/form_timer.h"
#include "auth/pass_change_dialog.h"
#include "auth/user_pass_form.h"
#include "module/orva_initialization.h"
#include "ui/clock.h"

#include <tmid.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <cstring>

namespace {

// The number of the named user in an open module; 0 when there is none.
uint16_t user_number(orva_handle_t handle, const QString &name)
{
    const QByteArray n = name.toLatin1();
    uint16_t number = 0;
    if (orva_db_find_user_by_name(handle, n.constData(), static_cast<size_t>(n.size()), &number) != ORVA_OK)
        return 0;
    return number;
}

template <class Form>
Form *find_form(bool visible_only)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *f = qobject_cast<Form *>(w); f && (!visible_only || f->isVisible()))
            return f;
    }
    return nullptr;
}

// Longest a scenario's program may run before the run is given up.
constexpr int kRunLimitMs = 30000;

} // namespace

// ---- module ---------------------------------------------------------------------

logon_module::logon_module()
    : m_ready(init_formatted(1) && enroll(QStringLiteral("SUPERVISOR"), QStringLiteral("ADMINS"),
                                          QString::fromLatin1(kChiefSerial), QString::fromLatin1(kChiefPassword)))
{
}

bool logon_module::enroll(const QString &name, const QString &group, const QString &serial,
                          const QString &password, const QStringList &extra) const
{
    QStringList args{QStringLiteral("enroll"), name,          QStringLiteral("--group"), group,
                     QStringLiteral("--id"),   serial,        QStringLiteral("--password"), password};
    if (!extra.contains(QStringLiteral("--family")))
        args << QStringLiteral("--family") << QStringLiteral("01");
    return sim(args + extra);
}

bool logon_module::enroll_ivan(const QStringList &extra) const
{
    return enroll(QStringLiteral("IVAN"), QStringLiteral("EVERYONE"), QString::fromLatin1(kIvanSerial),
                  QString::fromLatin1(kIvanPassword), extra);
}

bool logon_module::config(const QStringList &options) const
{
    return sim(QStringList{QStringLiteral("config")} + options);
}

bool logon_module::modify_user(const QString &name, const std::function<void(orva_db_record &)> &change) const
{
    module_session session;
    if (!session.ok())
        return false;
    if (orva_db_open(session.handle(), 0) != ORVA_OK)
        return false;
    const uint16_t number = user_number(session.handle(), name);
    orva_db_record record;
    bool ok = number != 0 && orva_read_db_record(session.handle(), number, &record) == ORVA_OK;
    if (ok) {
        change(record);
        ok = orva_db_modify_user(session.handle(), number, &record) == ORVA_OK;
    }
    orva_db_close(session.handle());
    return ok;
}

bool logon_module::set_expiry(const QString &name, const QDate &date) const
{
    return modify_user(name, [&date](orva_db_record &r) {
        r.exp_day = date.day();
        r.exp_month = date.month();
        r.exp_year = date.year();
    });
}

bool logon_module::touch(const QString &serial, const QString &family) const
{
    return sim({QStringLiteral("touch"), serial, QStringLiteral("--family"), family});
}

bool logon_module::untouch() const
{
    return sim({QStringLiteral("untouch"), QStringLiteral("--all")});
}

QList<log_entry> logon_module::logon_records() const
{
    module_session session;
    QList<log_entry> result;
    for (const log_entry &e : session.log()) {
        if (e.type == 4)
            result.append(e);
    }
    return result;
}

orva_db_record logon_module::user(const QString &name) const
{
    module_session session;
    orva_db_record record{};
    if (const uint16_t number = user_number(session.handle(), name))
        orva_read_db_record(session.handle(), number, &record);
    return record;
}

orva_tmid make_tmid(const QString &serial, uint8_t family)
{
    orva_tmid tmid{};
    tmid.family = family;
    const QByteArray bytes = QByteArray::fromHex(serial.toLatin1());
    std::memcpy(tmid.serial, bytes.constData(), std::min<size_t>(sizeof tmid.serial, static_cast<size_t>(bytes.size())));
    tmid.crc = tmid_crc8(reinterpret_cast<const uint8_t *>(&tmid), 7);
    return tmid;
}

// ---- clock ------------------------------------------------------------------------

clock_guard::clock_guard(const QDateTime &when)
{
    set(when);
}

clock_guard::~clock_guard()
{
    qunsetenv("ORVA_SIM_CLOCK");
    app_clock::set_fixed(QDateTime());
}

void clock_guard::set(const QDateTime &when)
{
    app_clock::set_fixed(when);
    qputenv("ORVA_SIM_CLOCK", when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1());
}

// ---- program ----------------------------------------------------------------------

int run_program(const std::function<void(bool &program_ends)> &scenario)
{
    form_timer::set_manual(true);
    orva_app_hooks hooks;
    hooks.before_event_loop = [&scenario] {
        // Whatever happens, the run ends.
        QTimer::singleShot(kRunLimitMs, [] { QApplication::exit(-99); });
        QTimer::singleShot(0, [&scenario] {
            bool program_ends = false;
            scenario(program_ends);
            if (!program_ends || QTest::currentTestFailed())
                QApplication::exit(kEndedByTest);
        });
    };
    char arg0[] = "orva-ng-gui";
    char *argv[] = {arg0, nullptr};
    return orva_app_run(1, argv, hooks);
}

// ---- forms ------------------------------------------------------------------------

auth_form *logon_form()
{
    return find_form<auth_form>(false);
}

pass_change_dialog *change_dialog()
{
    return find_form<pass_change_dialog>(false);
}

user_pass_form *shown_user_pass_form()
{
    return find_form<user_pass_form>(true);
}

form_timer *timer_of(QObject *form, const char *name)
{
    return form ? form->findChild<form_timer *>(QLatin1String(name)) : nullptr;
}

bool tick(QObject *form, const char *name, int times)
{
    form_timer *t = timer_of(form, name);
    if (!t)
        return false;
    for (int i = 0; i < times; ++i) {
        if (!t->fire())
            return false;
    }
    return true;
}

QString text_of(QWidget *form, const char *name)
{
    QWidget *w = form ? form->findChild<QWidget *>(QLatin1String(name)) : nullptr;
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    return QStringLiteral("<no %1>").arg(QLatin1String(name));
}

bool shown(QWidget *form, const char *name)
{
    QWidget *w = form ? form->findChild<QWidget *>(QLatin1String(name)) : nullptr;
    return w && w->isVisible();
}

bool enabled(QWidget *form, const char *name)
{
    QWidget *w = form ? form->findChild<QWidget *>(QLatin1String(name)) : nullptr;
    return w && w->isEnabled();
}

void type_into(QWidget *form, const char *name, const QString &text)
{
    if (auto *edit = form ? form->findChild<QLineEdit *>(QLatin1String(name)) : nullptr)
        QTest::keyClicks(edit, text);
}

void enter_password(auth_form *form, const QString &password)
{
    auto *edit = form ? form->findChild<QLineEdit *>(QStringLiteral("pass_value")) : nullptr;
    if (!edit)
        return;
    QTest::keyClicks(edit, password);
    QTest::keyClick(edit, Qt::Key_Return);
}

void click(QWidget *form, const char *name)
{
    if (auto *b = form ? form->findChild<QAbstractButton *>(QLatin1String(name)) : nullptr)
        QTest::mouseClick(b, Qt::LeftButton);
}

void click_box_button(QWidget *form, const char *box, int standard_button)
{
    auto *b = form ? form->findChild<QDialogButtonBox *>(QLatin1String(box)) : nullptr;
    if (QPushButton *button = b ? b->button(static_cast<QDialogButtonBox::StandardButton>(standard_button)) : nullptr)
        QTest::mouseClick(button, Qt::LeftButton);
}

bool present(const logon_module &module, auth_form *form, const QString &serial, const QString &family)
{
    return module.touch(serial, family) && tick(form, "poll_timer");
}

MainWindow *main_window()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *mw = qobject_cast<MainWindow *>(w))
            return mw;
    }
    return nullptr;
}

MainWindow *open_administration(const logon_module &module)
{
    const QString chief = QString::fromLatin1(logon_module::kChiefSerial);
    auth_form *form = logon_form();
    if (!present(module, form, chief))
        return nullptr;
    enter_password(form, QString::fromLatin1(logon_module::kChiefPassword));
    MainWindow *w = main_window();
    if (form->current_stage() != auth_form::stage::logged_on || !w)
        return nullptr;
    w->showForm(orva_initialization::object()->handle(), make_tmid(chief));
    return w;
}
