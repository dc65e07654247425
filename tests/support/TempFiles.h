#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace quobin::testing {

// A folder of the test's own, removed with it, and files written into it.
class TempFiles {
public:
    QString path() const { return m_folder.path(); }
    QString filePath(const QString &name) const { return m_folder.filePath(name); }

    // Writes content to a new file of its own and returns its path.
    QString write(const QByteArray &content)
    {
        return write(QStringLiteral("file%1.hex").arg(++m_written), content);
    }
    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        return path;
    }

private:
    QTemporaryDir m_folder;
    int m_written = 0;
};

} // namespace quobin::testing
