// Library calls that fail on request. The test executable's own definitions of
// these functions stand in front of the library's; unless a failure is armed
// they call the library.
#ifndef ORVA_TESTS_APP_FAULT_INJECTION_H
#define ORVA_TESTS_APP_FAULT_INJECTION_H

#include <QByteArray>

namespace fault {

// The next call of `function` returns `code` without reaching the library.
// Functions: orva_init, orva_format_database, orva_db_open, orva_format_log,
// orva_logout, orva_db_conf_get_pw_timeout, orva_db_conf_write_pw_timeout,
// orva_change_current_user_password, orva_make_xid, orva_db_add_user,
// orva_db_modify_user, orva_save_ic_data.
void fail_next(const char *function, int code);

// orva_get_random_bytes gives these bytes, repeated, instead of the
// module's; an empty array restores the module's generator.
void set_random_bytes(const QByteArray &bytes);

// Disarms everything.
void clear();

} // namespace fault

#endif
