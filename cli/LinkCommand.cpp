#include "LinkCommand.h"

#include "NetworkPortAddress.h"
#include "PortNames.h"
#include "PortsReport.h"
#include "SerialError.h"
#include "SerialLineCheck.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quobin::cli {

namespace {

const char kUsage[] = "Usage: quobin-cli link N DEVICE   (N from 1 to 8: \"Com N\" will mean DEVICE)\n"
                      "       DEVICE: a device, its adapter's /dev/serial/by-id/ name, or the USB socket's\n"
                      "       /dev/serial/by-path/ name (whichever adapter is plugged into it)\n"
                      "       quobin-cli link N rfc2217://HOST:PORT   (a serial server on the network)\n";

// "3", "com3" or "Com 3"; 0 when it is none of them or out of range.
int comNumber(const QString &text)
{
    const int number = comNumberNamed(text);
    return number >= kFirstComPort && number <= kLastComPort ? number : 0;
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "quobin-cli: %s\n", message.toLocal8Bit().constData());
    return ExitUsage;
}

} // namespace

int LinkCommand::run(const QStringList &arguments)
{
    if (arguments.size() != 2) {
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }
    const int number = comNumber(arguments[0]);
    if (number == 0) {
        std::fprintf(stderr, "quobin-cli: '%s' is not a port number from 1 to 8\n", qPrintable(arguments[0]));
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }

    QString device;
    if (NetworkPortAddress::names(arguments[1])) {
        // A serial server: the link holds its address as its target, which
        // leads nowhere on this machine and needs no file of its own.
        try {
            device = NetworkPortAddress::parse(arguments[1]).name();
        } catch (const SerialError &error) {
            return fail(QString::fromStdString(error.what()));
        }
    } else {
        // The link keeps the name given (a /dev/serial/by-id name stays
        // with its adapter when adapters are plugged in another order, a
        // /dev/serial/by-path name with its socket), made absolute.
        device = QFileInfo(arguments[1]).absoluteFilePath();
        struct stat info {};
        if (::stat(encoded(device).constData(), &info) != 0)
            return fail(QStringLiteral("%1: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno))));
        if (!S_ISCHR(info.st_mode))
            return fail(QStringLiteral("%1 is not a character device; a serial device is one, such as /dev/ttyUSB0").arg(device));
        if (const QString problem = notASerialLine(device); !problem.isEmpty())
            return fail(problem);
    }

    const QString folder = m_context.folders.writeFolder();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    const QString linkPath = QDir(folder).filePath(portLinkName(qint16(number)));

    struct stat existing {};
    if (::lstat(encoded(linkPath).constData(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        return fail(QStringLiteral("%1 is there and is not a link; it is left as it is").arg(linkPath));

    // A new link under a name of its own, then moved over the old one in one
    // step, so the window never finds the port half made.
    const QString newPath = linkPath + QStringLiteral(".new-%1").arg(::getpid());
    ::unlink(encoded(newPath).constData());
    if (::symlink(encoded(device).constData(), encoded(newPath).constData()) != 0)
        return fail(QStringLiteral("cannot make the link %1: %2").arg(linkPath, QString::fromLocal8Bit(std::strerror(errno))));
    if (::rename(encoded(newPath).constData(), encoded(linkPath).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(encoded(newPath).constData());
        return fail(QStringLiteral("cannot make the link %1: %2").arg(linkPath, reason));
    }

    const ComPortState port = comPortState(number, m_context.folders.linkFolders(), presentSerialDevices());
    std::printf("%s -> %s\n", qPrintable(linkPath), qPrintable(device));
    std::fputs(comPortText(port).toLocal8Bit().constData(), stdout);
    if (port.mapping.link != linkPath) {
        std::fprintf(stderr, "quobin-cli: %s comes first, so \"Com %d\" still means %s\n",
                     qPrintable(port.mapping.link), number, qPrintable(port.mapping.device));
        return ExitFailed;
    }
    return ExitSuccess;
}

} // namespace quobin::cli
