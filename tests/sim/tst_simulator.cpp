#include "ControllerSimulator.h"
#include "FaultNames.h"
#include "FixtureRecorder.h"
#include "HexRecord.h"
#include "HostPort.h"
#include "SimulatorError.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace quobin::sim;
using namespace std::chrono;

namespace {

const QByteArray goodRecord = ":0300300002337A1E";
const QByteArray otherRecord = ":10010000214601360121470136007EFE09D2190140";
const QByteArray badRecord = ":0300300002337A1F";
const QByteArray endRecord = ":00000001FF";

// An Intel HEX record with the given bytes (count, address, type, data) and
// its checksum.
QByteArray record(const QByteArray &bytes)
{
    return HexRecord::make(bytes);
}

// The host at the bootloader's settings, after the operator's reset has
// brought the active character.
std::unique_ptr<HostPort> bootloaderHost(ControllerSimulator &sim)
{
    auto host = std::make_unique<HostPort>(sim.slavePath(), B57600, true);
    sim.sendActiveCharacter();
    if (host->readUntil("^") != "^")
        return nullptr;
    return host;
}

qint64 msecsBetween(TimePoint from, TimePoint to)
{
    return duration_cast<milliseconds>(to - from).count();
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void mainCodeCommandResetsIntoBootloader();
    void servesABlockingQSerialPort();
    void commandIsNeededUnlessTheOperatorResets();
    void handshakeReplies_data();
    void handshakeReplies();
    void aSplitReplyComesInTwoWritesItsGapApart();
    void linesAreAnsweredAndRecorded();
    void lineFaults_data();
    void lineFaults();
    void lateAnswersInEitherOrder_data();
    void lateAnswersInEitherOrder();
    void xoffHoldsTheHostBack();
    void vanishTakesTheFarEndAway();
    void pacingTakesTheWireTime();
    void createLinkReplacesAnOldLink();
    void fixtureBringsBoardAfterBoard();
    void fixtureSwapsABoardTheHostGaveUpOn();
    void faultNames_data();
    void faultNames();
};

void TestSimulator::mainCodeCommandResetsIntoBootloader()
{
    SimulatorConfig config;
    config.version = "1.28";
    ControllerSimulator sim(config);

    TimePoint commandAt;
    {
        HostPort host(sim.slavePath(), B9600, false);
        host.write("\r");
        QVERIFY(sim.waitUntil([&] { return sim.mainCodeBytes() == "\r"; }, 2000));
        host.write("4*730562\r");
        commandAt = SimClock::now();
        QVERIFY(sim.waitUntil([&] { return sim.inBootloader(); }, 2000));
    }
    HostPort host(sim.slavePath(), B57600, true);
    QCOMPARE(host.readUntil("^"), QByteArray("^"));
    QVERIFY(msecsBetween(commandAt, SimClock::now()) >= 250);

    host.write("@&$");
    QCOMPARE(host.readUntil("?V1.28"), QByteArray("?V1.28"));
    QCOMPARE(sim.requestCount(), 1);
    QCOMPARE(sim.mainCodeBytes(), QByteArray("\r4*730562\r"));

    // The lone CR was read while the host had 9600 without flow control; the
    // request while it had 57600 with XON/XOFF (and without IXANY).
    const QList<ReceivedChunk> chunks = sim.receivedChunks();
    QCOMPARE(chunks.first().bytes, QByteArray("\r"));
    QCOMPARE(chunks.first().settings, (LineSettings { 9600, false, false, false }));
    QCOMPARE(chunks.last().bytes, QByteArray("@&$"));
    QCOMPARE(chunks.last().settings, (LineSettings { 57600, true, true, false }));
}

// The program under test blocks its thread without an event loop; the
// simulator's own thread still answers.
void TestSimulator::servesABlockingQSerialPort()
{
    SimulatorConfig config;
    config.caretDelayMs = 100;
    config.version = "1.28";
    ControllerSimulator sim(config);
    QSerialPort port(sim.slavePath());

    auto readUntil = [&port](const QByteArray &expected) {
        QByteArray bytes;
        for (int pass = 0; pass < 100 && !bytes.endsWith(expected); ++pass) {
            port.waitForReadyRead(20);
            bytes += port.readAll();
        }
        return bytes;
    };

    port.setBaudRate(9600);
    port.setFlowControl(QSerialPort::NoFlowControl);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write("\r4*730562\r");
    QVERIFY(port.waitForBytesWritten(1000));
    port.close();

    port.setBaudRate(57600);
    port.setFlowControl(QSerialPort::SoftwareControl);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(readUntil("^"), QByteArray("^"));
    port.write("@&$");
    QVERIFY(port.waitForBytesWritten(1000));
    QCOMPARE(readUntil("?V1.28"), QByteArray("?V1.28"));

    // Qt's software flow control also turns on IXANY; the simulator sees it.
    QVERIFY(sim.waitUntil([&] { return sim.requestCount() == 1; }, 2000));
    QCOMPARE(sim.receivedChunks().last().settings, (LineSettings { 57600, true, true, true }));
}

void TestSimulator::commandIsNeededUnlessTheOperatorResets()
{
    SimulatorConfig config;
    config.caretDelayMs = -1;
    ControllerSimulator sim(config);
    {
        HostPort host(sim.slavePath(), B9600, false);
        host.write("@&$"); // the main code does not answer requests
        host.write("\r4*730562\r");
        QVERIFY(sim.waitUntil([&] { return sim.inBootloader(); }, 2000));
        QCOMPARE(sim.requestCount(), 0);
    }
    HostPort host(sim.slavePath(), B57600, true);
    QCOMPARE(host.readFor(400), QByteArray());
    sim.sendActiveCharacter();
    QCOMPARE(host.readUntil("^"), QByteArray("^"));
}

void TestSimulator::handshakeReplies_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("activeCharacter");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("no version") << QString() << QByteArray("^") << QByteArray("?");
    QTest::newRow("echo") << "echo" << QByteArray("^") << QByteArray("@&$");
    QTest::newRow("caret with question") << "caret-question" << QByteArray("^?") << QByteArray("?");
    QTest::newRow("silent") << "silent" << QByteArray("^") << QByteArray();
}

void TestSimulator::handshakeReplies()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, activeCharacter);
    QFETCH(QByteArray, reply);

    SimulatorConfig config;
    if (!fault.isEmpty())
        config.faults.append(FaultNames::parse(fault));
    ControllerSimulator sim(config);
    HostPort host(sim.slavePath(), B57600, true);
    sim.sendActiveCharacter();
    QCOMPARE(host.readUntil(activeCharacter), activeCharacter);
    // Both characters of "^?" go out in one write. The simulator records a
    // write just after it, so the host may see the bytes first.
    QVERIFY(sim.waitUntil([&] { return !sim.sentChunks().isEmpty(); }, 2000));
    QCOMPARE(sim.sentChunks().first().bytes, activeCharacter);

    for (int request = 1; request <= 2; ++request) {
        host.write("@&$");
        QVERIFY(sim.waitUntil([&] { return sim.requestCount() == request; }, 2000));
        QCOMPARE(reply.isEmpty() ? host.readFor(100) : host.readUntil(reply), reply);
    }
}

void TestSimulator::aSplitReplyComesInTwoWritesItsGapApart()
{
    SimulatorConfig config;
    config.version = "1.28";
    config.faults.append(FaultNames::parse("split-reply:30"));
    ControllerSimulator sim(config);
    HostPort host(sim.slavePath(), B57600, true);
    sim.sendActiveCharacter();
    QCOMPARE(host.readUntil("^"), QByteArray("^"));
    host.write("@&$");
    QCOMPARE(host.readUntil("?V1.28"), QByteArray("?V1.28"));
    QVERIFY(sim.waitUntil([&] { return sim.sentChunks().size() == 3; }, 2000));
    const auto chunks = sim.sentChunks();
    QCOMPARE(chunks[1].bytes, QByteArray("?"));
    QCOMPARE(chunks[2].bytes, QByteArray("V1.28"));
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(chunks[2].at - chunks[1].at);
    QVERIFY2(gap.count() >= 29, qPrintable(QString::number(gap.count())));
}

void TestSimulator::linesAreAnsweredAndRecorded()
{
    ControllerSimulator sim;
    const auto host = bootloaderHost(sim);
    QVERIFY(host);

    const QList<QByteArray> lines = { goodRecord, badRecord, "not a record", otherRecord, endRecord };
    const QList<QByteArray> answers = { "~", "-", "~", "~", "@" };
    for (int i = 0; i < lines.size(); ++i) {
        host->write(lines[i]);
        QCOMPARE(host->readUntil(answers[i]), answers[i]);
    }
    QCOMPARE(sim.receivedLines(), lines);
    QCOMPARE(sim.uploadsCompleted(), 1);

    // Each answer belongs to its line and comes after the line's first byte.
    QVERIFY(sim.waitUntil([&] { return sim.sentChunks().size() == 1 + lines.size(); }, 2000));
    const QList<LineRecord> records = sim.lineRecords();
    const QList<SentChunk> sent = sim.sentChunks().mid(1); // after "^"
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(sent[i].line, i + 1);
        QVERIFY(sent[i].at >= records[i].firstByteAt);
    }
}

void TestSimulator::lineFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<QByteArray>>("answers");

    // Lines sent: good, other, other again (a resend), end of file.
    QTest::newRow("checksum once") << "checksum-once:2" << QList<QByteArray> { "~", "-", "~", "@" };
    QTest::newRow("checksum always") << "checksum-always:2" << QList<QByteArray> { "~", "-", "-", "@" };
    QTest::newRow("flash") << "flash:2" << QList<QByteArray> { "~", "%", "~", "@" };
    QTest::newRow("hash") << "hash:3" << QList<QByteArray> { "~", "~", "#", "@" };
    QTest::newRow("custom") << "answer:2:%-" << QList<QByteArray> { "~", "%-", "~", "@" };
    QTest::newRow("no answer") << "no-answer:2" << QList<QByteArray> { "~", "", "~", "@" };
    QTest::newRow("split") << "split:2" << QList<QByteArray> { "~", "x~", "~", "@" };
    QTest::newRow("garbage") << "garbage:1" << QList<QByteArray> { "~xyz", "~", "~", "@" };
    QTest::newRow("no completion") << "no-at" << QList<QByteArray> { "~", "~", "~", "~" };
}

void TestSimulator::lineFaults()
{
    QFETCH(QString, fault);
    QFETCH(QList<QByteArray>, answers);

    SimulatorConfig config;
    config.faults.append(FaultNames::parse(fault));
    ControllerSimulator sim(config);
    const auto host = bootloaderHost(sim);
    QVERIFY(host);

    const QList<QByteArray> lines = { goodRecord, otherRecord, otherRecord, endRecord };
    for (int i = 0; i < lines.size(); ++i) {
        host->write(lines[i]);
        if (answers[i].isEmpty()) {
            QVERIFY(sim.waitUntil([&] { return sim.receivedLines().size() == i + 1; }, 2000));
            QCOMPARE(host->readFor(100), QByteArray());
        } else {
            QCOMPARE(host->readUntil(answers[i]), answers[i]);
        }
    }
    QCOMPARE(sim.receivedLines(), lines);
}

void TestSimulator::lateAnswersInEitherOrder_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<int>>("answeredLines");
    QTest::newRow("late: the resend overtakes") << "late:1:300" << QList<int> { 2, 1 };
    QTest::newRow("late in order") << "late-in-order:1:300" << QList<int> { 1, 2 };
}

void TestSimulator::lateAnswersInEitherOrder()
{
    // The first send of a line goes unanswered for a while and the host
    // sends it again: the two answers come in the order the fault says,
    // and the line counts record that it arrived twice.
    QFETCH(QString, fault);
    QFETCH(QList<int>, answeredLines);
    SimulatorConfig config;
    config.faults.append(FaultNames::parse(fault));
    ControllerSimulator sim(config);
    const auto host = bootloaderHost(sim);
    QVERIFY(host);

    host->write(goodRecord);
    QCOMPARE(host->readFor(150), QByteArray());
    host->write(goodRecord);
    QCOMPARE(host->readUntil("~~"), QByteArray("~~"));
    QVERIFY(sim.waitUntil([&] { return sim.sentChunks().size() == 3; }, 2000));
    const QList<SentChunk> answers = sim.sentChunks().mid(1);
    QCOMPARE((QList<int> { answers[0].line, answers[1].line }), answeredLines);
    const SentChunk late = answers[0].line == 1 ? answers[0] : answers[1];
    QVERIFY(msecsBetween(sim.lineRecords().first().completeAt, late.at) >= 300);
    QCOMPARE(sim.lineCounts(), (QList<LineCount> { { goodRecord, 2 } }));

    host->write(endRecord);
    QCOMPARE(host->readUntil("@"), QByteArray("@"));
    QCOMPARE(sim.lineCounts(), (QList<LineCount> { { goodRecord, 2 }, { endRecord, 1 } }));
}

void TestSimulator::xoffHoldsTheHostBack()
{
    SimulatorConfig config;
    config.faults.append({ Fault::XoffHold, 1, 300 });
    ControllerSimulator sim(config);
    const auto host = bootloaderHost(sim);
    QVERIFY(host);

    host->write(goodRecord);
    QCOMPARE(host->readUntil("~"), QByteArray("~"));
    host->write(otherRecord); // held in the host's queue until XON
    QVERIFY(sim.waitUntil([&] { return sim.receivedLines().size() == 2; }, 2000));
    const QList<LineRecord> lines = sim.lineRecords();
    QVERIFY(msecsBetween(lines[0].completeAt, lines[1].firstByteAt) >= 250);
    // XOFF and XON were taken by the host's line discipline, never read.
    QCOMPARE(host->readUntil("~"), QByteArray("~"));
    QVERIFY(sim.waitUntil([&] { return sim.sentChunks().size() == 4; }, 2000));
    QCOMPARE(sim.sentBytes(), QByteArray("^~\x13\x11~"));
}

void TestSimulator::vanishTakesTheFarEndAway()
{
    SimulatorConfig config;
    config.faults.append({ Fault::Vanish, 2 });
    ControllerSimulator sim(config);
    const auto host = bootloaderHost(sim);
    QVERIFY(host);

    host->write(goodRecord);
    QCOMPARE(host->readUntil("~"), QByteArray("~"));
    host->write(otherRecord);
    QVERIFY(host->farEndGone(2000));
    QVERIFY(sim.hasVanished());
    QCOMPARE(sim.receivedLines().size(), 2);
}

void TestSimulator::pacingTakesTheWireTime()
{
    SimulatorConfig config;
    config.paced = true;
    ControllerSimulator sim(config);
    const auto host = bootloaderHost(sim);
    QVERIFY(host);

    // The longest record: 521 characters, 90 ms at 57600 baud.
    const QByteArray longest = record(QByteArray::fromHex("FF000000") + QByteArray(255, '\x5a'));
    QCOMPARE(longest.size(), 521);
    QElapsedTimer timer;
    timer.start();
    host->write(longest);
    QCOMPARE(host->readUntil("~"), QByteArray("~"));
    const qint64 took = timer.elapsed();
    QCOMPARE(sim.lineRecords().first().text, longest);
    // The record and its one-character answer cross the wire: 522 bytes.
    qInfo("521 characters and the answer at 57600 baud took %lld ms (wire time 90.6 ms)", took);
    QVERIFY(took >= 90);
}

void TestSimulator::createLinkReplacesAnOldLink()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString link = folder.filePath("com1");
    ControllerSimulator first;
    first.createLink(link);
    ControllerSimulator second;
    second.createLink(link);
    QCOMPARE(QFileInfo(link).symLinkTarget(), second.slavePath());
    QVERIFY_THROWS_EXCEPTION(SimulatorError, second.createLink(folder.filePath("missing/com1")));
}

void TestSimulator::faultNames_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("millis");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("late with delay") << "late:3:500" << true << int(Fault::LateAnswer) << 3 << 500 << QByteArray();
    QTest::newRow("late default") << "late:3" << true << int(Fault::LateAnswer) << 3 << -1 << QByteArray();
    QTest::newRow("late in order") << "late-in-order:3:500" << true << int(Fault::LateInOrder) << 3 << 500 << QByteArray();
    QTest::newRow("answer with colon") << "answer:2:~:-" << true << int(Fault::CustomAnswer) << 2 << -1 << QByteArray("~:-");
    QTest::newRow("garbage everywhere") << "garbage" << true << int(Fault::Garbage) << 0 << -1 << QByteArray();
    QTest::newRow("split reply") << "split-reply" << true << int(Fault::SplitReply) << 0 << -1 << QByteArray();
    QTest::newRow("split reply with gap") << "split-reply:10" << true << int(Fault::SplitReply) << 0 << 10 << QByteArray();
    QTest::newRow("split reply with two numbers") << "split-reply:1:10" << false << 0 << 0 << 0 << QByteArray();
    QTest::newRow("unknown") << "bogus:1" << false << 0 << 0 << 0 << QByteArray();
    QTest::newRow("line missing") << "flash" << false << 0 << 0 << 0 << QByteArray();
    QTest::newRow("line not a number") << "flash:x" << false << 0 << 0 << 0 << QByteArray();
    QTest::newRow("answer without text") << "answer:2" << false << 0 << 0 << 0 << QByteArray();
    QTest::newRow("argument not taken") << "hash:2:5" << false << 0 << 0 << 0 << QByteArray();
}

void TestSimulator::faultNames()
{
    QFETCH(QString, option);
    QFETCH(bool, valid);
    if (!valid) {
        QVERIFY_THROWS_EXCEPTION(SimulatorError, FaultNames::parse(option));
        return;
    }
    QFETCH(int, kind);
    QFETCH(int, line);
    QFETCH(int, millis);
    QFETCH(QByteArray, text);
    const Fault fault = FaultNames::parse(option);
    QCOMPARE(int(fault.kind), kind);
    QCOMPARE(fault.line, line);
    QCOMPARE(fault.millis, millis);
    QCOMPARE(fault.text, text);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"

namespace {

// Sends an image of `records` data records plus the end-of-file record to a
// bootloader that has said "^", and returns the answers.
QByteArray uploadImage(HostPort &host, const QList<QByteArray> &lines)
{
    QByteArray answers;
    host.write("@&$");
    answers += host.readUntil("?");
    for (const QByteArray &line : lines) {
        host.write(line);
        answers += host.readUntil(line == endRecord ? "@" : "~", 500);
    }
    return answers;
}

} // namespace

// A fixture: the next board comes a gap after the last "@", with its own
// faults and its own record, until the fixture is empty.
void TestSimulator::fixtureBringsBoardAfterBoard()
{
    SimulatorConfig config;
    config.caretDelayMs = 50;
    config.fixture = {true, 300, 0, 3};
    config.faults.append(FaultNames::parse(QStringLiteral("checksum-once:2@2")));
    ControllerSimulator sim(config);
    const QList<QByteArray> image{goodRecord, otherRecord, endRecord};

    {
        HostPort host(sim.slavePath(), B9600, false);
        host.write("\r4*730562\r");
        QVERIFY(sim.waitUntil([&] { return sim.inBootloader(); }, 2000));
    }
    HostPort host(sim.slavePath(), B57600, true);
    for (int board = 1; board <= 3; ++board) {
        QCOMPARE(host.readUntil("^", 2000), QByteArray("^"));
        const QByteArray answers = uploadImage(host, image);
        QCOMPARE(answers.count('-'), board == 2 ? 1 : 0);
        QVERIFY(answers.endsWith('@'));
        if (board == 3)
            break;
        // Nothing before the gap is over.
        QCOMPARE(host.readFor(150), QByteArray());
    }
    QCOMPARE(host.readFor(600), QByteArray()); // the fixture is empty
    QCOMPARE(sim.mainCodeCommands(), 1);
    QCOMPARE(sim.uploadsCompleted(), 3);
    const QList<BoardLog> boards = sim.boards();
    QCOMPARE(boards.size(), 3);
    QCOMPARE(boards[0].lines, image);
    QCOMPARE(boards[1].lines.size(), 2); // the line answered "-" is not taken
    QCOMPARE(boards[1].linesReceived, 3);
    QVERIFY(boards[2].completed);

    // The operator's reset still brings a board.
    sim.sendActiveCharacter();
    QCOMPARE(host.readUntil("^"), QByteArray("^"));
    QCOMPARE(sim.boards().size(), 4);

    QTemporaryDir dir;
    FixtureRecorder recorder(dir.path());
    recorder.update(sim.boards(), sim.mainCodeCommands(), sim.uploadsCompleted());
    QFile first(dir.filePath(QStringLiteral("board-1.hex")));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), goodRecord + "\r\n" + otherRecord + "\r\n" + endRecord + "\r\n");
    QFile report(dir.filePath(QStringLiteral("fixture.json")));
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(report.readAll()).object();
    QCOMPARE(json.value(QStringLiteral("boards")).toInt(), 4);
    QCOMPARE(json.value(QStringLiteral("mainCodeCommands")).toInt(), 1);
    QCOMPARE(json.value(QStringLiteral("uploads")).toInt(), 3);
    const QJsonArray images = json.value(QStringLiteral("boardImages")).toArray();
    QCOMPARE(images.size(), 4);
    QCOMPARE(images[1].toObject().value(QStringLiteral("completed")).toBool(), true);
    QCOMPARE(images[3].toObject().value(QStringLiteral("lines")).toInt(), 0);
}

// A board that never finished is swapped once the host has left it alone
// for the quiet time; a board the host never spoke to is not.
void TestSimulator::fixtureSwapsABoardTheHostGaveUpOn()
{
    SimulatorConfig config;
    config.caretDelayMs = -1;
    config.fixture = {true, 100, 300, 0};
    ControllerSimulator sim(config);
    HostPort host(sim.slavePath(), B57600, true);
    sim.sendActiveCharacter();
    QCOMPARE(host.readUntil("^"), QByteArray("^"));
    // Never spoken to: the board stays, and is reset once more, as an
    // operator does when the station did not start on it.
    QElapsedTimer unheard;
    unheard.start();
    QCOMPARE(host.readUntil("^", 2000), QByteArray("^"));
    QVERIFY(unheard.elapsed() >= 250);
    QCOMPARE(sim.boards().size(), 1);

    host.write("@&$");
    QCOMPARE(host.readUntil("?"), QByteArray("?"));
    host.write(goodRecord);
    QCOMPARE(host.readUntil("~"), QByteArray("~"));
    QElapsedTimer quiet;
    quiet.start();
    QCOMPARE(host.readUntil("^", 2000), QByteArray("^"));
    QVERIFY(quiet.elapsed() >= 250);
    QCOMPARE(sim.boards().size(), 2);
    QVERIFY(!sim.boards().first().completed);
}
