#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quobin {

// One thing wrong with a firmware file, at a 1-based line of the file.
struct FirmwareProblem {
    int line = 0;
    QString text;
};

// What a look at a firmware file finds, read as an upload reads it: the same
// line ends, blank lines counted but not sent.
struct FirmwareCheckReport {
    static constexpr int kLineLimit = 32767;  // an upload counts lines in 16 bits

    int lines = 0;          // every line, blank ones included
    int blankLines = 0;
    bool overLimit = false; // more lines than an upload can count (32,767)
    bool hex = false;       // the first non-blank line starts with ":"
    int records = 0;        // non-blank lines of a HEX file
    bool hasEndRecord = false;
    int endRecordLine = 0;  // the line of the first end-of-file record
    QList<FirmwareProblem> problems;  // a byte-order mark, HEX record problems; by line

    // Nothing stops an upload of this file.
    bool passed() const;
    // Why an upload would refuse the file, one sentence each: what concerns
    // the whole file first, then each line's problem ("line 12: ..."). Empty
    // when it passed.
    QStringList failures() const;
};

class FirmwareImage;

// Reads the file at path. Throws FirmwareFileError when it cannot be opened
// or read.
FirmwareCheckReport checkFirmwareFile(const QString &path);
// Looks at a file already read.
FirmwareCheckReport checkFirmwareImage(const FirmwareImage &image);

} // namespace quobin
