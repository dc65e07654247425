#include "UploadLog.h"

#include "SerialError.h"

#include <QDateTime>

#include <stdexcept>

namespace quobin::cli {

UploadLog::UploadLog(const QString &path) : m_file(path)
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw std::runtime_error(("cannot open the log " + path + ": " + m_file.errorString())
                                     .toStdString());
}

void UploadLog::write(const QString &port, const QString &text)
{
    // UTC with milliseconds, the same whatever the machine's locale.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QByteArray line = (stamp + QLatin1Char(' ') + port + QStringLiteral(": ") + text
                             + QLatin1Char('\n')).toUtf8();
    std::lock_guard lock(m_mutex);
    m_file.write(line);
    m_file.flush();
}

QString UploadLog::escaped(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

LoggingSerialPort::LoggingSerialPort(SerialPort &port, UploadLog &log, QString portLabel)
    : m_port(port), m_log(log), m_label(std::move(portLabel))
{
}

void LoggingSerialPort::setSettings(const QString &settings)
{
    m_port.setSettings(settings);
    m_settings = settings;
}

void LoggingSerialPort::setHandshaking(qint32 handshake)
{
    m_port.setHandshaking(handshake);
    m_handshake = handshake;
}

void LoggingSerialPort::setPortOpen(bool open)
{
    const bool wasOpen = m_port.portOpen();
    try {
        m_port.setPortOpen(open);
    } catch (const SerialError &error) {
        m_log.write(m_label, (open ? QStringLiteral("open failed: ") : QStringLiteral("close failed: "))
                                 + QString::fromStdString(error.what()));
        throw;
    }
    if (open)
        m_log.write(m_label, QStringLiteral("open ") + m_settings
                                 + (m_handshake == XonXoff ? QStringLiteral(" XON/XOFF")
                                                           : QStringLiteral(" no flow control")));
    else if (wasOpen)
        m_log.write(m_label, QStringLiteral("close"));
}

void LoggingSerialPort::output(const QByteArray &bytes)
{
    m_log.write(m_label, QStringLiteral("sent \"") + UploadLog::escaped(bytes) + QLatin1Char('"'));
    m_port.output(bytes);
}

QByteArray LoggingSerialPort::input()
{
    const QByteArray bytes = m_port.input();
    if (!bytes.isEmpty())
        m_log.write(m_label, QStringLiteral("received \"") + UploadLog::escaped(bytes) + QLatin1Char('"'));
    return bytes;
}

} // namespace quobin::cli
