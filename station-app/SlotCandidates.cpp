#include "SlotCandidates.h"

#include "PortDescription.h"
#include "PortNames.h"

#include <QDir>

namespace quobin {

QList<SlotCandidate> slotCandidates(const std::function<QString(int)> &describeComPort, const QString &byIdFolder)
{
    QList<SlotCandidate> candidates;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        QString description = describeComPort ? describeComPort(n) : QString();
        description.replace(QLatin1Char('\n'), QStringLiteral(", "));
        candidates.append({QStringLiteral("Com %1").arg(n), description});
    }
    const QList<DeviceDescription> devices = presentSerialDevices();
    const QDir folder(byIdFolder);
    const QStringList names = folder.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = folder.filePath(name);
        const auto device = describeDevice(path, devices);
        QString description = device ? device->device : QString();
        if (device && !device->text().isEmpty())
            description += QStringLiteral(", ") + device->text();
        candidates.append({path, description});
    }
    return candidates;
}

} // namespace quobin
