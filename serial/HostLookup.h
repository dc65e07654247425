#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

namespace quobin {

// The addresses of a host named by the operator, found within a bound and
// given up at once on cancel. The system's resolver blocks for as long as
// its own time-outs say (ten seconds and more for a name server that never
// answers), so the look-up runs on a thread of its own, which is left to
// finish by itself when the caller stops waiting. An address literal is
// taken as it stands, without a look-up.
//
// Throws SerialError saying what went wrong ("unknown host", "no answer
// within"), SerialCancelled when cancelRequested fires first.
QList<QHostAddress> lookUpHost(const QString &host, int limitMsecs, const std::function<bool()> &cancelRequested);

} // namespace quobin
