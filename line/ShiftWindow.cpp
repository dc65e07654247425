#include "ShiftWindow.h"

namespace quobin::line {

ShiftWindow ShiftWindow::containing(const QDateTime &now, const QTimeZone &zone)
{
    const QDateTime local = now.toTimeZone(zone);
    const int hour = local.time().hour();
    QDate day = local.date();
    int startHour = 22;
    if (hour >= 22)
        startHour = 22;
    else if (hour >= 14)
        startHour = 14;
    else if (hour >= 6)
        startHour = 6;
    else
        day = day.addDays(-1);
    return {QDateTime(day, QTime(startHour, 0), zone).toUTC()};
}

} // namespace quobin::line
