#include "AppFakes.h"
#include "ControllerUnderTest.h"
#include "FileDropLineEdit.h"
#include "HexRecord.h"
#include "FakeClock.h"
#include "Form1.h"
#include "PortNames.h"
#include "SerialPorts.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quobin;
using namespace quobin::testing;
using quobin::sim::Fault;
using quobin::sim::LineCount;
using quobin::sim::SimulatorConfig;

namespace {

const QString kSuccess = QStringLiteral("Update File successfully uploaded.");

QByteArray intelHex(int records)
{
    return sim::HexRecord::sampleImage(records);
}

// Boxes that also note what the count beside the status showed when each
// box appeared.
class WatchingBoxes : public RecordingBoxes {
public:
    std::function<void(const QString &)> onBox;
    void plain(QWidget *parent, const QString &title, const QString &text) override
    {
        if (onBox)
            onBox(text);
        RecordingBoxes::plain(parent, title, text);
    }
};

// The real window, the real serial layer and the simulated controller on
// "Com 1", whose link (where the system has links) is in a folder of the
// test's own.
struct Bench {
    explicit Bench(SimulatorConfig config, std::unique_ptr<Clock> clock = std::make_unique<FastClock>(100))
        : sim(startController(std::move(config), folder.path())),
          clock(std::move(clock)),
          port(makeSerialPort([this](qint16 n) { return portNameFor(n, folder.path()); }))
    {
        window = std::make_unique<Form1>(Form1Services{*port, *this->clock, boxes, dialog},
                                         folder.filePath("quobin.ini"), ProgramVersion{3, 0});
        ui().Combo1->setCurrentIndex(0);
        boxes.boxes.clear(); // the first run's settings box
    }

    QString firmware(const QByteArray &content)
    {
        const QString path = folder.filePath("firmware.hex");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        ui().Text1->setText(path);
        return path;
    }

    void upload() { ui().Command6->click(); }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto &box : boxes.boxes)
            texts << box.kind + ": " + box.text;
        return texts;
    }

    const Form1Controls &ui() const { return window->controls(); }

    void verifyIdle() const
    {
        QVERIFY(!port->portOpen());
        QCOMPARE(ui().Label2->text(), QStringLiteral("Idle"));
        QVERIFY(ui().Command6->isVisible() || !window->isVisible());
        QVERIFY(ui().Command6->isEnabled());
        QVERIFY(ui().Command4->isHidden());
        QVERIFY(ui().Text1->isEnabled());
        QVERIFY(ui().Combo1->isEnabled());
        QVERIFY(!window->countRefreshRunning());
    }

    QTemporaryDir folder;
    std::unique_ptr<ControllerUnderTest> sim;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<SerialPort> port;
    WatchingBoxes boxes;
    ScriptedFileDialog dialog;
    std::unique_ptr<Form1> window;
};

QList<QByteArray> linesOf(const QByteArray &content)
{
    QList<QByteArray> lines = content.split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    lines.removeAll(QByteArray());
    return lines;
}

// A wire at the real speed of 57600 baud: about 8 ms for each line and its
// answer, so that something can happen during an upload.
SimulatorConfig paced(SimulatorConfig config)
{
    config.paced = true;
    config.stayAwake = false;
    return config;
}

SimulatorConfig withVersion(const QByteArray &version, QList<Fault> faults = {})
{
    SimulatorConfig config;
    config.version = version;
    config.faults = std::move(faults);
    return config;
}

} // namespace

// Whole uploads through the real window and serial layer, against the
// simulated controller.
class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void aHexFileArrivesByteForByte()
    {
        Bench bench(withVersion("1.28"));
        const QByteArray hex = intelHex(300);
        bench.firmware(hex);
        bench.window->show();
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        QCOMPARE(bench.boxes.boxes.first().title, QStringLiteral("Kelsar Vantor Quobin - V 3.0"));
        QCOMPARE(bench.sim->receivedLines(), linesOf(hex));
        QCOMPARE(bench.sim->mainCodeBytes(), QByteArray("\r4*730562\r"));
        bench.verifyIdle();
    }

    void eachStageTalksWithItsOwnLineSettings()
    {
        Bench bench(withVersion("1.28"));
        bench.firmware(intelHex(3));
        bench.upload();
        const auto chunks = bench.sim->receivedChunks();
        QVERIFY(!chunks.isEmpty());
        // The lone CR goes out 200 ms before anything else, at 9600 baud
        // without flow control.
        QCOMPARE(chunks.first().bytes, QByteArray("\r"));
        QCOMPARE(chunks.first().settings.baud, 9600);
        QVERIFY(!chunks.first().settings.ixon && !chunks.first().settings.ixoff);
        bool bootloader = false;
        for (const auto &chunk : chunks) {
            bootloader = bootloader || chunk.bytes.startsWith("@&$");
            if (!bootloader)
                continue;
            QCOMPARE(chunk.settings.baud, 57600);
            QVERIFY(chunk.settings.xonXoff());
            QVERIFY(!chunk.settings.ixany);
        }
        QVERIFY(bootloader);
    }

    void theBusyWindowCancelsWhileWaitingForTheController()
    {
        SimulatorConfig config;
        config.caretDelayMs = -1; // the operator never resets the controller
        Bench bench(config);
        bench.firmware(intelHex(3));
        bench.window->show();
        // What the window looked like, noted from inside the wait; Cancel is
        // pressed whatever it found, so a wrong look fails the test instead
        // of leaving the wait without an end.
        QString status;
        bool busyLook = false;
        bool cancelGreyed = false;
        QTimer::singleShot(300, [&] {
            const auto &ui = bench.ui();
            status = ui.Label2->text();
            busyLook = ui.Command4->isVisible() && ui.Command4->isEnabled() && !ui.Command6->isVisible()
                && !ui.Text1->isEnabled() && !ui.Combo1->isEnabled() && !ui.Command1->isEnabled()
                && !ui.Command3->isEnabled();
            ui.Command4->click();
            cancelGreyed = !ui.Command4->isEnabled() && ui.Command4->isVisible();
        });
        bench.upload();
        QCOMPARE(status, QStringLiteral("Waiting for Bootloader Active Character...Reset target..."));
        QVERIFY(busyLook);
        QVERIFY(cancelGreyed);
        QVERIFY(bench.boxTexts().isEmpty());
        QCOMPARE(bench.sim->requestCount(), 0);
        bench.verifyIdle();
    }

    void aSilentBootloaderIsAskedThreeTimesTwoToThreeSecondsApart()
    {
        Bench bench(withVersion({}, {Fault(Fault::Silent)}), std::make_unique<SteadyClock>());
        bench.firmware(intelHex(3));
        bench.upload();
        const auto times = bench.sim->requestTimes();
        QCOMPARE(times.size(), 3);
        for (int i = 1; i < times.size(); ++i) {
            const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - times[i - 1]).count();
            QVERIFY2(gap > 1950 && gap < 3150, qPrintable(QString::number(gap)));
        }
        QCOMPARE(bench.boxTexts(), QStringList{"plain: No response from Vantor"});
        bench.verifyIdle();
    }

    void anEchoingBootloaderIsNoAnswer()
    {
        Bench bench(withVersion({}, {Fault(Fault::Echo)}));
        bench.firmware(intelHex(3));
        bench.upload();
        QCOMPARE(bench.sim->requestCount(), 3);
        QCOMPARE(bench.boxTexts(), QStringList{"plain: No response from Vantor"});
    }

    void aQuestionMarkWithTheActiveCharacterNeedsAnother()
    {
        Bench bench(withVersion("1.28", {Fault(Fault::CaretWithQuestion)}));
        const QByteArray hex = intelHex(5);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.sim->requestCount(), 1);
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
    }

    void aChecksumErrorIsResentByANewBootloaderOnly()
    {
        const QByteArray hex = intelHex(6);
        {
            Bench bench(withVersion("1.28", {Fault(Fault::ChecksumOnce, 3)}));
            bench.firmware(hex);
            bench.upload();
            QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
            QCOMPARE(bench.sim->receivedLines().size(), linesOf(hex).size() + 1);
        }
        {
            Bench bench(withVersion("1.27", {Fault(Fault::ChecksumOnce, 3)}));
            bench.boxes.answers = {false};
            bench.firmware(hex);
            bench.upload();
            QCOMPARE(bench.boxTexts(), QStringList{"yesNo: Checksum error at line 3. Continue with download?"});
            QCOMPARE(bench.sim->receivedLines().size(), 3);
            bench.verifyIdle();
        }
    }

    void anUnansweredLineIsSentAgainByANewBootloader()
    {
        // The third line to arrive gets no answer; its resend does.
        Bench bench(withVersion("1.28", {Fault(Fault::NoAnswer, 3)}));
        const QByteArray hex = intelHex(6);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        const auto lines = bench.sim->receivedLines();
        QCOMPARE(lines.size(), linesOf(hex).size() + 1);
        QCOMPARE(lines.at(3), lines.at(2));
        bench.verifyIdle();
    }

    void theVersionIsReadWhenItsReplyComesInPieces_data()
    {
        QTest::addColumn<int>("gapMsecs");
        QTest::newRow("whole") << -1;
        QTest::newRow("1 ms") << 1;
        QTest::newRow("3 ms") << 3;
        QTest::newRow("10 ms") << 10;
        // A USB adapter's latency timer puts gaps like these between pieces.
        QTest::newRow("25 ms") << 25;
        QTest::newRow("60 ms") << 60;
    }
    void theVersionIsReadWhenItsReplyComesInPieces()
    {
        // "?" wakes the host; "V1.28" follows a moment later, as on a fast
        // adapter or a PC UART. Only a bootloader read as 1.28 resends a
        // line with a checksum error: three sends, then the question.
        QFETCH(int, gapMsecs);
        QList<Fault> faults{Fault(Fault::ChecksumAlways, 2)};
        if (gapMsecs >= 0)
            faults.append(Fault(Fault::SplitReply, 0, gapMsecs));
        Bench bench(withVersion("1.28", faults));
        bench.boxes.answers = {false};
        const QByteArray hex = intelHex(5);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"yesNo: Checksum error at line 2. Continue with download?"});
        const auto lines = bench.sim->receivedLines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.mid(1), QList<QByteArray>(3, linesOf(hex).at(1)));
        QCOMPARE(bench.sim->requestCount(), 1);
        bench.verifyIdle();
    }

    // A controller answers a line's first send late (a "second" of this
    // clock lasts 100 ms: 400 ms is after the wait), either before the
    // resend's answer or after it, and later finds a checksum error in line
    // 63 once. The late answer is never taken for a later line's: line 63
    // is the one sent again, and the upload succeeds.
    void anAnswerOwedByAnEarlierSendNeverShiftsLaterAnswers_data()
    {
        QTest::addColumn<int>("lateKind");
        QTest::newRow("in order") << int(Fault::LateInOrder);
        QTest::newRow("resend first") << int(Fault::LateAnswer);
    }
    void anAnswerOwedByAnEarlierSendNeverShiftsLaterAnswers()
    {
        QFETCH(int, lateKind);
        // Line 63 is the 64th to arrive: line 3 came twice before it.
        Bench bench(paced(withVersion("1.28", {Fault(Fault::Kind(lateKind), 3, 400),
                                               Fault(Fault::ChecksumOnce, 64)})));
        const QByteArray hex = intelHex(100);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        QList<LineCount> expected;
        for (const QByteArray &line : linesOf(hex))
            expected.append({line, expected.size() == 2 || expected.size() == 62 ? 2 : 1});
        QCOMPARE(bench.sim->lineCounts(), expected);
        bench.verifyIdle();
    }

    void belowVersion128ALateAnswerIsDroppedBeforeTheNextLine()
    {
        // The "-" for line 3 comes after its wait; such a bootloader neither
        // resends nor asks about a line without an answer. The late "-"
        // must not be taken for a later line's checksum error.
        Bench bench(paced(withVersion("1.27", {Fault(Fault::CustomAnswer, 3, -1, "-"),
                                               Fault(Fault::LateAnswer, 3, 400)})));
        const QByteArray hex = intelHex(60);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        QCOMPARE(bench.sim->receivedLines(), linesOf(hex));
    }

    // The file is read once, when the upload opens it: what happens to it
    // during the upload changes nothing that is sent.
    void theFileAsOpenedIsSentWhateverHappensToItMeanwhile_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("rewritten in place") << false;
        QTest::newRow("deleted") << true;
    }
    void theFileAsOpenedIsSentWhateverHappensToItMeanwhile()
    {
        QFETCH(bool, deleted);
        Bench bench(paced(withVersion("1.28")));
        const QByteArray hex = intelHex(100);
        const QString path = bench.firmware(hex);
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (bench.sim->receivedLines().size() < 20)
                return;
            watch.stop();
            QFile file(path);
            if (deleted)
                QVERIFY(file.remove());
            else
                QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(intelHex(300)) > 0);
        });
        watch.start();
        bench.upload();
        QVERIFY(!watch.isActive());
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        QCOMPARE(bench.sim->receivedLines(), linesOf(hex));
    }

    void outputHeldByXoffResumesOnXonWithNothingLost()
    {
        // Held for less than the shortest wait for an answer (200 ms here).
        Bench bench(withVersion("1.28", {Fault(Fault::XoffHold, 5, 150)}));
        const QByteArray hex = intelHex(20);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        QCOMPARE(bench.sim->receivedLines(), linesOf(hex));
    }

    void splitAnswersAndGarbageBetweenThemAreHarmless()
    {
        Bench bench(withVersion("1.28", {Fault(Fault::SplitAnswer, 2), Fault(Fault::Garbage, 0)}));
        const QByteArray hex = intelHex(10);
        bench.firmware(hex);
        bench.upload();
        QCOMPARE(bench.boxTexts(), QStringList{"plain: " + kSuccess});
        QCOMPARE(bench.sim->receivedLines(), linesOf(hex));
    }

    void noCompletionCharacterIsReported()
    {
        Bench bench(withVersion("1.28", {Fault(Fault::NoCompletion)}));
        bench.firmware(intelHex(3));
        QString countAtVerdict;
        bench.boxes.onBox = [&](const QString &) { countAtVerdict = bench.ui().Label14->text(); };
        bench.upload();
        QCOMPARE(bench.boxTexts(),
                 QStringList{"plain: Error encountered while uploading file.  No response from bootloader at end of file."});
        QCOMPARE(countAtVerdict, QStringLiteral("0"));
        bench.verifyIdle();
    }

    void aVanishingControllerEndsTheUploadWithAFailure()
    {
        Bench bench(withVersion("1.28", {Fault(Fault::Vanish, 4)}));
        bench.firmware(intelHex(10));
        QElapsedTimer timer;
        timer.start();
        bench.upload();
        QVERIFY(timer.elapsed() < 10000);
        QCOMPARE(bench.boxTexts(), QStringList{"warning: Error encountered while uploading the firmware file."});
        bench.verifyIdle();
    }

    void aControllerPulledOutDuringTheWaitForItIsAFailure()
    {
        // The wait for "^" has no limit; a device that goes must end it.
        SimulatorConfig config;
        config.caretDelayMs = -1; // the operator never resets the controller
        Bench bench(config);
        bench.firmware(intelHex(3));
        bench.window->show();
        QString statusWhenPulled;
        QTimer::singleShot(300, [&] {
            statusWhenPulled = bench.ui().Label2->text();
            bench.sim->vanish();
        });
        QElapsedTimer timer;
        timer.start();
        bench.upload();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(statusWhenPulled, QStringLiteral("Waiting for Bootloader Active Character...Reset target..."));
        QCOMPARE(bench.boxTexts(), QStringList{"warning: Error encountered while uploading the firmware file."});
        QCOMPARE(bench.sim->requestCount(), 0);
        bench.verifyIdle();
    }

    void aMissingFileFailsOnlyAfterTheHandshake()
    {
        Bench bench(withVersion("1.28"));
        const QString path = bench.folder.filePath("none.hex");
        bench.ui().Text1->setText(path);
        bench.upload();
        QCOMPARE(bench.sim->requestCount(), 1);
        QCOMPARE(bench.boxTexts(), QStringList{"warning: Error opening " + path + "."});
        bench.verifyIdle();
    }

    void portsWithoutADeviceAreReported()
    {
        Bench bench(withVersion("1.28"));
        bench.firmware(intelHex(1));
        for (const int position : {-1, 1}) { // nothing selected; "Com 2" has no link
            bench.sim->linkToNoDevice(2);
            bench.boxes.boxes.clear();
            bench.ui().Combo1->setCurrentIndex(position);
            bench.upload();
            QCOMPARE(bench.boxTexts(), QStringList{"warning: Error encountered while accessing the com port."});
            QCOMPARE(bench.ui().Label2->text(), QStringLiteral("Idle"));
        }
        QVERIFY(bench.sim->mainCodeBytes().isEmpty());
    }

    void closingTheWindowDuringTheTransferCancelsQuietly()
    {
        // Line 3 gets no answer: the window is closed while the upload waits.
        Bench bench(withVersion("1.28", {Fault(Fault::NoAnswer, 3)}));
        bench.firmware(intelHex(10));
        bench.window->show();
        bool closedWhileBusy = false;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (bench.sim->receivedLines().size() < 3 || closedWhileBusy)
                return;
            closedWhileBusy = true;
            bench.window->close();
            QVERIFY(bench.window->isVisible()); // not before the upload has returned
        });
        watcher.start(10);
        bench.upload();
        QVERIFY(closedWhileBusy);
        QVERIFY(bench.boxTexts().isEmpty());
        QVERIFY(!bench.window->isVisible());
        QVERIFY(!bench.port->portOpen());
        QVERIFY(QFile::exists(bench.folder.filePath("quobin.ini")));
        QVERIFY(bench.sim->receivedLines().size() < 10);
    }

    void theCountFollowsTheLinesOnceASecond()
    {
        // A paced wire makes the upload last a few seconds.
        SimulatorConfig config = withVersion("1.28");
        config.paced = true;
        Bench bench(config);
        bench.firmware(intelHex(700));
        QStringList shown;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (bench.ui().Label14->isVisible())
                shown << bench.ui().Label14->text();
        });
        bench.window->show();
        sampler.start(250);
        bench.upload();
        shown.removeDuplicates();
        QVERIFY2(shown.size() >= 3, qPrintable(shown.join(',')));
        QCOMPARE(shown.first(), QStringLiteral("700"));
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY(shown[i].toInt() < shown[i - 1].toInt());
        QCOMPARE(bench.window->linesRemaining(), qint16(-1));
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
