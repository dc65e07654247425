#pragma once

#include <QString>
#include <QtGlobal>

namespace quobin {

// The device behind "Com n". On Windows "COMn". Elsewhere a link named "comn"
// in the program's folder, when there is one, else /dev/ttyS(n-1), as PC
// serial ports have always been numbered on Linux. Throws SerialError for a
// number below 1 (no port selected).
QString portNameFor(qint16 number, const QString &programFolder);

} // namespace quobin
