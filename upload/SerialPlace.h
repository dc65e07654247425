#pragma once

#include "FirmwareImage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <stdexcept>

namespace quobin {

// Raised when a serial cannot be written into an image: its bytes do not all
// lie in the image's data records, or a record that decides where they lie
// cannot be read. The message names the address or the line.
class SerialPlaceError : public std::runtime_error {
public:
    explicit SerialPlaceError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// The part of a serial's bytes that one line of the image holds.
struct SerialPiece {
    int line = 0;            // index into FirmwareImage::lines(); the file's line is line + 1
    int serialOffset = 0;    // the first of the serial's bytes that this line holds
    int count = 0;           // how many of them, one after the other in the record's data
    int dataOffset = 0;      // where the first of them is in the record's data
    int dataSize = 0;        // the record's data bytes
    quint64 address = 0;     // the address of the first of them
    quint64 recordAddress = 0; // the address of the record's first data byte
};

// Where a serial's bytes lie in an Intel HEX image, found once per job, and
// the image with other bytes put there, made once per board.
//
// Addresses count as the records count them: a data record's 16-bit offset
// after the base of the latest extended segment (type 02, base = value * 16)
// or extended linear (type 04, base = value << 16) address record. Under
// segment addressing (a type 02 record, or none yet) the offset of a record
// that crosses the end of its 64 KiB wraps within them, as a segment's
// offset does; under linear addressing the address goes on into the next
// 64 KiB. Start address records (03, 05) change nothing; the end-of-file
// record (01) ends the data.
//
// A patched line differs from the original only in the two hex digits of
// each serial byte and in the checksum's two, written in the case the line
// uses; its line end and anything after the record stay as they are.
class SerialPlace {
public:
    // Throws SerialPlaceError when a byte of address .. address + width - 1
    // lies in no data record, when two records write the same byte, when
    // the image is not Intel HEX, or when a record up to the last of the
    // serial's cannot be read (its address would be a guess).
    static SerialPlace find(const FirmwareImage &image, quint32 address, int width);

    quint32 address() const { return m_address; }
    int width() const { return m_width; }
    // In the order of the serial's bytes.
    const QList<SerialPiece> &pieces() const { return m_pieces; }

    // The serial's bytes as the image holds them now, in memory order.
    QByteArray bytesIn(const FirmwareImage &image) const;
    // The image with the serial's bytes replaced by bytes (width() of them,
    // in memory order) and each touched record's checksum recomputed.
    // image: the one this place was found in. Throws std::invalid_argument
    // for a wrong number of bytes.
    std::shared_ptr<const FirmwareImage> patched(const FirmwareImage &image, const QByteArray &bytes) const;

private:
    SerialPlace(quint32 address, int width, QList<SerialPiece> pieces)
        : m_address(address), m_width(width), m_pieces(std::move(pieces))
    {
    }

    quint32 m_address = 0;
    int m_width = 0;
    QList<SerialPiece> m_pieces;
};

} // namespace quobin
