#include "module/meta_types.h"

void register_module_meta_types()
{
    qRegisterMetaType<orva_handle_t>("orva_handle_t");
    qRegisterMetaType<orva_tmid>("orva_tmid");
    qRegisterMetaType<orva_db_record>("orva_db_record");
}
