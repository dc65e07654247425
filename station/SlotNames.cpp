#include "SlotNames.h"

#include "NetworkPortAddress.h"
#include "PortNames.h"
#include "SerialError.h"

#include <QFileInfo>

namespace quobin::station {

SlotAddress slotNamed(const QString &text, const QStringList &linkFolders)
{
    if (const int number = comNumberNamed(text); number >= 0) {
        if (number < 1 || number > 32767)
            throw SlotNameError(QStringLiteral("there is no port Com %1").arg(number));
        const PortMapping mapping = portMappingFor(qint16(number), linkFolders);
        return {QStringLiteral("Com %1").arg(number), mapping.link.isEmpty() ? mapping.device : mapping.link};
    }
    // A serial server's line is named by its address, in one spelling.
    if (NetworkPortAddress::names(text)) {
        try {
            const QString address = NetworkPortAddress::parse(text).name();
            return {address, address};
        } catch (const SerialError &error) {
            throw SlotNameError(QString::fromStdString(error.what()));
        }
    }
    // A device that is not there yet is waited for; but a name that is no
    // path at all is a mistake.
    if (!text.contains(QLatin1Char('/')) && !QFileInfo::exists(text))
        throw SlotNameError(QStringLiteral("'%1' is neither a Com name (\"Com 3\", \"com3\", \"3\") nor a "
                                           "device path")
                                .arg(text));
    return {text, QFileInfo(text).absoluteFilePath()};
}

} // namespace quobin::station
