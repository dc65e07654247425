#include "SerialPlace.h"

#include "SerialSpec.h"

#include <QMap>

#include <optional>

namespace quobin {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int byteAt(const QByteArray &line, qsizetype at)
{
    return hexValue(line[at]) * 16 + hexValue(line[at + 1]);
}

// The head of one Intel HEX record; the record runs from ":" to its checksum,
// and whatever follows on the line is not part of it.
struct RecordHead {
    int count = 0;
    int offset = 0;
    int type = 0;
};

// Where the data byte `index` of a record starts on its line.
constexpr qsizetype dataColumn(int index)
{
    return 9 + 2 * qsizetype(index);
}

// Reads a record's head and checks its hex digits and checksum; the reason
// it cannot be read otherwise.
std::optional<QString> readRecord(const QByteArray &line, RecordHead *head)
{
    if (!line.startsWith(':'))
        return QStringLiteral("it does not start with \":\"");
    if (line.size() < 11)
        return QStringLiteral("it is too short for a record");
    for (qsizetype at = 1; at < 3; ++at) {
        if (hexValue(line[at]) < 0)
            return QStringLiteral("column %1 is not a hex digit").arg(at + 1);
    }
    head->count = byteAt(line, 1);
    const qsizetype end = dataColumn(head->count) + 2;
    if (line.size() < end)
        return QStringLiteral("it is shorter than its byte count of %1 says").arg(head->count);
    int sum = 0;
    for (qsizetype at = 1; at < end; at += 2) {
        if (hexValue(line[at]) < 0 || hexValue(line[at + 1]) < 0)
            return QStringLiteral("column %1 is not a hex digit").arg(hexValue(line[at]) < 0 ? at + 1 : at + 2);
        sum += byteAt(line, at);
    }
    if ((sum & 0xff) != 0)
        return QStringLiteral("its checksum is wrong");
    head->offset = byteAt(line, 3) * 256 + byteAt(line, 5);
    head->type = byteAt(line, 7);
    return std::nullopt;
}

// Where one of the serial's bytes was found.
struct Found {
    int line = -1;
    int dataIndex = 0;
    int dataSize = 0;
    quint64 recordAddress = 0;
};

QString bytes(int count)
{
    return count == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(count);
}

// Whether the digits written on a line are lower case: those a pair had,
// else those of the record's other letters; upper case when it has none.
bool lowerCaseLine(const QByteArray &line, qsizetype end)
{
    bool lower = false;
    for (qsizetype at = 1; at < end; ++at) {
        const char c = line[at];
        if (c >= 'A' && c <= 'F')
            return false;
        if (c >= 'a' && c <= 'f')
            lower = true;
    }
    return lower;
}

void writeByte(QByteArray &line, qsizetype at, int value, bool lineIsLower)
{
    bool lower = lineIsLower;
    for (qsizetype i = at; i < at + 2; ++i) {
        const char c = line[i];
        if (c >= 'a' && c <= 'f')
            lower = true;
        else if (c >= 'A' && c <= 'F')
            lower = false;
    }
    const char *digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    line[at] = digits[(value >> 4) & 0xf];
    line[at + 1] = digits[value & 0xf];
}

} // namespace

SerialPlace SerialPlace::find(const FirmwareImage &image, quint32 address, int width)
{
    const quint64 first = address;
    const quint64 last = first + quint64(width) - 1;
    QList<Found> found(width);
    quint64 base = 0;
    bool linear = false; // the latest extended address record was of type 04
    bool sawRecord = false;
    const QList<QByteArray> &lines = image.lines();
    for (int index = 0; index < lines.size(); ++index) {
        const QByteArray &line = lines[index];
        if (line.isEmpty())
            continue;
        if (!sawRecord && !line.startsWith(':'))
            throw SerialPlaceError(QStringLiteral("not an Intel HEX file: line %1, the first that is not blank, "
                                                  "does not start with \":\", so no line holds an address")
                                       .arg(index + 1));
        sawRecord = true;
        RecordHead head;
        if (const auto why = readRecord(line, &head))
            throw SerialPlaceError(QStringLiteral("line %1 cannot be read as a HEX record (%2), so where the "
                                                  "serial's bytes lie would be a guess")
                                       .arg(index + 1)
                                       .arg(*why));
        if (head.type == 1)
            break;
        if (head.type == 2 || head.type == 4) {
            if (head.count != 2)
                throw SerialPlaceError(QStringLiteral("line %1: an extended address record with %2 instead of 2")
                                           .arg(index + 1)
                                           .arg(bytes(head.count)));
            const quint64 value = quint64(byteAt(line, dataColumn(0))) * 256 + quint64(byteAt(line, dataColumn(1)));
            base = head.type == 2 ? value * 16 : value << 16;
            linear = head.type == 4;
            continue;
        }
        if (head.type == 3 || head.type == 5)
            continue;
        if (head.type != 0)
            throw SerialPlaceError(QStringLiteral("line %1: unknown record type 0x%2, so where the serial's bytes "
                                                  "lie would be a guess")
                                       .arg(index + 1)
                                       .arg(QString::number(head.type, 16).toUpper().rightJustified(2, QLatin1Char('0'))));
        const quint64 recordAddress = (base + quint64(head.offset)) & 0xFFFFFFFFu;
        // Most records lie far from the serial: skip them without looking at
        // each byte, unless the offset wraps within the record. Under
        // segment addressing (type 02, or none) the 16-bit offset wraps
        // within its 64 KiB; under linear addressing (type 04) a record that
        // crosses the end of its 64 KiB goes on into the next.
        // A linear record at the very end of 4 GiB wraps to its start.
        const bool wraps = linear ? recordAddress + quint64(head.count) > 0x100000000u
                                  : head.offset + head.count > 0x10000;
        if (!wraps && (recordAddress > last || recordAddress + quint64(head.count) <= first))
            continue;
        for (int i = 0; i < head.count; ++i) {
            const quint64 offset = linear ? quint64(head.offset + i) : quint64((head.offset + i) & 0xFFFF);
            const quint64 at = (base + offset) & 0xFFFFFFFFu;
            if (at < first || at > last)
                continue;
            Found &slot = found[int(at - first)];
            if (slot.line >= 0)
                throw SerialPlaceError(QStringLiteral("address %1 is written by two records, lines %2 and %3: "
                                                      "the serial's place must be written once")
                                           .arg(addressText(at))
                                           .arg(slot.line + 1)
                                           .arg(index + 1));
            slot = Found{index, i, head.count, recordAddress};
        }
    }

    int missing = 0;
    int firstMissing = -1;
    for (int i = 0; i < width; ++i) {
        if (found[i].line < 0) {
            ++missing;
            if (firstMissing < 0)
                firstMissing = i;
        }
    }
    if (missing == width)
        throw SerialPlaceError(QStringLiteral("address %1: the serial's %2 (%1 to %3) lie outside the image's "
                                              "data; the firmware must reserve them in its data records")
                                   .arg(addressText(first), bytes(width), addressText(last)));
    if (missing > 0)
        throw SerialPlaceError(QStringLiteral("address %1: %2 of the serial's %3 (%4 to %5) lie outside the "
                                              "image's data, the first of them here; the firmware must reserve "
                                              "all of the serial's bytes in its data records")
                                   .arg(addressText(first + quint64(firstMissing)),
                                        QString::number(missing), bytes(width), addressText(first),
                                        addressText(last)));

    QList<SerialPiece> pieces;
    for (int i = 0; i < width; ++i) {
        const Found &slot = found[i];
        if (!pieces.isEmpty()) {
            SerialPiece &previous = pieces.last();
            if (previous.line == slot.line && previous.dataOffset + previous.count == slot.dataIndex) {
                ++previous.count;
                continue;
            }
        }
        SerialPiece piece;
        piece.line = slot.line;
        piece.serialOffset = i;
        piece.count = 1;
        piece.dataOffset = slot.dataIndex;
        piece.dataSize = slot.dataSize;
        piece.address = first + quint64(i);
        piece.recordAddress = slot.recordAddress;
        pieces.append(piece);
    }
    return SerialPlace(address, width, pieces);
}

QByteArray SerialPlace::bytesIn(const FirmwareImage &image) const
{
    QByteArray out(m_width, '\0');
    for (const SerialPiece &piece : m_pieces) {
        const QByteArray &line = image.lines()[piece.line];
        for (int i = 0; i < piece.count; ++i)
            out[piece.serialOffset + i] = char(byteAt(line, dataColumn(piece.dataOffset + i)));
    }
    return out;
}

std::shared_ptr<const FirmwareImage> SerialPlace::patched(const FirmwareImage &image, const QByteArray &serial) const
{
    if (serial.size() != m_width)
        throw std::invalid_argument("a serial of another width than its place");
    QMap<int, QByteArray> edited;
    QMap<int, int> dataSizes;
    for (const SerialPiece &piece : m_pieces) {
        auto line = edited.find(piece.line);
        if (line == edited.end())
            line = edited.insert(piece.line, image.lines()[piece.line]);
        dataSizes[piece.line] = piece.dataSize;
        const bool lower = lowerCaseLine(*line, dataColumn(piece.dataSize) + 2);
        for (int i = 0; i < piece.count; ++i)
            writeByte(*line, dataColumn(piece.dataOffset + i), quint8(serial[piece.serialOffset + i]), lower);
    }
    QList<std::pair<int, QByteArray>> replacements;
    for (auto line = edited.begin(); line != edited.end(); ++line) {
        QByteArray &text = line.value();
        const qsizetype checksumAt = dataColumn(dataSizes[line.key()]);
        const bool lower = lowerCaseLine(text, checksumAt + 2);
        int sum = 0;
        for (qsizetype at = 1; at < checksumAt; at += 2)
            sum += byteAt(text, at);
        writeByte(text, checksumAt, -sum & 0xff, lower);
        replacements.append({line.key(), text});
    }
    return image.withLines(replacements);
}

} // namespace quobin
