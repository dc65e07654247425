// The file of links that names "Com n" a serial server on Windows: links
// made, replaced and removed with every other line kept as it stood, a
// damaged file read for what it still holds and never rewritten into less,
// and the port names that the window, the command line and the station take
// from it (Windows only; on Linux the file means nothing and "Com n" stays
// what its comN link or /dev/ttyS(n-1) says). Built for both systems: the
// Windows build runs it under Wine.
#include "PortDescription.h"
#include "PortLinkFile.h"
#include "PortNames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quobin;

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TestPortLinkFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void linksAreMadeReplacedAndRemoved();
    void everyOtherLineIsKeptAsItStood();
    void aDamagedFileIsReadForWhatItHolds();
    void whatCannotBeReadIsNeverRewritten();
    void comPortsResolveThroughTheFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPortLinkFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPortLinkFile::linksAreMadeReplacedAndRemoved()
{
    // The per-user folder before the first link: made by the first write.
    const QString folder = m_dir->filePath(QStringLiteral("Roaming/Quobin"));
    const PortLinkFile file(folder);
    QCOMPARE(QFileInfo(file.path()).fileName(), QStringLiteral("quobin-links.txt"));
    QCOMPARE(file.target(3), QString());
    QVERIFY(file.read().problem.isEmpty());

    file.setLink(3, QStringLiteral("rfc2217://127.0.0.1:2000"));
    file.setLink(5, QStringLiteral("rfc2217://[::1]:2001"));
    QCOMPARE(file.target(3), QStringLiteral("rfc2217://127.0.0.1:2000"));
    QCOMPARE(file.target(5), QStringLiteral("rfc2217://[::1]:2001"));
    QCOMPARE(file.target(4), QString());
    // A note of what the file is, then one line per link, ended by CR LF.
    QByteArray text = contentsOf(file.path());
    QVERIFY2(text.startsWith("; Quobin: "), text.constData());
    QVERIFY2(text.endsWith("\r\ncom3=rfc2217://127.0.0.1:2000\r\ncom5=rfc2217://[::1]:2001\r\n"), text.constData());
    QCOMPARE(text.count('\n'), text.count("\r\n"));

    // Replaced where it stands.
    file.setLink(3, QStringLiteral("rfc2217://bench1.plant:2217"));
    text = contentsOf(file.path());
    QVERIFY2(text.endsWith("\r\ncom3=rfc2217://bench1.plant:2217\r\ncom5=rfc2217://[::1]:2001\r\n"), text.constData());
    QCOMPARE(file.read().links.size(), 2);

    QVERIFY(file.removeLink(3));
    QCOMPARE(file.target(3), QString());
    QCOMPARE(file.target(5), QStringLiteral("rfc2217://[::1]:2001"));
    const QByteArray afterRemove = contentsOf(file.path());
    QVERIFY(!file.removeLink(3));
    QCOMPARE(contentsOf(file.path()), afterRemove);

    // Written under another name and moved over the file: nothing else is
    // left in the folder.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("quobin-links.txt")});
    // Only a serial server's address is a link of this file.
    QVERIFY_THROWS_EXCEPTION(PortLinkFileError, file.setLink(4, QStringLiteral("COM4")));
    QCOMPARE(contentsOf(file.path()), afterRemove);
}

void TestPortLinkFile::everyOtherLineIsKeptAsItStood()
{
    const PortLinkFile file(m_dir->path());
    // As an operator's editor may leave it: a byte-order mark, LF line ends,
    // notes, blanks around "=", the name in capitals, a line of another
    // program, a port of another kind, a second link of one number, and no
    // line end at the end.
    const QByteArray lines[] = {
        "\xEF\xBB\xBF# bench 4, hall 3",
        "  COM4 =  rfc2217://127.0.0.1:4007  ",
        "",
        "; spare: com8=rfc2217://127.0.0.1:4008",
        "baud=57600",
        "com6=COM6",
        "com4=rfc2217://127.0.0.1:4009",
        "com2=rfc2217://127.0.0.1:4002",
    };
    QByteArray written;
    for (const QByteArray &line : lines)
        written += line + '\n';
    written.chop(1);
    writeFile(file.path(), written);

    const PortLinkFile::Contents contents = file.read();
    QVERIFY(contents.problem.isEmpty());
    QCOMPARE(contents.links.size(), 2);
    QCOMPARE(contents.links[0].number, 4);
    QCOMPARE(contents.links[0].target, QStringLiteral("rfc2217://127.0.0.1:4007"));
    QCOMPARE(contents.links[0].line, 2);
    QCOMPARE(contents.links[1].number, 2);
    QCOMPARE(contents.ignored.size(), 2);
    QCOMPARE(contents.ignored[0].line, 5);
    QCOMPARE(contents.ignored[0].text, QStringLiteral("baud=57600"));
    QCOMPARE(contents.ignored[1].line, 6);
    QCOMPARE(file.target(4), QStringLiteral("rfc2217://127.0.0.1:4007"));
    QCOMPARE(file.target(6), QString());
    QCOMPARE(file.target(8), QString());

    // A new link goes at the end; every line stands as it was.
    file.setLink(7, QStringLiteral("rfc2217://127.0.0.1:4070"));
    QByteArray expected;
    for (const QByteArray &line : lines)
        expected += line + "\r\n";
    QCOMPARE(contentsOf(file.path()), expected + "com7=rfc2217://127.0.0.1:4070\r\n");

    // Replacing Com 4 rewrites its first link and drops the second.
    file.setLink(4, QStringLiteral("rfc2217://127.0.0.1:4004"));
    const QList<QByteArray> rewritten = contentsOf(file.path()).split('\n');
    QCOMPARE(rewritten[1], QByteArray("com4=rfc2217://127.0.0.1:4004\r"));
    QVERIFY(!contentsOf(file.path()).contains("127.0.0.1:4009"));
    QCOMPARE(rewritten[0], lines[0] + '\r');
    QCOMPARE(file.read().links.size(), 3);
    // Removing Com 2 leaves the rest.
    QVERIFY(file.removeLink(2));
    QVERIFY(!contentsOf(file.path()).contains("com2="));
    QVERIFY(contentsOf(file.path()).contains("baud=57600\r\ncom6=COM6\r\n"));
}

void TestPortLinkFile::aDamagedFileIsReadForWhatItHolds()
{
    const PortLinkFile file(m_dir->path());
    // Half overwritten: zero bytes, bytes that are no UTF-8, a line cut off
    // in its address, and one whole link after them.
    static const char start[] = "\0\0\0\xff\xfe\x80garbage\r\n";
    const QByteArray firstLine(start, sizeof start - 1);
    const QByteArray damaged = firstLine + "com3=rfc2217://127.0\r\ncom\xff" "5=x\r\n\x01\x02\r\n"
                                           "com4=rfc2217://127.0.0.1:2004\r\n";
    writeFile(file.path(), damaged);

    const PortLinkFile::Contents contents = file.read();
    QVERIFY(contents.problem.isEmpty());
    // The cut-off address is still an rfc2217:// one: opening it says what
    // is wrong with it, as it does for a link on Linux.
    QCOMPARE(file.target(3), QStringLiteral("rfc2217://127.0"));
    QCOMPARE(file.target(4), QStringLiteral("rfc2217://127.0.0.1:2004"));
    QCOMPARE(file.target(5), QString());
    QCOMPARE(contents.ignored.size(), 3);

    // Rewritten, the damaged lines stay byte for byte.
    file.setLink(6, QStringLiteral("rfc2217://127.0.0.1:2006"));
    const QByteArray rewritten = contentsOf(file.path());
    QVERIFY(rewritten.startsWith(firstLine));
    QVERIFY(rewritten.contains("\r\ncom\xff" "5=x\r\n\x01\x02\r\n"));
    QVERIFY(rewritten.endsWith("com4=rfc2217://127.0.0.1:2004\r\ncom6=rfc2217://127.0.0.1:2006\r\n"));
}

void TestPortLinkFile::whatCannotBeReadIsNeverRewritten()
{
    // Something far too large to be a file of links.
    const PortLinkFile large(m_dir->path());
    const QByteArray big = QByteArray("com3=rfc2217://127.0.0.1:2000\r\n") + QByteArray(PortLinkFile::kMaxBytes, 'x');
    writeFile(large.path(), big);
    QVERIFY(!large.read().problem.isEmpty());
    QVERIFY2(large.read().problem.contains(QStringLiteral("too large")), qPrintable(large.read().problem));
    QCOMPARE(large.target(3), QString());
    QVERIFY_THROWS_EXCEPTION(PortLinkFileError, large.setLink(4, QStringLiteral("rfc2217://127.0.0.1:2004")));
    QVERIFY_THROWS_EXCEPTION(PortLinkFileError, large.removeLink(3));
    QCOMPARE(contentsOf(large.path()), big);

    // A folder where the file should be.
    const QString folder = m_dir->filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/quobin-links.txt")));
    const PortLinkFile notAFile(folder);
    QVERIFY2(notAFile.read().problem.contains(QStringLiteral("folder")), qPrintable(notAFile.read().problem));
    QCOMPARE(notAFile.target(3), QString());
    try {
        notAFile.setLink(3, QStringLiteral("rfc2217://127.0.0.1:2000"));
        QFAIL("a folder was taken for the file of links");
    } catch (const PortLinkFileError &error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(QDir::toNativeSeparators(notAFile.path())), error.what());
    }
    QVERIFY(QFileInfo(notAFile.path()).isDir());
}

void TestPortLinkFile::comPortsResolveThroughTheFile()
{
    // A shared program folder searched first, then the user's.
    const QString shared = m_dir->filePath(QStringLiteral("shared"));
    const QString user = m_dir->filePath(QStringLiteral("user"));
    PortLinkFile(shared).setLink(3, QStringLiteral("rfc2217://127.0.0.1:2003"));
    PortLinkFile(user).setLink(3, QStringLiteral("rfc2217://127.0.0.1:9999"));
    PortLinkFile(user).setLink(4, QStringLiteral("rfc2217://127.0.0.1:2004"));
    writeFile(m_dir->filePath(QStringLiteral("shared/quobin-links.txt")),
              contentsOf(PortLinkFile(shared).path()) + "com5=COM7\r\n");
    const QStringList folders{shared, user};

#ifdef Q_OS_WIN
    const PortMapping three = portMappingFor(3, folders);
    QCOMPARE(three.device, QStringLiteral("rfc2217://127.0.0.1:2003"));
    QCOMPARE(QDir::cleanPath(three.link), QDir::cleanPath(PortLinkFile(shared).path()));
    QVERIFY(three.inLinkFile);
    QCOMPARE(portNameFor(4, folders), QStringLiteral("rfc2217://127.0.0.1:2004"));
    // A line that is no serial server leaves the port the local one.
    const PortMapping five = portMappingFor(5, folders);
    QCOMPARE(five.device, QStringLiteral("COM5"));
    QVERIFY(five.link.isEmpty());
    QVERIFY(!five.inLinkFile);
    QCOMPARE(portNameFor(6, folders), QStringLiteral("COM6"));
    // What the window's "Com 3" shows of itself.
    const QString described = describePort(3, folders);
    QVERIFY2(described.startsWith(QStringLiteral("rfc2217://127.0.0.1:2003 (link in ")), qPrintable(described));
    QVERIFY2(described.contains(QStringLiteral("serial server on the network")), qPrintable(described));
    // Forgotten, "Com 3" takes the next folder's link, then COM3.
    QVERIFY(PortLinkFile(shared).removeLink(3));
    QCOMPARE(portNameFor(3, folders), QStringLiteral("rfc2217://127.0.0.1:9999"));
    QVERIFY(PortLinkFile(user).removeLink(3));
    QCOMPARE(portNameFor(3, folders), QStringLiteral("COM3"));
#else
    // On Linux a comN symbolic link names the port; the file changes nothing.
    for (const qint16 number : {3, 4, 5}) {
        const PortMapping mapping = portMappingFor(number, folders);
        QCOMPARE(mapping.device, QStringLiteral("/dev/ttyS%1").arg(number - 1));
        QVERIFY(mapping.link.isEmpty());
        QVERIFY(!mapping.inLinkFile);
    }
#endif
}

QTEST_GUILESS_MAIN(TestPortLinkFile)
#include "tst_port_link_file.moc"
