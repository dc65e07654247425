#pragma once

#include "SerialPort.h"

#include <QSerialPort>

#include <functional>

namespace quobin {

// SerialPort on QSerialPort. Bytes are seen without an event loop, nothing
// written is lost by a close, and only XON resumes output held by XOFF.
class QtSerialPort : public SerialPort {
public:
    // portNameFor turns a port number into the device to open; it throws
    // SerialError for a number that names no port.
    explicit QtSerialPort(std::function<QString(qint16)> portNameFor);
    ~QtSerialPort() override;

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
    void requireOpen() const;
    void throwIfVanished();
    void pullFromKernel();
    void pushOutput();
    void drainOutput();
    void onlyXonResumes();
    void requestLowLatency();

    std::function<QString(qint16)> m_portNameFor;
    QSerialPort m_port;
    qint16 m_commPort = 1;
    qint32 m_handshake = NoHandshake;
};

} // namespace quobin
