#include "FakeClock.h"
#include "RecordingWindow.h"
#include "ScriptedPort.h"
#include "TempFiles.h"
#include "UploadProcedure.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

namespace {

const QByteArray kRequest = "@&$";

// A controller played on a scripted port: it answers the main-code command,
// the ready requests and every firmware line as the test says.
struct ScriptedController {
    ScriptedPort port;
    FakeClock clock;
    QByteArray readyReply = "?";
    QByteArray caret = "^";
    // The answer to each send of a line; the last one repeats. Empty: silence.
    std::function<QByteArray(const QByteArray &line, int send)> answer
        = [](const QByteArray &line, int) { return QByteArray(line == ":00000001FF" ? "@" : "~"); };
    QList<QByteArray> lines;             // every firmware line written, resends included
    QHash<QByteArray, int> sendsOf;
    int requests = 0;
    int opens = 0;

    ScriptedController()
    {
        // Time passes one second every few readings, so timed waits end.
        clock.onRead = [](FakeClock &c) {
            if (c.reads % 4 == 0)
                ++c.seconds;
        };
        port.onOutput = [this](ScriptedPort &p, const QByteArray &bytes) {
            if (bytes == kRequest) {
                ++requests;
                p.waiting += readyReply;
            } else if (bytes != "\r" && bytes != "4*730562\r") {
                const int send = sendsOf[bytes]++;
                lines << bytes;
                p.waiting += answer(bytes, send);
            }
        };
        // The bootloader announces itself once the port is open at its speed
        // and what waited there before has been taken away.
        port.onPoll = [this](ScriptedPort &p) {
            if (p.open && p.inputCalls > 0 && !caret.isEmpty()) {
                p.waiting += caret;
                caret.clear();
            }
        };
    }
};

} // namespace

// The upload procedure from the button to the verdict, against a scripted
// controller and a clock the test drives.
class UploadFlowTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;

    QString firmware(const QByteArray &content) { return m_folder.write(content); }

    static void run(ScriptedController &c, RecordingWindow &window)
    {
        UploadProcedure(window, c.port, c.clock).run();
    }

    static void verifyEndedTidily(ScriptedController &c, RecordingWindow &window)
    {
        QVERIFY(!c.port.open);
        QVERIFY(!window.busy);
        QCOMPARE(window.status, QStringLiteral("Idle"));
        QVERIFY(!window.countRefreshRunning);
    }

private slots:
    void aPathShorterThanTwoCharactersTouchesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QString();
        QTest::newRow("one character") << QStringLiteral("a");
    }
    void aPathShorterThanTwoCharactersTouchesNothing()
    {
        QFETCH(QString, path);
        ScriptedController c;
        RecordingWindow window;
        window.path = path;
        run(c, window);
        QCOMPARE(window.boxes, QStringList{"plain: Select Update file to upload."});
        QVERIFY(window.browseFocused);
        QVERIFY(window.calls.isEmpty());
        QVERIFY(c.port.log.isEmpty());
    }

    void theControllerIsSwitchedToItsBootloaderInOrder()
    {
        ScriptedController c;
        RecordingWindow window;
        window.comPosition = 2;
        window.path = firmware(":00000001FF\r\n");
        run(c, window);
        const QStringList expected = {
            "Handshaking=0", "Settings=9600,n,8,1", "CommPort=3", "open", "output \r",
            "output 4*730562\r", "close", "Handshaking=1", "Settings=57600,n,8,1", "open",
            "output @&$"};
        QCOMPARE(c.port.log.mid(0, expected.size()), expected);
        QCOMPARE(c.clock.sleptMsecs, 400);
        QCOMPARE(window.statuses.first(), QStringLiteral("Initializing the com port"));
        QCOMPARE(window.calls.first(), QStringLiteral("busy"));
        verifyEndedTidily(c, window);
    }

    void withoutTheMainCodeCommandThePortOpensStraightForTheBootloader()
    {
        for (const bool leftOpen : {false, true}) {
            ScriptedController c;
            c.port.open = leftOpen;
            RecordingWindow window;
            window.comPosition = 2;
            window.path = firmware(":00000001FF\r\n");
            UploadOptions options;
            options.sendMainCodeCommand = false;
            QVERIFY(UploadProcedure(window, c.port, c.clock, options).run().succeeded());
            QStringList expected = {"Handshaking=1", "Settings=57600,n,8,1", "CommPort=3", "open",
                                    "output @&$"};
            if (leftOpen)
                expected.prepend("close");
            QCOMPARE(c.port.log.mid(0, expected.size()), expected);
            QCOMPARE(c.clock.sleptMsecs, 0);
            QVERIFY(!c.port.written.contains("4*730562"));
        }
    }

    void aGivenImageIsSentAndThePathIsNotRead()
    {
        ScriptedController c;
        RecordingWindow window;
        window.path = m_folder.filePath("never-written.hex");
        UploadOptions options;
        options.image = FirmwareImage::fromBytes(":01\r\n\r\n:02\n:00000001FF", window.path);
        const UploadOutcome outcome = UploadProcedure(window, c.port, c.clock, options).run();
        QVERIFY(outcome.succeeded());
        QCOMPARE(c.lines, (QList<QByteArray>{":01", ":02", ":00000001FF"}));
        QCOMPARE(window.totalLines, qint16(3));
        QVERIFY(window.statuses.contains("Opening the file " + window.path + "."));
    }

    void aPortLeftOpenIsClosedBeforeAnythingElse()
    {
        ScriptedController c;
        c.port.open = true;
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        run(c, window);
        QCOMPARE(c.port.log.first(), QStringLiteral("close"));
        QCOMPARE(c.port.log.at(1), QStringLiteral("Handshaking=0"));
    }

    void portSetupFailuresAreReportedAndLeaveThePortAlone_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("refused");
        QTest::newRow("no port selected") << -1 << "CommPort=0";
        QTest::newRow("no device") << 4 << "open";
        QTest::newRow("bootloader settings") << 0 << "Settings=57600";
        QTest::newRow("main-code write") << 0 << "output 4*";
    }
    void portSetupFailuresAreReportedAndLeaveThePortAlone()
    {
        QFETCH(int, position);
        QFETCH(QString, refused);
        ScriptedController c;
        c.port.failOn = refused;
        RecordingWindow window;
        window.comPosition = position;
        run(c, window);
        QCOMPARE(window.boxes, QStringList{"warning: Error encountered while accessing the com port."});
        QCOMPARE(window.calls, (QStringList{"busy", "idle"}));
        QVERIFY(!c.port.log.contains("output @&$"));
        if (refused == "output 4*")
            QVERIFY(c.port.open); // the next upload closes it
    }

    void bytesWaitingBeforeTheActiveCharacterCannotCountAsIt()
    {
        ScriptedController c;
        c.caret.clear();
        int pollsAfterDrain = 0;
        int requestAtPoll = -1;
        c.port.onPoll = [&](ScriptedPort &p) {
            if (!p.open || !p.log.contains("Settings=57600,n,8,1"))
                return;
            if (p.inputCalls == 0)
                p.waiting = "^?~"; // already there when the port opens
            else if (++pollsAfterDrain == 20)
                p.waiting += "^";
        };
        const auto answerRequests = c.port.onOutput;
        c.port.onOutput = [&](ScriptedPort &p, const QByteArray &bytes) {
            if (bytes == kRequest && requestAtPoll < 0)
                requestAtPoll = pollsAfterDrain;
            answerRequests(p, bytes);
        };
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        run(c, window);
        QVERIFY(requestAtPoll >= 20);
        QVERIFY(window.statuses.contains("Waiting for Bootloader Active Character...Reset target..."));
        QCOMPARE(c.requests, 1);
    }

    void aSilentBootloaderIsAskedThreeTimes()
    {
        ScriptedController c;
        c.readyReply.clear();
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        QList<qint64> requestSeconds;
        const auto answerRequests = c.port.onOutput;
        c.port.onOutput = [&](ScriptedPort &p, const QByteArray &bytes) {
            if (bytes == kRequest)
                requestSeconds << c.clock.seconds;
            answerRequests(p, bytes);
        };
        run(c, window);
        QCOMPARE(c.requests, 3);
        QCOMPARE(requestSeconds.size(), 3);
        QCOMPARE(requestSeconds[1] - requestSeconds[0], 3);
        QCOMPARE(requestSeconds[2] - requestSeconds[1], 3);
        QCOMPARE(window.statuses.filter("Requesting Bootloader Ready.  Try #"),
                 (QStringList{"Requesting Bootloader Ready.  Try #1", "Requesting Bootloader Ready.  Try #2",
                              "Requesting Bootloader Ready.  Try #3"}));
        QCOMPARE(window.boxes, QStringList{"plain: No response from Vantor"});
        verifyEndedTidily(c, window);
    }

    void anEchoingBootloaderEndsEachCycleEarlyAndStillFails()
    {
        ScriptedController c;
        c.readyReply = kRequest;
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        const int readsBefore = c.clock.reads;
        run(c, window);
        QCOMPARE(c.requests, 3);
        QCOMPARE(window.boxes, QStringList{"plain: No response from Vantor"});
        QVERIFY(c.clock.reads - readsBefore < 12); // no cycle waited out its limit
    }

    void aQuestionMarkWithTheActiveCharacterIsDropped()
    {
        ScriptedController c;
        c.caret = "^?";
        c.readyReply.clear();
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        run(c, window);
        QCOMPARE(c.requests, 3);
        QCOMPARE(window.boxes, QStringList{"plain: No response from Vantor"});
    }

    void aReadyAnswerInTheFirstCycleEndsTheHandshake()
    {
        ScriptedController c;
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        run(c, window);
        QCOMPARE(c.requests, 1);
        QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
        QVERIFY(window.statuses.contains("Opening the file " + window.path + "."));
    }

    void aLateReadyAnswerIsPickedUpByTheNextCycle()
    {
        ScriptedController c;
        c.readyReply.clear();
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        // The "?" lands after the first cycle's wait and its read are over.
        window.onEvents = [&](RecordingWindow &w) {
            if (c.requests == 1 && w.lastBlockMsecs == 0 && !c.port.log.contains("late"))
                c.port.log << "late", c.port.waiting += "?";
        };
        run(c, window);
        QCOMPARE(c.requests, 2);
        QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
    }

    void theBootloaderVersionIsReadFromTheReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<float>("version");
        QTest::newRow("1.28") << QByteArray("?V1.28") << 1.28f;
        QTest::newRow("none") << QByteArray("?") << 0.0f;
        QTest::newRow("lower-case v") << QByteArray("?v1.28") << 0.0f;
        QTest::newRow("letter") << QByteArray("?VX1") << 0.0f;
        QTest::newRow("two V") << QByteArray("?V1.1V2") << 1.1f;
        QTest::newRow("hex") << QByteArray("?V&H10") << 16.0f;
        QTest::newRow("before the ?") << QByteArray("V2?") << 2.0f;
    }
    void theBootloaderVersionIsReadFromTheReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(float, version);
        ScriptedController c;
        c.readyReply = reply;
        RecordingWindow window;
        window.path = m_folder.filePath("missing.hex");
        UploadProcedure upload(window, c.port, c.clock);
        upload.run();
        QCOMPARE(upload.bootloaderVersion(), version);
        // A path that names no file fails only once the handshake is done.
        QCOMPARE(window.boxes, QStringList{"warning: Error opening " + window.path + "."});
        verifyEndedTidily(c, window);
    }

    void cancelWhileWaitingForTheActiveCharacterEndsQuietly()
    {
        ScriptedController c;
        c.caret.clear();
        RecordingWindow window;
        window.path = firmware(":00000001FF\r\n");
        window.onEvents = [](RecordingWindow &w) { w.cancel = w.eventRuns == 5; };
        run(c, window);
        QVERIFY(window.boxes.isEmpty());
        QCOMPARE(c.requests, 0);
        verifyEndedTidily(c, window);
    }

    void eachAnswerIsJudgedByTheBootloaderVersion_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("prompt");
        const QString checksum = "Checksum error at line 1. Continue with download?";
        const QString flash = "Error writing to flash at line 1. Continue with download?";
        const QString silent = "Did not receive a response after sending line 1. Continue with download?";
        for (const QByteArray &version : {QByteArray("V1.28"), QByteArray("V2")}) {
            QTest::addRow("%s flash", version.constData()) << version << QByteArray("%") << 1 << flash;
            QTest::addRow("%s flash and checksum", version.constData()) << version << QByteArray("%-") << 1 << checksum;
            QTest::addRow("%s accepted", version.constData()) << version << QByteArray("~") << 1 << QString();
            QTest::addRow("%s at mid-file", version.constData()) << version << QByteArray("@") << 1 << QString();
            QTest::addRow("%s accepted with checksum", version.constData()) << version << QByteArray("~-") << 1 << checksum;
            QTest::addRow("%s checksum", version.constData()) << version << QByteArray("-") << 3 << checksum;
            QTest::addRow("%s hash", version.constData()) << version << QByteArray("#") << 3 << silent;
            QTest::addRow("%s nothing", version.constData()) << version << QByteArray() << 3 << silent;
            QTest::addRow("%s other", version.constData()) << version << QByteArray("x") << 3 << silent;
        }
        for (const QByteArray &version : {QByteArray(), QByteArray("V1.27")}) {
            const char *name = version.isEmpty() ? "none" : version.constData();
            QTest::addRow("%s flash", name) << version << QByteArray("%") << 1 << flash;
            QTest::addRow("%s flash and checksum", name) << version << QByteArray("%-") << 1 << checksum;
            QTest::addRow("%s accepted", name) << version << QByteArray("~") << 1 << QString();
            QTest::addRow("%s checksum", name) << version << QByteArray("-") << 1 << checksum;
            QTest::addRow("%s hash", name) << version << QByteArray("#") << 1 << QString();
            QTest::addRow("%s nothing", name) << version << QByteArray() << 1 << QString();
        }
    }
    void eachAnswerIsJudgedByTheBootloaderVersion()
    {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, answer);
        QFETCH(int, sends);
        QFETCH(QString, prompt);
        ScriptedController c;
        c.readyReply = "?" + version;
        c.answer = [&](const QByteArray &line, int) {
            return line == ":00000001FF" ? QByteArray("@") : answer;
        };
        RecordingWindow window;
        window.path = firmware(":0100000001FE\r\n:00000001FF\r\n");
        run(c, window);
        QCOMPARE(int(c.lines.count(":0100000001FE")), sends);
        QStringList expected;
        if (!prompt.isEmpty())
            expected << "ask: " + prompt;
        expected << "plain: Update File successfully uploaded.";
        QCOMPARE(window.boxes, expected);
    }

    void noStopsTheTransferAndYesGoesOn()
    {
        for (const bool yes : {false, true}) {
            ScriptedController c;
            c.answer = [](const QByteArray &line, int) {
                return line == ":02" ? QByteArray("%") : line == ":03" ? QByteArray("@") : QByteArray("~");
            };
            RecordingWindow window;
            window.answers = {yes};
            window.path = firmware(":01\r\n:02\r\n:03\r\n");
            run(c, window);
            QCOMPARE(window.boxes.first(), QStringLiteral("ask: Error writing to flash at line 2. Continue with download?"));
            if (yes) {
                QCOMPARE(c.lines, (QList<QByteArray>{":01", ":02", ":03"}));
                QCOMPARE(window.boxes.last(), QStringLiteral("plain: Update File successfully uploaded."));
            } else {
                QCOMPARE(c.lines, (QList<QByteArray>{":01", ":02"}));
                QCOMPARE(window.boxes.size(), 1);
            }
            verifyEndedTidily(c, window);
        }
    }

    void yesForTheLastLineStillNeedsTheCompletionCharacter()
    {
        for (const bool completionComes : {false, true}) {
            ScriptedController c;
            // "-@": the completion character came with the answer, but Yes
            // drops that answer.
            c.answer = [](const QByteArray &, int) { return QByteArray("-@"); };
            RecordingWindow window;
            window.path = firmware(":01\r\n");
            window.answers = {true};
            const auto onPoll = c.port.onPoll;
            c.port.onPoll = [&](ScriptedPort &p) {
                onPoll(p);
                if (completionComes && window.boxes.size() == 1 && !p.log.contains("done"))
                    p.log << "done", p.waiting += "@";
            };
            run(c, window);
            QCOMPARE(window.boxes.first(), QStringLiteral("ask: Checksum error at line 1. Continue with download?"));
            QCOMPARE(window.boxes.last(),
                     completionComes ? QStringLiteral("plain: Update File successfully uploaded.")
                                     : QStringLiteral("plain: Error encountered while uploading file.  No response from bootloader at end of file."));
        }
    }

    void blankLinesAreCountedButNeitherSentNorCountedDown()
    {
        ScriptedController c;
        c.answer = [](const QByteArray &line, int) { return line == ":2" ? QByteArray("%") : QByteArray("@"); };
        RecordingWindow window;
        window.path = firmware(":1\r\n\r\n:2\n\n");
        run(c, window);
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":2"}));
        QCOMPARE(window.totalLines, qint16(3));
        QCOMPARE(window.linesRemaining, qint16(1));
        QCOMPARE(window.boxes.first(), QStringLiteral("ask: Error writing to flash at line 2. Continue with download?"));
    }

    void anEmptyFileSendsNothingAndGoesStraightToTheEnd()
    {
        for (const QByteArray &reply : {QByteArray("?"), QByteArray("?V1.28@")}) {
            ScriptedController c;
            c.readyReply = reply;
            RecordingWindow window;
            window.path = firmware("");
            run(c, window);
            QVERIFY(c.lines.isEmpty());
            QCOMPARE(window.totalLines, qint16(-1));
            QCOMPARE(window.linesRemaining, qint16(-1));
            QCOMPARE(window.boxes.last(),
                     reply.contains('@') ? QStringLiteral("plain: Update File successfully uploaded.")
                                         : QStringLiteral("plain: Error encountered while uploading file.  No response from bootloader at end of file."));
        }
    }

    void aOneLineFileCountsFromZero()
    {
        ScriptedController c;
        c.answer = [](const QByteArray &, int) { return QByteArray("@"); };
        RecordingWindow window;
        window.path = firmware(":00000001FF");
        QString countWhileSending;
        window.onEvents = [&](RecordingWindow &w) {
            if (countWhileSending.isEmpty())
                countWhileSending = w.countText;
        };
        run(c, window);
        QCOMPARE(countWhileSending, QStringLiteral("0"));
        QCOMPARE(window.totalLines, qint16(0));
        QCOMPARE(window.linesRemaining, qint16(-1));
        QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
    }

    void theLineCountIsSixteenBits()
    {
        QByteArray lines;
        for (int i = 0; i < 32767; ++i)
            lines += ":00\r\n";
        {
            ScriptedController c;
            RecordingWindow window;
            window.path = firmware(lines + ":00000001FF\r\n");
            run(c, window);
            QVERIFY(c.lines.isEmpty());
            QCOMPARE(window.boxes, QStringList{"warning: Error encountered while uploading the firmware file."});
            verifyEndedTidily(c, window);
        }
        {
            ScriptedController c;
            c.answer = [](const QByteArray &, int) { return QByteArray("@"); };
            RecordingWindow window;
            window.path = firmware(lines);
            run(c, window);
            QCOMPARE(c.lines.size(), 32767);
            QCOMPARE(window.totalLines, qint16(32766));
            QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
        }
    }

    void cancelTakesEffectAtTheNextLineBoundary()
    {
        ScriptedController c;
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n:4\r\n");
        window.onEvents = [&](RecordingWindow &w) {
            if (c.lines.size() == 2)
                w.cancel = true;
        };
        run(c, window);
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":2"}));
        QVERIFY(window.boxes.isEmpty());
        verifyEndedTidily(c, window);
    }

    void aCancelLeftFromTheHandshakeStopsBeforeTheFirstLine()
    {
        ScriptedController c;
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n");
        bool countShownBeforeStop = false;
        window.onEvents = [&](RecordingWindow &w) {
            if (w.status.startsWith("Requesting"))
                w.cancel = true; // pressed during the last handshake cycle
        };
        const auto idle = [&] { countShownBeforeStop = window.countShown; };
        run(c, window);
        idle();
        QVERIFY(c.lines.isEmpty());
        QVERIFY(window.boxes.isEmpty());
        QCOMPARE(window.totalLines, qint16(1));
        QVERIFY(window.statuses.contains("Sending Firmware File - lines remaining "));
        verifyEndedTidily(c, window);
    }

    void aLateAnswerIsJudgedWithTheNextSend()
    {
        // The answer to the first send comes after its wait: it is what the
        // read right after the second send finds.
        ScriptedController c;
        c.readyReply = "?V1.28";
        c.answer = [&](const QByteArray &, int send) { return send == 0 ? QByteArray() : QByteArray("@"); };
        RecordingWindow window;
        window.path = firmware(":1\r\n");
        run(c, window);
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":1"}));
        QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
    }

    // Each send is answered once; an answer that comes after its wait is
    // owed, awaited before the next line's first send, and dropped there, so
    // that it is never judged as that line's answer. Sends are numbered from
    // 1 over the whole transfer; the second line's first send (2) goes
    // unanswered within its wait, and its answer comes later.
    void anAnswerOwedByAnEarlierSendIsNeverTheNextLinesAnswer_data()
    {
        QTest::addColumn<QByteArray>("version");
        // send number -> seconds after that send, answer
        QTest::addColumn<QList<int>>("lateSends");
        QTest::addColumn<QList<int>>("delays");
        QTest::addColumn<QByteArray>("lateAnswer");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<int>("stale");
        const QList<QByteArray> resent{":1", ":2", ":2", ":3", ":4", ":5", ":5", ":6", ":00000001FF"};
        // In order: the late answer to send 2 comes during the resend's
        // wait, the resend's own answer a second later.
        QTest::newRow("in order") << QByteArray("1.28") << QList<int>{2, 3} << QList<int>{4, 2}
                                  << QByteArray("~") << resent << 1;
        // The resend is answered at once, the first send a second later.
        QTest::newRow("resend first") << QByteArray("1.28") << QList<int>{2} << QList<int>{4}
                                      << QByteArray("~") << resent << 1;
        // Both answers in one read: nothing is owed after it.
        QTest::newRow("both at once") << QByteArray("1.28") << QList<int>{2, 3} << QList<int>{4, 1}
                                      << QByteArray("~") << resent << 0;
        // Below 1.28 an unanswered line is accepted and never resent; its
        // late "-" is dropped, not blamed on a later line.
        QTest::newRow("below 1.28") << QByteArray("1.27") << QList<int>{2} << QList<int>{4}
                                    << QByteArray("-")
                                    << QList<QByteArray>{":1", ":2", ":3", ":4", ":5", ":6", ":00000001FF"} << 1;
    }
    void anAnswerOwedByAnEarlierSendIsNeverTheNextLinesAnswer()
    {
        QFETCH(QByteArray, version);
        QFETCH(QList<int>, lateSends);
        QFETCH(QList<int>, delays);
        QFETCH(QByteArray, lateAnswer);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(int, stale);

        ScriptedController c;
        c.readyReply = "?V" + version;
        // A bootloader from 1.28 on finds a checksum error in line 5 once.
        c.answer = [&](const QByteArray &line, int send) {
            if (line == ":5" && send == 0 && version == "1.28")
                return QByteArray("-");
            return QByteArray(line == ":00000001FF" ? "@" : "~");
        };
        struct Due {
            qint64 second;
            QByteArray bytes;
        };
        QList<Due> due;
        int sends = 0;
        const auto answerNow = c.port.onOutput;
        c.port.onOutput = [&](ScriptedPort &p, const QByteArray &bytes) {
            if (!bytes.startsWith(':')) {
                answerNow(p, bytes);
                return;
            }
            const int late = int(lateSends.indexOf(++sends));
            if (late < 0) {
                answerNow(p, bytes);
                return;
            }
            c.lines << bytes;
            c.sendsOf[bytes]++;
            due << Due{c.clock.seconds + delays[late], late == 0 ? lateAnswer : QByteArray("~")};
        };
        const auto caret = c.port.onPoll;
        c.port.onPoll = [&](ScriptedPort &p) {
            caret(p);
            while (!due.isEmpty() && due.first().second <= c.clock.seconds)
                p.waiting += due.takeFirst().bytes;
        };
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n:4\r\n:5\r\n:6\r\n:00000001FF\r\n");
        const UploadOutcome outcome = UploadProcedure(window, c.port, c.clock).run();

        QCOMPARE(c.lines, sent);
        QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
        QCOMPARE(outcome.staleAnswers, stale);
        QCOMPARE(window.staleDrops, stale ? QStringList{"line 2: " + lateAnswer.right(1)} : QStringList{});
        QVERIFY(due.isEmpty());
    }

    void anOwedAnswerThatNeverComesCostsOneWaitOnly()
    {
        // The first send of line 2 is never answered; its resend is. The
        // owed answer is awaited once, before line 3, then forgiven.
        ScriptedController c;
        c.readyReply = "?V1.28";
        c.answer = [](const QByteArray &line, int send) {
            if (line == ":2" && send == 0)
                return QByteArray();
            return QByteArray(line == ":00000001FF" ? "@" : "~");
        };
        QHash<QByteArray, qint64> sentAt;
        const auto answer = c.port.onOutput;
        c.port.onOutput = [&](ScriptedPort &p, const QByteArray &bytes) {
            sentAt.insert(bytes, c.clock.seconds); // the latest send of each line
            answer(p, bytes);
        };
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n:4\r\n:00000001FF\r\n");
        const UploadOutcome outcome = UploadProcedure(window, c.port, c.clock).run();
        QVERIFY(outcome.succeeded());
        QCOMPARE(outcome.staleAnswers, 0);
        // From line 2's resend, one wait for what its first send owed, then
        // no further wait: a second of this clock passes every four readings
        // whatever happens.
        QVERIFY(sentAt[":3"] - sentAt[":2"] >= 3);
        QVERIFY(sentAt[":4"] - sentAt[":3"] <= 1);
        QVERIFY(sentAt[":00000001FF"] - sentAt[":4"] <= 1);
    }

    void everyAnswerOwedIsAwaitedAndDropped()
    {
        // Line 2 gets no answer to any of its three sends within their
        // waits; the operator goes on. Its three answers, each a "-", come
        // one by one before line 3: all three are dropped, and line 3 is
        // judged on its own answer.
        ScriptedController c;
        c.readyReply = "?V1.28";
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n:00000001FF\r\n");
        QList<qint64> due;
        const auto answer = c.port.onOutput;
        c.port.onOutput = [&](ScriptedPort &p, const QByteArray &bytes) {
            if (bytes != ":2")
                return answer(p, bytes);
            c.lines << bytes;
            due << c.clock.seconds + due.size();
        };
        const auto caret = c.port.onPoll;
        c.port.onPoll = [&](ScriptedPort &p) {
            caret(p);
            // After the question: one answer a second.
            if (!window.boxes.isEmpty() && !due.isEmpty() && due.first() <= c.clock.seconds)
                due.removeFirst(), p.waiting += "-";
        };
        const UploadOutcome outcome = UploadProcedure(window, c.port, c.clock).run();
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":2", ":2", ":2", ":3", ":00000001FF"}));
        QCOMPARE(window.boxes, (QStringList{"ask: Did not receive a response after sending line 2. Continue with download?",
                                            "plain: Update File successfully uploaded."}));
        QCOMPARE(outcome.staleAnswers, 3);
    }

    void aCancelDuringTheWaitForAnOwedAnswerSendsNoFurtherLine()
    {
        ScriptedController c;
        c.readyReply = "?V1.28";
        c.answer = [](const QByteArray &line, int send) {
            return line == ":1" && send == 0 ? QByteArray() : QByteArray("~");
        };
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n");
        window.onEvents = [&](RecordingWindow &w) {
            if (c.lines.size() == 2 && w.eventRuns > 1)
                w.cancel = true;
        };
        const UploadOutcome outcome = UploadProcedure(window, c.port, c.clock).run();
        QCOMPARE(outcome.kind, UploadOutcome::Kind::Cancelled);
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":1"}));
        verifyEndedTidily(c, window);
    }

    void whatWaitsBeforeALineIsDroppedNotJudged()
    {
        // A stray "-" between two lines (a controller answering twice) and
        // what the handshake left behind are gone before the next send.
        ScriptedController c;
        c.readyReply = "?V1.28";
        RecordingWindow window;
        window.onEvents = [&](RecordingWindow &) {
            if (c.lines.size() == 1 && !c.port.log.contains("stray"))
                c.port.log << "stray", c.port.waiting += "-";
        };
        window.path = firmware(":1\r\n:2\r\n:00000001FF\r\n");
        const UploadOutcome outcome = UploadProcedure(window, c.port, c.clock).run();
        QCOMPARE(window.boxes, QStringList{"plain: Update File successfully uploaded."});
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":2", ":00000001FF"}));
        QCOMPARE(outcome.staleAnswers, 1);
        QCOMPARE(window.staleDrops, QStringList{"line 1: -"});
    }

    void fileOpeningFailuresNameThePath()
    {
        for (const QString &path : {m_folder.filePath("none.hex"), m_folder.path()}) {
            ScriptedController c;
            RecordingWindow window;
            window.path = path;
            run(c, window);
            QCOMPARE(window.boxes, QStringList{"warning: Error opening " + path + "."});
            verifyEndedTidily(c, window);
        }
    }

    void aSerialFailureDuringTheTransferEndsIt()
    {
        ScriptedController c;
        c.port.failOn = "output :3";
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n:4\r\n");
        run(c, window);
        QCOMPARE(c.lines, (QList<QByteArray>{":1", ":2"}));
        QCOMPARE(window.boxes, QStringList{"warning: Error encountered while uploading the firmware file."});
        verifyEndedTidily(c, window);
    }

    // Every end also comes back as a value: its kind, the text of the box the
    // window showed (none for the quiet ends), and what went over the wire.
    void everyEndComesBackAsAnOutcome_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("linesSent");
        QTest::addColumn<int>("resends");
        using K = UploadOutcome::Kind;
        QTest::newRow("success") << "success" << int(K::Success) << 3 << 0;
        QTest::newRow("no path") << "no path" << int(K::NoPath) << 0 << 0;
        QTest::newRow("no response") << "silent" << int(K::NoResponse) << 0 << 0;
        QTest::newRow("stopped") << "no to flash" << int(K::Stopped) << 2 << 0;
        QTest::newRow("resent then stopped") << "no to checksum" << int(K::Stopped) << 2 << 2;
        QTest::newRow("no end confirmation") << "no @" << int(K::NoEndConfirmation) << 3 << 0;
        QTest::newRow("port error") << "port refused" << int(K::PortError) << 0 << 0;
        QTest::newRow("file error") << "missing file" << int(K::FileError) << 0 << 0;
        QTest::newRow("transfer error") << "write fails" << int(K::TransferError) << 1 << 0;
        QTest::newRow("cancelled") << "cancel" << int(K::Cancelled) << 1 << 0;
        QTest::newRow("cancelled at the caret") << "cancel at caret" << int(K::Cancelled) << 0 << 0;
    }
    void everyEndComesBackAsAnOutcome()
    {
        QFETCH(QString, setup);
        QFETCH(int, kind);
        QFETCH(int, linesSent);
        QFETCH(int, resends);
        ScriptedController c;
        c.readyReply = "?V1.28";
        c.answer = [&](const QByteArray &line, int) {
            if (line == ":3")
                return QByteArray(setup == "no @" ? "~" : "@");
            if (line == ":2" && setup == "no to flash")
                return QByteArray("%");
            if (line == ":2" && setup == "no to checksum")
                return QByteArray("-");
            return QByteArray("~");
        };
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n");
        window.answers = {false};
        QList<int> resent;
        struct Watching : RecordingWindow {
            QList<int> *resent = nullptr;
            float version = -1;
            void lineResent(int line, int send) override { *resent << line * 10 + send; }
            void bootloaderVersionRead(float v) override { version = v; }
        } watching;
        watching.path = window.path;
        watching.answers = window.answers;
        watching.resent = &resent;
        if (setup == "no path")
            watching.path = "a";
        else if (setup == "silent")
            c.readyReply.clear();
        else if (setup == "port refused")
            c.port.failOn = "open";
        else if (setup == "missing file")
            watching.path = m_folder.filePath("none.hex");
        else if (setup == "write fails")
            c.port.failOn = "output :2";
        else if (setup == "cancel")
            watching.onEvents = [&](RecordingWindow &w) { w.cancel = c.lines.size() == 1; };
        else if (setup == "cancel at caret") {
            c.caret.clear();
            watching.onEvents = [](RecordingWindow &w) { w.cancel = w.eventRuns == 3; };
        }

        UploadProcedure upload(watching, c.port, c.clock);
        const UploadOutcome outcome = upload.run();
        QCOMPARE(int(outcome.kind), kind);
        QCOMPARE(int(upload.outcome().kind), kind);
        QCOMPARE(outcome.succeeded(), kind == int(UploadOutcome::Kind::Success));
        QCOMPARE(outcome.linesSent, linesSent);
        QCOMPARE(outcome.resends, resends);
        // The message is the text of the result box the window showed, or
        // empty when it showed none; a question is not a result.
        const QStringList results = watching.boxes.filter(QRegularExpression("^(plain|warning): "));
        if (results.isEmpty())
            QVERIFY(outcome.message.isEmpty());
        else
            QCOMPARE(outcome.message, results.last().section(": ", 1));
        QCOMPARE(resent, setup == "no to checksum" ? (QList<int>{22, 23}) : QList<int>{});
        if (kind == int(UploadOutcome::Kind::Success))
            QCOMPARE(watching.version, 1.28f);
    }

    void theWaitForTheControllerMayHaveALimit()
    {
        for (const bool cancelFirst : {false, true}) {
            ScriptedController c;
            c.caret.clear();
            c.clock.onRead = [](FakeClock &clock) { clock.reads % 3 == 0 ? ++clock.seconds : 0; };
            RecordingWindow window;
            window.path = firmware(":00000001FF\r\n");
            qint64 startedAt = -1;
            qint64 lastSeenAt = -1;
            window.onEvents = [&](RecordingWindow &w) {
                if (startedAt < 0)
                    startedAt = c.clock.seconds;
                lastSeenAt = c.clock.seconds;
                w.cancel = cancelFirst;
            };
            UploadOptions options;
            options.controllerWaitSeconds = 5;
            UploadProcedure upload(window, c.port, c.clock, options);
            const UploadOutcome outcome = upload.run();
            QCOMPARE(outcome.kind, cancelFirst ? UploadOutcome::Kind::Cancelled
                                               : UploadOutcome::Kind::NoController);
            QVERIFY(outcome.message.isEmpty());
            QVERIFY(window.boxes.isEmpty());
            QCOMPARE(c.requests, 0);
            if (!cancelFirst)
                QVERIFY(lastSeenAt - startedAt >= 5); // never less than the seconds asked for
            verifyEndedTidily(c, window);
        }
    }

    void theCountStartsAtTheLinesToComeAndEndsAtZero()
    {
        ScriptedController c;
        c.answer = [](const QByteArray &line, int) { return line == ":3" ? QByteArray("@") : QByteArray("~"); };
        RecordingWindow window;
        window.path = firmware(":1\r\n:2\r\n:3\r\n");
        QStringList seen;
        window.onEvents = [&](RecordingWindow &w) {
            if (w.countShown)
                seen << w.countText + (w.countRefreshRunning ? "+" : "-");
        };
        run(c, window);
        QCOMPARE(seen.first(), QStringLiteral("2+"));
        QVERIFY(!window.countRefreshRunning);
        QCOMPARE(window.linesRemaining, qint16(-1));
    }
};

QTEST_GUILESS_MAIN(UploadFlowTest)
#include "tst_upload_flow.moc"
