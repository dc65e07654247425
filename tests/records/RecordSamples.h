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
    r.socket = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0-port0");
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

// A record in which every member holds a value other than its default, for
// round trips that must keep all of them. Every member is named: one added
// to BoardRecord stops this from compiling until it is filled here too, so
// that no round trip that compares whole records can miss it.
inline records::BoardRecord everyFieldRecord(int second)
{
    records::BoardRecord record;
    auto &[id, station, slot, device, usbSerial, byIdName, socket, jobSha256, jobFile, started, ended, seconds,
           bootloaderVersion, result, message, detail, linesSent, resends, questions, quobinVersion, logPath,
           series, serial, serialSent, jobName, jobVersion, boardId, reflash] = record;
    const records::BoardRecord sample = sampleRecord(second, QStringLiteral("Com 2"), QStringLiteral("stopped"));
    id = sample.id;
    station = sample.station;
    slot = sample.slot;
    device = sample.device;
    usbSerial = sample.usbSerial;
    byIdName = sample.byIdName;
    socket = sample.socket + QStringLiteral(", \"7\"");
    jobSha256 = sample.jobSha256;
    jobFile = sample.jobFile;
    started = sample.started;
    ended = sample.ended;
    seconds = sample.seconds;
    bootloaderVersion = sample.bootloaderVersion;
    result = sample.result;
    message = sample.message;
    detail = sample.detail;
    linesSent = sample.linesSent;
    resends = sample.resends;
    questions = sample.questions + QList<records::RecordedQuestion>{{18, QStringLiteral("No response"), true}};
    quobinVersion = sample.quobinVersion;
    logPath = sample.logPath;
    series = QStringLiteral("pump.line-4_b");
    // Past 2^53, where a JSON number would lose digits.
    serial = (quint64(1) << 60) + quint64(second);
    serialSent = false;
    jobName = QStringLiteral("pump, \"main\"");
    jobVersion = 3;
    boardId = QStringLiteral("QB, \"0042\"");
    reflash = true;
    return record;
}

} // namespace quobin::testing
