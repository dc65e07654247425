#pragma once

#include "SerialError.h"
#include "SerialPort.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <functional>

namespace quobin::testing {

// A serial port without a device: the test decides what arrives and when,
// and reads back everything the code wrote and did.
class ScriptedPort : public SerialPort {
public:
    QByteArray waiting;                 // bytes in the receive buffer
    QByteArray written;                 // everything output, in order
    QStringList log;                    // every operation, in order
    bool open = false;
    int inputCalls = 0;
    // Called on every look at the receive buffer; may add to `waiting`.
    std::function<void(ScriptedPort &)> onPoll;
    // Makes the named operation throw SerialError.
    QString failOn;

    void setCommPort(qint16 number) override { record(QStringLiteral("CommPort=%1").arg(number)); }
    void setSettings(const QString &settings) override { record("Settings=" + settings); }
    void setHandshaking(qint32 handshake) override { record(QStringLiteral("Handshaking=%1").arg(handshake)); }
    void setPortOpen(bool value) override
    {
        record(value ? QStringLiteral("open") : QStringLiteral("close"));
        open = value;
    }
    bool portOpen() const override { return open; }
    void output(const QByteArray &bytes) override
    {
        record("output " + QString::fromLatin1(bytes));
        written += bytes;
    }
    QByteArray input() override
    {
        poll();
        ++inputCalls;
        return std::exchange(waiting, {});
    }
    qint16 inBufferCount() override
    {
        poll();
        return qint16(waiting.size());
    }
    void waitForInput(int msecs) override
    {
        poll();
        if (waiting.isEmpty())
            QThread::msleep(ulong(msecs));
    }

private:
    void poll()
    {
        if (onPoll)
            onPoll(*this);
    }
    void record(const QString &entry)
    {
        log << entry;
        if (!failOn.isEmpty() && entry.startsWith(failOn))
            throw SerialError(("refused: " + entry).toStdString());
    }
};

} // namespace quobin::testing
