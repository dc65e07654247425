#include "FirmwareCheck.h"

#include "FirmwareImage.h"

#include <QLocale>

#include <optional>

namespace quobin {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QString hexByte(int value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// A character as the operator would want to see it in a message.
QString shown(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte < 0x7f)
        return QStringLiteral("\"%1\"").arg(QLatin1Char(c));
    return QStringLiteral("byte %1").arg(hexByte(byte));
}

const char *const kEndRecord = ":00000001FF";
const char *const kByteOrderMark = "\xEF\xBB\xBF";

// What is wrong with one Intel HEX record: ":" then byte count, address (two
// bytes), type, data and a checksum that brings the sum of all bytes to 0
// modulo 256. Empty when nothing is.
std::optional<QString> recordProblem(const QByteArray &line, int *type)
{
    if (!line.startsWith(':'))
        return QStringLiteral("not a HEX record: it does not start with \":\"");
    for (qsizetype at = 1; at < line.size(); ++at) {
        if (hexDigit(line[at]) < 0)
            return QStringLiteral("%1 at column %2 is not a hex digit").arg(shown(line[at])).arg(at + 1);
    }
    const qsizetype digits = line.size() - 1;
    if (digits % 2 != 0)
        return QStringLiteral("an odd number of hex digits (%1)").arg(digits);
    QList<int> bytes;
    for (qsizetype at = 1; at < line.size(); at += 2)
        bytes.append(hexDigit(line[at]) * 16 + hexDigit(line[at + 1]));
    if (bytes.size() < 5)
        return QStringLiteral("too short for a record (%1 bytes; count, address, type and checksum take 5)")
            .arg(bytes.size());
    const int count = bytes[0];
    const int held = int(bytes.size()) - 5;
    if (count != held)
        return QStringLiteral("the byte count says %1 data bytes, the record holds %2").arg(count).arg(held);
    *type = bytes[3];
    if (*type > 5)
        return QStringLiteral("unknown record type %1").arg(hexByte(*type));
    int sum = 0;
    for (int at = 0; at + 1 < bytes.size(); ++at)
        sum += bytes[at];
    const int needed = -sum & 0xff;
    if (bytes.last() != needed)
        return QStringLiteral("wrong checksum %1; the record's bytes need %2").arg(hexByte(bytes.last()),
                                                                                    hexByte(needed));
    if (*type == 1 && count != 0)
        return QStringLiteral("an end-of-file record carries no data (%1)").arg(QLatin1String(kEndRecord));
    return std::nullopt;
}

} // namespace

bool FirmwareCheckReport::passed() const
{
    return failures().isEmpty();
}

QStringList FirmwareCheckReport::failures() const
{
    QStringList out;
    if (overLimit) {
        QLocale c = QLocale::c();
        c.setNumberOptions({});
        out << QStringLiteral("%1 lines: an upload counts at most %2")
                   .arg(c.toString(lines), c.toString(kLineLimit));
    }
    if (lines == blankLines)
        out << QStringLiteral("nothing to send: the file holds no line that is not blank");
    if (hex && !hasEndRecord)
        out << QStringLiteral("no end-of-file record (%1)").arg(QLatin1String(kEndRecord));
    for (const FirmwareProblem &problem : problems)
        out << QStringLiteral("line %1: %2").arg(problem.line).arg(problem.text);
    return out;
}

FirmwareCheckReport checkFirmwareFile(const QString &path)
{
    return checkFirmwareImage(*FirmwareImage::read(path));
}

FirmwareCheckReport checkFirmwareImage(const FirmwareImage &image)
{
    FirmwareCheckReport report;
    bool sawContent = false;
    // Counted the way an upload counts: every line of the image, so a final
    // line end does not make a blank last line.
    for (QByteArray line : image.lines()) {
        ++report.lines;
        // An editor's mark of UTF-8 text: the upload would send it as the
        // start of the first line. The rest of the line is judged as usual.
        if (report.lines == 1 && line.startsWith(kByteOrderMark)) {
            report.problems.append({1, QStringLiteral("the file starts with a UTF-8 byte-order mark "
                                                      "(bytes 0xEF 0xBB 0xBF), which would be sent as "
                                                      "part of the line")});
            line.remove(0, 3);
        }
        if (line.isEmpty()) {
            ++report.blankLines;
            continue;
        }
        if (!sawContent) {
            sawContent = true;
            report.hex = line.startsWith(':');
        }
        if (!report.hex)
            continue;
        ++report.records;
        int type = -1;
        if (const auto problem = recordProblem(line, &type)) {
            report.problems.append({report.lines, *problem});
        } else if (report.hasEndRecord) {
            // The bootloader is done at its end-of-file record; what follows
            // would be sent after the upload's final answer.
            report.problems.append({report.lines, QStringLiteral("a record after the end-of-file record of line %1")
                                                      .arg(report.endRecordLine)});
        } else if (type == 1) {
            report.hasEndRecord = true;
            report.endRecordLine = report.lines;
        }
    }
    report.overLimit = report.lines > FirmwareCheckReport::kLineLimit;
    return report;
}

} // namespace quobin
