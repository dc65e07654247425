// `quobin-cli ports` and `quobin-cli link` on a folder of links: the built
// program copied into a folder of the test's own, so that folder is where it
// keeps its links, as a portable folder does.

#include "CliRun.h"
#include "Command.h"
#include "FakeSocketTree.h"
#include "LinkCommand.h"
#include "PortsReport.h"
#include "Pty.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quobin;
using namespace quobin::cli;
using namespace quobin::testing;

class TestCliPorts : public QObject {
    Q_OBJECT

private slots:
    void init();

    void linkMapsAndReplaces();
    void linkRefusesWhatIsNoDevice_data();
    void linkRefusesWhatIsNoDevice();
    void portsShowsLinksDefaultsAndDanglingLinks();
    void portsHintsAtTheGroupForAPortTheUserMayNotOpen();
    void devicesNoComReachesAreOfferedAFreeNumber();
    void everyNumberTaken();
    void portsShowTheAdapterAndTheSocket();
    void linkInTheUserFolderWhenTheProgramFolderIsNotWritable();
    void windowToolTipText();

private:
    CliRun cli(const QStringList &arguments) const;
    QString linkPath(int number) const { return m_folder->filePath(QStringLiteral("com%1").arg(number)); }
    QJsonObject portsJson() const;

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_program;
};

void TestCliPorts::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_program = m_folder->filePath(QStringLiteral("quobin-cli"));
    QVERIFY(QFile::copy(QStringLiteral(QUOBIN_CLI), m_program));
    QVERIFY(QFile::setPermissions(m_program, QFile::permissions(m_program) | QFile::ExeOwner | QFile::ExeGroup
                                                 | QFile::ExeOther | QFile::ReadOther));
}

CliRun TestCliPorts::cli(const QStringList &arguments) const
{
    return runProgram(m_program, arguments);
}

QJsonObject TestCliPorts::portsJson() const
{
    const CliRun run = cli({QStringLiteral("ports"), QStringLiteral("--json")});
    if (run.status != 0)
        return {};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
    return error.error == QJsonParseError::NoError ? document.object() : QJsonObject{};
}

void TestCliPorts::linkMapsAndReplaces()
{
    Pty first;
    Pty second;

    CliRun run = cli({QStringLiteral("link"), QStringLiteral("3"), first.path()});
    QCOMPARE(run.status, 0);
    QCOMPARE(QFileInfo(linkPath(3)).symLinkTarget(), first.path());
    QVERIFY2(run.out.contains(QStringLiteral("Com 3  %1  (link %2)").arg(first.path(), linkPath(3))), qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("present; this user may open it")), qPrintable(run.out));

    // The same port again, named as the window names it: the link is replaced.
    run = cli({QStringLiteral("link"), QStringLiteral("Com 3"), second.path()});
    QCOMPARE(run.status, 0);
    QCOMPARE(QFileInfo(linkPath(3)).symLinkTarget(), second.path());
    QVERIFY2(run.out.contains(QStringLiteral("Com 3  %1  (link").arg(second.path())), qPrintable(run.out));
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::System | QDir::Files).size(), 2);  // the program and com3

    // A link to a link keeps the name given: a stable by-id name stays stable.
    const QString alias = m_folder->filePath(QStringLiteral("stable-name"));
    QVERIFY(QFile::link(first.path(), alias));
    run = cli({QStringLiteral("link"), QStringLiteral("com8"), alias});
    QCOMPARE(run.status, 0);
    QCOMPARE(QFileInfo(linkPath(8)).canonicalFilePath(), first.path());
    char target[256] = {};
    QVERIFY(::readlink(QFile::encodeName(linkPath(8)).constData(), target, sizeof target - 1) > 0);
    QCOMPARE(QString::fromLocal8Bit(target), alias);
}

void TestCliPorts::linkRefusesWhatIsNoDevice_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("message");

    QTest::newRow("a regular file") << QStringLiteral("2") << QStringLiteral("@file")
                                    << QStringLiteral("is not a character device");
    QTest::newRow("a folder") << QStringLiteral("2") << QStringLiteral("@folder")
                              << QStringLiteral("is not a character device");
    // The system's reason comes in the desktop's language: only the path is
    // the same everywhere.
    QTest::newRow("nothing there") << QStringLiteral("2") << QStringLiteral("/dev/no-such-device")
                                   << QStringLiteral("/dev/no-such-device: ");
    // Character devices, but no serial lines: the controller's commands
    // would vanish, or land on the operator's own screen.
    QTest::newRow("/dev/null") << QStringLiteral("2") << QStringLiteral("/dev/null")
                               << QStringLiteral("/dev/null is not a serial line");
    QTest::newRow("/dev/zero") << QStringLiteral("2") << QStringLiteral("/dev/zero")
                               << QStringLiteral("/dev/zero is not a serial line");
    QTest::newRow("/dev/tty") << QStringLiteral("2") << QStringLiteral("/dev/tty")
                              << QStringLiteral("/dev/tty is a terminal of the system, not a serial line");
    QTest::newRow("port 0") << QStringLiteral("0") << QStringLiteral("@pty") << QStringLiteral("not a port number from 1 to 8");
    QTest::newRow("port 9") << QStringLiteral("9") << QStringLiteral("@pty") << QStringLiteral("not a port number from 1 to 8");
    QTest::newRow("not a number") << QStringLiteral("three") << QStringLiteral("@pty")
                                  << QStringLiteral("not a port number from 1 to 8");
    QTest::newRow("comN is a file") << QStringLiteral("5") << QStringLiteral("@pty")
                                    << QStringLiteral("com5 is there and is not a link");
}

void TestCliPorts::linkRefusesWhatIsNoDevice()
{
    QFETCH(QString, number);
    QFETCH(QString, device);
    QFETCH(QString, message);

    Pty pty;
    // Com 2 already means the pty; a refused link leaves it so.
    QVERIFY(QFile::link(pty.path(), linkPath(2)));
    QFile plain(linkPath(5));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QFile file(m_folder->filePath(QStringLiteral("firmware.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    if (device == QLatin1String("@file"))
        device = file.fileName();
    else if (device == QLatin1String("@folder"))
        device = m_folder->path();
    else if (device == QLatin1String("@pty"))
        device = pty.path();

    const CliRun run = cli({QStringLiteral("link"), number, device});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(QFileInfo(linkPath(2)).symLinkTarget(), pty.path());
    QVERIFY(!QFileInfo(linkPath(5)).isSymLink());
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::System | QDir::Files).size(), 4);
}

void TestCliPorts::portsShowsLinksDefaultsAndDanglingLinks()
{
    Pty pty;
    QCOMPARE(cli({QStringLiteral("link"), QStringLiteral("2"), pty.path()}).status, 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/gone-adapter"), linkPath(6)));
    // Named like links, but no serial lines: each is reported as what it is.
    QFile plain(linkPath(7));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(QDir().mkdir(linkPath(8)));

    const QJsonObject json = portsJson();
    QCOMPARE(json.value(QStringLiteral("linkFolder")).toString(), m_folder->path());
    const QJsonArray ports = json.value(QStringLiteral("ports")).toArray();
    QCOMPARE(ports.size(), 8);
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(ports[n - 1].toObject().value(QStringLiteral("port")).toString(), QStringLiteral("Com %1").arg(n));

    const QJsonObject com2 = ports[1].toObject();
    QCOMPARE(com2.value(QStringLiteral("device")).toString(), pty.path());
    QCOMPARE(com2.value(QStringLiteral("mappedBy")).toString(), QStringLiteral("link"));
    QCOMPARE(com2.value(QStringLiteral("link")).toString(), linkPath(2));
    QCOMPARE(com2.value(QStringLiteral("exists")).toBool(), true);
    QCOMPARE(com2.value(QStringLiteral("mayOpen")).toBool(), ::geteuid() == 0 || ::access(QFile::encodeName(pty.path()), R_OK | W_OK) == 0);
    QVERIFY(com2.value(QStringLiteral("usb")).isNull());  // a pseudo-terminal tells nothing of itself

    const QJsonObject com4 = ports[3].toObject();
    QCOMPARE(com4.value(QStringLiteral("device")).toString(), QStringLiteral("/dev/ttyS3"));
    QCOMPARE(com4.value(QStringLiteral("mappedBy")).toString(), QStringLiteral("default"));
    QVERIFY(com4.value(QStringLiteral("link")).isNull());

    const QJsonObject com6 = ports[5].toObject();
    QCOMPARE(com6.value(QStringLiteral("exists")).toBool(), false);
    QCOMPARE(com6.value(QStringLiteral("linkTarget")).toString(), QStringLiteral("/dev/gone-adapter"));

    QCOMPARE(ports[6].toObject().value(QStringLiteral("notSerial")).toString(),
             linkPath(7) + QStringLiteral(" is a regular file, not a serial device"));
    QCOMPARE(ports[7].toObject().value(QStringLiteral("notSerial")).toString(),
             linkPath(8) + QStringLiteral(" is a folder, not a serial device"));
    QVERIFY(com2.value(QStringLiteral("notSerial")).isNull());

    const CliRun text = cli({QStringLiteral("ports")});
    QCOMPARE(text.status, 0);
    QVERIFY2(text.out.contains(QStringLiteral("Com 7  %1  (link %1)\n       %1 is a regular file, not a serial device\n")
                                   .arg(linkPath(7))),
             qPrintable(text.out));
    QVERIFY2(text.out.contains(QStringLiteral("Com 8  %1  (link %1)\n       %1 is a folder, not a serial device\n")
                                   .arg(linkPath(8))),
             qPrintable(text.out));
    QVERIFY2(text.out.contains(QStringLiteral("Com 2  %1  (link %2)\n").arg(pty.path(), linkPath(2))), qPrintable(text.out));
    QVERIFY2(text.out.contains(QStringLiteral("Com 4  /dev/ttyS3  (default)\n")), qPrintable(text.out));
    QVERIFY2(text.out.contains(QStringLiteral("missing: the link leads to /dev/gone-adapter, which is not there")),
             qPrintable(text.out));

    QCOMPARE(cli({QStringLiteral("ports"), QStringLiteral("--yaml")}).status, 2);
}

// Root may open anything, so the hint is looked for as an unprivileged user.
// Joining the device's group is advised only when that group may read and
// write it.
void TestCliPorts::portsHintsAtTheGroupForAPortTheUserMayNotOpen()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run the program as another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is needed to run the program as another user");
    const struct group *dialout = ::getgrnam("dialout");
    QVERIFY2(dialout, "the group dialout is needed");
    Pty pty;
    const QByteArray device = QFile::encodeName(pty.path());
    QVERIFY(::chown(device.constData(), 0, dialout->gr_gid) == 0);
    QVERIFY(QFile::link(pty.path(), linkPath(1)));
    QVERIFY(QFile::setPermissions(m_folder->path(), QFile::permissions(m_folder->path()) | QFile::ExeOther
                                                        | QFile::ReadOther));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent"));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    const auto portsAsNobody = [&] {
        return runProgram(setpriv,
                          {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"), m_program, QStringLiteral("ports")},
                          env);
    };

    QVERIFY(::chmod(device.constData(), 0660) == 0);
    CliRun run = portsAsNobody();
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Com 1  %1  (link %2)\n       present; this user may not open it: join the "
                                             "dialout group (sudo usermod -aG dialout \"$USER\") and log in again\n")
                                  .arg(pty.path(), linkPath(1))),
             qPrintable(run.out + run.err));
    // The folder is not the user's to write: new links would go to the per-user folder.
    QVERIFY2(run.out.contains(QStringLiteral("new links are made in /nonexistent/.config/quobin.")), qPrintable(run.out));

    // Root's alone: no group would help, and none is named.
    QVERIFY(::chmod(device.constData(), 0600) == 0);
    run = portsAsNobody();
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Com 1  %1  (link %2)\n       present; this user may not open it "
                                             "(permission denied: %1 belongs to user root and group dialout, mode 0600)\n")
                                  .arg(pty.path(), linkPath(1))),
             qPrintable(run.out + run.err));
    QVERIFY(!run.out.contains(QStringLiteral("usermod")));
}

void TestCliPorts::devicesNoComReachesAreOfferedAFreeNumber()
{
    Pty linked;
    Pty loose;
    Pty described;
    QTemporaryDir byId;
    const QString stable = byId.filePath(QStringLiteral("usb-Maker_Bench_Adapter_B7-if00-port0"));
    QVERIFY(QFile::link(loose.path(), stable));
    QVERIFY(QFile::link(linked.path(), linkPath(1)));

    DeviceDescription adapter{linked.path(), QStringLiteral("Maker"), QStringLiteral("Bench Adapter"),
                              QStringLiteral("A7"), quint16(0x0403), quint16(0x6001)};
    DeviceDescription other{loose.path(), QStringLiteral("Maker"), QStringLiteral("Bench Adapter"),
                            QStringLiteral("B7"), quint16(0x0403), quint16(0x6015)};
    DeviceDescription bare{described.path(), {}, {}, {}, {}, {}};
    const StorageFolders folders{m_folder->path(), m_folder->filePath(QStringLiteral("user")), true};
    const PortsReport report = gatherPorts(folders, {{adapter, other, bare}, byId.path()});

    QCOMPARE(report.ports.size(), 8);
    QVERIFY(report.ports[0].usb);
    QCOMPARE(report.ports[0].usb->text(), QStringLiteral("Maker Bench Adapter, serial A7, 0403:6001"));
    QCOMPARE(report.unreached.size(), 2);
    QCOMPARE(report.unreached[0].stableName, stable);
    QCOMPARE(report.unreached[0].suggestedNumber, 2);  // Com 1 is taken by its link
    QCOMPARE(report.unreached[1].stableName, described.path());  // no by-id name
    QCOMPARE(report.unreached[1].suggestedNumber, 3);

    const QString text = portsText(report);
    QVERIFY2(text.contains(QStringLiteral("Com 1  %1  (link %2)\n       present; this user may open it\n"
                                          "       Maker Bench Adapter, serial A7, 0403:6001\n")
                               .arg(linked.path(), linkPath(1))),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Serial devices that no Com n reaches yet:\n  %1\n    %2; Maker Bench Adapter, "
                                          "serial B7, 0403:6015\n    to use it as Com 2: %3\n")
                               .arg(stable, loose.path(), linkCommandFor(2, stable))),
             qPrintable(text));

    const QJsonObject json = cli::portsJson(report);
    const QJsonObject first = json.value(QStringLiteral("unreached")).toArray().at(0).toObject();
    QCOMPARE(first.value(QStringLiteral("name")).toString(), stable);
    QCOMPARE(first.value(QStringLiteral("command")).toString(), linkCommandFor(2, stable));
    const QJsonObject usb = first.value(QStringLiteral("usb")).toObject();
    QCOMPARE(usb.value(QStringLiteral("serialNumber")).toString(), QStringLiteral("B7"));
    QCOMPARE(usb.value(QStringLiteral("vendorId")).toString(), QStringLiteral("0403"));
    QCOMPARE(usb.value(QStringLiteral("productId")).toString(), QStringLiteral("6015"));
    QVERIFY(json.value(QStringLiteral("unreached")).toArray().at(1).toObject().value(QStringLiteral("usb")).isNull());

    QCOMPARE(linkCommandFor(4, QStringLiteral("/dev/serial/by-id/odd name's")),
             QStringLiteral("quobin-cli link 4 '/dev/serial/by-id/odd name'\\''s'"));
}

// Each port's adapter (its by-id name, its serial number) and the socket it
// is plugged into; a Com linked to a socket follows the adapters swapped in it.
void TestCliPorts::portsShowTheAdapterAndTheSocket()
{
    QTemporaryDir root;
    FakeSocketTree bench(root.path());
    Pty first;
    Pty second;
    bench.plug(QStringLiteral("1.4"), QStringLiteral("ttyUSB0"), QStringLiteral("A7"), first.path());
    bench.plug(QStringLiteral("1.5"), QStringLiteral("ttyUSB1"), QStringLiteral("B9"), second.path());
    const QString socket7 = bench.socket(QStringLiteral("1.4"));
    const QString socket8 = bench.socket(QStringLiteral("1.5"));
    QTemporaryDir byId;
    const QString adapter = byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_B9-if00-port0"));
    QVERIFY(QFile::link(root.filePath(QStringLiteral("dev/ttyUSB1")), adapter));

    // link takes the socket's name as it is, and keeps it.
    const CliRun linked = cli({QStringLiteral("link"), QStringLiteral("1"), socket7});
    QCOMPARE(linked.status, 0);
    QCOMPARE(QFileInfo(linkPath(1)).symLinkTarget(), socket7);

    const StorageFolders folders{m_folder->path(), m_folder->filePath(QStringLiteral("user")), true};
    const DeviceDescription loose{second.path(), QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"),
                                  QStringLiteral("B9"), quint16(0x0403), quint16(0x6001)};
    PortsReport report = gatherPorts(folders, {{loose}, byId.path(), root.path()});
    QCOMPARE(report.ports[0].mapping.device, first.path());
    QCOMPARE(report.ports[0].socket, socket7);
    QVERIFY(report.ports[0].usb);
    QCOMPARE(report.ports[0].usb->serialNumber, QStringLiteral("A7"));
    QCOMPARE(report.unreached.size(), 1);
    QCOMPARE(report.unreached[0].stableName, adapter);
    QCOMPARE(report.unreached[0].socket, socket8);
    const QString text = portsText(report);
    QVERIFY2(text.contains(QStringLiteral("socket %1\n").arg(socket7)), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("    socket %1\n    to use it as Com 2: %2\n"
                                          "    or, to name the socket whatever adapter is in it: %3\n")
                               .arg(socket8, linkCommandFor(2, adapter), linkCommandFor(2, socket8))),
             qPrintable(text));
    const QJsonObject json = cli::portsJson(report);
    QCOMPARE(json.value(QStringLiteral("ports")).toArray().at(0).toObject().value(QStringLiteral("socket")).toString(), socket7);
    QCOMPARE(json.value(QStringLiteral("unreached")).toArray().at(0).toObject().value(QStringLiteral("socket")).toString(), socket8);

    // The adapters swap sockets: Com 1 is still socket 7, now with the other adapter.
    bench.pull(QStringLiteral("1.4"));
    bench.pull(QStringLiteral("1.5"));
    bench.plug(QStringLiteral("1.4"), QStringLiteral("ttyUSB1"), QStringLiteral("B9"), second.path());
    bench.plug(QStringLiteral("1.5"), QStringLiteral("ttyUSB0"), QStringLiteral("A7"), first.path());
    report = gatherPorts(folders, {{}, byId.path(), root.path()});
    QCOMPARE(report.ports[0].mapping.device, second.path());
    QCOMPARE(report.ports[0].socket, socket7);
    QCOMPARE(report.ports[0].usb->serialNumber, QStringLiteral("B9"));
    QCOMPARE(report.ports[0].adapterName, adapter);
}

void TestCliPorts::everyNumberTaken()
{
    Pty pty;
    Pty loose;
    for (int n = 1; n <= 8; ++n)
        QVERIFY(QFile::link(pty.path(), linkPath(n)));
    const StorageFolders folders{m_folder->path(), m_folder->filePath(QStringLiteral("user")), true};
    DeviceDescription device;
    device.device = loose.path();
    const PortsReport report = gatherPorts(folders, {{device}, QStringLiteral("/nonexistent")});
    QCOMPARE(report.unreached.size(), 1);
    QCOMPARE(report.unreached[0].suggestedNumber, 0);
    QVERIFY2(portsText(report).contains(QStringLiteral("every Com n is taken; to replace one: quobin-cli link N ")
                                        + loose.path()),
             qPrintable(portsText(report)));
}

// A system install: links go to the per-user folder, and one beside the
// program still comes first.
void TestCliPorts::linkInTheUserFolderWhenTheProgramFolderIsNotWritable()
{
    Pty pty;
    Pty other;
    const QString userFolder = m_folder->filePath(QStringLiteral("config/quobin"));
    const CliContext context{StorageFolders{m_folder->path(), userFolder, false}};

    QCOMPARE(LinkCommand(context).run({QStringLiteral("4"), pty.path()}), int(ExitSuccess));
    QCOMPARE(QFileInfo(QDir(userFolder).filePath(QStringLiteral("com4"))).symLinkTarget(), pty.path());
    QVERIFY(!QFileInfo::exists(linkPath(4)));

    QVERIFY(QFile::link(other.path(), linkPath(5)));
    QCOMPARE(LinkCommand(context).run({QStringLiteral("5"), pty.path()}), int(ExitFailed));
    QCOMPARE(QFileInfo(QDir(userFolder).filePath(QStringLiteral("com5"))).symLinkTarget(), pty.path());
    QCOMPARE(portMappingFor(5, context.folders.linkFolders()).device, other.path());
}

// What the window's port list shows for "Com n".
void TestCliPorts::windowToolTipText()
{
    Pty pty;
    QVERIFY(QFile::link(pty.path(), linkPath(3)));
    QVERIFY(QFile::link(QStringLiteral("/dev/gone-adapter"), linkPath(4)));
    QVERIFY(QFile::link(QStringLiteral("rfc2217://127.0.0.1:2000"), linkPath(5)));
    const QStringList folders{m_folder->path()};
    QCOMPARE(describePort(5, folders),
             QStringLiteral("rfc2217://127.0.0.1:2000 (link %1)\na serial server on the network (RFC 2217); "
                            "reached when the port opens").arg(linkPath(5)));
    QCOMPARE(describePort(3, folders), QStringLiteral("%1 (link %2)").arg(pty.path(), linkPath(3)));
    QCOMPARE(describePort(4, folders), QStringLiteral("%1 leads to /dev/gone-adapter\nmissing").arg(linkPath(4)));
    QVERIFY(describePort(8, folders).startsWith(QStringLiteral("/dev/ttyS7 (default)")));
}

QTEST_GUILESS_MAIN(TestCliPorts)
#include "tst_cli_ports.moc"
