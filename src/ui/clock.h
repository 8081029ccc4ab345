// The program's clock: the current date and time for every rule that needs
// them. Tests fix it.
#ifndef ORVA_UI_CLOCK_H
#define ORVA_UI_CLOCK_H

#include <QDateTime>

namespace app_clock {

// The local date and time, or the fixed one.
QDateTime current_date_time();

// From now on current_date_time() returns `when`; an invalid value brings the
// real clock back.
void set_fixed(const QDateTime &when);

} // namespace app_clock

#endif
