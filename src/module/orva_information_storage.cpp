#include "module/orva_information_storage.h"

#include <gost/GostHash94.h>

#include <QCryptographicHash>
#include <QFile>

namespace {

const char kProgramFile[] = "orva-ng-gui";
constexpr qint64 kMd5Piece = 2048;

QString file_md5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash md5(QCryptographicHash::Md5);
    for (;;) {
        const QByteArray piece = file.read(kMd5Piece);
        if (piece.isEmpty())
            break;
        md5.addData(piece);
    }
    // A read error is not a digest of the file.
    if (file.error() != QFileDevice::NoError)
        return QString();
    return QString::fromLatin1(md5.result().toHex());
}

QString file_gost(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError || data.size() > qsizetype(UINT32_MAX))
        return QString();
    GostHash94 hash;
    if (hash.setData(reinterpret_cast<const unsigned char *>(data.constData()), unsigned(data.size())) != 0 ||
        hash.calculate() != 0)
        return QString();
    unsigned char digest[GOST_R3411_94_DIGEST_SIZE];
    hash.getHash(digest);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), sizeof digest).toHex());
}

} // namespace

orva_information_storage::orva_information_storage()
    : m_serial(unknown()), m_version(unknown()), m_core_md5(unknown()), m_orva_md5(unknown()),
      m_core_gost(unknown()), m_orva_gost(unknown())
{
}

QString orva_information_storage::unknown()
{
    return QStringLiteral("Неизвестно");
}

void orva_information_storage::load_all()
{
    const QString program = QString::fromLatin1(kProgramFile);
    m_serial = unknown();
    m_version = QStringLiteral("ORVA v.0.3.0.29");
    const QString md5 = file_md5(program);
    m_core_md5 = md5.isEmpty() ? unknown() : md5;
    const QString gost = file_gost(program);
    m_core_gost = gost.isEmpty() ? unknown() : gost;
    m_orva_md5 = unknown();
    m_orva_gost = unknown();
}
