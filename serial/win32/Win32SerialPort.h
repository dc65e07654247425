#pragma once

#include "SerialPort.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <list>
#include <memory>

namespace quobin {

// SerialPort on the Win32 communications API: "Com n" is \\.\COMn. Reads
// never block without a limit (COMMTIMEOUTS), writes are queued with the
// driver and never lost by a close (the output queue drains first, bounded by
// its time on the wire), and a device that has gone is an error at the next
// look at the port.
class Win32SerialPort : public SerialPort {
public:
    // portNameFor turns a port number into the device to open ("COM3"); it
    // throws SerialError for a number that names no port.
    explicit Win32SerialPort(std::function<QString(qint16)> portNameFor);
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort &) = delete;
    Win32SerialPort &operator=(const Win32SerialPort &) = delete;

    void setCommPort(qint16 number) override;
    void setSettings(const QString &settings) override;
    void setHandshaking(qint32 handshake) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void output(const QByteArray &bytes) override;
    QByteArray input() override;
    qint16 inBufferCount() override;
    void waitForInput(int msecs) override;

private:
    struct PendingIo;
    struct LineSettings {
        quint32 baud = 9600;
        quint8 parity = 0;     // NOPARITY, ODDPARITY, ... as the DCB counts them
        quint8 dataBits = 8;
        quint8 stopBits = 0;   // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    };
    static LineSettings parseSettings(const QString &text);

    void requireOpen() const;
    void applyLine();
    void setReadTimeouts(quint32 totalMsecs);
    quint32 queuedOutput();
    quint32 queuedInput();
    void pullWaiting();
    qint64 readWithin(char *into, qint64 size, quint32 msecs);
    void reapWrites(bool wait, int limitMsecs);
    void drainOutput();
    void closeHandle();

    std::function<QString(qint16)> m_portNameFor;
    void *m_handle = nullptr; // HANDLE; INVALID_HANDLE_VALUE never kept
    qint16 m_commPort = 1;
    qint32 m_handshake = NoHandshake;
    LineSettings m_line;
    QString m_device;
    QByteArray m_received;
    std::list<std::unique_ptr<PendingIo>> m_writes;
    qint64 m_readTimeoutsSet = -1;
    qint64 m_bytesSinceOpen = 0;
};

} // namespace quobin
