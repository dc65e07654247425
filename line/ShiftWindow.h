#pragma once

#include <QDateTime>
#include <QTimeZone>

namespace quobin::line {

// The shift that a time falls in: three shifts of eight hours a day, from
// 06:00, 14:00 and 22:00 local time (the server's time zone).
struct ShiftWindow {
    QDateTime start; // UTC

    static ShiftWindow containing(const QDateTime &now, const QTimeZone &zone = QTimeZone::systemTimeZone());
};

} // namespace quobin::line
