#pragma once

#include <QString>

namespace quobin {

// The group whose members may read and write device, when joining it would
// let this user open it; empty when no group would help (the device's group
// may not write it, or it is root's own group).
QString groupThatMayOpen(const QString &device);

// Why a device could not be opened, in the operator's words:
// "/dev/ttyS2 does not exist", "permission denied: /dev/ttyUSB0 belongs to
// group dialout", "/dev/ttyUSB0 is in use by another program". busy says
// that the serial library refused the device although this user may open
// it (a lock held, or the device opened exclusively); otherwise is used when
// nothing more can be told.
QString whyNotOpened(const QString &device, bool busy, const QString &otherwise);

} // namespace quobin
