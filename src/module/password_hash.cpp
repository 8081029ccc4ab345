#include "module/password_hash.h"

#include <QByteArray>

#include <cstring>

int password_xid(orva_handle_t handle, uint32_t dev_class, const orva_tmid &tmid, const QString &password,
                 orva_xid_t *xid)
{
    QByteArray ascii = password.toLatin1();
    const int code = orva_make_xid(handle, dev_class, &tmid, ascii.constData(), xid);
    explicit_bzero(ascii.data(), static_cast<size_t>(ascii.size()));
    return code;
}
