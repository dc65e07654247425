#pragma once

#include "Slot.h"

#include <QStringList>

#include <stdexcept>

namespace quobin::station {

// A slot's name that leads nowhere: a Com number out of range, or a word
// that is neither a Com name nor a device path.
class SlotNameError : public std::runtime_error {
public:
    explicit SlotNameError(const QString &reason) : std::runtime_error(reason.toStdString()) {}
};

// A slot named as an upload's port is: "Com 3", "com3", "3", a device path,
// a /dev/serial/by-id/ name (the adapter) or a /dev/serial/by-path/ name (the
// USB socket the adapter is plugged into, whichever adapter that is). A Com name leads through its comN link (in
// linkFolders) or to its default device; the path is followed afresh at every
// open, so neither a link nor a by-id name is resolved here (but for a serial
// server's address in Windows' file of links, kept as it is). A device that is
// not there yet is waited for; one that is there and no serial line
// (/dev/tty, /dev/null, a file) is refused, and so is a socket that holds
// a USB device that is no serial adapter. Throws SlotNameError.
SlotAddress slotNamed(const QString &text, const QStringList &linkFolders);

// The device that a slot's path reaches now, read afresh: the device behind
// its links, or in its socket (a by-path name, or a comN link to one); a
// serial server's address as it is. Empty when nothing is there (an adapter
// pulled out, an empty socket).
QString deviceReachedBy(const QString &path);

} // namespace quobin::station
