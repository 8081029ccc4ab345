// The administration environment's frame: the column of page buttons (mode
// selector), the stack of pages, the tool bar with the pages' actions and the
// status bar. Created hidden at start-up; opened by showForm.
#ifndef ORVA_ADMIN_MAIN_WINDOW_H
#define ORVA_ADMIN_MAIN_WINDOW_H

#include "accounts/identifier_key.h"
#include "module/meta_types.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_icl.h>
#include <ic/qt/exchange_dir.h>
#include <ic/qt/fs_vmdk_image.h>

#include <orva.h>

#include <QList>
#include <QMainWindow>
#include <QStringList>

#include <memory>

class QAction;
class QListWidgetItem;
class account_editor;
class diskTreeWidget;
class export_page;
class files_page;
class hardware_page;
class info_page;
class orva_information_storage;
class registry_page;
class settings_page;

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
    // The hardware page keeps the hardware-initialised flag.
    bool get_hw_init_flag() const;
    void set_hw_init_flag(bool initialised);
    // The hardware-recount flag.
    int get_init_tool_bar_flag() const { return m_init_tool_bar; }
    void set_init_tool_bar_flag(int flag) { m_init_tool_bar = flag; }
    // The users page keeps the password-modified flag, the set-up-user-record
    // counter and the account change buffer.
    int get_passwd_modified_flag() const;
    void set_passwd_modified_flag(int flag);
    void set_setup_user_record_flag();
    void inc_setup_user_record_flag();

    orva_handle_t session_handle() const { return m_handle; }
    const orva_tmid &session_tmid() const { return m_tmid; }

    // The action "Выход", always visible.
    QAction *exit_action() const { return m_exit_action; }
    QAction *clear_log_action() const { return m_clear_log_action; }
    // The users page's "Применить" and the settings page's.
    QAction *users_apply_action() const { return m_users_apply_action; }
    QAction *settings_apply_action() const { return m_settings_apply_action; }
    // The actions of a page (MODE_*), in the order of their function keys.
    QList<QAction *> page_actions(int mode) const;
    account_editor *accounts() const;
    hardware_page *hardware() const;
    diskTreeWidget *disks() const;
    files_page *files() const;
    settings_page *settings() const;
    info_page *information() const;
    export_page *exchange() const;
    registry_page *registry() const;

    int get_display_resolution_width() const;
    int get_display_resolution_height() const;

signals:
    // The window was closed; the post-logon menu comes back.
    void hidden();
    void itemSelectedModes(int mode);
    void supervisor_had_been_created();
    void show_registry_dir_dialog();
    void show_export_import_dialog();
    // The account editor's dialogs and the name entry.
    void showTMIDsetter(orva_db_record *record);
    void show_user_pass_form(orva_db_record record, int mask, int min_length, int generate_only, int mode);
    void show_time_limitation_form(orva_db_record *record);
    void name_selector();
    void name_selector_group();
    void new_name(QString name);
    void new_name_group(QString name);
    void tmid_has_been_set();
    void password_has_been_set();
    // The hardware page: a class check box changed; a recount was made.
    void hw_check_boxes_state_change();
    void hw_info_has_been_updated();
    // The files page: the volume selected, the flag dialog and its answer,
    // the image form and its answer, the boot-time check's data.
    void GivePart(fs_volume *volume);
    void showFlagSelector(int type);
    void getDirFlag(int type, int flags, QStringList masks);
    void show_vmdk_form(QString path);
    void add_vmdk_disk(QString path, QString name);
    void send_data(fs_icl *icl, fs_icl *sessionicl, fs_disk_list *disk_list, QList<fs_vmdk_image> *_vmdk_disk_list,
                   fs_icl_check_info *check);

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
    // The boot-time check has the file check list: the files page shows it
    // anew (once the window has been opened; opening sets it up).
    void initialize_icl();
    // Enables "Сохранить список оборудования".
    void set_save_hw_act_enable();
    // A fresh partition-table inventory on the disks page.
    void upd_hd_info();
    void clear_log();
    // The registry directory chosen: shown and its tree built.
    void set_registry_dir(exchange_dir dir);
    // The export/import directory chosen: the export page's storage.
    void set_export_import_dir(exchange_dir dir);
    // Registry control off, the registry page empty.
    void upd_reg_info();
    // The files page: the flag dialog's answer, saving the check list,
    // moving entries to another disk, taking the files as they are now.
    void getDirFlag1(int type, int flags, QStringList masks);
    void save_fs_info();
    void transfer_icl();
    void upd_fs_icl();
    void add_widget_to_tool_bar(QWidget *widget);

    // The users page's "Применить": off (the tree is told), on (the tree is
    // told, and the shown record goes into the change buffer once a record
    // has been selected), on and triggered.
    void set_apply_button_enabled();
    void set_apply_button_disable();
    void trig_apply_button();
    void set_pref_apply_button_enabled();
    // Settings page: apply, new workstation key.
    void save_config();
    void gen_ws_key();
    // Formats the user database (the program ends).
    void format_db();
    // Writes the change buffer to the module.
    void add_new_object();
    void new_key(const identifier_key &key);
    void new_tmid(orva_tmid tmid);
    void new_password(QString password);
    void working_hours_changed(orva_db_record *record);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    using action_group = QList<QAction *>;

    void createActions();
    void insert_mode_rows();
    QAction *add_action(action_group &group, const char *icon, const char *text, const char *status_tip = nullptr);
    // Common steps of a page switch: mode, page, visible action group.
    void show_page(int mode, QWidget *page, const action_group &group);
    action_group *group_of_mode(int mode);
    void setup_log_view();
    void setup_disk_view();
    void setup_icl_view();
    void apply_rights(uint32_t rights);
    void trigger_function_key(int number);
    // Unsaved changes on the page being left: false when the operator stays.
    bool leave_page_allowed();
    void connect_activete_apply();
    void connect_activate_save_hw_info_act();
    void connect_hw_check_boxes_state_change();
    void connect_files_page();

    std::unique_ptr<Ui::MainWindow> ui;
    int m_current_mode = MODE_USERS;
    int m_init_tool_bar = 0;
    bool m_supervisor_init = false;
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
    QAction *m_add_user_action = nullptr;
    QAction *m_delete_user_action = nullptr;
    QAction *m_users_apply_action = nullptr;
    QAction *m_settings_apply_action = nullptr;
    QAction *m_recount_hw_action = nullptr;
    QAction *m_save_hw_action = nullptr;

    std::unique_ptr<orva_information_storage> m_information;

    bool m_opened = false;
};

#endif
