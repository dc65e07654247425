#include "UploadArguments.h"

#include "ArgumentText.h"
#include "NetworkPortAddress.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "SerialError.h"
#include "SerialLineCheck.h"
#include "SettingsFile.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSet>

#include <limits>

namespace quobin::cli {

namespace {

PortChoice comPort(int number, const QStringList &linkFolders)
{
    return {QStringLiteral("Com %1").arg(number), portNameFor(qint16(number), linkFolders)};
}

// What is not a serial line (/dev/null, a regular file, the operator's own
// terminal) would take the controller's commands, or give answers that no
// controller sent.
void requireSerialLine(const PortChoice &choice)
{
    const QString problem = notASerialLine(choice.device);
    if (problem.isEmpty())
        return;
    if (choice.label == choice.device)
        throw UsageError(problem);
    throw UsageError(choice.label + QStringLiteral(": ") + problem);
}

// The port the window chose last, from quobin.ini.
PortChoice portFromSettings(const CliContext &context)
{
    const QString path = settingsFilePath(context.folders.writeFolder());
    StoredSettings settings;
    try {
        settings = readSettingsFile(path);
    } catch (const SettingsError &error) {
        throw UsageError(QStringLiteral("no --port given, and no port can be read from %1 (%2)")
                             .arg(path, QString::fromStdString(error.what())));
    }
    if (settings.comPortPosition < 0)
        throw UsageError(QStringLiteral("no --port given, and %1 names no port").arg(path));
    const PortChoice choice = comPort(settings.comPortPosition + 1, context.folders.linkFolders());
    requireSerialLine(choice);
    return choice;
}

// Two names for one device (a link and its target, "Com 1" and its link)
// are the same port.
QString deviceIdentity(const QString &device)
{
    if (NetworkPortAddress::names(device))
        return NetworkPortAddress::parse(device).name().toLower();
    // The port layer knows the one name of a device that is there: the file
    // behind every link, or the COM port however it was spelt.
    const QString present = presentSerialDevice(device);
    return present.isEmpty() ? QFileInfo(device).absoluteFilePath() : present;
}

ErrorPolicy policyNamed(const QString &name)
{
    if (name == QLatin1String("ask"))
        return ErrorPolicy::Ask;
    if (name == QLatin1String("stop"))
        return ErrorPolicy::Stop;
    if (name == QLatin1String("continue"))
        return ErrorPolicy::Continue;
    throw UsageError(QStringLiteral("--on-error takes ask, stop or continue, not '%1'").arg(readable(name)));
}

} // namespace

PortChoice resolvePort(const QString &text, const QStringList &linkFolders)
{
    if (const int number = comNumberNamed(text); number >= 0) {
        if (number < 1 || number > 32767)
            throw UsageError(QStringLiteral("there is no port Com %1").arg(number));
        const PortChoice choice = comPort(number, linkFolders);
        // Com 1 to Com 8 are the window's: like the window, a missing device
        // fails when the port opens. A higher number must name a device.
        if (number > kLastComPort && !serialDeviceExists(choice.device))
            throw UsageError(QStringLiteral("there is no port Com %1: the window offers Com 1 to Com %2, "
                                            "and %3 does not exist")
                                 .arg(number)
                                 .arg(kLastComPort)
                                 .arg(choice.device));
        requireSerialLine(choice);
        return choice;
    }
    if (NetworkPortAddress::names(text)) {
        try {
            return {text, NetworkPortAddress::parse(text).name()};
        } catch (const SerialError &error) {
            throw UsageError(QString::fromStdString(error.what()));
        }
    }
    // A device that the port layer finds, or a file: a device path such as
    // \\.\COM3 is no file at all.
    const bool isFile = QFileInfo::exists(text);
    if (!isFile && !serialDeviceExists(text))
        throw UsageError(QStringLiteral("'%1' is neither a Com name (\"Com 3\", \"com3\", \"3\") nor an "
                                        "existing device")
                             .arg(readable(text)));
    // The serial library reads a relative name as one under /dev.
    const PortChoice choice{text, isFile ? QFileInfo(text).absoluteFilePath() : text};
    requireSerialLine(choice);
    return choice;
}

UploadArguments UploadArguments::parse(const QStringList &arguments, const CliContext &context,
                                       bool stdinIsTerminal)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("PORT"));
    const QCommandLineOption onError(QStringLiteral("on-error"), {}, QStringLiteral("POLICY"));
    const QCommandLineOption waitOption(QStringLiteral("wait-for-controller"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption log(QStringLiteral("log"), {}, QStringLiteral("FILE"));
    const QCommandLineOption noCheck(QStringLiteral("no-check"));
    parser.addOptions({port, onError, waitOption, json, log, noCheck});
    // QCommandLineParser expects the program name first.
    if (!parser.parse(QStringList{QStringLiteral("upload")} + arguments))
        throw UsageError(parser.errorText());

    UploadArguments result;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        throw UsageError(files.isEmpty() ? QStringLiteral("no firmware FILE given")
                                         : QStringLiteral("one firmware FILE only, not %1").arg(files.size()));
    result.firmwarePath = files.first();
    // The engine takes a path shorter than two characters for no path at all.
    if (result.firmwarePath.size() == 1)
        result.firmwarePath.prepend(QStringLiteral("./"));

    // An option that takes one value must not be given twice: which of the
    // two the operator meant cannot be told.
    for (const QCommandLineOption *single : {&onError, &waitOption, &log}) {
        if (parser.values(*single).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given more than once").arg(single->names().first()));
    }
    result.policy = parser.isSet(onError) ? policyNamed(parser.value(onError))
                    : stdinIsTerminal    ? ErrorPolicy::Ask
                                         : ErrorPolicy::Stop;

    if (parser.isSet(waitOption)) {
        bool ok = false;
        const QString text = parser.value(waitOption);
        result.controllerWaitSeconds = text.toInt(&ok);
        if (!ok || result.controllerWaitSeconds < 1)
            throw UsageError(QStringLiteral("--wait-for-controller takes a whole number of seconds from 1 to %1, not '%2'")
                                 .arg(std::numeric_limits<int>::max())
                                 .arg(readable(text)));
    }
    result.json = parser.isSet(json);
    result.noCheck = parser.isSet(noCheck);
    result.logPath = parser.value(log);
    if (parser.isSet(log) && result.logPath.isEmpty())
        throw UsageError(QStringLiteral("--log needs a FILE"));

    const QStringList linkFolders = context.folders.linkFolders();
    try {
        const QStringList named = parser.values(port);
        if (named.isEmpty())
            result.ports << portFromSettings(context);
        for (const QString &text : named)
            result.ports << resolvePort(text, linkFolders);
    } catch (const SerialError &error) {
        throw UsageError(QString::fromStdString(error.what()));
    }
    QSet<QString> seen;
    for (const PortChoice &choice : std::as_const(result.ports)) {
        const QString identity = deviceIdentity(choice.device);
        if (seen.contains(identity))
            throw UsageError(QStringLiteral("the port %1 (%2) is given twice").arg(choice.label, identity));
        seen.insert(identity);
    }
    return result;
}

} // namespace quobin::cli
