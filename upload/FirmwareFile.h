#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <stdexcept>

namespace quobin {

// Raised when the firmware file cannot be opened or read.
class FirmwareFileError : public std::runtime_error {
public:
    explicit FirmwareFileError(const std::string &reason) : std::runtime_error(reason) {}
};

// The firmware file, read as bytes line by line. A line ends at CR LF, at a
// lone LF or at a lone CR; the line end is never part of the line.
class FirmwareFile {
public:
    void open(const QString &path);   // throws FirmwareFileError
    bool isOpen() const;
    bool atEnd() const;
    QByteArray readLine();            // throws FirmwareFileError
    void rewind();                    // throws FirmwareFileError
    void close();

private:
    QFile m_file;
};

} // namespace quobin
