#include "module_clock.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace orva_sim {

int64_t days_from_civil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t &year, unsigned &month, unsigned &day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2);
}

bool parse_clock(const char *text, ClockTime &t)
{
    char tail = 0;
    if (std::sscanf(text, "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour,
                    &t.minute, &t.second, &tail) != 6)
        return false;
    if (t.year < 1970 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return false;
    // Reject 31 April and the like: the date must survive a round trip.
    int64_t y;
    unsigned m, d;
    civil_from_days(days_from_civil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)), y, m, d);
    return y == t.year && static_cast<int>(m) == t.month && static_cast<int>(d) == t.day;
}

bool module_now(ClockTime &now)
{
    const char *fixed = std::getenv("ORVA_SIM_CLOCK");
    if (fixed && *fixed)
        return parse_clock(fixed, now);
    std::time_t seconds = std::time(nullptr);
    struct tm local;
    if (seconds == static_cast<std::time_t>(-1) || !localtime_r(&seconds, &local))
        return false;
    now = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
           local.tm_hour, local.tm_min, local.tm_sec};
    return true;
}

uint32_t pack_date(const ClockTime &t)
{
    return static_cast<uint32_t>(t.year & 0xffff) | (static_cast<uint32_t>(t.month) << 16) |
           (static_cast<uint32_t>(t.day) << 24);
}

uint32_t pack_time(const ClockTime &t)
{
    return static_cast<uint32_t>(t.hour) | (static_cast<uint32_t>(t.minute) << 8) |
           (static_cast<uint32_t>(t.second) << 16);
}

} // namespace orva_sim
