#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <stdexcept>
#include <utility>

namespace quobin {

// The operator's choices that survive a restart, as the settings file holds them.
struct StoredSettings {
    qint16 comPortPosition = 0;   // list position of the COM port list ("Com 1")
    qint16 baudRatePosition = 5;  // list position of the hidden baud-rate list ("19200")
    QString firmwarePath;         // the path box
    // The path came in the system's legacy code page (see LegacyCodePage.h),
    // as older tools on the same PC write the file; it is written back in it.
    bool pathInLegacyCodePage = false;
    friend bool operator==(const StoredSettings &, const StoredSettings &) = default;
};

// Raised when the settings file cannot be read, is short or malformed, or
// cannot be written.
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string &reason) : std::runtime_error(reason) {}
};

// Raised by readSettingsFile when there is no file at the path at all.
class SettingsFileMissing : public SettingsError {
public:
    using SettingsError::SettingsError;
};

// The file "quobin.ini" in the program's folder.
QString settingsFilePath(const QString &programFolder);

// The settings file the window loads and saves. A path alone, as beside a
// portable program, reports a missing file like any other failure; in the
// per-user folder a missing file is the user's first start, which takes the
// defaults without a word.
struct SettingsLocation {
    SettingsLocation(QString settingsPath, bool firstStartWhenMissing = false)
        : path(std::move(settingsPath)), missingFileIsFirstStart(firstStartWhenMissing)
    {
    }
    QString path;
    bool missingFileIsFirstStart;
};

// The content of a settings file: three fields, each ended by a comma or a
// line end; a field that starts with a double quote runs to the next one.
//
// The reader follows the classic sequential-file rules, read strictly:
// - A line ends at CR LF, a lone LF or a lone CR.
// - Fields 1 and 2 are decimal numbers: blanks (spaces, tabs), an optional
//   "-", one or more digits, blanks. Anything else (empty, "+1", "1.0",
//   "0x10", "1 2", a quoted number) is not a number and fails, as does a
//   value outside -32768..32767.
// - Field 3, when it starts (after blanks) with a double quote, is the text
//   up to the next double quote, line breaks included; the rest of its line
//   is skipped. A missing closing quote fails. An unquoted field 3 is the
//   rest of its line up to a comma, without surrounding blanks.
// - A file that ends before a field starts fails; anything after field 3 is
//   ignored. A UTF-8 byte-order mark at the very start is skipped.
// - The path is decoded as UTF-8 (ASCII byte for byte). A path that is no
//   valid UTF-8 is read in the system's legacy code page where it has one
//   (Windows' ANSI code page) and marked so; otherwise, and where there is
//   none, invalid bytes become U+FFFD.
// The positions are not checked against the lists; see isListPosition.
StoredSettings parseSettings(const QByteArray &content);       // throws SettingsError

// Three lines, each ended by CR LF: the two positions in decimal and the path
// between double quotes, unescaped: in UTF-8, or in the legacy code page it
// was read in when every character of it has a byte there. A path holding a
// double quote is written as it stands and does not read back whole.
QByteArray formatSettings(const StoredSettings &settings);

// True when pos selects an entry of a list of count entries or is -1 (no
// selection).
bool isListPosition(qint16 pos, int count);

// Throws SettingsFileMissing when there is no file, SettingsError for any
// other failure.
StoredSettings readSettingsFile(const QString &path);
// Replaces the file only once the new content is whole on disk.
void writeSettingsFile(const QString &path, const StoredSettings &settings); // throws SettingsError

} // namespace quobin
