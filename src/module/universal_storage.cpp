#include "module/universal_storage.h"

#include <QFile>

namespace {

QString g_fetch_directory = QStringLiteral("/tmp/");

QString file_name(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Copies `from` to `to`, replacing `to`.
int replace_copy(const QString &from, const QString &to)
{
    if (QFile::exists(to) && !QFile::remove(to))
        return 1;
    return QFile::copy(from, to) ? 0 : 1;
}

} // namespace

universal_storage::universal_storage()
    : m_type(TYPE_DEFAULT), m_path(QStringLiteral("/media/orva-storage"))
{
}

void universal_storage::set_storage(int type, const QString &path)
{
    m_type = type;
    m_path = path;
}

int universal_storage::put_data(const QString &path)
{
    return replace_copy(path, m_path + file_name(path));
}

int universal_storage::get_data(const QString &path)
{
    return replace_copy(m_path + path, g_fetch_directory + file_name(path));
}

void universal_storage::set_fetch_directory(const QString &directory)
{
    g_fetch_directory = directory;
}

QString universal_storage::fetch_directory()
{
    return g_fetch_directory;
}
