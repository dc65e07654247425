#include "BoardLogFiles.h"

#include "UploadLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <stdexcept>

namespace quobin::cli {

namespace {

class BoardLogFile : public station::BoardLog {
public:
    BoardLogFile(const QString &path, const QString &slotLabel, SerialPort &port)
        : m_path(path), m_label(slotLabel), m_log(path), m_port(port, m_log, slotLabel)
    {
    }

    SerialPort &port() override { return m_port; }
    void note(const QString &text) override { m_log.write(m_label, text); }
    QString path() const override { return m_path; }
    QString failure() const override { return m_log.failure(); }
    void discard() override { QFile::remove(m_path); }

private:
    QString m_path;
    QString m_label;
    UploadLog m_log;
    LoggingSerialPort m_port;
};

} // namespace

BoardLogFiles::BoardLogFiles(QString folder)
    : m_folder(QFileInfo(folder).absoluteFilePath())
{
    if (!QDir().mkpath(m_folder) || !QFileInfo(m_folder).isWritable())
        throw std::runtime_error(QStringLiteral("--log-dir %1 cannot be written").arg(folder).toStdString());
}

std::unique_ptr<station::BoardLog> BoardLogFiles::open(const QString &slotLabel, SerialPort &port)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    static std::atomic<int> serial{0};
    QString name = slotLabel;
    name.replace(unsafe, QStringLiteral("_"));
    // "./s1" must not give a hidden file.
    while (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char('_')))
        name.remove(0, 1);
    if (name.isEmpty())
        name = QStringLiteral("slot");
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    // Two attempts on one slot within a millisecond still get files of their own.
    const QString path = QDir(m_folder).filePath(QStringLiteral("%1-%2-%3.log").arg(name, stamp).arg(++serial));
    return std::make_unique<BoardLogFile>(path, slotLabel, port);
}

} // namespace quobin::cli
