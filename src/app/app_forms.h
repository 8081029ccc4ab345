// The forms of the program: created once by the entry point, in the order
// below, after the administration window; destroyed in the reverse order when
// the event loop has ended, before the administration window.
#ifndef ORVA_APP_APP_FORMS_H
#define ORVA_APP_APP_FORMS_H

#include <orva.h>

#include <QObject>

#include <memory>
#include <utility>
#include <vector>

class IntegrityController;
class MainWindow;
class Menu;
class TMID_setter;
class add_vmdk_image_form;
class auth_form;
class choose_dir_dialog;
class fs_icl_flag_sel;
class new_user_name;
class time_limitation_form;
class pass_change_dialog;
class user_pass_form;

class app_forms {
public:
    // Creates the forms in this order (each form adds its own line to the
    // constructor and a pointer here): auth_form (given the handle),
    // fs_icl_flag_sel, TMID_setter, add_vmdk_image_form, Menu,
    // new_user_name, user_pass_form (account editor), user_pass_form
    // (password change at logon), time_limitation_form, pass_change_dialog,
    // IntegrityController (given the handle), choose_dir_dialog(0, false)
    // (registry directory), choose_dir_dialog(0, true) (export/import).
    explicit app_forms(orva_handle_t handle);
    ~app_forms();

    app_forms(const app_forms &) = delete;
    app_forms &operator=(const app_forms &) = delete;

    // The forms, in creation order.
    auth_form *auth = nullptr;
    fs_icl_flag_sel *flag_selector = nullptr;
    TMID_setter *tmid_setter = nullptr;
    add_vmdk_image_form *vmdk_form = nullptr;
    Menu *menu = nullptr;
    new_user_name *name_entry = nullptr;
    user_pass_form *editor_user_pass = nullptr; // password of a record in the account editor
    user_pass_form *logon_user_pass = nullptr;  // password change at logon
    time_limitation_form *working_hours = nullptr;
    pass_change_dialog *pass_change = nullptr;
    IntegrityController *integrity_controller = nullptr;
    choose_dir_dialog *registry_dir_dialog = nullptr; // read-only mounts
    choose_dir_dialog *export_dir_dialog = nullptr;   // read-write mounts

private:
    // Creates one form and keeps it for destruction in reverse order.
    template <class Form, class... Args>
    Form *create(Args &&...args)
    {
        auto form = std::make_unique<Form>(std::forward<Args>(args)...);
        Form *raw = form.get();
        m_created.push_back(std::move(form));
        return raw;
    }

    std::vector<std::unique_ptr<QObject>> m_created;
};

// The signal/slot wiring between the administration window and the forms,
// one connect per row, in the order of the wiring table.
void connect_forms(MainWindow &main_window, app_forms &forms);

#endif
