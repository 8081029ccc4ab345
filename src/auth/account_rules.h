// The time rules of a user record: working hours and password expiry.
#ifndef ORVA_AUTH_ACCOUNT_RULES_H
#define ORVA_AUTH_ACCOUNT_RULES_H

#include <orva.h>

#include <QDate>
#include <QDateTime>
#include <QString>

namespace account_rules {

// Index of a moment's byte in the working-hours map: Monday first, 48 half
// hours a day; -1 for an invalid moment.
int hours_index(const QDateTime &when);

// Whether the working-hours map allows work at this moment (a byte of 0
// forbids its half hour).
bool working_hours_allow(const orva_db_record &record, const QDateTime &when);

// The password-expiry notice for this day: "Сегодня последний день смены
// пароля." on the expiration day, "Пароль просрочен. Смените пароль." after
// it, else empty. Without validity and without a date there is no notice; a
// date that is no calendar date counts as past.
QString expiry_text(const orva_db_record &record, const QDate &today);

} // namespace account_rules

#endif
