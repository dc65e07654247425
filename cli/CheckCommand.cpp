#include "CheckCommand.h"

#include "ArgumentText.h"
#include "FileArgument.h"
#include "FirmwareCheck.h"
#include "Command.h"
#include "FirmwareImage.h"
#include "LogText.h"
#include "SerialPlace.h"
#include "SerialSpec.h"

#include <QCommandLineParser>
#include <QLocale>

#include <cstdio>

namespace quobin::cli {

namespace {

// At most this many problems are listed; the rest are counted.
constexpr int kProblemsShown = 20;

// 32,767 as people write it, whatever the desktop's language.
QString number(int value)
{
    QLocale locale = QLocale::c();
    locale.setNumberOptions({});
    return locale.toString(value);
}

QString counted(int count, const QString &one, const QString &many)
{
    return number(count) + QLatin1Char(' ') + (count == 1 ? one : many);
}

QString reportText(const QString &path, const FirmwareCheckReport &report)
{
    QString text = terminalText(path) + QLatin1Char('\n');
    text += QStringLiteral("  lines:       %1").arg(number(report.lines));
    text += report.blankLines == 0 ? QStringLiteral(" (no blank lines)\n")
                                   : QStringLiteral(" (%1 blank, not sent)\n").arg(number(report.blankLines));
    text += QStringLiteral("  line limit:  %1 of %2 (%3)\n")
                .arg(number(report.lines), number(FirmwareCheckReport::kLineLimit),
                     report.overLimit ? QStringLiteral("over the limit") : QStringLiteral("within"));
    if (!report.hex) {
        text += QStringLiteral("  Intel HEX:   no, the first line that is not blank does not start with \":\";"
                               " sent line by line as it stands\n");
    } else {
        text += QStringLiteral("  Intel HEX:   %1, %2\n")
                    .arg(counted(report.records, QStringLiteral("record"), QStringLiteral("records")),
                         report.hasEndRecord ? QStringLiteral("end-of-file record at line %1").arg(report.endRecordLine)
                                             : QStringLiteral("no end-of-file record"));
    }
    const QStringList failures = report.failures();
    if (failures.isEmpty())
        return text;
    text += QStringLiteral("  problems:\n");
    for (int i = 0; i < failures.size() && i < kProblemsShown; ++i)
        text += QStringLiteral("    ") + terminalText(failures[i]) + QLatin1Char('\n');
    if (failures.size() > kProblemsShown)
        text += QStringLiteral("    and %1 more\n").arg(number(int(failures.size()) - kProblemsShown));
    return text;
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString decimal(quint64 value)
{
    return QString::number(value);
}

// Where the serial goes in the image and what is there now. Throws
// SerialPlaceError when it has no place there.
QString serialText(const SerialSpec &format, const FirmwareImage &image)
{
    const quint64 last = quint64(format.address) + quint64(format.width) - 1;
    QString text = QStringLiteral("  serial:      %1\n").arg(terminalText(format.text()));
    const SerialPlace place = SerialPlace::find(image, format.address, format.width);
    text += QStringLiteral("  place:       %1 to %2, %3 in %4\n")
                .arg(addressText(format.address), addressText(last),
                     counted(format.width, QStringLiteral("byte"), QStringLiteral("bytes")),
                     counted(int(place.pieces().size()), QStringLiteral("record"), QStringLiteral("records")));
    for (const SerialPiece &piece : place.pieces()) {
        text += QStringLiteral("  %1%2 at %3, data bytes %4 to %5 of the record at %6\n")
                    .arg(QStringLiteral("line %1:").arg(number(piece.line + 1)), -13)
                    .arg(counted(piece.count, QStringLiteral("byte"), QStringLiteral("bytes")), addressText(piece.address))
                    .arg(piece.dataOffset + 1)
                    .arg(piece.dataOffset + piece.count)
                    .arg(addressText(piece.recordAddress));
        text += QStringLiteral("    %1\n").arg(terminalText(QString::fromLatin1(image.lines()[piece.line])));
    }
    const QByteArray now = place.bytesIn(image);
    const std::optional<quint64> held = format.decode(now);
    text += QStringLiteral("  now:         %1, %2\n")
                .arg(hexBytes(now),
                     held ? QStringLiteral("the number %1").arg(decimal(*held))
                          : QStringLiteral("no number (not %1 decimal digits)").arg(format.width));
    const quint64 left = format.numbersLeft(format.first);
    text += QStringLiteral("  numbers:     %1 to %2 in steps of %3: %4 from the first\n")
                .arg(decimal(format.first), decimal(format.last()), decimal(format.step),
                     left == 1 ? QStringLiteral("1 number") : QStringLiteral("%1 numbers").arg(decimal(left)));
    return text;
}

const char kUsage[] =
    "Usage: quobin-cli check [--serial FORMAT] FILE\n"
    "Reads FILE as an upload reads it and reports what an upload would refuse.\n"
    "  --serial FORMAT  also show where a serial number goes: the lines that hold its\n"
    "                   bytes and what they hold now. FORMAT is\n"
    "                   SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g.\n"
    "                   pump@0x0800F000:4:le or pump@0x0800F000:8:ascii:100000:2;\n"
    "                   ADDRESS as the HEX records count it, WIDTH in bytes, ENCODING\n"
    "                   le, be (binary) or ascii (decimal digits padded with zeros),\n"
    "                   FIRST 1 and STEP 1 unless given.\n";

void complain(const QString &text)
{
    std::fprintf(stderr, "quobin-cli check: %s\n", terminalText(text).toUtf8().constData());
}

int usageError(const QString &text)
{
    complain(text);
    std::fputs(kUsage, stderr);
    return ExitUsage;
}

} // namespace

int CheckCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    const QCommandLineOption serial(QStringLiteral("serial"), QString(), QStringLiteral("FORMAT"));
    parser.addOption(serial);
    // QCommandLineParser expects the program name first.
    if (!parser.parse(QStringList{QStringLiteral("check")} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return ExitSuccess;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return usageError(files.isEmpty() ? QStringLiteral("no FILE given")
                                          : QStringLiteral("one FILE only, not %1").arg(files.size()));
    if (parser.values(serial).size() > 1)
        return usageError(QStringLiteral("one --serial only"));
    std::optional<SerialSpec> format;
    if (parser.isSet(serial)) {
        try {
            format = SerialSpec::parse(parser.value(serial));
        } catch (const SerialSpecError &error) {
            return usageError(QStringLiteral("--serial %1: %2").arg(parser.value(serial), QString::fromStdString(error.what())));
        }
    }
    FirmwareCheckReport report;
    QString path;
    std::shared_ptr<const FirmwareImage> image;
    try {
        const FileArgument file(files.first());
        path = file.shown();
        image = FirmwareImage::read(file.openablePath());
        report = checkFirmwareImage(*image);
    } catch (const UsageError &error) {
        complain(QString::fromStdString(error.what()));
        return ExitUsage;
    } catch (const FirmwareFileError &error) {
        complain(readable(files.first()) + QStringLiteral(": ") + QString::fromStdString(error.what()));
        return ExitUsage;
    }
    QString text = reportText(path, report);
    QString serialProblem;
    if (format) {
        try {
            text += serialText(*format, *image);
        } catch (const SerialPlaceError &error) {
            serialProblem = QString::fromStdString(error.what());
            text += QStringLiteral("  serial:      %1\n  problem:     %2\n").arg(format->text(), serialProblem);
        }
    }
    if (!report.passed())
        text += QStringLiteral("failed: an upload refuses this file (--no-check sends it anyway)\n");
    else if (!serialProblem.isEmpty())
        text += QStringLiteral("failed: the serial has no place in this file\n");
    else
        text += QStringLiteral("passed\n");
    std::fputs(text.toUtf8().constData(), stdout);
    return report.passed() && serialProblem.isEmpty() ? ExitSuccess : ExitUsage;
}

} // namespace quobin::cli
