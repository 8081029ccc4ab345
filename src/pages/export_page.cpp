#include "pages/export_page.h"

#include "ui_export_page.h"

#include "ui/message.h"
#include "ui/trace.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_medium.h>
#include <ic/sys/sysroot.h>

#include <QApplication>
#include <QCheckBox>

#include <climits>
#include <tuple>
#include <sys/stat.h>

namespace {

// Host path of a system path; empty when it cannot be resolved.
QString host_path(const QString &path)
{
    char buffer[PATH_MAX];
    if (ic_sys_host_path(path.toLocal8Bit().constData(), buffer, sizeof buffer) != 0)
        return QString();
    return QString::fromLocal8Bit(buffer);
}

} // namespace

export_page::export_page(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::export_page>()), m_master(this)
{
    ui->setupUi(this);
    connect(ui->storage_combo, &QComboBox::activated, this, &export_page::choose_storage);
}

export_page::~export_page() = default;

void export_page::choose_storage(int entry)
{
    if (entry == STORAGE_DISK) {
        emit directory_choice_enabled(true);
        return;
    }
    // The medium is mounted only around each export or import; here it must
    // be there and mount.
    const QByteArray device = medium_device().toLocal8Bit();
    const QByteArray dir = medium_mount_dir().toLocal8Bit();
    struct stat st;
    const bool found = ic_sys_stat(device.constData(), &st) == 0 &&
                       fs_medium_mount(device.constData(), dir.constData(), 0) == 0;
    if (found)
        fs_medium_unmount(dir.constData());
    const QString storage = found ? host_path(medium_mount_dir()) : QString();
    if (storage.isEmpty()) {
        ui->storage_combo->setCurrentIndex(STORAGE_USB);
        message::warning(this, QStringLiteral("Экспорт/импорт"), QStringLiteral("Не удалось найти USB носитель."));
        return;
    }
    m_master.set_medium(medium_device(), medium_mount_dir());
    m_master.set_export_import_storage(universal_storage::TYPE_PATH, storage + QLatin1Char('/'));
    ui->storage_path->setText(medium_mount_dir() + QLatin1Char('/'));
    emit directory_choice_enabled(false);
}

void export_page::set_rights(uint32_t rights)
{
    const int allowed = export_import_master::kinds_of_rights(rights);
    m_master.set_allowed(allowed);
    const QString users = QStringLiteral("Нет права «Редактирование пользователей».");
    const QString lists = QStringLiteral("Нет права «Редактирование СКЦ».");
    const std::tuple<QCheckBox *, int, const QString &> boxes[] = {
        {ui->checkBox_users, export_import_master::DB_USERS, users},
        {ui->checkBox_fs, export_import_master::DB_ICL_FS, lists},
        {ui->checkBox_hd, export_import_master::DB_ICL_HD, lists},
        {ui->checkBox_hw, export_import_master::DB_ICL_HW, lists}};
    for (const auto &[box, kind, missing] : boxes) {
        const bool on = allowed & kind;
        box->setEnabled(on);
        box->setToolTip(on ? QString() : missing);
        if (!on)
            box->setChecked(false);
    }
}

bool export_page::exchange_type(const QString &fs_type)
{
    // Only these are mounted read-write.
    if (fs_exchange_type(fs_type.toUtf8().constData()))
        return true;
    message::warning(this, QStringLiteral("Экспорт/Импорт"),
                     QStringLiteral("Необходимо использовать раздел с файловой системой FATxx/ExtX."));
    return false;
}

void export_page::set_exchange_dir(const exchange_dir &dir)
{
    if (!dir.volume) {
        ORVA_TRACE() << "export/import directory without a volume";
        return;
    }
    if (!exchange_type(QString::fromUtf8(dir.volume->fs_type ? dir.volume->fs_type : "")))
        return;
    if (!m_master.set_volume(dir.volume, dir.path)) {
        message::warning(this, QStringLiteral("Экспорт/Импорт"), QStringLiteral("Не удалось подключить раздел."));
        return;
    }
    ui->storage_path->setText(m_master.storage().storage_path());
}

void export_page::set_exchange_dir(const QString &fs_type, const QString &mount_point, const QString &dir)
{
    if (!exchange_type(fs_type))
        return;
    const QString path = export_import_master::storage_path(mount_point, dir);
    m_master.set_medium(QString(), QString());
    m_master.set_export_import_storage(universal_storage::TYPE_PATH, path);
    ui->storage_path->setText(path);
}

void export_page::read_selection()
{
    const QCheckBox *boxes[] = {ui->checkBox_users, ui->checkBox_fs, ui->checkBox_hd,
                                ui->checkBox_hw, ui->checkBox_reg, ui->checkBox_log};
    int mask = m_master.selection();
    for (int i = 0; i < 6; ++i) {
        const int bit = export_import_master::get_db_type_from_index(i);
        mask = boxes[i]->isChecked() ? (mask | bit) : (mask & ~bit);
    }
    m_master.set_selection(mask);
}

void export_page::exportData()
{
    read_selection();
    m_master.export_data();
}

void export_page::importData()
{
    read_selection();
    // Imported data take effect only through a new start.
    if (m_master.import_data() != export_import_master::IMPORT_NOTHING_WRITTEN) {
        window()->hide();
        QApplication::exit(0);
    }
}
