#include "UploadLog.h"

#include "ArgumentText.h"
#include "DeviceName.h"
#include "LogText.h"
#include "SerialError.h"
#include "Command.h"

#include <QDateTime>

#include "AppendFile.h"

namespace quobin::cli {

UploadLog::UploadLog(const QString &path)
{
    if (const QString device = deviceNamedBy(path); !device.isEmpty())
        throw UsageError(QStringLiteral("the log %1 names %2, not a file").arg(readable(path), device));
    QString reason;
    m_descriptor = openForAppending(path, reason);
    if (m_descriptor < 0)
        throw UsageError(QStringLiteral("cannot open the log %1: %2").arg(readable(path), reason));
}

UploadLog::~UploadLog()
{
    closeAppended(m_descriptor);
}

void UploadLog::write(const QString &port, const QString &text)
{
    // UTC with milliseconds, the same whatever the machine's locale.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QByteArray line = (stamp + QLatin1Char(' ') + escapedBytes(port.toUtf8()) + QStringLiteral(": ") + text
                             + QLatin1Char('\n')).toUtf8();
    std::lock_guard lock(m_mutex);
    if (!m_failure.isEmpty())
        return;
    QString reason;
    if (!appendAll(m_descriptor, line, reason))
        m_failure = reason;
}

QString UploadLog::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
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
                                 + escapedBytes(QByteArray(error.what())));
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
    m_log.write(m_label, QStringLiteral("sent \"") + escapedBytes(bytes) + QLatin1Char('"'));
    m_port.output(bytes);
}

QByteArray LoggingSerialPort::input()
{
    const QByteArray bytes = m_port.input();
    if (!bytes.isEmpty())
        m_log.write(m_label, QStringLiteral("received \"") + escapedBytes(bytes) + QLatin1Char('"'));
    return bytes;
}

} // namespace quobin::cli
