#include "FirmwareFile.h"

#include <QFileInfo>

namespace quobin {

namespace {
std::string describe(const QString &what, const QFile &file)
{
    return (what + QStringLiteral(" ") + file.fileName() + QStringLiteral(": ")
            + file.errorString()).toStdString();
}
} // namespace

void FirmwareFile::open(const QString &path)
{
    close();
    m_file.setFileName(path);
    if (QFileInfo(path).isDir())
        throw FirmwareFileError(path.toStdString() + " is a folder");
    if (!m_file.open(QIODevice::ReadOnly))
        throw FirmwareFileError(describe(QStringLiteral("cannot open"), m_file));
}

bool FirmwareFile::isOpen() const
{
    return m_file.isOpen();
}

bool FirmwareFile::atEnd() const
{
    return m_file.atEnd();
}

QByteArray FirmwareFile::readLine()
{
    QByteArray line;
    char c = 0;
    while (m_file.getChar(&c)) {
        if (c == '\n')
            return line;
        if (c == '\r') {
            char next = 0;
            if (m_file.peek(&next, 1) == 1 && next == '\n')
                m_file.getChar(&next);
            return line;
        }
        line.append(c);
    }
    if (m_file.error() != QFileDevice::NoError)
        throw FirmwareFileError(describe(QStringLiteral("cannot read"), m_file));
    return line;
}

void FirmwareFile::rewind()
{
    if (!m_file.seek(0))
        throw FirmwareFileError(describe(QStringLiteral("cannot rewind"), m_file));
}

void FirmwareFile::close()
{
    if (m_file.isOpen())
        m_file.close();
}

} // namespace quobin
