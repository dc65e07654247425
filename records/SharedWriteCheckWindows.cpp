#include "SharedWriteCheck.h"

namespace quobin::records {

// A Windows folder's access list is not told by the mode bits that Qt
// reports: records folders there live under the user's own profile.
QString writableByOthers(const QString &)
{
    return {};
}

} // namespace quobin::records
