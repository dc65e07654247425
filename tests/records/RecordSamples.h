#pragma once

#include "BoardRecord.h"

#include <QDateTime>
#include <QUuid>

namespace quobin::testing {

// A record with every field filled, started `second` seconds after a fixed
// moment; texts hold commas, quotes and a line break, as messages can.
inline records::BoardRecord sampleRecord(int second, const QString &slot = QStringLiteral("Com 1"),
                                         const QString &result = QStringLiteral("success"))
{
    records::BoardRecord r;
    r.id = QUuid::createUuid();
    r.station = QStringLiteral("bench-7");
    r.slot = slot;
    r.device = QStringLiteral("/dev/ttyUSB0");
    r.usbSerial = QStringLiteral("A50285BI");
    r.byIdName = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    r.jobSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    r.jobFile = QStringLiteral("firmware.hex");
    r.started = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC).addSecs(second).addMSecs(250);
    r.ended = r.started.addMSecs(41'200);
    r.seconds = 41.2;
    r.bootloaderVersion = 1.28f;
    r.result = result;
    r.message = result == QLatin1String("success") ? QStringLiteral("Update File successfully uploaded.")
                                                   : QStringLiteral("Checksum error at line 17, \"twice\"\nstopped");
    r.detail = QStringLiteral("resent line 17");
    r.linesSent = 3001;
    r.resends = 2;
    r.questions = {{17, QStringLiteral("Checksum error at line 17. Continue with download?"), false}};
    r.quobinVersion = QStringLiteral("3.0");
    r.logPath = QStringLiteral("/var/log/quobin/board, 1.log");
    return r;
}

} // namespace quobin::testing
