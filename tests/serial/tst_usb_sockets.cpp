#include "FakeSocketTree.h"
#include "Pty.h"
#include "UsbSocketTree.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

// The sockets of a bench, read in a tree laid out as Linux lays it out:
// udev's by-path links and sysfs, with adapters that swap places.
class TestUsbSockets : public QObject {
    Q_OBJECT

private slots:
    // Two adapters swap sockets, and the kernel numbers them the other way
    // round: each socket leads to the adapter that is in it now, with its
    // own serial number, with udev's links and without them.
    void aSocketLeadsToWhicheverAdapterIsInIt()
    {
        QTemporaryDir folder;
        FakeSocketTree bench(folder.path());
        Pty first;
        Pty second;
        for (const bool udev : {true, false}) {
            bench.plug(QStringLiteral("1.4"), QStringLiteral("ttyUSB0"), QStringLiteral("A7"), first.path(), udev);
            bench.plug(QStringLiteral("1.5"), QStringLiteral("ttyUSB1"), QStringLiteral("B9"), second.path(), udev);
            const UsbSocketTree tree(folder.path());
            const QString socket7 = bench.socket(QStringLiteral("1.4"));
            const QString socket8 = bench.socket(QStringLiteral("1.5"));

            SocketContent seven = tree.contentOf(socket7);
            QCOMPARE(QFileInfo(seven.device).canonicalFilePath(), first.path());
            QCOMPARE(seven.kernelName, QStringLiteral("ttyUSB0"));
            QCOMPARE(seven.usbSerial, QStringLiteral("A7"));
            QVERIFY(seven.notSerial.isEmpty());
            QCOMPARE(tree.contentOf(socket8).usbSerial, QStringLiteral("B9"));
            // Only udev's links tell which socket a device is in.
            QCOMPARE(tree.socketOf(second.path()), udev ? socket8 : QString());

            bench.pull(QStringLiteral("1.4"));
            bench.pull(QStringLiteral("1.5"));
            QVERIFY(tree.contentOf(socket7).empty());
            bench.plug(QStringLiteral("1.5"), QStringLiteral("ttyUSB0"), QStringLiteral("A7"), first.path(), udev);
            bench.plug(QStringLiteral("1.4"), QStringLiteral("ttyUSB1"), QStringLiteral("B9"), second.path(), udev);

            seven = tree.contentOf(socket7);
            QCOMPARE(QFileInfo(seven.device).canonicalFilePath(), second.path());
            QCOMPARE(seven.kernelName, QStringLiteral("ttyUSB1"));
            QCOMPARE(seven.usbSerial, QStringLiteral("B9"));
            QCOMPARE(QFileInfo(tree.contentOf(socket8).device).canonicalFilePath(), first.path());
            QCOMPARE(tree.socketOf(first.path()), udev ? socket8 : QString());
            bench.pull(QStringLiteral("1.4"));
            bench.pull(QStringLiteral("1.5"));
        }
    }

    // A socket that holds a USB device of another kind is told as such,
    // with what the device says it is; an empty one holds nothing.
    void aSocketWithSomethingElseInItIsTold()
    {
        QTemporaryDir folder;
        FakeSocketTree bench(folder.path());
        bench.plugOther(QStringLiteral("1.6"), QStringLiteral("Cruzer Blade"), QStringLiteral("0781"), QStringLiteral("5567"));
        const UsbSocketTree tree(folder.path());
        const SocketContent other = tree.contentOf(bench.socket(QStringLiteral("1.6")));
        QVERIFY(other.device.isEmpty());
        QCOMPARE(other.notSerial, QStringLiteral("the socket %1 holds Cruzer Blade (0781:5567), which is not a serial adapter")
                                      .arg(bench.socket(QStringLiteral("1.6"))));
        QVERIFY(tree.contentOf(bench.socket(QStringLiteral("1.7"))).empty());
        // Another host controller's socket of the same ports is another socket.
        QVERIFY(tree.contentOf(folder.filePath(QStringLiteral("dev/serial/by-path/pci-0000:00:1d.0-usb-0:1.6:1.0-port0"))).empty());
    }

    // A socket's name carries its tree: the root above dev/serial/by-path;
    // a comN link to a socket stands for that socket.
    void aSocketNameCarriesItsTree()
    {
        QVERIFY(UsbSocketTree::namesSocket(QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0-port0")));
        QVERIFY(!UsbSocketTree::namesSocket(QStringLiteral("/dev/serial/by-id/usb-FTDI_A7-if00-port0")));
        QVERIFY(!UsbSocketTree::namesSocket(QStringLiteral("/dev/ttyUSB0")));
        QVERIFY(!UsbSocketTree::namesSocket(QStringLiteral("rfc2217://127.0.0.1:2217")));
        QCOMPARE(UsbSocketTree::of(QStringLiteral("/dev/serial/by-path/x")).root(), QStringLiteral("/"));
        QCOMPARE(UsbSocketTree::of(QStringLiteral("/tmp/bench/dev/serial/by-path/x")).root(), QStringLiteral("/tmp/bench"));
        QCOMPARE(UsbSocketTree::of(QStringLiteral("/dev/ttyUSB0")).root(), QStringLiteral("/"));

        QTemporaryDir folder;
        FakeSocketTree bench(folder.path());
        const QString socket = bench.socket(QStringLiteral("2.1"));
        QVERIFY(QFile::link(socket, folder.filePath(QStringLiteral("com3"))));
        QCOMPARE(UsbSocketTree::socketBehind(folder.filePath(QStringLiteral("com3"))), socket);
        QCOMPARE(UsbSocketTree::socketBehind(socket), socket);
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), folder.filePath(QStringLiteral("com4"))));
        QVERIFY(UsbSocketTree::socketBehind(folder.filePath(QStringLiteral("com4"))).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUsbSockets)
#include "tst_usb_sockets.moc"
