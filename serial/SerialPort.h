#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace quobin {

// The serial port as the upload drives it: a handful of properties, shaped
// like a classic serial communications control. Every operation that fails
// throws SerialError. Texts on the wire are bytes, one byte per character.
class SerialPort {
public:
    enum Handshake : qint32 { NoHandshake = 0, XonXoff = 1 };

    virtual ~SerialPort() = default;

    // Port number, 1 for the first port. Used by the next open.
    virtual void setCommPort(qint16 number) = 0;
    // Line settings such as "9600,n,8,1". Used by the next open.
    virtual void setSettings(const QString &settings) = 0;
    // 0 none, 1 XON/XOFF. Used by the next open.
    virtual void setHandshaking(qint32 handshake) = 0;

    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;

    // Sends the bytes in order. Nothing written is lost by a later close.
    virtual void output(const QByteArray &bytes) = 0;
    // Takes every byte waiting, in arrival order; empty when none. Never waits.
    virtual QByteArray input() = 0;
    // The number of bytes waiting; reading it removes nothing.
    virtual qint16 inBufferCount() = 0;

    // Blocks until a byte may be waiting or msecs have passed, without
    // running window events. Used by the waits that must not run events.
    virtual void waitForInput(int msecs) = 0;
};

} // namespace quobin
