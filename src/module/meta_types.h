// Module types carried in signals, variants and data streams.
#ifndef ORVA_MODULE_META_TYPES_H
#define ORVA_MODULE_META_TYPES_H

#include <orva.h>

#include <QMetaType>

Q_DECLARE_OPAQUE_POINTER(orva_handle_t)
Q_DECLARE_METATYPE(orva_handle_t)
Q_DECLARE_METATYPE(orva_tmid)
Q_DECLARE_METATYPE(orva_db_record)

// Registers the types above by name (queued connections, signal spies).
void register_module_meta_types();

#endif
