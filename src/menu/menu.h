// The post-logon menu: shows the report of the boot-time check as it grows,
// then lets the user continue the boot (hand-off to the operating system),
// open the administration environment (administrators) or reboot.
#ifndef ORVA_MENU_MENU_H
#define ORVA_MENU_MENU_H

#include "module/meta_types.h"

#include <orva.h>

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class Menu;
}

class Menu : public QDialog {
    Q_OBJECT

public:
    // Delay of the timer that closes the menu of a user handed off at once.
    static constexpr int kCloseDelayMs = 5000;

    explicit Menu(QWidget *parent = nullptr);
    ~Menu() override;

    // 0 hard disk, 1 CD/DVD drive, 2 CD/DVD emulator in RAM.
    int boot_mode() const { return m_boot_mode; }

    // The marker file of a hard-disk hand-off, "/tmp/boot_file". Tests point
    // it into their own directory; nothing else changes it.
    static QString boot_file_path();
    static void set_boot_file_path(const QString &path);

signals:
    void started();
    void finished(orva_handle_t handle, orva_tmid tmid);

public slots:
    // Shows the menu and starts the check of this logon.
    void show_menu(orva_handle_t handle, orva_tmid tmid);
    // Shows the menu as it was, with a fresh greeting.
    void show_menu();
    // The check's verdict decides the buttons (and the hand-off of an
    // ordinary user whose check passed).
    void show_login_as_admin(bool ok);
    // Appends one report fragment (Qt rich text) and shows the end.
    void show_info(QString &text);
    void reboot_clicked();
    void login_as_admin_clicked();
    void on_proceed_clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Closes the module session and starts the operating system's boot in
    // the current boot mode.
    void do_kexec();
    void fit_buttons();

    std::unique_ptr<Ui::Menu> ui;
    orva_handle_t m_handle = nullptr;
    orva_tmid m_tmid{};
    int m_boot_mode = 0;
    bool m_reboot_requested = false;
};

#endif
