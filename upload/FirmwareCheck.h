#pragma once

#include <QList>
#include <QString>

namespace quobin {

// One thing wrong with a firmware file, at a 1-based line of the file.
struct FirmwareProblem {
    int line = 0;
    QString text;
};

// What a look at a firmware file finds, read as an upload reads it: the same
// line ends, blank lines counted but not sent.
struct FirmwareCheckReport {
    int lines = 0;          // every line, blank ones included
    int blankLines = 0;
    bool overLimit = false; // more lines than an upload can count (32,767)
    bool hex = false;       // the first non-blank line starts with ":"
    bool hasEndRecord = false;
    QList<FirmwareProblem> problems;  // HEX record problems, by line

    // Nothing stops an upload of this file.
    bool passed() const;
};

// Reads the file at path. Throws FirmwareFileError when it cannot be opened
// or read.
FirmwareCheckReport checkFirmwareFile(const QString &path);

} // namespace quobin
