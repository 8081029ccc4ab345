#include "pages/export_import_master.h"

#include "module/db_record.h"
#include "module/orva_fun_db.h"
#include "module/orva_initialization.h"
#include "ui/message.h"

#include <ic/fs/fs_disk_list.h>
#include <ic/fs/fs_medium.h>
#include <ic/qt/ic_data_area.h>

#include <orva.h>

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

const char kDbFile[] = "base-db.bin";
const char kConfFile[] = "config-db.bin";

// The kinds export and import move.
constexpr int kMoved = export_import_master::DB_USERS | export_import_master::DB_ICL_FS |
                       export_import_master::DB_ICL_HD | export_import_master::DB_ICL_HW;

orva_handle_t handle()
{
    return orva_initialization::object()->handle();
}

QString block_file(int type)
{
    switch (type) {
    case export_import_master::BLOCK_HW: return QStringLiteral("hw.bin");
    case export_import_master::BLOCK_HD: return QStringLiteral("hd.bin");
    case export_import_master::BLOCK_REG: return QStringLiteral("reg.bin");
    case export_import_master::BLOCK_FS: return QStringLiteral("fs.bin");
    default: return QString();
    }
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace

export_import_master::export_import_master(QWidget *parent)
    : m_parent(parent)
{
}

export_import_master::~export_import_master()
{
    release_volume();
}

int export_import_master::kinds_of_rights(uint32_t rights)
{
    int kinds = 0;
    if (rights & db_record::ACCESS_USERS)
        kinds |= DB_USERS;
    if (rights & db_record::ACCESS_ICL)
        kinds |= DB_ICL_FS | DB_ICL_HD | DB_ICL_HW | DB_ICL_REG;
    return kinds;
}

QString export_import_master::storage_path(const QString &mount_point, const QString &dir)
{
    QString path = QDir::cleanPath(mount_point + QLatin1Char('/') + dir);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

void export_import_master::set_export_import_storage(int type, const QString &path)
{
    m_storage.set_storage(type, path);
    m_storage_set = true;
}

void export_import_master::set_medium(const QString &devnode, const QString &mount_dir)
{
    release_volume();
    m_medium = devnode;
    m_medium_dir = mount_dir;
}

bool export_import_master::set_volume(fs_volume *volume, const QString &dir)
{
    const char *mount = nullptr;
    // The new use first: the same volume chosen again stays mounted.
    if (!volume || fs_volume_get_mount_point(volume, 0, &mount) != FS_OK || !mount)
        return false;
    set_medium(QString(), QString());
    m_volume = volume;
    m_volume_dir = dir;
    set_export_import_storage(universal_storage::TYPE_PATH, storage_path(QString::fromUtf8(mount), dir));
    return true;
}

void export_import_master::release_volume()
{
    if (!m_volume)
        return;
    if (m_volume_writable)
        fs_volume_release_writable_mount_point(m_volume);
    m_volume_writable = false;
    // Gone already when the disk list let go of every mount at the end.
    if (m_volume->mount_count > 0)
        fs_volume_release_mount_point(m_volume);
    m_volume = nullptr;
    m_volume_dir.clear();
}

bool export_import_master::mount_medium(bool writable)
{
    if (m_volume) {
        // Imports read through the held mount; an export writes through a
        // read-write mount of its own.
        if (!writable)
            return true;
        const char *mount = nullptr;
        if (fs_volume_get_mount_point(m_volume, 1, &mount) != FS_OK || !mount ||
            mount != m_volume->rw_mount_dir) {
            if (mount)
                fs_volume_release_writable_mount_point(m_volume);
            message::warning(m_parent, QStringLiteral("Экспорт данных"),
                             QStringLiteral("Не удалось подключить раздел для записи."));
            return false;
        }
        m_volume_writable = true;
        m_storage.set_storage(universal_storage::TYPE_PATH, storage_path(QString::fromUtf8(mount), m_volume_dir));
        return true;
    }
    if (m_medium.isEmpty())
        return true;
    const QByteArray dev = m_medium.toLocal8Bit();
    const QByteArray dir = m_medium_dir.toLocal8Bit();
    m_medium_mounted = fs_medium_mount(dev.constData(), dir.constData(), writable ? 1 : 0) == 0;
    if (!m_medium_mounted)
        message::warning(m_parent, QStringLiteral("Экспорт/импорт"), QStringLiteral("Не удалось найти USB носитель."));
    return m_medium_mounted;
}

void export_import_master::release_medium()
{
    if (m_volume_writable) {
        fs_volume_release_writable_mount_point(m_volume);
        m_volume_writable = false;
        m_storage.set_storage(universal_storage::TYPE_PATH,
                              storage_path(QString::fromUtf8(m_volume->mount_dir), m_volume_dir));
    }
    if (!m_medium_mounted)
        return;
    fs_medium_unmount(m_medium_dir.toLocal8Bit().constData());
    m_medium_mounted = false;
}

bool export_import_master::selection_allowed(const QString &title, const QString &text)
{
    if ((m_selection & kMoved & ~m_allowed) == 0)
        return true;
    message::warning(m_parent, title, text);
    return false;
}

QByteArray export_import_master::read_raw_icl_block_from_device(int type)
{
    uint32_t size = 0;
    const std::unique_ptr<uint8_t[]> block = ic_data_area(handle()).read_raw_icl_block_from_device(&size, type);
    if (!block)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(block.get()), qsizetype(size));
}

int export_import_master::save_raw_icl_block_to_device(const QByteArray &block, int type)
{
    if (block.isEmpty() || block.size() > qsizetype(UINT32_MAX))
        return -1;
    return ic_data_area(handle()).save_raw_icl_block_to_device(block.constData(), uint32_t(block.size()), type);
}

int export_import_master::put_file(const QString &name, const QByteArray &bytes)
{
    const QString work = universal_storage::fetch_directory() + name;
    int rc = write_file(work, bytes) ? m_storage.put_data(work) : 1;
    QFile::remove(work);
    if (rc != 0) {
        message::warning(m_parent, QStringLiteral("Ошибка экспорта базы"),
                         QStringLiteral("Не удалось записать файл %1.").arg(name));
        return -1;
    }
    return 0;
}

bool export_import_master::get_file(const QString &name, QByteArray *bytes)
{
    const QString work = universal_storage::fetch_directory() + name;
    bool ok = false;
    if (m_storage.get_data(name) == 0) {
        QFile file(work);
        if (file.open(QIODevice::ReadOnly)) {
            *bytes = file.readAll();
            ok = file.error() == QFileDevice::NoError;
        }
    }
    QFile::remove(work);
    return ok;
}

int export_import_master::export_db()
{
    QByteArray image(ORVA_DB_IMAGE_SIZE, Qt::Uninitialized);
    QByteArray conf(ORVA_CONF_SIZE, Qt::Uninitialized);
    if (orva_read_db(handle(), image.data(), ORVA_DB_IMAGE_SIZE) != ORVA_OK ||
        orva_db_conf_get(handle(), conf.data()) != ORVA_OK) {
        message::warning(m_parent, QStringLiteral("Ошибка экспорта базы"),
                         QStringLiteral("Не удалось прочитать базу данных пользователей."));
        return -1;
    }
    if (put_file(QString::fromLatin1(kDbFile), image) != 0 || put_file(QString::fromLatin1(kConfFile), conf) != 0)
        return -1;
    return 0;
}

int export_import_master::export_icl(int type)
{
    const QByteArray block = read_raw_icl_block_from_device(type);
    if (block.isEmpty()) {
        message::warning(m_parent, QStringLiteral("Ошибка экспорта базы"),
                         QStringLiteral("Не удалось экспортировать базу контроля аппаратуры."));
        return 1;
    }
    return put_file(block_file(type), block);
}

int export_import_master::import_db()
{
    QByteArray image;
    QByteArray conf;
    int rc = -1;
    if (get_file(QString::fromLatin1(kDbFile), &image) && image.size() == ORVA_DB_IMAGE_SIZE &&
        get_file(QString::fromLatin1(kConfFile), &conf) && conf.size() == ORVA_CONF_SIZE) {
        // The database in place is kept, to be put back when the
        // configuration is refused after it.
        QByteArray old(ORVA_DB_IMAGE_SIZE, Qt::Uninitialized);
        const bool have_old = orva_read_db(handle(), old.data(), ORVA_DB_IMAGE_SIZE) == ORVA_OK;
        if (orva_write_db(handle(), image.constData(), ORVA_DB_IMAGE_SIZE) == ORVA_OK) {
            if (orva_db_conf_write(handle(), conf.constData()) == ORVA_OK)
                rc = 0;
            else if (have_old)
                orva_write_db(handle(), old.constData(), ORVA_DB_IMAGE_SIZE);
        }
        orva_fun_db::object()->close_db();
    }
    if (rc != 0)
        message::warning(m_parent, QStringLiteral("Импорт базы данных пользователей"),
                         QStringLiteral("Ошибка сохранения базы данных в устройство."));
    return rc;
}

int export_import_master::import_icl(int type)
{
    QByteArray block;
    const int rc = get_file(block_file(type), &block) ? save_raw_icl_block_to_device(block, type) : -1;
    if (rc != 0)
        message::warning(m_parent, QStringLiteral("Импорт списка контроля аппаратуры"),
                         QStringLiteral("Ошибка сохранения базы данных в устройство."));
    return rc;
}

bool export_import_master::export_data()
{
    if (!m_storage_set) {
        message::warning(m_parent, QStringLiteral("Экспорт"), QStringLiteral("Необходимо установить каталог экспорта."));
        return false;
    }
    if (!selection_allowed(QStringLiteral("Экспорт данных"),
                           QStringLiteral("Недостаточно прав для экспорта выбранных данных.")))
        return false;
    if (!mount_medium(true))
        return false;
    bool failed = false;
    if (m_selection & DB_USERS)
        failed |= export_db() < 0;
    if (m_selection & DB_ICL_FS)
        failed |= export_icl_fs() < 0;
    if (m_selection & DB_ICL_HD)
        failed |= export_icl_hd() < 0;
    if (m_selection & DB_ICL_HW)
        failed |= export_icl_hw() < 0;
    sync();
    release_medium();
    if (failed)
        return false;
    message::information(m_parent, QStringLiteral("Экспорт данных"), QStringLiteral("Данные успешно экспортированы."));
    return true;
}

export_import_master::import_result export_import_master::import_data()
{
    if (!m_storage_set) {
        message::warning(m_parent, QStringLiteral("Импорт данных"), QStringLiteral("Необходимо установить каталог импорта."));
        return IMPORT_NOTHING_WRITTEN;
    }
    if (!selection_allowed(QStringLiteral("Импорт данных"),
                           QStringLiteral("Недостаточно прав для импорта выбранных данных.")))
        return IMPORT_NOTHING_WRITTEN;
    if (!mount_medium(false))
        return IMPORT_NOTHING_WRITTEN;
    int written = 0;
    int failed = 0;
    auto count = [&](int rc) { (rc == 0 ? written : failed) += 1; };
    if (m_selection & DB_USERS)
        count(import_db());
    if (m_selection & DB_ICL_FS)
        count(import_icl_fs());
    if (m_selection & DB_ICL_HD)
        count(import_icl_hd());
    if (m_selection & DB_ICL_HW)
        count(import_icl_hw());
    release_medium();
    if (failed == 0) {
        message::information(m_parent, QStringLiteral("Экспорт данных"), QStringLiteral("Данные успешно импортированы."));
        return IMPORT_DONE;
    }
    return written ? IMPORT_PARTIAL : IMPORT_NOTHING_WRITTEN;
}
