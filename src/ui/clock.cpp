#include "ui/clock.h"

namespace app_clock {

namespace {
QDateTime g_fixed;
}

QDateTime current_date_time()
{
    return g_fixed.isValid() ? g_fixed : QDateTime::currentDateTime();
}

void set_fixed(const QDateTime &when)
{
    g_fixed = when;
}

} // namespace app_clock
