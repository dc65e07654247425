#pragma once

#include "SerialPort.h"

#include <QString>

#include <mutex>

namespace quobin::cli {

// The support engineer's record of an upload: one time-stamped line per
// event, each naming its port, appended to one file shared by every port.
// Every text that comes from outside (a port's name, a status text holding
// the file's name, a box text) is escaped as the bytes on the wire are, so
// that a name holding a line end cannot split a record.
class UploadLog {
public:
    // path: as decoded by argumentsKeepingBytes(), opened by its own bytes.
    // Throws UsageError when it names a device (see DeviceName.h) or cannot
    // be opened for appending.
    explicit UploadLog(const QString &path);
    ~UploadLog();
    UploadLog(const UploadLog &) = delete;
    UploadLog &operator=(const UploadLog &) = delete;

    void write(const QString &port, const QString &text);

    // Why a write failed, once one has (the log is incomplete from there);
    // empty while every write has succeeded.
    QString failure() const;

private:
    mutable std::mutex m_mutex;
    int m_descriptor = -1;
    QString m_failure;
};

// A serial port that writes every byte sent and received, and every open and
// close, to the log, and otherwise passes each call to the real port.
class LoggingSerialPort : public SerialPort {
public:
    LoggingSerialPort(SerialPort &port, UploadLog &log, QString portLabel);

    void setCommPort(qint16 number) override { m_port.setCommPort(number); }
    void setSettings(const QString &settings) override;
    void setHandshaking(qint32 handshake) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override { return m_port.portOpen(); }
    void output(const QByteArray &bytes) override;
    QByteArray input() override;
    qint16 inBufferCount() override { return m_port.inBufferCount(); }
    void waitForInput(int msecs) override { m_port.waitForInput(msecs); }

private:
    SerialPort &m_port;
    UploadLog &m_log;
    QString m_label;
    QString m_settings;
    qint32 m_handshake = NoHandshake;
};

} // namespace quobin::cli
