#include "app/app_forms.h"

#include "admin/main_window.h"

app_forms::app_forms(orva_handle_t handle)
{
    // One line per form, in creation order, for example:
    //   auth = create<auth_form>(handle);
    static_cast<void>(handle);
}

app_forms::~app_forms()
{
    while (!m_created.empty())
        m_created.pop_back();
}

void connect_forms(MainWindow &main_window, app_forms &forms)
{
    // One row per connection, for example:
    //   QObject::connect(forms.auth, &auth_form::logIn, forms.menu,
    //                    qOverload<orva_handle_t, orva_tmid>(&Menu::show_menu));
    static_cast<void>(main_window);
    static_cast<void>(forms);
}
