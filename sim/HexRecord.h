#pragma once

#include <QByteArray>

#include <optional>

namespace quobin::sim {

// Intel HEX records as the bootloader sees them: ":" then byte count, address,
// type, data and checksum, two hex digits a byte, no end-of-line.
namespace HexRecord {

// The length in characters of the record that text starts, known from its
// byte count: 1 + 2 * (5 + count). Empty when text does not start with ":"
// and two hex digits.
std::optional<qsizetype> expectedLength(const QByteArray &text);

// True when text is a whole record of hex digits whose bytes, checksum
// included, sum to 0 modulo 256.
bool checksumOk(const QByteArray &text);

// True for a well-formed record of type 01.
bool isEndOfFile(const QByteArray &text);

// The record of bytes (count, address, type, data), its checksum appended.
QByteArray make(const QByteArray &bytes);

// A sample firmware image: `records` data records of 16 bytes at addresses
// 0, 16, 32, ... (wrapping at 64 KiB), then the end-of-file record; each
// line ended by CR LF, as firmware files are written.
QByteArray sampleImage(int records);

} // namespace HexRecord

} // namespace quobin::sim
