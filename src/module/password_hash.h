// The module's hash of a typed password.
#ifndef ORVA_MODULE_PASSWORD_HASH_H
#define ORVA_MODULE_PASSWORD_HASH_H

#include <orva.h>

#include <QString>

#include <cstdint>

// orva_make_xid over the password as ASCII (Latin-1) bytes, which are cleared
// afterwards. The library's code.
int password_xid(orva_handle_t handle, uint32_t dev_class, const orva_tmid &tmid, const QString &password,
                 orva_xid_t *xid);

#endif
