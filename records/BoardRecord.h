#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace quobin::records {

// A y/N question that an upload asked, and the answer the station gave.
struct RecordedQuestion {
    int lineNumber = 0;
    QString reason;
    bool answeredYes = false;

    friend bool operator==(const RecordedQuestion &, const RecordedQuestion &) = default;
};

// One board attempt at a station: which board position, which image, when,
// and how it ended.
struct BoardRecord {
    QUuid id;                   // unique; a resend of the same record is harmless
    QString station;            // default: the host name
    QString slot;               // the port as the operator named it, e.g. "Com 3"
    QString device;             // the device path it resolved to
    QString usbSerial;          // the adapter's USB serial number, empty when none
    QString byIdName;           // its /dev/serial/by-id/ name, empty when none
    QString socket;             // the USB socket it was plugged into (/dev/serial/by-path/), empty when unknown
    QString jobSha256;          // lower-case hex
    QString jobFile;
    QDateTime started;          // UTC
    QDateTime ended;            // UTC
    double seconds = 0;
    float bootloaderVersion = 0;
    QString result;             // an upload result name: success, stopped, port-error, ...
    QString message;            // the operator's message for the result
    QString detail;
    int linesSent = 0;
    int resends = 0;
    QList<RecordedQuestion> questions;
    QString quobinVersion;
    QString logPath;            // the board's byte log, empty without one
    QString series;             // the serial number's series, empty without serials
    std::optional<quint64> serial; // the number written into this board's image
    // Whether every line that holds the serial's bytes was sent and taken by
    // the controller; empty without a serial, and in records made before
    // Quobin recorded it.
    std::optional<bool> serialSent;
    // The approved job the board was flashed from, and its version; empty
    // for a run on a file, and in records made before Quobin had jobs.
    QString jobName;
    std::optional<int> jobVersion;
    // The board's own ID (its label), when the job asks for one; empty
    // otherwise. reflash: the ID had passed before and the job allows a
    // board to be flashed again, so this attempt is a re-flash.
    QString boardId;
    bool reflash = false;

    bool fromJob() const { return !jobName.isEmpty(); }

    bool passed() const { return result == QLatin1String("success"); }
    // Stopped by the operator: neither a pass nor a failure of the board.
    bool cancelled() const { return result == QLatin1String("cancelled"); }

    friend bool operator==(const BoardRecord &, const BoardRecord &) = default;
};

} // namespace quobin::records
