#include "SerialLineCheck.h"

namespace quobin {

// On Windows a port is reached by its COM name alone (\\.\COMn), which can
// name nothing but a communications device: there is no file, terminal or
// other device to mistake for one.
QString notASerialLine(const QString &)
{
    return {};
}

} // namespace quobin
