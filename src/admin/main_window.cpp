#include "admin/main_window.h"

#include "ui_main_window.h"

#include "log/log_tree_model.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>

namespace {

struct page_row {
    const char *label;
    const char *icon;
    int mode;
};

// Rows of the mode selector, in order. Alt+1 to Alt+7 choose rows 0 to 6.
const page_row kRows[] = {
    {"Пользователи", ":/skin/users.png", MainWindow::MODE_USERS},
    {"Журнал", ":/skin/journal.png", MainWindow::MODE_LOG},
    {"Аппаратура", ":/skin/hardware.png", MainWindow::MODE_HARDWARE},
    {"Диски", ":/skin/disks.png", MainWindow::MODE_DISKS},
    {"Файлы", ":/skin/files.png", MainWindow::MODE_FILES},
    {"Реестр", ":/new/registry.png", MainWindow::MODE_REGISTRY},
    {"Настройки", ":/skin/settings.png", MainWindow::MODE_SETTINGS},
    {"Инфо", ":/skin/settings.png", MainWindow::MODE_INFO},
    {"База данных", ":/skin/settings.png", MainWindow::MODE_EXPORT_IMPORT},
};

constexpr int kAltRows = 7;

// Function keys per page: how many of the page's first actions they reach;
// the key after them is "Выход".
int function_key_actions(int mode)
{
    switch (mode) {
    case MainWindow::MODE_USERS: return 5;
    case MainWindow::MODE_LOG: return 1;
    case MainWindow::MODE_HARDWARE: return 3;
    case MainWindow::MODE_DISKS: return 2;
    case MainWindow::MODE_FILES: return 6;
    case MainWindow::MODE_SETTINGS: return 2;
    case MainWindow::MODE_REGISTRY: return 2;
    default: return -1; // no function keys
    }
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    ui->stackedWidget->setCurrentWidget(ui->subj_editor);

    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModeUsers);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModeLog);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModeDevices);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModeDisks);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModeFiles);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModeRegistry);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showModePreferences);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showOrvaInfo);
    connect(this, &MainWindow::itemSelectedModes, this, &MainWindow::showExportImport);
    // Keyboard activation of a row behaves as a click.
    connect(ui->mode_selector, &QListWidget::itemActivated, ui->mode_selector, &QListWidget::itemClicked);
    connect(this, &MainWindow::supervisor_had_been_created, this, &MainWindow::check_supervisor_init_flag);

    insert_mode_rows();
    createActions();
    m_opened = false;
}

MainWindow::~MainWindow()
{
    orva_fun_db::object()->close_db();
    orva_fun_low_level::object()->log_out();
    orva_initialization::object()->exit();
}

void MainWindow::insert_mode_rows()
{
    for (const page_row &row : kRows)
        new QListWidgetItem(QIcon(QString::fromLatin1(row.icon)), QString::fromUtf8(row.label), ui->mode_selector);
    ui->mode_selector->setCurrentRow(0);
    m_current_mode = MODE_USERS;
}

QAction *MainWindow::add_action(action_group &group, const QString &icon, const QString &text,
                                const QString &status_tip)
{
    auto *action = new QAction(QIcon(icon), text, this);
    action->setStatusTip(status_tip);
    group.append(action);
    return action;
}

void MainWindow::createActions()
{
    // Each page adds its own actions to its group here, in the groups' order:
    // common, files, users, hardware, disks, log, settings, registry,
    // export/import.
    m_exit_action = add_action(m_common_actions, QStringLiteral(":/new/exit.png"),
                               QStringLiteral("Выход"), QStringLiteral("Выход"));
    connect(m_exit_action, &QAction::triggered, this, &MainWindow::close_check_event);

    m_clear_log_action = add_action(m_log_actions, QStringLiteral(":/new/log-clean.png"),
                                    QStringLiteral("Очистить журнал"), QStringLiteral("Очистить журнал"));
    connect(m_clear_log_action, &QAction::triggered, this, &MainWindow::clear_log);

    // The users page comes first: its actions and the common ones show.
    hideAllAction();
    for (QAction *a : m_users_actions)
        a->setVisible(true);
    for (const action_group *group : {&m_files_actions, &m_users_actions, &m_hardware_actions,
                                      &m_disks_actions, &m_log_actions, &m_settings_actions,
                                      &m_registry_actions, &m_export_import_actions, &m_common_actions})
        ui->ToolBar->addActions(*group);
}

void MainWindow::hideAllAction()
{
    for (action_group *group : {&m_files_actions, &m_users_actions, &m_hardware_actions,
                                &m_disks_actions, &m_log_actions, &m_registry_actions,
                                &m_settings_actions, &m_info_actions, &m_export_import_actions}) {
        for (QAction *a : *group)
            a->setVisible(false);
    }
    for (QAction *a : m_common_actions)
        a->setVisible(true);
}

MainWindow::action_group *MainWindow::group_of_mode(int mode)
{
    switch (mode) {
    case MODE_USERS: return &m_users_actions;
    case MODE_LOG: return &m_log_actions;
    case MODE_HARDWARE: return &m_hardware_actions;
    case MODE_DISKS: return &m_disks_actions;
    case MODE_FILES: return &m_files_actions;
    case MODE_SETTINGS: return &m_settings_actions;
    case MODE_REGISTRY: return &m_registry_actions;
    case MODE_INFO: return &m_info_actions;
    case MODE_EXPORT_IMPORT: return &m_export_import_actions;
    default: return nullptr;
    }
}

void MainWindow::on_mode_selector_itemClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    for (const page_row &row : kRows) {
        if (item->text() == QString::fromUtf8(row.label)) {
            emit itemSelectedModes(row.mode);
            return;
        }
    }
}

void MainWindow::show_page(int mode, QWidget *page, const action_group &group)
{
    m_current_mode = mode;
    ui->stackedWidget->setCurrentWidget(page);
    hideAllAction();
    for (QAction *a : group)
        a->setVisible(true);
}

void MainWindow::showModeUsers(int mode)
{
    if (mode == MODE_USERS)
        show_page(mode, ui->subj_editor, m_users_actions);
}

void MainWindow::showModeLog(int mode)
{
    if (mode == MODE_LOG)
        show_page(mode, ui->log_viewer, m_log_actions);
}

void MainWindow::showModeDevices(int mode)
{
    if (mode == MODE_HARDWARE)
        show_page(mode, ui->hw_editor, m_hardware_actions);
}

void MainWindow::showModeDisks(int mode)
{
    if (mode == MODE_DISKS)
        show_page(mode, ui->disk_editor, m_disks_actions);
}

void MainWindow::showModeFiles(int mode)
{
    if (mode == MODE_FILES)
        show_page(mode, ui->file_editor, m_files_actions);
}

void MainWindow::showModeRegistry(int mode)
{
    if (mode == MODE_REGISTRY)
        show_page(mode, ui->registry_editor, m_registry_actions);
}

void MainWindow::showModePreferences(int mode)
{
    if (mode == MODE_SETTINGS)
        show_page(mode, ui->preferences, m_settings_actions);
}

void MainWindow::showOrvaInfo(int mode)
{
    if (mode == MODE_INFO)
        show_page(mode, ui->orva_info_viewer, m_info_actions);
}

void MainWindow::showExportImport(int mode)
{
    if (mode == MODE_EXPORT_IMPORT)
        show_page(mode, ui->export_import, m_export_import_actions);
}

int MainWindow::get_display_resolution_width() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : width();
}

int MainWindow::get_display_resolution_height() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : height();
}

void MainWindow::setup_log_view()
{
    const int screen_width = get_display_resolution_width();
    log_tree_view *view = ui->log_view;
    view->setModel(orva_fun_log::object()->model());
    for (int column = 0; column < log_tree_model::COLUMN_COUNT; ++column)
        view->setColumnWidth(column, static_cast<int>(screen_width * 0.8 * 0.25));
    view->setMinimumWidth(static_cast<int>(screen_width * 0.82));
}

void MainWindow::showForm(orva_handle_t handle, orva_tmid tmid)
{
    if (m_opened) {
        show();
        return;
    }
    m_handle = handle;
    m_tmid = tmid;
    orva_fun_db::object()->open_db();
    m_opened = true;

    setup_log_view();
    orva_fun_log::object()->model()->setupModelData(handle);

    if (m_supervisor_init) {
        for (QAction *a : m_users_actions)
            a->setEnabled(true);
        ui->mode_selector->setEnabled(true);
    } else {
        // First start: only the users page and "Выход" until the chief
        // administrator has been created.
        for (QAction *a : m_users_actions)
            a->setEnabled(false);
        m_exit_action->setEnabled(true);
        ui->mode_selector->setEnabled(false);
    }

    if (m_supervisor_init) {
        const std::optional<orva_db_record> record = orva_fun_db::object()->get_current_record();
        // Without the record nobody can tell the rights: none are given.
        apply_rights(record ? record->access : 0);
    }
    show();
}

void MainWindow::apply_rights(uint32_t rights)
{
    auto disable = [](const action_group &group) {
        for (QAction *a : group)
            a->setEnabled(false);
    };
    QListWidget *rows = ui->mode_selector;
    if (!(rights & db_record::ACCESS_USERS)) {
        rows->item(0)->setHidden(true);
        disable(m_users_actions);
        ui->subj_editor->hide();
    }
    if (!(rights & db_record::ACCESS_ICL)) {
        for (int row = 2; row <= 5; ++row)
            rows->item(row)->setHidden(true);
        disable(m_hardware_actions);
        disable(m_disks_actions);
        disable(m_files_actions);
    }
    if (!(rights & db_record::ACCESS_LOG)) {
        rows->item(1)->setHidden(true);
        disable(m_log_actions);
    }
    if (!(rights & db_record::ACCESS_SETTINGS)) {
        rows->item(6)->setHidden(true);
        disable(m_settings_actions);
    }
}

void MainWindow::check_supervisor_init_flag()
{
    if (m_supervisor_init)
        return;
    for (QAction *a : m_users_actions)
        a->setEnabled(true);
    ui->mode_selector->setEnabled(true);
}

void MainWindow::hw_update_configuration()
{
    m_init_tool_bar = 1;
}

void MainWindow::clear_log()
{
    if (orva_fun_log::object()->clear_log() != 0) {
        message::critical(this, QStringLiteral("Журнал"), QStringLiteral("Ошибка очистки журнала."));
        return;
    }
    message::information(this, QStringLiteral("Журнал"), QStringLiteral("Журнал был успешно очищен."));
}

void MainWindow::add_widget_to_tool_bar(QWidget *widget)
{
    ui->ToolBar->addWidget(widget);
}

void MainWindow::close_check_event()
{
    const QMessageBox::StandardButton answer = message::question(
        this, QStringLiteral("Выход"), QStringLiteral("Выход из среды администрирования ORVA."),
        QStringLiteral("Вы действительно желаете покинуть среду администрирования?\n"
                       "Все несохраненные изменения будут утрачены."));
    if (answer == QMessageBox::Ok)
        close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
    emit hidden();
}

void MainWindow::trigger_function_key(int number)
{
    const int reach = function_key_actions(m_current_mode);
    const action_group *group = group_of_mode(m_current_mode);
    if (reach < 0 || !group)
        return;
    const int actions = std::min(reach, static_cast<int>(group->size()));
    if (number <= actions)
        group->at(number - 1)->trigger();
    else if (number == actions + 1)
        m_exit_action->trigger();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (key == Qt::Key_Delete && mods == (Qt::ControlModifier | Qt::AltModifier)) {
        QApplication::exit(0);
        return;
    }
    if (ui->mode_selector->isEnabled()) {
        if (key == Qt::Key_Alt && mods == Qt::AltModifier) {
            ui->mode_selector->setFocus();
            return;
        }
        if (mods == Qt::AltModifier && key >= Qt::Key_1 && key < Qt::Key_1 + kAltRows) {
            QListWidgetItem *item = ui->mode_selector->item(key - Qt::Key_1);
            if (item && !item->isHidden()) {
                ui->mode_selector->setCurrentItem(item);
                on_mode_selector_itemClicked(item);
            }
            return;
        }
    }
    if (key == Qt::Key_Escape) {
        m_exit_action->trigger();
        return;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F7) {
        trigger_function_key(key - Qt::Key_F1 + 1);
        return;
    }
    QMainWindow::keyPressEvent(event);
}
