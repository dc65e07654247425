#pragma once

#include "SerialPort.h"
#include "TransmitQueue.h"

#include <QSerialPort>

#include <functional>
#include <memory>

namespace quobin {

// SerialPort on QSerialPort. Bytes are seen without an event loop, nothing
// written is lost by a close, only XON resumes output held by XOFF, and a
// device that has gone is an error at the next look at the port.
class QtSerialPort : public SerialPort {
public:
    // portNameFor turns a port number into the device to open; it throws
    // SerialError for a number that names no port. transmitQueue tells a
    // close when the device has sent everything.
    explicit QtSerialPort(std::function<QString(qint16)> portNameFor,
                          std::unique_ptr<TransmitQueue> transmitQueue
                          = std::make_unique<DeviceTransmitQueue>());
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
    int bytesInKernel();
    void pullFromKernel();
    void pushOutput();
    void drainOutput();
    bool transmitterFinishes(int fd, qint64 limitMsecs);
    qint64 deviceBufferWireMsecs() const;
    void onlyXonResumes();
    void requestLowLatency();

    std::function<QString(qint16)> m_portNameFor;
    std::unique_ptr<TransmitQueue> m_transmitQueue;
    qint64 m_bytesSinceOpen = 0;
    QSerialPort m_port;
    qint16 m_commPort = 1;
    qint32 m_handshake = NoHandshake;
};

} // namespace quobin
