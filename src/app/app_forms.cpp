#include "app/app_forms.h"

#include "accounts/new_user_name.h"
#include "accounts/time_limitation_form.h"
#include "accounts/tmid_setter.h"
#include "admin/choose_dir_dialog.h"
#include "admin/main_window.h"
#include "auth/auth_form.h"
#include "auth/pass_change_dialog.h"
#include "auth/user_pass_form.h"
#include "check/integrity_controller.h"
#include "files/add_vmdk_image_form.h"
#include "files/fs_icl_flag_sel.h"
#include "menu/menu.h"

app_forms::app_forms(orva_handle_t handle)
{
    // One line per form, in creation order.
    auth = create<auth_form>(handle);
    flag_selector = create<fs_icl_flag_sel>();
    tmid_setter = create<TMID_setter>();
    vmdk_form = create<add_vmdk_image_form>();
    menu = create<Menu>();
    name_entry = create<new_user_name>();
    editor_user_pass = create<user_pass_form>();
    logon_user_pass = create<user_pass_form>();
    working_hours = create<time_limitation_form>();
    pass_change = create<pass_change_dialog>();
    integrity_controller = create<IntegrityController>(handle);
    registry_dir_dialog = create<choose_dir_dialog>(nullptr, false);
    export_dir_dialog = create<choose_dir_dialog>(nullptr, true);
}

app_forms::~app_forms()
{
    while (!m_created.empty())
        m_created.pop_back();
}

void connect_forms(MainWindow &main_window, app_forms &forms)
{
    // One row per connection, in the order of the wiring table. Rows whose
    // other end does not exist yet come with that form.
    QObject::connect(forms.integrity_controller, &IntegrityController::hw_configuration_has_been_changed,
                     &main_window, &MainWindow::hw_update_configuration);
    QObject::connect(forms.auth, &auth_form::logIn, forms.menu,
                     qOverload<orva_handle_t, orva_tmid>(&Menu::show_menu));
    QObject::connect(forms.pass_change, &pass_change_dialog::cancel_id, forms.auth, &auth_form::cancel_id);
    QObject::connect(forms.pass_change, &pass_change_dialog::show_integrity_controller, forms.menu,
                     qOverload<orva_handle_t, orva_tmid>(&Menu::show_menu));
    QObject::connect(forms.menu, &Menu::started, forms.integrity_controller, &IntegrityController::start);
    QObject::connect(forms.integrity_controller, &IntegrityController::info, forms.menu, &Menu::show_info);
    QObject::connect(forms.integrity_controller, &IntegrityController::finished, forms.menu,
                     &Menu::show_login_as_admin);
    QObject::connect(forms.integrity_controller, &IntegrityController::send_data, &main_window,
                     &MainWindow::send_data);
    QObject::connect(forms.menu, &Menu::finished, &main_window, &MainWindow::showForm);
    QObject::connect(&main_window, &MainWindow::hidden, forms.menu, qOverload<>(&Menu::show_menu));
    QObject::connect(&main_window, &MainWindow::showFlagSelector, forms.flag_selector, &fs_icl_flag_sel::showF);
    QObject::connect(forms.flag_selector, &fs_icl_flag_sel::result, &main_window, &MainWindow::getDirFlag1);
    QObject::connect(&main_window, &MainWindow::showTMIDsetter, forms.tmid_setter, &TMID_setter::showF);
    QObject::connect(forms.tmid_setter, &TMID_setter::newKey, &main_window, &MainWindow::new_key);
    QObject::connect(forms.tmid_setter, &TMID_setter::newTmid, &main_window, &MainWindow::new_tmid);
    QObject::connect(&main_window, &MainWindow::show_vmdk_form, forms.vmdk_form, &add_vmdk_image_form::show_form);
    QObject::connect(forms.vmdk_form, &add_vmdk_image_form::add_vmdk_disk, &main_window, &MainWindow::add_vmdk_disk);
    QObject::connect(&main_window, &MainWindow::name_selector, forms.name_entry, &new_user_name::show_form);
    QObject::connect(&main_window, &MainWindow::name_selector_group, forms.name_entry,
                     &new_user_name::show_form_group);
    QObject::connect(forms.name_entry, &new_user_name::new_name, &main_window, &MainWindow::new_name);
    QObject::connect(forms.name_entry, &new_user_name::new_group_name, &main_window, &MainWindow::new_name_group);
    QObject::connect(&main_window, &MainWindow::show_user_pass_form, forms.editor_user_pass,
                     qOverload<orva_db_record, int, int, int, int>(&user_pass_form::show_form));
    QObject::connect(forms.editor_user_pass, &user_pass_form::new_password, &main_window, &MainWindow::new_password);
    QObject::connect(&main_window, &MainWindow::show_time_limitation_form, forms.working_hours,
                     &time_limitation_form::show_form);
    QObject::connect(forms.integrity_controller, &IntegrityController::initialize_icl, &main_window,
                     &MainWindow::initialize_icl);
    QObject::connect(forms.working_hours, &time_limitation_form::working_hours_changed, &main_window,
                     &MainWindow::working_hours_changed);
    QObject::connect(forms.auth, &auth_form::show_pass_change_dialog, forms.pass_change,
                     &pass_change_dialog::show_form);
    QObject::connect(forms.pass_change, &pass_change_dialog::show_user_pass_form, forms.logon_user_pass,
                     qOverload<orva_db_record, int, int, int, int, int>(&user_pass_form::show_form));
    QObject::connect(forms.logon_user_pass, &user_pass_form::new_password, forms.pass_change,
                     &pass_change_dialog::change_current_password);
    QObject::connect(forms.integrity_controller, &IntegrityController::hw_check_success, &main_window,
                     &MainWindow::set_save_hw_act_enable);
    QObject::connect(&main_window, &MainWindow::show_registry_dir_dialog, forms.registry_dir_dialog,
                     &choose_dir_dialog::show);
    QObject::connect(forms.registry_dir_dialog, &choose_dir_dialog::save_changes, &main_window,
                     &MainWindow::set_registry_dir);
    QObject::connect(forms.export_dir_dialog, &choose_dir_dialog::save_changes, &main_window,
                     &MainWindow::set_export_import_dir);
    QObject::connect(&main_window, &MainWindow::show_export_import_dialog, forms.export_dir_dialog,
                     &choose_dir_dialog::show);
    QObject::connect(forms.logon_user_pass, &user_pass_form::cancel_id, forms.pass_change,
                     &pass_change_dialog::slot_cancel_id);
}
