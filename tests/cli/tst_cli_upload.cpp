#include "MemoryBounds.h"
#include "CliRun.h"
#include "ControllerSimulator.h"
#include "HexRecord.h"
#include "Pty.h"
#include "SettingsFile.h"
#include "TempFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

using namespace quobin;
using namespace quobin::testing;
using quobin::sim::ControllerSimulator;
using quobin::sim::Fault;
using quobin::sim::LineCount;
using quobin::sim::SimulatorConfig;

namespace {

const QString kSuccess = QStringLiteral("Update File successfully uploaded.");

SimulatorConfig quick(const QByteArray &version = "1.28", QList<Fault> faults = {})
{
    SimulatorConfig config;
    config.version = version;
    // The operator resets the board a moment after the main-code command. A
    // "^" that came before the program has reopened the port for the
    // bootloader would be discarded with whatever else was waiting, and the
    // program would wait for another: leave it time to get there, also on a
    // loaded machine.
    config.caretDelayMs = 250;
    config.faults = std::move(faults);
    return config;
}

// A wire at the real speed of 57600 baud, about 8 ms for each line and its
// answer; the simulator sleeps between answers, as many on few cores must.
SimulatorConfig paced(SimulatorConfig config)
{
    config.paced = true;
    config.stayAwake = false;
    return config;
}

} // namespace

// quobin-cli as a script runs it: the built program against simulated
// controllers on pseudo-terminals.
class CliUploadTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(300);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);

private slots:
    // `quobin-cli upload --json | head -1`: the reader goes away, the
    // controller still gets its whole firmware.
    void aReaderThatGoesAwayDoesNotStopTheUpload()
    {
        ControllerSimulator sim(quick());
        QProcess pipeline;
        pipeline.start(QStringLiteral("bash"),
                       {QStringLiteral("-c"), QStringLiteral("set -o pipefail; \"$0\" \"$@\" | head -n 1"),
                        QStringLiteral(QUOBIN_CLI), "upload", "--json", "--port", sim.slavePath(), m_firmware});
        QVERIFY(pipeline.waitForFinished(15000));
        QCOMPARE(pipeline.exitStatus(), QProcess::NormalExit);
        QCOMPARE(pipeline.exitCode(), 0); // quobin-cli's own status, through pipefail
        QCOMPARE(pipeline.readAllStandardOutput().count('\n'), 1);
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
    }

    // Without --port, the port that the window chose last: "Com 2" in the
    // quobin.ini of a portable folder, mapped by that folder's com2 link.
    void withoutAPortTheWindowsLastChoiceIsUsed()
    {
        ControllerSimulator sim(quick());
        const QString folder = m_folder.filePath(QStringLiteral("portable"));
        QVERIFY(QDir().mkpath(folder));
        RunningCli run;
        run.program = folder + QStringLiteral("/quobin-cli");
        QVERIFY(QFile::copy(QStringLiteral(QUOBIN_CLI), run.program));
        QVERIFY(QFile::link(sim.slavePath(), folder + QStringLiteral("/com2")));
        writeSettingsFile(settingsFilePath(folder), StoredSettings{1, 5, QStringLiteral("elsewhere.hex")});

        QCOMPARE(runCli(run, {"upload", "--json", m_firmware}), 0);
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
        QCOMPARE(run.events().last().value("port").toString(), QStringLiteral("Com 2"));

        // A folder whose quobin.ini chooses no port sends nothing.
        writeSettingsFile(settingsFilePath(folder), StoredSettings{-1, 5, QString()});
        RunningCli none;
        none.program = run.program;
        QCOMPARE(runCli(none, {"upload", m_firmware}), 2);
        QVERIFY2(none.err.contains("names no port"), none.err.constData());
    }

    void anUploadArrivesByteForByteAndReportsInJson()
    {
        ControllerSimulator sim(quick());
        const QString log = m_folder.filePath("upload.log");
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--json", "--log", log, "--port", sim.slavePath(), m_firmware}), 0);
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
        QCOMPARE(sim.mainCodeBytes(), QByteArray("\r4*730562\r"));

        const QList<QJsonObject> events = run.events();
        QVERIFY2(!events.isEmpty(), run.out.constData());
        QStringList statuses;
        int lastSent = -1;
        for (const QJsonObject &event : events) {
            QCOMPARE(event.value("port").toString(), sim.slavePath());
            const QString kind = event.value("event").toString();
            if (kind == "status") {
                statuses << event.value("text").toString();
            } else if (kind == "progress") {
                QCOMPARE(event.value("total").toInt(), 301);
                QVERIFY(event.value("sent").toInt() > lastSent);
                lastSent = event.value("sent").toInt();
            } else {
                QCOMPARE(kind, QStringLiteral("result"));
            }
        }
        QCOMPARE(lastSent, 301);
        QCOMPARE(statuses.first(), QStringLiteral("Initializing the com port"));
        QVERIFY(statuses.contains("Waiting for Bootloader Active Character...Reset target..."));
        QVERIFY(statuses.contains("Sending Firmware File - lines remaining "));
        const QJsonObject result = events.last();
        QCOMPARE(result.value("event").toString(), QStringLiteral("result"));
        QCOMPARE(result.value("result").toString(), QStringLiteral("success"));
        QCOMPARE(result.value("message").toString(), kSuccess);
        QCOMPARE(result.value("lines").toInt(), 301);
        QCOMPARE(result.value("resends").toInt(), 0);
        QVERIFY(result.value("seconds").toDouble() > 0);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QString port = sim.slavePath();
        QVERIFY(text.contains(port + ": sent \"\\r\""));
        QVERIFY(text.contains(port + ": sent \"4*730562\\r\""));
        QVERIFY(text.contains(port + ": received \"^\""));
        QVERIFY(text.contains(port + ": bootloader version 1.28"));
        QVERIFY(text.contains(port + ": sent \":00000001FF\""));
        QVERIFY(text.contains(port + ": result success"));
        // Every line is stamped with UTC milliseconds, whatever the locale.
        static const QRegularExpression stamped("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z ");
        for (const QString &line : text.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    }

    void eachErrorPolicyAnswersTheQuestions_data()
    {
        QTest::addColumn<QStringList>("policy");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("answer");
        // stdin is not a terminal here: the default is stop.
        QTest::newRow("default") << QStringList{} << QByteArray("y\n") << "stopped" << "no";
        QTest::newRow("stop") << QStringList{"--on-error", "stop"} << QByteArray() << "stopped" << "no";
        // Going on past a line the controller failed to flash is no success.
        QTest::newRow("continue") << QStringList{"--on-error", "continue"} << QByteArray() << "completed-with-errors" << "yes";
        QTest::newRow("ask, yes") << QStringList{"--on-error", "ask"} << QByteArray("y\n") << "completed-with-errors" << "yes";
        QTest::newRow("ask, no") << QStringList{"--on-error", "ask"} << QByteArray("n\n") << "stopped" << "no";
        QTest::newRow("ask, no input") << QStringList{"--on-error", "ask"} << QByteArray() << "stopped" << "no";
    }
    void eachErrorPolicyAnswersTheQuestions()
    {
        QFETCH(QStringList, policy);
        QFETCH(QByteArray, input);
        QFETCH(QString, result);
        QFETCH(QString, answer);
        ControllerSimulator sim(quick("1.28", {Fault(Fault::FlashError, 5)}));
        RunningCli run;
        const int status = runCli(run, QStringList{"upload", "--json", "--port", sim.slavePath()} + policy
                                           + QStringList{m_firmware},
                                  input);
        QCOMPARE(status, 1);
        const QString question = "Error writing to flash at line 5. Continue with download?";
        QList<QJsonObject> prompts;
        for (const QJsonObject &event : run.events())
            if (event.value("event") == "prompt")
                prompts << event;
        QCOMPARE(prompts.size(), 1);
        QCOMPARE(prompts.first().value("text").toString(), question);
        QCOMPARE(prompts.first().value("answer").toString(), answer);
        QCOMPARE(run.resultOf(sim.slavePath()).value("result").toString(), result);
        QCOMPARE(sim.receivedLines().size(), answer == "yes" ? 301 : 5);
        // Asked questions go to stderr, naming the port; stdout stays JSON.
        if (policy.contains("ask"))
            QVERIFY(run.err.contains((sim.slavePath() + ": " + question + " [y/N]").toUtf8()));
    }

    void ctrlCCancelsWhileWaitingForTheController_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    void ctrlCCancelsWhileWaitingForTheController()
    {
        QFETCH(int, signal);
        SimulatorConfig config = quick();
        config.caretDelayMs = -1; // nobody resets the board
        ControllerSimulator sim(config);
        RunningCli run;
        run.start({"upload", "--json", "--port", sim.slavePath(), m_firmware});
        QVERIFY(sim.waitUntil([&] { return sim.mainCodeBytes() == "\r4*730562\r"; }, 5000));
        QTest::qWait(300);
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        run.signal(signal);
        QCOMPARE(run.finish(), 130);
        QVERIFY(sinceSignal.elapsed() < 1500);
        QCOMPARE(run.resultOf(sim.slavePath()).value("result").toString(), QStringLiteral("cancelled"));
        QCOMPARE(sim.requestCount(), 0);
        // Nothing more: the bootloader announcing itself now hears nothing.
        sim.sendActiveCharacter();
        QTest::qWait(200);
        QCOMPARE(sim.requestCount(), 0);
    }

    void ctrlCCancelsBetweenLines()
    {
        // A paced wire and no resending bootloader: a cancel ends the upload
        // at the next line boundary.
        SimulatorConfig config = quick(QByteArray());
        config.paced = true;
        ControllerSimulator sim(config);
        RunningCli run;
        run.start({"upload", "--json", "--port", sim.slavePath(), m_firmware});
        QVERIFY(sim.waitUntil([&] { return sim.receivedLines().size() >= 40; }, 10000));
        run.signal(SIGINT);
        const qsizetype atSignal = sim.receivedLines().size();
        QCOMPARE(run.finish(), 130);
        const QJsonObject result = run.resultOf(sim.slavePath());
        QCOMPARE(result.value("result").toString(), QStringLiteral("cancelled"));
        QTest::qWait(100);
        const qsizetype atEnd = sim.receivedLines().size();
        QVERIFY2(atEnd <= atSignal + 2, qPrintable(QString("%1 then %2").arg(atSignal).arg(atEnd)));
        QCOMPARE(result.value("lines").toInt(), int(atEnd));
        QVERIFY(atEnd < 301);
        QCOMPARE(sim.uploadsCompleted(), 0);
    }

    void theWaitForTheControllerCanHaveALimit()
    {
        SimulatorConfig config = quick();
        config.caretDelayMs = -1;
        ControllerSimulator sim(config);
        RunningCli run;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runCli(run, {"upload", "--json", "--wait-for-controller", "1", "--port", sim.slavePath(),
                              m_firmware}),
                 1);
        QVERIFY(timer.elapsed() >= 1000);
        QVERIFY(timer.elapsed() < 5000);
        const QJsonObject result = run.resultOf(sim.slavePath());
        QCOMPARE(result.value("result").toString(), QStringLiteral("no-controller"));
        QCOMPARE(result.value("message").toString(), QString());
        QCOMPARE(sim.requestCount(), 0);
    }

    // A line that sends noise while the operator has not yet reset the
    // board: the program reads it all and keeps none of it, however long it
    // lasts (it once kept every byte and grew by a hundred megabytes a second).
    void noiseBeforeTheControllerDoesNotGrowTheProgram()
    {
        Pty line;
        std::atomic<bool> stop{false};
        std::atomic<qint64> sent{0};
        std::thread noise([&] {
            const QByteArray chunk(4096, 'n');
            while (!stop) {
                if (const qsizetype n = line.writeSome(chunk); n > 0)
                    sent += n;
                else
                    QThread::usleep(200);
            }
        });
        RunningCli run;
        run.start({"upload", "--json", "--wait-for-controller", "4", "--port", line.path(), m_firmware});
        qint64 peakKib = 0;
        qint64 cpuTicks = 0;
        const QString status = QStringLiteral("/proc/%1/status").arg(run.process.processId());
        QElapsedTimer running;
        running.start();
        while (!run.process.waitForFinished(100)) {
            if (running.elapsed() > 20000) {
                // The limit of the wait is looked at only while nothing waits.
                run.process.kill();
                run.process.waitForFinished();
                break;
            }
            QFile times(QStringLiteral("/proc/%1/stat").arg(run.process.processId()));
            if (times.open(QIODevice::ReadOnly)) {
                // utime and stime, after the name in parentheses.
                const QList<QByteArray> fields = times.readAll().split(')').value(1).trimmed().split(' ');
                cpuTicks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
            }
            QFile file(status);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &entry : file.readAll().split('\n')) {
                if (entry.startsWith("VmHWM:"))
                    peakKib = qMax(peakKib, entry.mid(6).trimmed().split(' ').value(0).toLongLong());
            }
        }
        stop = true;
        noise.join();
        run.out = run.process.readAllStandardOutput();
        QCOMPARE(run.process.exitCode(), 1);
        QCOMPARE(run.resultOf(line.path()).value("result").toString(), QStringLiteral("no-controller"));
        qInfo("noise sent while waiting: %lld MiB in %.1f s; the program's peak: %lld MiB, CPU %.2f s",
              sent / (1024 * 1024), double(running.elapsed()) / 1000.0, peakKib / 1024,
              double(cpuTicks) / double(::sysconf(_SC_CLK_TCK)));
        QVERIFY2(sent > 16 * 1024 * 1024, qPrintable(QString::number(sent)));
        QVERIFY2(peakKib > 0 && peakKib < quobin::testing::peakBoundKib(120 * 1024), qPrintable(QString::number(peakKib)));
    }

    void aGangUploadsToEveryPortAndOneFailureStopsNoOther()
    {
        ControllerSimulator first(quick());
        ControllerSimulator failing(quick("1.28", {Fault(Fault::Vanish, 20)}));
        // Replies in pieces and noise between them, as real adapters deliver them.
        ControllerSimulator third(quick("1.28", {Fault(Fault::SplitAnswer, 2), Fault(Fault::Garbage, 0)}));
        // One port by its comN link, as the window names it.
        first.createLink(m_folder.filePath("com7"));
        RunningCli run;
        const int status = runCli(run, {"upload", "--port", first.slavePath(), "--port", failing.slavePath(),
                                        "--port", third.slavePath(), m_firmware});
        QCOMPARE(status, 1);
        QCOMPARE(first.receivedLines(), linesOf(m_hex));
        QCOMPARE(third.receivedLines(), linesOf(m_hex));
        QVERIFY(failing.receivedLines().size() < 301);
        // Not a terminal: plain lines, then one summary row per port.
        const QString out = QString::fromUtf8(run.out);
        QVERIFY(out.contains(QRegularExpression("PORT +RESULT +LINES +RESENDS +SECONDS +MESSAGE")));
        QVERIFY(out.contains(QRegularExpression(QRegularExpression::escape(first.slavePath())
                                                + " +success +301 +0 +[0-9.]+ +" + kSuccess)));
        QVERIFY(out.contains(QRegularExpression(QRegularExpression::escape(third.slavePath())
                                                + " +success +301 +0 ")));
        QVERIFY(out.contains(QRegularExpression(QRegularExpression::escape(failing.slavePath())
                                                + " +transfer-error +\\d+ +\\d+ +[0-9.]+ +Error encountered while uploading the firmware file.")));
    }

    void questionsComeOneAtATimeWhileOtherPortsGoOn()
    {
        ControllerSimulator asking1(quick("1.28", {Fault(Fault::FlashError, 3)}));
        ControllerSimulator asking2(quick("1.28", {Fault(Fault::FlashError, 3)}));
        ControllerSimulator healthy(quick());
        RunningCli run;
        run.start({"upload", "--json", "--on-error", "ask", "--port", asking1.slavePath(), "--port",
                   asking2.slavePath(), "--port", healthy.slavePath(), m_firmware},
                  {}, true);
        const QString question = ": Error writing to flash at line 3. Continue with download? [y/N] ";
        QByteArray err;
        QByteArray out;
        const auto collect = [&] {
            run.process.waitForReadyRead(50);
            err += run.process.readAllStandardError();
            out += run.process.readAllStandardOutput();
        };
        QElapsedTimer timer;
        timer.start();
        // The healthy port finishes while a question waits for its answer.
        while (timer.elapsed() < 15000 && !(err.contains(question.toUtf8()) && out.contains("\"success\"")))
            collect();
        QVERIFY2(out.contains("\"result\":\"success\""), out.constData());
        QCOMPARE(healthy.receivedLines(), linesOf(m_hex));
        // Only one question is on the terminal at a time.
        QCOMPARE(err.count(question.toUtf8()), 1);
        const QString first = err.contains((asking1.slavePath() + question).toUtf8()) ? asking1.slavePath()
                                                                                          : asking2.slavePath();
        QVERIFY(err.contains((first + question).toUtf8()));
        run.process.write("y\n");
        while (timer.elapsed() < 15000 && err.count(question.toUtf8()) < 2)
            collect();
        QCOMPARE(err.count(question.toUtf8()), 2);
        QVERIFY(!err.contains((first + question + "y\n" + first).toUtf8()));
        run.process.write("n\n");
        run.process.closeWriteChannel();
        QCOMPARE(run.finish(), 1);
        run.out.prepend(out);
        const QString second = first == asking1.slavePath() ? asking2.slavePath() : asking1.slavePath();
        QCOMPARE(run.resultOf(first).value("result").toString(), QStringLiteral("completed-with-errors"));
        QCOMPARE(run.resultOf(second).value("result").toString(), QStringLiteral("stopped"));
        QCOMPARE(run.resultOf(healthy.slavePath()).value("result").toString(), QStringLiteral("success"));
    }

    // Three controllers answer the third line's first send after its wait
    // (3.2 s): one then answers the resend, one has answered the resend at
    // once, one is below 1.28 and does not resend, its late answer a "-".
    // The first two find a checksum error in line 250 once. Every late
    // answer is dropped, never judged as a later line's: line 250 is the
    // line sent again, and every port succeeds. Paced wires keep the
    // transfer going while the late answers are on their way.
    void anAnswerOwedByAnEarlierSendNeverShiftsLaterAnswers()
    {
        const Fault checksumError(Fault::ChecksumOnce, 251); // line 3 came twice before
        ControllerSimulator inOrder(paced(quick("1.28", {Fault(Fault::LateInOrder, 3, 3200), checksumError})));
        ControllerSimulator resendFirst(paced(quick("1.28", {Fault(Fault::LateAnswer, 3, 3200), checksumError})));
        ControllerSimulator old(paced(quick("1.27", {Fault(Fault::CustomAnswer, 3, -1, "-"),
                                                     Fault(Fault::LateAnswer, 3, 3200)})));
        const QString log = m_folder.filePath("stale.log");
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--json", "--log", log, "--port", inOrder.slavePath(), "--port",
                              resendFirst.slavePath(), "--port", old.slavePath(), m_firmware}),
                 0);

        QList<LineCount> resentTwice;
        QList<LineCount> once;
        for (const QByteArray &line : linesOf(m_hex)) {
            once.append({line, 1});
            resentTwice.append({line, resentTwice.size() == 2 || resentTwice.size() == 249 ? 2 : 1});
        }
        QCOMPARE(inOrder.lineCounts(), resentTwice);
        QCOMPARE(resendFirst.lineCounts(), resentTwice);
        QCOMPARE(old.lineCounts(), once);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (const ControllerSimulator *sim : {&inOrder, &resendFirst, &old}) {
            const QJsonObject result = run.resultOf(sim->slavePath());
            QCOMPARE(result.value("result").toString(), QStringLiteral("success"));
            QCOMPARE(result.value("resends").toInt(), sim == &old ? 0 : 2);
            // In order, the late answer and the resend's may come in one
            // read, and then both answer the resend: nothing is left to drop.
            const int stale = result.value("stale").toInt(-1);
            QVERIFY2(sim == &inOrder ? stale == 0 || stale == 1 : stale == 1, qPrintable(QString::number(stale)));
            const QString dropped = sim == &old ? "\"-\"" : "\"~\"";
            QCOMPARE(text.count(sim->slavePath() + ": stale answer after line 3 dropped: " + dropped), stale);
        }
        QVERIFY(!run.out.contains("\"prompt\""));
    }

    // The file is read once, before any port is touched: every port of a
    // gang gets that one image, whatever happens to the file meanwhile.
    void everyPortGetsTheFileAsItWasRead_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("rewritten in place") << false;
        QTest::newRow("deleted") << true;
    }
    void everyPortGetsTheFileAsItWasRead()
    {
        QFETCH(bool, deleted);
        ControllerSimulator first(paced(quick()));
        ControllerSimulator second(paced(quick()));
        const QString path = m_folder.write(QStringLiteral("changing.hex"), m_hex);
        RunningCli run;
        run.start({"upload", "--json", "--port", first.slavePath(), "--port", second.slavePath(), path});
        QVERIFY(first.waitUntil([&] { return first.receivedLines().size() >= 20; }, 10000));
        QFile file(path);
        if (deleted)
            QVERIFY(file.remove());
        else
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && file.write(sim::HexRecord::sampleImage(400)) > 0);
        file.close();
        QCOMPARE(run.finish(), 0);
        QCOMPARE(first.receivedLines(), linesOf(m_hex));
        QCOMPARE(second.receivedLines(), linesOf(m_hex));
    }

    // A ready reply whose "V1.28" comes a while after the "?", as a USB
    // adapter's latency delivers it, is read as version 1.28: the line with
    // a checksum error is sent again instead of stopping the upload.
    void theVersionIsReadFromAReplyInSlowPieces_data()
    {
        QTest::addColumn<int>("gapMsecs");
        QTest::newRow("25 ms") << 25;
        QTest::newRow("60 ms") << 60;
    }
    void theVersionIsReadFromAReplyInSlowPieces()
    {
        QFETCH(int, gapMsecs);
        ControllerSimulator sim(quick("1.28", {Fault(Fault::SplitReply, 0, gapMsecs), Fault(Fault::ChecksumOnce, 2)}));
        const QString log = m_folder.filePath(QStringLiteral("split%1.log").arg(gapMsecs));
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--json", "--log", log, "--port", sim.slavePath(), m_firmware}), 0);
        QCOMPARE(run.resultOf(sim.slavePath()).value("resends").toInt(), 1);
        QCOMPARE(sim.lineCounts().at(1).times, 2);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(": bootloader version 1.28"));
    }

    void badInputIsRefusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("unknown option") << "unknown option";
        QTest::newRow("not a port") << "not a port";
        QTest::newRow("missing device") << "missing device";
        QTest::newRow("beyond the window's ports") << "beyond the window's ports";
        QTest::newRow("same port twice") << "same port twice";
        QTest::newRow("missing file") << "missing file";
        QTest::newRow("folder") << "folder";
        QTest::newRow("too many lines") << "too many lines";
        QTest::newRow("bad checksum") << "bad checksum";
        QTest::newRow("bad policy") << "bad policy";
        QTest::newRow("bad wait") << "bad wait";
    }
    void badInputIsRefusedBeforeAnythingIsSent()
    {
        QFETCH(QString, what);
        ControllerSimulator sim(quick());
        const QString port = sim.slavePath();
        QStringList arguments{"upload", "--port", port, m_firmware};
        if (what == "unknown option") {
            arguments.insert(1, "--fast");
        } else if (what == "not a port") {
            arguments[2] = "port five";
        } else if (what == "missing device") {
            arguments[2] = m_folder.filePath("ttyUSB9");
        } else if (what == "beyond the window's ports") {
            arguments[2] = "Com 99";
        } else if (what == "same port twice") {
            sim.createLink(m_folder.filePath("alias"));
            arguments = QStringList{"upload", "--port", port, "--port", m_folder.filePath("alias"), m_firmware};
        } else if (what == "missing file") {
            arguments.last() = m_folder.filePath("none.hex");
        } else if (what == "folder") {
            arguments.last() = m_folder.path();
        } else if (what == "too many lines") {
            QByteArray lines;
            for (int i = 0; i < 32768; ++i)
                lines += ":00000001FF\r\n";
            arguments.last() = m_folder.write(QStringLiteral("long.hex"), lines);
        } else if (what == "bad checksum") {
            QByteArray hex = m_hex;
            hex.replace(":10001000", ":10001001"); // the second record no longer adds up
            arguments.last() = m_folder.write(QStringLiteral("bad.hex"), hex);
            // --no-check sends it anyway: covered by the simulator's "-" answer.
        } else if (what == "bad policy") {
            arguments.insert(1, "--on-error=maybe");
        } else if (what == "bad wait") {
            arguments.insert(1, "--wait-for-controller=soon");
        }
        RunningCli run;
        QCOMPARE(runCli(run, arguments), 2);
        QVERIFY2(run.err.startsWith("quobin-cli upload: "), run.err.constData());
        QVERIFY(run.out.isEmpty());
        QTest::qWait(50);
        QVERIFY(sim.receivedChunks().isEmpty());
    }
};

QTEST_GUILESS_MAIN(CliUploadTest)
#include "tst_cli_upload.moc"
