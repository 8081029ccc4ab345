// The module clock: the host's local time, or $ORVA_SIM_CLOCK as
// "YYYY-MM-DD HH:MM:SS" (a fixed instant, for tests and demos).
#ifndef ORVA_PLATFORM_MODULE_CLOCK_H
#define ORVA_PLATFORM_MODULE_CLOCK_H

#include <cstdint>

namespace orva_sim {

struct ClockTime {
    int year, month, day, hour, minute, second;
};

// False when $ORVA_SIM_CLOCK is set but malformed or the host clock fails.
bool module_now(ClockTime &now);
// Parses "YYYY-MM-DD HH:MM:SS" with a real calendar date.
bool parse_clock(const char *text, ClockTime &out);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);
void civil_from_days(int64_t days, int64_t &year, unsigned &month, unsigned &day);

// Packed log date (year bits 0-15, month 16-23, day 24-31) and time (hours
// bits 0-7, minutes 8-15, seconds 16-23).
uint32_t pack_date(const ClockTime &t);
uint32_t pack_time(const ClockTime &t);

} // namespace orva_sim

#endif
