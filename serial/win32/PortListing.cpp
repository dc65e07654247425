#include "PortDescription.h"
#include "PortNames.h"
#include "UsbLocation.h"

#include <QHash>
#include <QRegularExpression>

#include <vector>

#include <windows.h>
#include <setupapi.h>
#include <devguid.h>
#include <cfgmgr32.h>

namespace quobin {

namespace {

// The COM ports Windows knows: the values under HARDWARE\DEVICEMAP\SERIALCOMM,
// each a port name such as "COM3".
QStringList registeredComPorts()
{
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key)
        != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD valueNameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                          reinterpret_cast<LPBYTE>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataBytes / sizeof(wchar_t)] = 0;
        const QString name = QString::fromWCharArray(data).trimmed();
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    }
    RegCloseKey(key);
    return names;
}

QString deviceProperty(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property)
{
    wchar_t buffer[512];
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<PBYTE>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr)
        || type != REG_SZ)
        return {};
    buffer[511] = 0;
    return QString::fromWCharArray(buffer).trimmed();
}

// A property of a device node as text: a string, or a list of strings
// (REG_MULTI_SZ); empty when the node has none.
QStringList nodeProperty(DEVINST node, ULONG property)
{
    wchar_t buffer[2048];
    ULONG bytes = sizeof buffer - 2 * sizeof(wchar_t);
    ULONG type = 0;
    if (CM_Get_DevNode_Registry_PropertyW(node, property, &type, buffer, &bytes, 0) != CR_SUCCESS
        || (type != REG_SZ && type != REG_MULTI_SZ))
        return {};
    const qsizetype chars = qsizetype(bytes / sizeof(wchar_t));
    buffer[chars] = 0;
    buffer[chars + 1] = 0;
    QStringList values;
    for (const wchar_t *at = buffer; *at != 0 && at < buffer + chars; at += wcslen(at) + 1)
        values << QString::fromWCharArray(at);
    return values;
}

// The USB socket that a port's device is in: the location paths of the
// device, or of the nearest device above it that has any (a USB adapter's
// COM port is a child of the adapter's USB device, which the hub's port
// locates). The first node with paths decides, so a port that is no USB
// device (a board's own port, a virtual one) is never given the socket of
// some hub further up. Empty when Windows tells none (Wine's ports).
QString socketOfNode(DEVINST node)
{
    for (int level = 0; level < 4; ++level) {
        const QStringList paths = nodeProperty(node, CM_DRP_LOCATION_PATHS);
        if (!paths.isEmpty())
            return UsbLocation::fromLocationPaths(paths);
        const QStringList information = nodeProperty(node, CM_DRP_LOCATION_INFORMATION);
        if (!information.isEmpty()) {
            if (const QString socket = UsbLocation::fromLocationInformation(information.first()); !socket.isEmpty())
                return socket;
        }
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
            break;
        node = parent;
    }
    return {};
}

// What the Ports class of devices says of each COM port: its friendly name
// ("USB Serial Port (COM5)"), its maker, the vendor and product of a USB
// adapter, and the USB socket it is in. Ports with no device entry (Wine's, a virtual port) have none.
QHash<QString, DeviceDescription> describedPorts()
{
    QHash<QString, DeviceDescription> described;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return described;
    static const QRegularExpression usbIds(QStringLiteral("VID_([0-9A-F]{4})&PID_([0-9A-F]{4})(?:\\\\([^\\\\]+))?"),
                                           QRegularExpression::CaseInsensitiveOption);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[64];
        DWORD bytes = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<LPBYTE>(portName), &bytes)
                               == ERROR_SUCCESS
                           && type == REG_SZ;
        RegCloseKey(key);
        if (!named)
            continue;
        portName[bytes / sizeof(wchar_t)] = 0;
        const QString port = QString::fromWCharArray(portName).trimmed();
        DeviceDescription d;
        d.device = port;
        d.product = deviceProperty(set, device, SPDRP_FRIENDLYNAME);
        // "USB Serial Port (COM5)": the port's own name is said elsewhere.
        const QString suffix = QStringLiteral(" (%1)").arg(port);
        if (d.product.endsWith(suffix, Qt::CaseInsensitive))
            d.product.chop(suffix.size());
        if (d.product.isEmpty())
            d.product = deviceProperty(set, device, SPDRP_DEVICEDESC);
        d.manufacturer = deviceProperty(set, device, SPDRP_MFG);
        wchar_t instance[512];
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            instance[511] = 0;
            const QRegularExpressionMatch ids = usbIds.match(QString::fromWCharArray(instance));
            if (ids.hasMatch()) {
                d.vendorId = quint16(ids.captured(1).toUShort(nullptr, 16));
                d.productId = quint16(ids.captured(2).toUShort(nullptr, 16));
                const QString serial = ids.captured(3);
                // A serial number Windows made up itself holds '&'.
                if (!serial.isEmpty() && !serial.contains(QLatin1Char('&')))
                    d.serialNumber = serial;
            }
        }
        d.socket = socketOfNode(device.DevInst);
        described.insert(port.toUpper(), d);
    }
    SetupDiDestroyDeviceInfoList(set);
    return described;
}

constexpr int kProbedComPorts = 32;

int comNumber(const QString &name)
{
    return name.mid(3).toInt();
}

// The COM names that the system's device namespace holds now: every port
// that can be opened as \\.\COMn, USB adapters included while plugged in.
QStringList comDeviceNames()
{
    QStringList names;
    std::vector<wchar_t> buffer(65536);
    const DWORD length = QueryDosDeviceW(nullptr, buffer.data(), DWORD(buffer.size()));
    static const QRegularExpression comName(QStringLiteral("^COM\\d+$"), QRegularExpression::CaseInsensitiveOption);
    for (DWORD at = 0; at < length && buffer[at] != 0;) {
        const QString name = QString::fromWCharArray(buffer.data() + at);
        if (comName.match(name).hasMatch())
            names << name.toUpper();
        at += DWORD(name.size()) + 1;
    }
    return names;
}

} // namespace

bool portListTellsSockets()
{
    return true;
}

QList<DeviceDescription> presentSerialDevices()
{
    QStringList names = registeredComPorts();
    for (const QString &name : comDeviceNames()) {
        if (!names.contains(name, Qt::CaseInsensitive))
            names << name;
    }
    // Ports that neither lists (Wine's, made by links in dosdevices) are
    // found by a query-only open of the first numbers.
    for (int number = 1; number <= kProbedComPorts; ++number) {
        const QString name = QStringLiteral("COM%1").arg(number);
        if (!names.contains(name, Qt::CaseInsensitive) && serialDeviceExists(name))
            names << name;
    }
    const QHash<QString, DeviceDescription> described = describedPorts();
    for (auto it = described.cbegin(); it != described.cend(); ++it) {
        if (!names.contains(it.key(), Qt::CaseInsensitive))
            names << it.key();
    }
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return comNumber(a) < comNumber(b); });
    QList<DeviceDescription> devices;
    for (const QString &name : std::as_const(names)) {
        DeviceDescription d = described.value(name.toUpper());
        d.device = name.toUpper();
        devices.append(d);
    }
    return devices;
}

// A port is there when the system's device namespace holds its name; where
// that namespace does not list every port (Wine's COM ports made by links),
// when a query-only open finds it, or finds it held by another program.
bool serialDeviceExists(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || comNumberNamed(name) < 0)
        return false;
    wchar_t target[1024];
    if (QueryDosDeviceW(reinterpret_cast<LPCWSTR>(name.utf16()), target, 1024) != 0)
        return true;
    const QString path = QStringLiteral("\\\\.\\") + name;
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// The port's one name, "COMn", however it was spelt (com3, \\.\COM3).
QString presentSerialDevice(const QString &path)
{
    if (!serialDeviceExists(path))
        return {};
    const QString name = path.startsWith(QLatin1String("\\\\.\\")) ? path.mid(4) : path;
    return name.toUpper();
}

} // namespace quobin
