#include "auth/account_rules.h"

namespace account_rules {

int hours_index(const QDateTime &when)
{
    if (!when.isValid())
        return -1;
    const int day = when.date().dayOfWeek(); // Monday = 1
    const QTime time = when.time();
    return ((day - 1) * 24 + time.hour()) * 2 + (time.minute() >= 30 ? 1 : 0);
}

bool working_hours_allow(const orva_db_record &record, const QDateTime &when)
{
    const int index = hours_index(when);
    return index >= 0 && index < ORVA_HOURS_SIZE && record.hours[index] != 0;
}

QString expiry_text(const orva_db_record &record, const QDate &today)
{
    if (record.validity == 0 && (record.exp_day == -1 || record.exp_month == -1 || record.exp_year == -1))
        return QString();
    const QDate expires(record.exp_year, record.exp_month, record.exp_day);
    if (expires.isValid() && expires == today)
        return QStringLiteral("Сегодня последний день смены пароля.");
    if (!expires.isValid() || expires < today)
        return QStringLiteral("Пароль просрочен. Смените пароль.");
    return QString();
}

} // namespace account_rules
