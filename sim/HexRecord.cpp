#include "HexRecord.h"

namespace quobin::sim::HexRecord {

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

// The byte whose two hex digits start at text[at]; -1 when they are not hex.
int byteAt(const QByteArray &text, qsizetype at)
{
    if (at + 1 >= text.size())
        return -1;
    const int high = hexDigit(text[at]);
    const int low = hexDigit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

} // namespace

std::optional<qsizetype> expectedLength(const QByteArray &text)
{
    if (!text.startsWith(':'))
        return std::nullopt;
    const int count = byteAt(text, 1);
    if (count < 0)
        return std::nullopt;
    return 1 + 2 * (5 + qsizetype(count));
}

bool checksumOk(const QByteArray &text)
{
    const auto length = expectedLength(text);
    if (!length || *length != text.size())
        return false;
    int sum = 0;
    for (qsizetype at = 1; at < text.size(); at += 2) {
        const int value = byteAt(text, at);
        if (value < 0)
            return false;
        sum += value;
    }
    return sum % 256 == 0;
}

bool isEndOfFile(const QByteArray &text)
{
    return checksumOk(text) && byteAt(text, 7) == 1;
}

QByteArray make(const QByteArray &bytes)
{
    int sum = 0;
    for (const char byte : bytes)
        sum += static_cast<unsigned char>(byte);
    return ':' + (bytes + char(-sum & 0xff)).toHex().toUpper();
}

QByteArray sampleImage(int records)
{
    QByteArray image;
    image.reserve(qsizetype(records) * 45 + 13);
    for (int r = 0; r < records; ++r) {
        const int address = (r * 16) & 0xffff;
        QByteArray bytes;
        bytes.append(char(16)).append(char(address >> 8)).append(char(address & 0xff)).append(char(0));
        for (int i = 0; i < 16; ++i)
            bytes.append(char((r * 7 + i * 13) & 0xff));
        image += make(bytes) + "\r\n";
    }
    return image + ":00000001FF\r\n";
}

} // namespace quobin::sim::HexRecord
