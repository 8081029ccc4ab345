#include "admin/main_window.h"

#include "ui_main_window.h"

#include "accounts/account_editor.h"
#include "accounts/subjects_tree_view.h"
#include "files/disk_tree_view.h"
#include "files/files_page.h"
#include "files/icl_tree_item.h"
#include "files/icl_tree_view.h"
#include "log/log_tree_model.h"
#include "log/orva_fun_log.h"
#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_fun_low_level.h"
#include "module/orva_information_storage.h"
#include "module/orva_initialization.h"
#include "pages/disk_tree_widget.h"
#include "pages/disks_page.h"
#include "pages/export_page.h"
#include "pages/hardware_page.h"
#include "pages/info_page.h"
#include "pages/settings_page.h"
#include "registry/registry_page.h"
#include "registry/registry_tree_widget.h"
#include "ui/message.h"
#include "ui/trace.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/qt/ic_holders.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>

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
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()),
      m_information(std::make_unique<orva_information_storage>())
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

    account_editor *editor = accounts();
    connect(editor, &account_editor::showTMIDsetter, this, &MainWindow::showTMIDsetter);
    connect(editor, &account_editor::show_user_pass_form, this, &MainWindow::show_user_pass_form);
    connect(editor, &account_editor::show_time_limitation_form, this, &MainWindow::show_time_limitation_form);
    connect(editor, &account_editor::record_selected, this, &MainWindow::set_apply_button_disable);
    connect(editor, &account_editor::supervisor_created, this, &MainWindow::supervisor_had_been_created);
    subjects_tree_view *subjects = editor->subjects();
    connect(subjects, &subjects_tree_view::name_selector, this, &MainWindow::name_selector);
    connect(subjects, &subjects_tree_view::name_selector_group, this, &MainWindow::name_selector_group);
    connect(this, &MainWindow::new_name, subjects, &subjects_tree_view::new_name);
    connect(this, &MainWindow::new_name_group, subjects, &subjects_tree_view::new_group_name);
    connect(registry()->dir_button(), &QAbstractButton::clicked, this, &MainWindow::show_registry_dir_dialog);
    connect_files_page();

    insert_mode_rows();
    createActions();
    m_opened = false;
    connect_activete_apply();
    connect_activate_save_hw_info_act();
    connect_hw_check_boxes_state_change();

    // Device access is not offered.
    editor->findChild<QWidget *>(QStringLiteral("groupBox_3"))->hide();
    set_apply_button_disable();
}

account_editor *MainWindow::accounts() const
{
    return ui->account_page;
}

int MainWindow::get_passwd_modified_flag() const
{
    return accounts()->passwd_modified_flag();
}

void MainWindow::set_passwd_modified_flag(int flag)
{
    accounts()->set_passwd_modified_flag(flag);
}

void MainWindow::set_setup_user_record_flag()
{
    accounts()->set_setup_user_record_flag();
}

void MainWindow::inc_setup_user_record_flag()
{
    accounts()->inc_setup_user_record_flag();
}

hardware_page *MainWindow::hardware() const
{
    return ui->hw_page;
}

diskTreeWidget *MainWindow::disks() const
{
    return ui->disk_page->tree();
}

files_page *MainWindow::files() const
{
    return ui->file_page;
}

void MainWindow::connect_files_page()
{
    files_page *page = files();
    connect(page->disk_tree(), &disk_tree_view::GivePart, this, &MainWindow::GivePart);
    connect(this, &MainWindow::GivePart, page, &files_page::set_volume);
    connect(page, &files_page::showFlagSelector, this, &MainWindow::showFlagSelector);
    connect(this, &MainWindow::getDirFlag, page, &files_page::getDirFlag);
    connect(page, &files_page::show_vmdk_form, this, &MainWindow::show_vmdk_form);
    connect(this, &MainWindow::add_vmdk_disk, page, &files_page::add_vmdk_disk);
    connect(this, &MainWindow::send_data, page, &files_page::receive_data);
}

void MainWindow::getDirFlag1(int type, int flags, QStringList masks)
{
    emit getDirFlag(type, flags, masks);
}

void MainWindow::save_fs_info()
{
    files()->save_fs_info();
}

void MainWindow::transfer_icl()
{
    files()->transfer_icl();
}

void MainWindow::upd_fs_icl()
{
    files()->recalc();
}

void MainWindow::upd_hd_info()
{
    disks()->update_hdinfo();
}

bool MainWindow::get_hw_init_flag() const
{
    return hardware()->get_hw_init_flag();
}

void MainWindow::set_hw_init_flag(bool initialised)
{
    hardware()->set_hw_init_flag(initialised);
}

void MainWindow::connect_activate_save_hw_info_act()
{
    connect(m_save_hw_action, &QAction::triggered, hardware(), &hardware_page::save_hw_info);
}

void MainWindow::connect_hw_check_boxes_state_change()
{
    connect(hardware(), &hardware_page::hw_check_boxes_state_change, this, &MainWindow::hw_check_boxes_state_change);
    connect(hardware(), &hardware_page::hw_info_has_been_updated, this, &MainWindow::hw_info_has_been_updated);
}

void MainWindow::set_save_hw_act_enable()
{
    hardware()->set_save_hw_act_enable();
}

settings_page *MainWindow::settings() const
{
    return ui->settings_form;
}

info_page *MainWindow::information() const
{
    return ui->info_form;
}

export_page *MainWindow::exchange() const
{
    return ui->export_form;
}

registry_page *MainWindow::registry() const
{
    return ui->registry_form;
}

void MainWindow::set_registry_dir(exchange_dir dir)
{
    registry()->show_dir(dir);
    registry()->tree()->build_registry_tree(dir);
}

void MainWindow::set_export_import_dir(exchange_dir dir)
{
    exchange()->set_exchange_dir(dir);
}

void MainWindow::upd_reg_info()
{
    if (!registry()->tree()->destr()) {
        message::critical(this, QStringLiteral("Контроль Реестра"), QStringLiteral("Не удалось сохранить СКЦ реестра."));
        return;
    }
    registry()->show_dir(exchange_dir());
    message::information(this, QStringLiteral("Контроль Реестра"),
                         QStringLiteral("КЦ реестра был очищен. Создайте новый СКЦ."));
}

void MainWindow::connect_activete_apply()
{
    connect(accounts(), &account_editor::edited, this, &MainWindow::set_apply_button_enabled);
    // connect_activete_pref_apply
    connect(settings(), &settings_page::changed, this, &MainWindow::set_pref_apply_button_enabled);
}

MainWindow::~MainWindow()
{
    orva_fun_db::object()->close_db();
    orva_fun_low_level::object()->log_out();
    orva_initialization::object()->exit();
}

void MainWindow::insert_mode_rows()
{
    QListWidget *rows = ui->mode_selector;
    rows->ensurePolished();
    int width = rows->iconSize().width();
    for (const page_row &row : kRows) {
        new QListWidgetItem(QIcon(QString::fromLatin1(row.icon)), QString::fromUtf8(row.label), rows);
        width = std::max(width, rows->fontMetrics().horizontalAdvance(QString::fromUtf8(row.label)));
    }
    // One column as wide as the longest label (with the item padding),
    // scrolled up and down when the rows do not fit. At most an eighth of
    // the screen: the log page takes 0.82 of it and the window must fit.
    width += 16;
    rows->setWrapping(false);
    rows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rows->setGridSize(QSize(width, rows->gridSize().height()));
    width += 2 * rows->frameWidth() + rows->verticalScrollBar()->sizeHint().width();
    rows->setFixedWidth(std::min(width, get_display_resolution_width() / 8));
    ui->mode_selector->setCurrentRow(0);
    m_current_mode = MODE_USERS;
}

QAction *MainWindow::add_action(action_group &group, const char *icon, const char *text, const char *status_tip)
{
    auto *action = new QAction(QIcon(QString::fromLatin1(icon)), QString::fromUtf8(text), this);
    action->setStatusTip(QString::fromUtf8(status_tip ? status_tip : text));
    group.append(action);
    return action;
}

void MainWindow::createActions()
{
    // Groups in the order common, files, users, hardware, disks, log,
    // settings, registry, export/import. Actions whose page does not exist
    // yet are left unconnected; their page connects them.
    m_exit_action = add_action(m_common_actions, ":/new/exit.png", "Выход");
    connect(m_exit_action, &QAction::triggered, this, &MainWindow::close_check_event);

    files_page *file_page = files();
    connect(add_action(m_files_actions, ":/skin/d1.png", "Подключить виртуальный диск"), &QAction::triggered,
            file_page, &files_page::attach_current_image);
    connect(add_action(m_files_actions, ":/skin/d2.png", "Отключить виртуальный диск"), &QAction::triggered,
            file_page, &files_page::remove_vmdk_disk);
    QAction *add_files =
        add_action(m_files_actions, ":/skin/add.png", "Добавить в СКЦ", "Добавить в список контроля целостности");
    add_files->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    connect(add_files, &QAction::triggered, file_page, &files_page::add_selected);
    QAction *remove_files =
        add_action(m_files_actions, ":/skin/delete.png", "Убрать из СКЦ", "Убрать из списка контроля целостности");
    remove_files->setShortcut(QKeySequence(tr("Del")));
    connect(remove_files, &QAction::triggered, file_page, &files_page::remove_object);
    connect(add_action(m_files_actions, ":/skin/save.png", "Сохранить", "Сохранить список контроля целостности"),
            &QAction::triggered, this, &MainWindow::save_fs_info);
    connect(add_action(m_files_actions, ":/new/recount.png", "Пересчитать", "Пересчитать список контроля целостности"),
            &QAction::triggered, this, &MainWindow::upd_fs_icl);
    connect(add_action(m_files_actions, ":/new/recount.png", "Переместить СКЦ с диска на диск"), &QAction::triggered,
            this, &MainWindow::transfer_icl);

    subjects_tree_view *subjects = accounts()->subjects();
    m_add_user_action = add_action(m_users_actions, ":/new/user-new.png", "Добавить пользователя");
    connect(m_add_user_action, &QAction::triggered, subjects, &subjects_tree_view::show_user_name_selector);
    m_delete_user_action = add_action(m_users_actions, ":/new/user-delete.png", "Удалить пользователя");
    connect(m_delete_user_action, &QAction::triggered, subjects, &subjects_tree_view::delete_user);
    QAction *add_group = add_action(m_users_actions, ":/new/user-group-new.png", "Добавить группу");
    connect(add_group, &QAction::triggered, subjects, &subjects_tree_view::show_group_name_selector);
    QAction *delete_group = add_action(m_users_actions, ":/new/user-group-delete.png", "Удалить группу");
    connect(delete_group, &QAction::triggered, subjects, &subjects_tree_view::delete_group);
    m_users_apply_action = add_action(m_users_actions, ":/new/approve.png", "Применить", "Применить изменения");
    connect(m_users_apply_action, &QAction::triggered, this, &MainWindow::add_new_object);
    QAction *format = add_action(m_users_actions, ":/clear-log.png", "Форматировать БД",
                                 "Форматировать базу данных пользователей");
    connect(format, &QAction::triggered, this, &MainWindow::format_db);
    connect(subjects, &subjects_tree_view::group_has_created, this, &MainWindow::trig_apply_button);

    QAction *toggle_hw = add_action(m_hardware_actions, ":/cpu.png", "Поставить/снять все группы",
                                    "Поставить/снять все группы оборудования с контроля");
    connect(toggle_hw, &QAction::triggered, hardware(), &hardware_page::toggle_hw_control);
    m_save_hw_action = add_action(m_hardware_actions, ":/skin/save.png", "Сохранить список оборудования");
    m_recount_hw_action = add_action(m_hardware_actions, ":/new/recount.png", "Пересчитать список оборудования");
    connect(m_recount_hw_action, &QAction::triggered, hardware(), &hardware_page::upd_hw_info);
    hardware()->set_actions(m_save_hw_action, m_recount_hw_action);

    QAction *save_disks = add_action(m_disks_actions, ":/skin/save.png", "Сохранить список дисков");
    connect(save_disks, &QAction::triggered, disks(), &diskTreeWidget::save_disk_info);
    QAction *recount_disks = add_action(m_disks_actions, ":/new/recount.png", "Пересчитать дерево дисков");
    connect(recount_disks, &QAction::triggered, this, &MainWindow::upd_hd_info);

    m_clear_log_action = add_action(m_log_actions, ":/new/log-clean.png", "Очистить журнал");
    connect(m_clear_log_action, &QAction::triggered, this, &MainWindow::clear_log);

    QAction *ws_key = add_action(m_settings_actions, ":/new/wskey-change.png", "Изменить ключ станции",
                                 "Сгенерировать новый ключ станции");
    connect(ws_key, &QAction::triggered, this, &MainWindow::gen_ws_key);
    m_settings_apply_action = add_action(m_settings_actions, ":/new/approve.png", "Применить", "Применить изменения");
    m_settings_apply_action->setEnabled(false);
    connect(m_settings_apply_action, &QAction::triggered, this, &MainWindow::save_config);

    connect(add_action(m_registry_actions, ":/save.png", "Сохранить КЦ реестра"), &QAction::triggered,
            registry()->tree(), &registryTreeWidget::save_reg_info);
    connect(add_action(m_registry_actions, ":/new/recount.png", "Очистить КЦ реестра"), &QAction::triggered, this,
            &MainWindow::upd_reg_info);

    QAction *exchange_dir = add_action(m_export_import_actions, ":/new/recount.png",
                                       "Установить каталог экспорта/импорта", "Установить каталог экспорт/импорта");
    connect(exchange_dir, &QAction::triggered, this, &MainWindow::show_export_import_dialog);
    // The directory is chosen only for a hard-disk partition.
    exchange_dir->setEnabled(false);
    connect(exchange(), &export_page::directory_choice_enabled, exchange_dir, &QAction::setEnabled);
    connect(add_action(m_export_import_actions, ":/new/recount.png", "Экспортировать"), &QAction::triggered,
            exchange(), &export_page::exportData);
    connect(add_action(m_export_import_actions, ":/new/recount.png", "Импортировать"), &QAction::triggered,
            exchange(), &export_page::importData);

    // The users page comes first: its actions and the common ones show.
    hideAllAction();
    for (QAction *a : m_users_actions)
        a->setVisible(true);
    for (const action_group *group : {&m_files_actions, &m_users_actions, &m_hardware_actions,
                                      &m_disks_actions, &m_log_actions, &m_settings_actions,
                                      &m_registry_actions, &m_export_import_actions, &m_common_actions})
        ui->ToolBar->addActions(*group);
}

QList<QAction *> MainWindow::page_actions(int mode) const
{
    action_group *group = const_cast<MainWindow *>(this)->group_of_mode(mode);
    return group ? *group : QList<QAction *>();
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

bool MainWindow::leave_page_allowed()
{
    const bool users_unsaved = m_current_mode == MODE_USERS && m_users_apply_action->isEnabled();
    const bool settings_unsaved = m_current_mode == MODE_SETTINGS && m_settings_apply_action->isEnabled();
    if (!users_unsaved && !settings_unsaved)
        return true;
    message::box_request request;
    request.type = message::kind::question;
    request.title = QStringLiteral("Сохранение изменений");
    request.text = QStringLiteral("Вы изменили параметры учетных записей.");
    request.informative = QStringLiteral("Желаете сохранить изменения?");
    request.buttons = QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel;
    request.default_button = QMessageBox::Save;
    request.button_texts = {{QMessageBox::Discard, QStringLiteral("Не сохранять")}};
    switch (message::show(this, request)) {
    case QMessageBox::Discard:
        return true;
    case QMessageBox::Save: {
        QList<QAction *> triggered;
        for (QAction *apply : {m_users_apply_action, m_settings_apply_action}) {
            if (apply->isEnabled()) {
                apply->trigger();
                triggered.append(apply);
            }
        }
        // A save that failed keeps its page: leaving would drop the changes.
        for (QAction *apply : triggered) {
            if (apply->isEnabled())
                return false;
        }
        return true;
    }
    default:
        return false;
    }
}

void MainWindow::on_mode_selector_itemClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    if (!leave_page_allowed()) {
        // The row of the page that stays is the selected one again.
        for (int row = 0; row < ui->mode_selector->count(); ++row) {
            if (kRows[row].mode == m_current_mode)
                ui->mode_selector->setCurrentRow(row);
        }
        return;
    }
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
    if (mode != MODE_USERS)
        return;
    account_editor *editor = accounts();
    editor->clear_change_buffer();
    editor->set_setup_user_record_flag();
    show_page(mode, ui->subj_editor, m_users_actions);
    // The record is shown again from the module: the page shows no dropped
    // changes, and later edits are buffered again.
    if (m_opened)
        editor->subjects()->rebuild(editor->current_name());
}

void MainWindow::showModeLog(int mode)
{
    if (mode == MODE_LOG)
        show_page(mode, ui->log_viewer, m_log_actions);
}

void MainWindow::showModeDevices(int mode)
{
    if (mode != MODE_HARDWARE)
        return;
    // Also offered when nothing stored could be read: there is nothing to
    // approve otherwise.
    m_recount_hw_action->setEnabled(m_init_tool_bar != 0 || hardware()->needs_recount());
    m_init_tool_bar = 0;
    show_page(mode, ui->hw_editor, m_hardware_actions);
}

void MainWindow::showModeDisks(int mode)
{
    if (mode == MODE_DISKS)
        show_page(mode, ui->disk_editor, m_disks_actions);
}

void MainWindow::showModeFiles(int mode)
{
    if (mode != MODE_FILES) {
        // Another page: the files page lets go of what it mounted.
        files()->leave();
        return;
    }
    show_page(mode, ui->file_editor, m_files_actions);
    files()->enter();
}

void MainWindow::showModeRegistry(int mode)
{
    if (mode != MODE_REGISTRY)
        return;
    show_page(mode, ui->registry_editor, m_registry_actions);
    registry()->show_dir(registry()->tree()->holder().dir());
}

void MainWindow::showModePreferences(int mode)
{
    if (mode != MODE_SETTINGS)
        return;
    settings()->load();
    show_page(mode, ui->preferences, m_settings_actions);
    m_settings_apply_action->setEnabled(false);
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

void MainWindow::setup_disk_view()
{
    const int screen_width = get_display_resolution_width();
    diskTreeWidget *view = disks();
    // No minimum width for the view: beside the mode selector it would make
    // the window wider than a small screen, which then drops full screen.
    for (int column = 0; column < 3; ++column)
        view->setColumnWidth(column, static_cast<int>(screen_width * 0.85 / 3));
}

void MainWindow::setup_icl_view()
{
    // No minimum width: beside the two other views of the page it would
    // make the window wider than the screen.
    const int screen_width = get_display_resolution_width();
    for (int column = 0; column < icl_tree_item::COLUMN_COUNT; ++column)
        files()->icl_tree()->setColumnWidth(column, static_cast<int>(screen_width * 0.8 / 6));
}

void MainWindow::showForm(orva_handle_t handle, orva_tmid tmid)
{
    disks()->set_module(handle);
    disks()->load_data();
    if (m_opened) {
        if (m_current_mode == MODE_FILES)
            files()->enter();
        show();
        return;
    }
    m_handle = handle;
    m_tmid = tmid;
    orva_fun_db::object()->open_db();
    m_opened = true;

    setup_log_view();
    setup_disk_view();
    orva_fun_log::object()->model()->setupModelData(handle);
    subjects_tree_view *subjects = accounts()->subjects();
    subjects->setup();
    hardware()->set_hw_models(handle);
    registry()->tree()->set_module(handle);
    registry()->tree()->load_reg_data();
    files()->setup(handle);
    setup_icl_view();

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
    // Nothing is changed yet: "Применить" waits for an edit.
    set_apply_button_disable();
    subjects->setFocus();

    if (m_supervisor_init) {
        const std::optional<orva_db_record> record = orva_fun_db::object()->get_current_record();
        // Without the record nobody can tell the rights: none are given.
        apply_rights(record ? record->access : 0);
    } else {
        // First start: every page is open, as every row is.
        exchange()->set_rights(db_record::ACCESS_ALL);
    }
    information()->setOrvaInformation(*m_information);
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
        disable(m_registry_actions);
    }
    // Export and import move users and check lists: each needs its right.
    exchange()->set_rights(rights);
    if (!(rights & (db_record::ACCESS_USERS | db_record::ACCESS_ICL))) {
        for (QAction *a : m_export_import_actions.mid(1))
            a->setEnabled(false);
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
    if (accounts()->change_buffer().isEmpty())
        set_apply_button_disable();
}

void MainWindow::hw_update_configuration()
{
    m_init_tool_bar = 1;
}

void MainWindow::initialize_icl()
{
    if (m_opened)
        files()->setup(m_handle);
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
    // Unsaved changes are dropped, with the keys and passwords made for them.
    account_editor *editor = accounts();
    editor->clear_change_buffer();
    set_apply_button_disable();
    if (m_opened)
        editor->subjects()->rebuild(editor->current_name());
    files()->leave();
    hide();
    event->ignore();
    emit hidden();
}

void MainWindow::set_apply_button_disable()
{
    m_users_apply_action->setEnabled(false);
    accounts()->subjects()->set_apply_flag(0);
}

void MainWindow::set_apply_button_enabled()
{
    m_users_apply_action->setEnabled(true);
    account_editor *editor = accounts();
    editor->subjects()->set_apply_flag(1);
    if (editor->setup_user_record_flag() >= 1)
        editor->update_user();
}

void MainWindow::trig_apply_button()
{
    set_apply_button_enabled();
    m_users_apply_action->trigger();
}

void MainWindow::set_pref_apply_button_enabled()
{
    m_settings_apply_action->setEnabled(true);
}

void MainWindow::save_config()
{
    m_settings_apply_action->setEnabled(false);
    accounts()->subjects()->set_apply_flag(0);
    if (settings()->save_config())
        accounts()->clear_change_buffer();
}

void MainWindow::gen_ws_key()
{
    settings()->gen_ws_key();
}

void MainWindow::format_db()
{
    information()->format_db();
}

void MainWindow::add_new_object()
{
    account_editor *editor = accounts();
    editor->add_new_object();
    // What could not be written stays pending.
    if (!editor->change_buffer().isEmpty()) {
        m_users_apply_action->setEnabled(true);
        editor->subjects()->set_apply_flag(1);
    }
}

void MainWindow::new_key(const identifier_key &key)
{
    accounts()->new_key(key);
}

void MainWindow::new_tmid(orva_tmid tmid)
{
    accounts()->new_tmid(tmid);
    emit tmid_has_been_set();
}

void MainWindow::new_password(QString password)
{
    accounts()->new_password(password);
    emit password_has_been_set();
}

void MainWindow::working_hours_changed(orva_db_record *record)
{
    accounts()->working_hours_changed(record);
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
    if (m_current_mode == MODE_USERS && mods == Qt::NoModifier) {
        if (key == Qt::Key_Insert || key == Qt::Key_I) {
            m_add_user_action->trigger();
            return;
        }
        if (key == Qt::Key_D) {
            m_delete_user_action->trigger();
            return;
        }
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F7) {
        trigger_function_key(key - Qt::Key_F1 + 1);
        return;
    }
    QMainWindow::keyPressEvent(event);
}
