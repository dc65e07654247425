#include "SerialLineCheck.h"

#include "NetworkPortAddress.h"

#include <QFile>
#include <QList>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace quobin {

namespace {

// One terminal driver of the kernel: its device numbers and its type
// ("serial", "pty:slave", "system:/dev/tty", "console", ...).
struct TerminalDriver {
    unsigned major = 0;
    unsigned firstMinor = 0;
    unsigned lastMinor = 0;
    QByteArray type;
};

// The kernel's table of terminal drivers; empty when it cannot be read.
QList<TerminalDriver> terminalDrivers()
{
    QFile table(QStringLiteral("/proc/tty/drivers"));
    QList<TerminalDriver> drivers;
    if (!table.open(QIODevice::ReadOnly))
        return drivers;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5)
            continue;
        TerminalDriver driver;
        bool ok = false;
        driver.major = fields[2].toUInt(&ok);
        if (!ok)
            continue;
        const QList<QByteArray> minors = fields[3].split('-');
        driver.firstMinor = minors.first().toUInt();
        driver.lastMinor = minors.last().toUInt();
        driver.type = fields[4];
        drivers << driver;
    }
    return drivers;
}

// The terminal this process runs in: its controlling terminal, and any
// terminal on its standard input, output or error.
bool isOwnTerminal(dev_t device)
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // Fields after the command name: state, ppid, pgrp, session, tty_nr.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 4) {
            const unsigned ttyNumber = fields[4].toUInt();
            const unsigned major = (ttyNumber >> 8) & 0xfff;
            const unsigned minor = (ttyNumber & 0xff) | ((ttyNumber >> 12) & 0xfff00);
            if (ttyNumber != 0 && ::makedev(major, minor) == device)
                return true;
        }
    }
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat info {};
        if (::isatty(fd) && ::fstat(fd, &info) == 0 && info.st_rdev == device)
            return true;
    }
    return false;
}

} // namespace

QString notASerialLine(const QString &device)
{
    if (NetworkPortAddress::names(device))
        return {}; // a serial server's line: its open will tell
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return {};
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is a folder, not a serial device").arg(device);
    if (S_ISREG(info.st_mode))
        return QStringLiteral("%1 is a regular file, not a serial device").arg(device);
    if (!S_ISCHR(info.st_mode))
        return QStringLiteral("%1 is not a serial device").arg(device);
    if (isOwnTerminal(info.st_rdev))
        return QStringLiteral("%1 is the terminal this program runs in, not a serial line").arg(device);

    const QList<TerminalDriver> drivers = terminalDrivers();
    if (drivers.isEmpty())
        return {}; // cannot tell: the open will show
    const unsigned major = ::major(info.st_rdev);
    const unsigned minor = ::minor(info.st_rdev);
    for (const TerminalDriver &driver : drivers) {
        if (driver.major != major || minor < driver.firstMinor || minor > driver.lastMinor)
            continue;
        if (driver.type == "serial" || driver.type == "pty:slave")
            return {};
        return QStringLiteral("%1 is a terminal of the system, not a serial line").arg(device);
    }
    return QStringLiteral("%1 is not a serial line: a character device of another kind").arg(device);
}

} // namespace quobin
