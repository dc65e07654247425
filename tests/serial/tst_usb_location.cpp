#include "PortDescription.h"
#include "SlotNames.h"
#include "UsbLocation.h"

#include <QTest>

using namespace quobin;

// The USB socket of a port as Windows reports it, read from the texts that
// SetupAPI gives (the same on every system), and a slot named by it.
class TestUsbLocation : public QObject {
    Q_OBJECT

private slots:
    void aSocketIsReadFromWhatWindowsReports_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("information");
        QTest::addColumn<QString>("socket");
        QTest::addColumn<QString>("shortName");
        // SPDRP_LOCATION_PATHS holds the PCI root's path and the ACPI one:
        // the PCI root's is taken, in one spelling.
        QTest::newRow("an FTDI adapter behind a hub")
            << QStringList{QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)"),
                           QStringLiteral("ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS01)#USB(4)")}
            << QString() << QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)") << QStringLiteral("socket 1.4");
        QTest::newRow("the ACPI path first, in lower case")
            << QStringList{QStringLiteral("acpi(_sb_)#acpi(pci0)#acpi(xhc_)#usb(4)"),
                           QStringLiteral(" pciroot(0)#pci(1400)#usbroot(0)#usb(3)#usb(2)#usb(7) ")}
            << QString() << QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)#USB(7)") << QStringLiteral("socket 3.2.7");
        QTest::newRow("a CDC adapter's second interface")
            << QStringList{QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(8)#USBMI(2)")}
            << QString() << QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(8)#USBMI(2)") << QStringLiteral("socket 2.8 if 2");
        QTest::newRow("only the ACPI path")
            << QStringList{QStringLiteral("ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)#USB(2)")}
            << QString() << QStringLiteral("ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)#USB(2)") << QStringLiteral("socket 3.2");
        // The location information when no path is told: hubs numbered as
        // they appear, taken only then.
        QTest::newRow("no path, a hub's port") << QStringList() << QStringLiteral("Port_#0004.Hub_#0003")
                                               << QStringLiteral("Port_#0004.Hub_#0003") << QStringLiteral("hub 3 port 4");
        // A board's own port and Wine's have no USB socket.
        QTest::newRow("a port on the board") << QStringList{QStringLiteral("ACPI(_SB_)#ACPI(PCI0)#ACPI(LPCB)#ACPI(UAR1)")}
                                             << QStringLiteral("on the board") << QString() << QString();
        QTest::newRow("a damaged path") << QStringList{QStringLiteral("PCIROOT(0)#USB(4"), QStringLiteral("#")}
                                        << QStringLiteral("Port_#00x4.Hub_#0003") << QString() << QString();
        QTest::newRow("nothing told") << QStringList() << QString() << QString() << QString();
    }

    void aSocketIsReadFromWhatWindowsReports()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, information);
        QFETCH(QString, socket);
        QFETCH(QString, shortName);
        QString found = UsbLocation::fromLocationPaths(paths);
        if (found.isEmpty() && paths.isEmpty())
            found = UsbLocation::fromLocationInformation(information);
        QCOMPARE(found, socket);
        if (socket.isEmpty())
            return;
        QCOMPARE(UsbLocation::shortName(socket), shortName);
        QCOMPARE(UsbLocation::namesSocket(socket), !socket.startsWith(QLatin1String("Port_")));
    }

    // Two adapters swap sockets: each socket leads to the COM port of the
    // adapter in it now; a port's device names are never taken for sockets.
    void aSocketLeadsToTheAdapterInItNow()
    {
        const QString seven = QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(7)");
        const QString eight = QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(8)");
        auto adapter = [](const QString &com, const QString &serial, const QString &socket) {
            DeviceDescription d;
            d.device = com;
            d.serialNumber = serial;
            d.socket = socket;
            return d;
        };
        QList<DeviceDescription> bench{adapter(QStringLiteral("COM5"), QStringLiteral("A7"), seven),
                                       adapter(QStringLiteral("COM6"), QStringLiteral("B9"), eight),
                                       adapter(QStringLiteral("COM1"), {}, {})};
        QCOMPARE(deviceInListedSocket(seven, bench), QStringLiteral("COM5"));
        QCOMPARE(deviceInListedSocket(eight.toLower(), bench), QStringLiteral("COM6"));
        // Swapped, and Windows numbers them the other way round.
        bench[0].socket = eight;
        bench[1].socket = seven;
        QCOMPARE(deviceInListedSocket(seven, bench), QStringLiteral("COM6"));
        bench.removeAt(1);  // pulled out
        QCOMPARE(deviceInListedSocket(seven, bench), QString());
        for (const QString &device : {QStringLiteral("COM5"), QStringLiteral("\\\\.\\COM12"), QStringLiteral("/dev/ttyUSB0"),
                                      QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0-port0"),
                                      QStringLiteral("rfc2217://127.0.0.1:4001")})
            QVERIFY2(!UsbLocation::namesSocket(device), qPrintable(device));
    }

    // A slot named by such a socket on the system that reports them: the
    // socket, in one spelling, found again at every open (Wine's ports are
    // in no USB socket, so nothing is in it). Elsewhere the name is refused.
    void aSlotIsNamedBySocket()
    {
        const QString socket = QStringLiteral("pciroot(0)#pci(1400)#usbroot(0)#usb(1)#usb(7)");
        if (!portListTellsSockets()) {
            QVERIFY_THROWS_EXCEPTION(station::SlotNameError, station::slotNamed(socket, {}));
            return;
        }
        const station::SlotAddress address = station::slotNamed(socket, {});
        QCOMPARE(address.label, socket.toUpper());
        QCOMPARE(address.path, socket.toUpper());
        QCOMPARE(station::deviceReachedBy(address.path), QString());
        for (const DeviceDescription &d : presentSerialDevices())
            QVERIFY2(d.socket.isEmpty() || UsbLocation::namesSocket(d.socket) || d.socket.startsWith(QLatin1String("Port_")),
                     qPrintable(d.socket));
    }
};

QTEST_GUILESS_MAIN(TestUsbLocation)
#include "tst_usb_location.moc"
