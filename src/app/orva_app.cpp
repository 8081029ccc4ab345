#include "app/orva_app.h"

#include "admin/main_window.h"
#include "app/app_forms.h"
#include "app/backdrop.h"
#include "app/startup.h"
#include "auth/auth_form.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "module/version.h"
#include "ui/message.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

#include <memory>

static void init_resources()
{
    Q_INIT_RESOURCE(orva_resources);
}

namespace {

const QString kAccountsTitle = QStringLiteral("Управление учетными записями");
const QString kFirstAdminNotice = QStringLiteral(
    "Для возможности администрирования ORVA необходимо настроить параметры Главного Администратора.\n"
    "Как минимум следует задать идентификатор и установить пароль.");
// The notice of a module formatted before this run: a blank after the line break.
const QString kFirstAdminNoticeFormatted = QStringLiteral(
    "Для возможности администрирования ORVA необходимо настроить параметры Главного Администратора.\n"
    " Как минимум следует задать идентификатор и установить пароль.");

// Full screen also where no window manager applies the window state (a bare
// X server): the geometry is the screen's as well.
void make_full_screen(QWidget &widget)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        widget.setGeometry(screen->geometry());
    widget.setWindowState(widget.windowState() | Qt::WindowFullScreen);
}

} // namespace

int orva_app_main(int argc, char **argv)
{
    return orva_app_run(argc, argv, orva_app_hooks());
}

int orva_app_run(int argc, char **argv, const orva_app_hooks &hooks)
{
    init_resources();

    // 1. Application object and the black background behind every form.
    QApplication app(argc, argv);
    backdrop background;
    make_full_screen(background);
    background.show();

    // 2. Style sheet, icon and the red focus rule.
    startup::apply_style_sheet(app, QStringLiteral(":/style.qss"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/new/favicon.png")));

    // 3. Translation of Qt's own texts.
    startup::install_translation(app, QStringLiteral(":tr/qt_ru.qm"));

    // 4. UTF-8 is Qt's encoding for translations, the locale and literals.

    // 5. Meta-types.
    startup::register_meta_types();

    // 6. Module libraries and device.
    orva_initialization *init = orva_initialization::object();
    if (init->init() != 0)
        return -1;
    const orva_handle_t handle = init->handle();

    // 7. Administration window, full screen and hidden.
    auto main_window = std::make_unique<MainWindow>();
    make_full_screen(*main_window);
    main_window->set_init_tool_bar_flag(0);

    // 8. The forms; 9. their connections.
    app_forms forms(handle);
    connect_forms(*main_window, forms);

    // 10. Titles.
    const QString version_text = version::text();
    main_window->setWindowTitle(QCoreApplication::translate(
        "MainWindow", QStringLiteral("MainWindow%1").arg(version_text).toUtf8().constData()));
    main_window->setStatusTip(version_text);
    forms.auth->setWindowTitle(QStringLiteral("Вход в систему (%1)").arg(version_text));

    // 11. The module's state decides what comes first.
    const orva_tmid no_tmid{};
    switch (orva_fun_low_level::object()->initialize_device()) {
    case orva_fun_low_level::START_NORMAL:
        main_window->set_supervisor_init_flag(true);
        forms.auth->show_form();
        break;
    case orva_fun_low_level::START_FORMATTED:
        main_window->set_supervisor_init_flag(false);
        main_window->showForm(handle, no_tmid);
        message::information(main_window.get(), kAccountsTitle, kFirstAdminNotice);
        break;
    case orva_fun_low_level::START_NO_SUPERVISOR:
        main_window->set_supervisor_init_flag(false);
        main_window->showForm(handle, no_tmid);
        main_window->set_init_tool_bar_flag(1);
        message::information(main_window.get(), kAccountsTitle, kFirstAdminNoticeFormatted);
        break;
    default:
        message::critical(nullptr, QStringLiteral("Ошибка"), orva_fun_low_level::object()->error_text());
        return -1;
    }

    // 12. Event loop; then the forms go in reverse order, then the window.
    if (hooks.before_event_loop)
        hooks.before_event_loop();
    return QApplication::exec();
}
