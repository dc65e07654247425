#include "LinkCommand.h"

#include "LinkedPorts.h"
#include "NetworkPortAddress.h"
#include "PortLinkFile.h"
#include "PortNames.h"
#include "SerialError.h"

#include <QDir>

#include <cstdio>

namespace quobin::cli {

namespace {

const char kUsage[] = "Usage: quobin-cli link N rfc2217://HOST:PORT   (N from 1 to 8: \"Com N\" will mean the serial server)\n"
                      "       quobin-cli link N --remove              (\"Com N\" is COMN again)\n";

// "3", "com3" or "Com 3"; 0 when it is none of them or out of range.
int comNumber(const QString &text)
{
    const int number = comNumberNamed(text);
    return number >= kFirstComPort && number <= kLastComPort ? number : 0;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "quobin-cli: %s\n", message.toLocal8Bit().constData());
    return ExitUsage;
}

} // namespace

// On Windows "Com n" is COMn itself, which needs no link: a USB adapter gets
// its number in the Device Manager. A link names a serial server on the
// network instead, as a line of the file of links (PortLinkFile) beside
// quobin.ini, since a file named com3 would be the device COM3.
int LinkCommand::run(const QStringList &arguments)
{
    if (arguments.size() != 2) {
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }
    const int number = comNumber(arguments[0]);
    if (number == 0) {
        std::fprintf(stderr, "quobin-cli: '%s' is not a port number from 1 to 8\n", arguments[0].toLocal8Bit().constData());
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }
    const bool remove = arguments[1] == QLatin1String("--remove");
    QString address;
    if (!remove) {
        if (!NetworkPortAddress::names(arguments[1]))
            return fail(QStringLiteral("on Windows a link names a serial server on the network (rfc2217://HOST:PORT), "
                                       "and '%1' is none.\n"
                                       "A local COM port needs no link: \"Com %2\" is COM%2 itself. To give a USB adapter "
                                       "another number, change its COM port number in the Device Manager\n"
                                       "(Ports (COM & LPT), the adapter's Properties, Port Settings, Advanced).")
                            .arg(arguments[1])
                            .arg(number));
        try {
            address = NetworkPortAddress::parse(arguments[1]).name();
        } catch (const SerialError &error) {
            return fail(QString::fromStdString(error.what()));
        }
    }

    const PortLinkFile file(m_context.folders.writeFolder());
    const QString shownFile = QDir::toNativeSeparators(file.path());
    try {
        if (remove) {
            if (file.removeLink(number))
                std::printf("%s: com%d removed\n", shownFile.toLocal8Bit().constData(), number);
            else
                std::printf("%s: com%d was not linked\n", shownFile.toLocal8Bit().constData(), number);
        } else {
            file.setLink(number, address);
            std::printf("%s: com%d -> %s\n", shownFile.toLocal8Bit().constData(), number, address.toLocal8Bit().constData());
        }
    } catch (const PortLinkFileError &error) {
        return fail(QString::fromStdString(error.what()));
    }

    // What every program now finds; a folder searched first may still win.
    const PortMapping mapping = portMappingFor(qint16(number), m_context.folders.linkFolders());
    std::fputs(linkedPortText(number, mapping).toLocal8Bit().constData(), stdout);
    const bool asMade = remove ? !mapping.inLinkFile : mapping.device == address;
    if (!asMade) {
        std::fprintf(stderr, "quobin-cli: %s comes first, so \"Com %d\" still means %s\n",
                     QDir::toNativeSeparators(mapping.link).toLocal8Bit().constData(), number,
                     mapping.device.toLocal8Bit().constData());
        return ExitFailed;
    }
    return ExitSuccess;
}

} // namespace quobin::cli
