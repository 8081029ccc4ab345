// The administration environment's frame: the column of page buttons (mode
// selector), the stack of pages, the tool bar with the pages' actions and the
// status bar. Created hidden at start-up; opened by showForm.
#ifndef ORVA_ADMIN_MAIN_WINDOW_H
#define ORVA_ADMIN_MAIN_WINDOW_H

#include "module/meta_types.h"

#include <orva.h>

#include <QList>
#include <QMainWindow>

#include <memory>

class QAction;
class QListWidgetItem;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Page numbers (modes); 6 is not used.
    enum mode {
        MODE_USERS = 0,
        MODE_LOG = 1,
        MODE_HARDWARE = 2,
        MODE_DISKS = 3,
        MODE_FILES = 4,
        MODE_SETTINGS = 5,
        MODE_REGISTRY = 7,
        MODE_INFO = 8,
        MODE_EXPORT_IMPORT = 9,
    };

    explicit MainWindow(QWidget *parent = nullptr);
    // Closes the database, logs the user out and ends the module session.
    ~MainWindow() override;

    int get_current_mode() const { return m_current_mode; }
    void set_current_mode(int mode) { m_current_mode = mode; }
    bool get_supervisor_init_flag() const { return m_supervisor_init; }
    void set_supervisor_init_flag(bool initialised) { m_supervisor_init = initialised; }
    bool get_hw_init_flag() const { return m_hw_init; }
    void set_hw_init_flag(bool initialised) { m_hw_init = initialised; }
    // The hardware-recount flag.
    int get_init_tool_bar_flag() const { return m_init_tool_bar; }
    void set_init_tool_bar_flag(int flag) { m_init_tool_bar = flag; }
    int get_passwd_modified_flag() const { return m_passwd_modified; }
    void set_passwd_modified_flag(int flag) { m_passwd_modified = flag; }
    void set_setup_user_record_flag() { m_setup_user_record = 0; }
    void inc_setup_user_record_flag() { ++m_setup_user_record; }

    orva_handle_t session_handle() const { return m_handle; }
    const orva_tmid &session_tmid() const { return m_tmid; }

    // The action "Выход", always visible.
    QAction *exit_action() const { return m_exit_action; }
    QAction *clear_log_action() const { return m_clear_log_action; }

    int get_display_resolution_width() const;
    int get_display_resolution_height() const;

signals:
    // The window was closed; the post-logon menu comes back.
    void hidden();
    void itemSelectedModes(int mode);
    void supervisor_had_been_created();
    void show_registry_dir_dialog();
    void show_export_import_dialog();

public slots:
    void showForm(orva_handle_t handle, orva_tmid tmid);
    void on_mode_selector_itemClicked(QListWidgetItem *item);
    void showModeUsers(int mode);
    void showModeLog(int mode);
    void showModeDevices(int mode);
    void showModeDisks(int mode);
    void showModeFiles(int mode);
    void showModeRegistry(int mode);
    void showModePreferences(int mode);
    void showOrvaInfo(int mode);
    void showExportImport(int mode);
    void hideAllAction();
    void close_check_event();
    void check_supervisor_init_flag();
    void hw_update_configuration();
    void clear_log();
    void add_widget_to_tool_bar(QWidget *widget);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    using action_group = QList<QAction *>;

    void createActions();
    void insert_mode_rows();
    QAction *add_action(action_group &group, const QString &icon, const QString &text,
                        const QString &status_tip);
    // Common steps of a page switch: mode, page, visible action group.
    void show_page(int mode, QWidget *page, const action_group &group);
    action_group *group_of_mode(int mode);
    void setup_log_view();
    void apply_rights(uint32_t rights);
    void trigger_function_key(int number);

    std::unique_ptr<Ui::MainWindow> ui;
    int m_setup_user_record = 0;
    int m_current_mode = MODE_USERS;
    int m_passwd_modified = 0;
    int m_init_tool_bar = 0;
    bool m_supervisor_init = false;
    bool m_hw_init = false;
    orva_handle_t m_handle = nullptr;
    orva_tmid m_tmid{};

    // Tool-bar action groups, each in its own order.
    action_group m_files_actions;
    action_group m_users_actions;
    action_group m_hardware_actions;
    action_group m_disks_actions;
    action_group m_log_actions;
    action_group m_registry_actions;
    action_group m_settings_actions;
    action_group m_common_actions;
    action_group m_info_actions; // always empty
    action_group m_export_import_actions;
    QAction *m_exit_action = nullptr;
    QAction *m_clear_log_action = nullptr;

    bool m_opened = false;
};

#endif
