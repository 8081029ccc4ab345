#include "menu/choose_boot_device.h"

#include "ui_choose_boot_device.h"

choose_boot_device::choose_boot_device(const QStringList &, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::choose_boot_device>())
{
    ui->setupUi(this);
    setModal(true);
    ui->boot->setFocus();
}

choose_boot_device::~choose_boot_device() = default;

void choose_boot_device::on_boot_clicked()
{
    if (ui->hard_drive->isChecked()) {
        m_boot_mode = BOOT_HARD_DISK;
    } else {
        if (ui->cdrom->isChecked())
            m_boot_mode = BOOT_CDROM;
        if (ui->cdrom_emulator_ram->isChecked())
            m_boot_mode = BOOT_CDROM_EMULATOR_RAM;
    }
    accept();
}

void choose_boot_device::on_back_clicked()
{
    reject();
}
