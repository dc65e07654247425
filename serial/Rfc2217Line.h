#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace quobin {

// A line-settings text such as "57600,n,8,1" in the values that RFC 2217's
// SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE carry, and its
// characters' length on the wire.
struct Rfc2217Line {
    quint32 baud = 9600;
    quint8 dataSize = 8;
    quint8 parity = 1;   // NONE
    quint8 stopSize = 1; // one stop bit
    int bitsPerCharacter = 10;

    // The same four fields as a local port takes; throws SerialError for
    // anything else.
    static Rfc2217Line parse(const QString &settings);
    // What a COM-PORT value means, for a message that names it: "57600",
    // "2 (XON/XOFF)", "1 (none)".
    static QString valueText(const QByteArray &value, quint8 command);
};

} // namespace quobin
