#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <stdexcept>

namespace quobin {

// Raised when a serial's description cannot be used; the message says what
// is wrong with it, without the option's name.
class SerialSpecError : public std::runtime_error {
public:
    explicit SerialSpecError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// How a serial number is written into the board's memory.
enum class SerialEncoding {
    LittleEndian, // "le": binary, lowest byte first
    BigEndian,    // "be": binary, highest byte first
    AsciiDecimal, // "ascii": decimal digits, padded with zeros on the left
};

// Where a board's serial number goes and how numbers are counted, as written
// on the command line in one word:
//
//     SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]]
//     pump@0x0800F000:4:le           pump@0x0800F000:8:ascii:100000:2
//
// SERIES names the counter (letters, digits, ".", "-", "_"); ADDRESS is
// counted as the image's Intel HEX records count it (extended segment and
// linear address records included), in hex with "0x" or in decimal; WIDTH is
// the number of bytes (of digits for ascii); FIRST is the series' first
// number (1 unless given) and STEP the distance between numbers (1 unless
// given), both decimal or hex with "0x".
struct SerialSpec {
    static constexpr int kSeriesNameLimit = 64;
    static constexpr int kBinaryWidthLimit = 8;  // 64-bit numbers
    static constexpr int kAsciiWidthLimit = 20;  // 18446744073709551615
    // The largest number a series may reach: the records keep numbers as
    // SQLite and PostgreSQL keep integers, signed 64-bit, so that they stay
    // the numbers they are (in order) for anyone who reads the database.
    static constexpr quint64 kRecordsLargest = 9223372036854775807ull; // 2^63 - 1

    QString series;
    quint32 address = 0;
    int width = 4;
    SerialEncoding encoding = SerialEncoding::LittleEndian;
    quint64 first = 1;
    quint64 step = 1;

    // Throws SerialSpecError with a message that names the faulty part.
    static SerialSpec parse(const QString &text);

    // The description in its full form: every field, the address in hex.
    QString text() const;

    // The largest number the width holds.
    quint64 largest() const;
    bool fits(quint64 number) const { return number <= largest(); }
    // The largest number the series may reach: the width's, at most
    // kRecordsLargest.
    quint64 highest() const;
    // The series' last number: first + k * step, the largest such that is
    // not past highest().
    quint64 last() const;
    // How many numbers the series still has when `next` is the next one to
    // hand out: next, next + step, ... up to highest(). 0 when next is past
    // it; saturates at the largest 64-bit count.
    quint64 numbersLeft(quint64 next) const;
    // Throws SerialSpecError, saying so, when the series has no number left
    // for `next`: it is past highest(). Numbers never wrap around.
    void requireNumberLeft(quint64 next) const;
    // The number after `number`, or nothing when the series has no more.
    std::optional<quint64> after(quint64 number) const;

    // The width's bytes for number, in the order they lie in memory. Throws
    // SerialSpecError when the number does not fit.
    QByteArray encode(quint64 number) const;
    // The number that bytes (width() of them, in memory order) encode, or
    // nothing when they encode none (ascii bytes that are not all digits, or
    // a value past 64 bits).
    std::optional<quint64> decode(const QByteArray &bytes) const;
};

// "le", "be" or "ascii".
QString encodingName(SerialEncoding encoding);

// 0x0800F000: eight upper-case hex digits, as addresses are shown.
QString addressText(quint64 address);

} // namespace quobin
