#include "SerialSpec.h"

#include <QStringList>

#include <limits>

namespace quobin {

namespace {

constexpr quint64 kMax64 = std::numeric_limits<quint64>::max();

const char kForm[] = "SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g. pump@0x0800F000:4:le";

bool allOf(const QString &text, bool (*accepted)(QChar))
{
    for (const QChar c : text) {
        if (!accepted(c))
            return false;
    }
    return !text.isEmpty();
}

bool isDecimalDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isHexDigit(QChar c)
{
    return isDecimalDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool isSeriesCharacter(QChar c)
{
    return c.unicode() < 0x80
        && (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_'));
}

enum class Parsed { Number, NotANumber, TooLarge };

// Decimal digits, or hex digits after "0x"; no sign, no spaces, and a
// leading zero never means octal.
Parsed parseNumber(const QString &text, quint64 *value)
{
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? text.mid(2) : text;
    if (!allOf(digits, hex ? isHexDigit : isDecimalDigit))
        return Parsed::NotANumber;
    bool ok = false;
    *value = digits.toULongLong(&ok, hex ? 16 : 10);
    return ok ? Parsed::Number : Parsed::TooLarge;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

quint64 numberField(const QString &field, const QString &what)
{
    if (field.isEmpty())
        throw SerialSpecError(QStringLiteral("no %1 between the colons").arg(what));
    quint64 value = 0;
    switch (parseNumber(field, &value)) {
    case Parsed::Number:
        return value;
    case Parsed::NotANumber:
        throw SerialSpecError(QStringLiteral("%1 %2 is not a number: write it in decimal or in hex with 0x")
                                  .arg(what, quoted(field)));
    case Parsed::TooLarge:
        break;
    }
    throw SerialSpecError(QStringLiteral("%1 %2 is larger than 64 bits hold").arg(what, quoted(field)));
}

SerialEncoding encodingField(const QString &field)
{
    const QString name = field.toLower();
    if (name == QLatin1String("le"))
        return SerialEncoding::LittleEndian;
    if (name == QLatin1String("be"))
        return SerialEncoding::BigEndian;
    if (name == QLatin1String("ascii"))
        return SerialEncoding::AsciiDecimal;
    throw SerialSpecError(QStringLiteral("encoding %1: write le (binary, little-endian), be (binary, big-endian) "
                                         "or ascii (decimal digits padded with zeros)")
                              .arg(quoted(field)));
}

quint64 powerOfTen(int exponent)
{
    quint64 value = 1;
    for (int i = 0; i < exponent; ++i)
        value *= 10;
    return value;
}

QString decimal(quint64 value)
{
    return QString::number(value);
}

} // namespace

QString encodingName(SerialEncoding encoding)
{
    switch (encoding) {
    case SerialEncoding::LittleEndian:
        return QStringLiteral("le");
    case SerialEncoding::BigEndian:
        return QStringLiteral("be");
    case SerialEncoding::AsciiDecimal:
        break;
    }
    return QStringLiteral("ascii");
}

QString addressText(quint64 address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

SerialSpec SerialSpec::parse(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    if (at < 0)
        throw SerialSpecError(QStringLiteral("no \"@\" after the series name: write %1").arg(QLatin1String(kForm)));
    SerialSpec format;
    format.series = text.left(at);
    if (format.series.isEmpty())
        throw SerialSpecError(QStringLiteral("no series name before \"@\": write %1").arg(QLatin1String(kForm)));
    if (!allOf(format.series, isSeriesCharacter))
        throw SerialSpecError(QStringLiteral("series name %1: use letters, digits, \".\", \"-\" and \"_\" only")
                                  .arg(quoted(format.series)));
    if (format.series.size() > kSeriesNameLimit)
        throw SerialSpecError(QStringLiteral("series name of %1 characters: at most %2")
                                  .arg(format.series.size())
                                  .arg(kSeriesNameLimit));

    const QStringList fields = text.mid(at + 1).split(QLatin1Char(':'));
    if (fields.size() < 3 || fields.size() > 5)
        throw SerialSpecError(QStringLiteral("%1 after \"@\": write ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], "
                                             "e.g. pump@0x0800F000:4:le")
                                  .arg(fields.size() == 1 ? QStringLiteral("1 field")
                                                          : QStringLiteral("%1 fields").arg(fields.size())));

    const quint64 address = numberField(fields[0], QStringLiteral("address"));
    if (address > 0xFFFFFFFFu)
        throw SerialSpecError(QStringLiteral("address %1 lies past 0xFFFFFFFF, the last that HEX records reach")
                                  .arg(fields[0]));
    format.address = quint32(address);

    format.encoding = encodingField(fields[2]);
    const bool ascii = format.encoding == SerialEncoding::AsciiDecimal;
    const int widthLimit = ascii ? kAsciiWidthLimit : kBinaryWidthLimit;
    if (!allOf(fields[1], isDecimalDigit))
        throw SerialSpecError(fields[1].isEmpty() ? QStringLiteral("no width between the colons")
                                                  : QStringLiteral("width %1 is not a number of bytes").arg(quoted(fields[1])));
    bool ok = false;
    const int width = fields[1].toInt(&ok);
    if (!ok || width < 1 || width > widthLimit)
        throw SerialSpecError(QStringLiteral("width %1: %2 takes 1 to %3 %4")
                                  .arg(fields[1], encodingName(format.encoding))
                                  .arg(widthLimit)
                                  .arg(ascii ? QStringLiteral("digits") : QStringLiteral("bytes")));
    format.width = width;
    if (address + quint64(width) - 1 > 0xFFFFFFFFu)
        throw SerialSpecError(QStringLiteral("the serial's %1 bytes at %2 run past 0xFFFFFFFF, the last address")
                                  .arg(width)
                                  .arg(addressText(address)));

    if (fields.size() > 3) {
        format.first = numberField(fields[3], QStringLiteral("first number"));
        if (!format.fits(format.first))
            throw SerialSpecError(QStringLiteral("first number %1 does not fit in %2 %3 (%4 at most)")
                                      .arg(decimal(format.first))
                                      .arg(width)
                                      .arg(ascii ? QStringLiteral("ASCII digits")
                                                 : width == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"))
                                      .arg(decimal(format.largest())));
        if (format.first > kRecordsLargest)
            throw SerialSpecError(QStringLiteral("first number %1 is past %2, the largest serial number the records keep "
                                                 "(SQLite and PostgreSQL keep signed 64-bit integers)")
                                      .arg(decimal(format.first), decimal(kRecordsLargest)));
    }
    if (fields.size() > 4) {
        format.step = numberField(fields[4], QStringLiteral("step"));
        if (format.step == 0)
            throw SerialSpecError(QStringLiteral("step 0: every board needs a number of its own, so the step is 1 or more"));
    }
    return format;
}

QString SerialSpec::text() const
{
    return QStringLiteral("%1@%2:%3:%4:%5:%6")
        .arg(series, addressText(address))
        .arg(width)
        .arg(encodingName(encoding), decimal(first), decimal(step));
}

quint64 SerialSpec::largest() const
{
    if (encoding == SerialEncoding::AsciiDecimal)
        return width >= kAsciiWidthLimit ? kMax64 : powerOfTen(width) - 1;
    return width >= kBinaryWidthLimit ? kMax64 : (quint64(1) << (8 * width)) - 1;
}

quint64 SerialSpec::highest() const
{
    return qMin(largest(), kRecordsLargest);
}

quint64 SerialSpec::last() const
{
    if (first > highest())
        return first;
    return first + (highest() - first) / step * step;
}

quint64 SerialSpec::numbersLeft(quint64 next) const
{
    if (next > highest())
        return 0;
    const quint64 more = (highest() - next) / step;
    return more == kMax64 ? kMax64 : more + 1;
}

void SerialSpec::requireNumberLeft(quint64 next) const
{
    if (next <= highest())
        return;
    if (fits(next))
        throw SerialSpecError(QStringLiteral("series %1 has no number left: the next, %2, is past %3, the largest "
                                             "serial number the records keep")
                                  .arg(series, decimal(next), decimal(kRecordsLargest)));
    const bool ascii = encoding == SerialEncoding::AsciiDecimal;
    throw SerialSpecError(QStringLiteral("series %1 has no number left: the next, %2, does not fit in %3 %4 "
                                         "(%5 at most)")
                              .arg(series, decimal(next))
                              .arg(width)
                              .arg(ascii ? QStringLiteral("ASCII digits")
                                         : width == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"),
                                   decimal(highest())));
}

std::optional<quint64> SerialSpec::after(quint64 number) const
{
    if (number > highest() || highest() - number < step)
        return std::nullopt;
    return number + step;
}

QByteArray SerialSpec::encode(quint64 number) const
{
    if (!fits(number))
        throw SerialSpecError(QStringLiteral("the number %1 does not fit in the serial's width (%2 at most)")
                                  .arg(decimal(number), decimal(largest())));
    QByteArray bytes(width, '\0');
    switch (encoding) {
    case SerialEncoding::LittleEndian:
        for (int i = 0; i < width; ++i)
            bytes[i] = char((number >> (8 * i)) & 0xff);
        break;
    case SerialEncoding::BigEndian:
        for (int i = 0; i < width; ++i)
            bytes[width - 1 - i] = char((number >> (8 * i)) & 0xff);
        break;
    case SerialEncoding::AsciiDecimal:
        bytes = QByteArray::number(number).rightJustified(width, '0');
        break;
    }
    return bytes;
}

std::optional<quint64> SerialSpec::decode(const QByteArray &bytes) const
{
    if (bytes.size() != width)
        return std::nullopt;
    quint64 value = 0;
    switch (encoding) {
    case SerialEncoding::LittleEndian:
        for (int i = 0; i < width; ++i)
            value |= quint64(quint8(bytes[i])) << (8 * i);
        return value;
    case SerialEncoding::BigEndian:
        for (int i = 0; i < width; ++i)
            value = (value << 8) | quint8(bytes[i]);
        return value;
    case SerialEncoding::AsciiDecimal:
        break;
    }
    for (const char c : bytes) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const quint64 digit = quint64(c - '0');
        if (value > (kMax64 - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace quobin
