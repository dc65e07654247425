#pragma once

#include <QSerialPort>
#include <QString>

namespace quobin {

// A line-settings text such as "57600,n,8,1": baud, parity letter, data bits,
// stop bits.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Throws SerialError for anything that is not four well-formed fields.
    static LineSettings parse(const QString &text);
};

} // namespace quobin
