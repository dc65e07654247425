#include "FirmwareCheck.h"

#include "FirmwareFile.h"

namespace quobin {

bool FirmwareCheckReport::passed() const
{
    return !overLimit && problems.isEmpty() && (!hex || hasEndRecord);
}

FirmwareCheckReport checkFirmwareFile(const QString &path)
{
    // TODO: the HEX record checks.
    FirmwareFile file;
    file.open(path);
    FirmwareCheckReport report;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        ++report.lines;
        if (line.isEmpty())
            ++report.blankLines;
    }
    report.overLimit = report.lines > 32767;
    return report;
}

} // namespace quobin
