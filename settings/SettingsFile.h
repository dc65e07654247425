#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <stdexcept>

namespace quobin {

// The operator's choices that survive a restart, as the settings file holds them.
struct StoredSettings {
    qint16 comPortPosition = 0;   // list position of the COM port list ("Com 1")
    qint16 baudRatePosition = 5;  // list position of the hidden baud-rate list ("19200")
    QString firmwarePath;         // the path box
    friend bool operator==(const StoredSettings &, const StoredSettings &) = default;
};

// Raised when the settings file cannot be read, is short or malformed, or
// cannot be written.
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string &reason) : std::runtime_error(reason) {}
};

// The file "quobin.ini" in the program's folder.
QString settingsFilePath(const QString &programFolder);

// The content of a settings file: three fields, each ended by a comma or a
// line end; a field that starts with a double quote runs to the next one.
StoredSettings parseSettings(const QByteArray &content);       // throws SettingsError
QByteArray formatSettings(const StoredSettings &settings);

StoredSettings readSettingsFile(const QString &path);          // throws SettingsError
// Replaces the file only once the new content is whole on disk.
void writeSettingsFile(const QString &path, const StoredSettings &settings); // throws SettingsError

} // namespace quobin
