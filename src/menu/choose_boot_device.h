// The boot-device choice of an administrator who continues the boot: the
// hard disk or the CD/DVD drive (the other devices are shown disabled or
// hidden).
#ifndef ORVA_MENU_CHOOSE_BOOT_DEVICE_H
#define ORVA_MENU_CHOOSE_BOOT_DEVICE_H

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class choose_boot_device;
}

class choose_boot_device : public QDialog {
    Q_OBJECT

public:
    // Boot modes.
    enum boot_mode { BOOT_HARD_DISK = 0, BOOT_CDROM = 1, BOOT_CDROM_EMULATOR_RAM = 2 };

    // The list is not used.
    explicit choose_boot_device(const QStringList &devices, QWidget *parent = nullptr);
    ~choose_boot_device() override;

    // The chosen mode, read after the dialog was accepted.
    int boot_mode() const { return m_boot_mode; }

public slots:
    void on_boot_clicked();
    void on_back_clicked();

private:
    std::unique_ptr<Ui::choose_boot_device> ui;
    int m_boot_mode = BOOT_HARD_DISK;
};

#endif
