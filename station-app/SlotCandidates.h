#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace quobin {

// A port that can be made a slot, with what it reaches.
struct SlotCandidate {
    QString port;         // as the station takes it: "Com 3" or a device path
    QString description;  // the device and its adapter, one line
};

// Com 1 to Com 8 (each with what it reaches, through describeComPort), then
// every serial adapter with a stable name in byIdFolder, with its USB
// description.
QList<SlotCandidate> slotCandidates(const std::function<QString(int)> &describeComPort,
                                    const QString &byIdFolder = QStringLiteral("/dev/serial/by-id"));

} // namespace quobin
