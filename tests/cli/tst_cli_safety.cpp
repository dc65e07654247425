// quobin-cli against what is not what it seems: files and devices of the
// wrong kind, names that are not UTF-8, ports that cannot be opened, a log
// that cannot be written, a terminal that hangs up or is narrow. Each through
// the built program, against simulated controllers on pseudo-terminals.

#include "CliRun.h"
#include "ControllerSimulator.h"
#include "HexRecord.h"
#include "TempFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quobin;
using namespace quobin::testing;
using quobin::sim::ControllerSimulator;
using quobin::sim::Fault;
using quobin::sim::SimulatorConfig;

namespace {

SimulatorConfig quick(QList<Fault> faults = {}, int caretDelayMs = 250)
{
    SimulatorConfig config;
    config.version = "1.28";
    // After the program has reopened the port for the bootloader.
    config.caretDelayMs = caretDelayMs;
    config.faults = std::move(faults);
    return config;
}

// The built program copied into a folder that others may enter, so that it
// keeps its comN links there (a portable folder) and an unprivileged user
// may run it.
QString portableCopy(const QString &folder)
{
    QDir().mkpath(folder);
    const QString program = folder + QStringLiteral("/quobin-cli");
    QFile::copy(QStringLiteral(QUOBIN_CLI), program);
    ::chmod(QFile::encodeName(program).constData(), 0755);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    return program;
}

} // namespace

class CliSafetyTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(40);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);

private slots:
    void initTestCase()
    {
        // An unprivileged user runs the program from here in some cases.
        QVERIFY(::chmod(QFile::encodeName(m_folder.path()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_firmware).constData(), 0644) == 0);
    }

    // A FIFO would block the reader for good, /dev/zero never ends, and a
    // byte-order mark would go out as part of the first line: refused with
    // exit 2, and the controller hears nothing.
    void filesThatAreNotWhatTheySeemAreRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        const QString fifo = m_folder.filePath(QStringLiteral("pipe.hex"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        const QString marked = m_folder.write(QStringLiteral("marked.hex"), "\xEF\xBB\xBF" + m_hex);

        QTest::newRow("FIFO") << fifo << QStringList{} << fifo + " is a FIFO (named pipe), not a firmware file";
        QTest::newRow("FIFO, unchecked") << fifo << QStringList{"--no-check"}
                                         << fifo + " is a FIFO (named pipe), not a firmware file";
        QTest::newRow("/dev/zero, unchecked") << "/dev/zero" << QStringList{"--no-check"}
                                              << "/dev/zero is a character device, not a firmware file";
        QTest::newRow("folder, unchecked") << m_folder.path() << QStringList{"--no-check"}
                                           << m_folder.path() + " is a folder, not a firmware file";
        QTest::newRow("byte-order mark") << marked << QStringList{}
                                         << "line 1: the file starts with a UTF-8 byte-order mark";
    }
    void filesThatAreNotWhatTheySeemAreRefused()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        ControllerSimulator sim(quick());
        RunningCli upload;
        QCOMPARE(runCli(upload, QStringList{"upload", "--port", sim.slavePath()} + options + QStringList{file}), 2);
        QVERIFY2(upload.err.contains(message.toUtf8()), upload.err.constData());
        // `check` reads the file the same way.
        RunningCli check;
        QCOMPARE(runCli(check, {"check", file}), 2);
        QVERIFY2((check.out + check.err).contains(message.toUtf8()), (check.out + check.err).constData());
        QTest::qWait(50);
        QVERIFY(sim.receivedChunks().isEmpty());
    }

    // Qt reads the program's arguments as UTF-8 and would lose such a name.
    void aFileNameThatIsNotUtf8IsOpenedByItsBytes()
    {
        const QByteArray name = QFile::encodeName(m_folder.path()) + "/fw-\xE9\xFF.hex";
        QFile file;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QVERIFY(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        file.write(m_hex);
        file.close();
        ControllerSimulator sim(quick());
        // The shell passes the bytes on as they are.
        RunningCli run;
        run.program = QStringLiteral("/bin/sh");
        const QString script = QStringLiteral("\"$0\" check \"$(printf '%1/fw-\\351\\377.hex')\" >/dev/null && "
                                              "exec \"$0\" upload --json --port \"$1\" \"$(printf '%1/fw-\\351\\377.hex')\"")
                                   .arg(m_folder.path());
        QCOMPARE(runCli(run, {"-c", script, QStringLiteral(QUOBIN_CLI), sim.slavePath()}), 0);
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
        QCOMPARE(run.resultOf(sim.slavePath()).value("result").toString(), QStringLiteral("success"));
    }

    // The controller's commands would vanish, or land on a screen.
    void devicesThatAreNoSerialLineAreRefused_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("message");
        QTest::newRow("/dev/null") << "/dev/null" << "/dev/null is not a serial line";
        QTest::newRow("/dev/zero") << "/dev/zero" << "/dev/zero is not a serial line";
        QTest::newRow("/dev/tty") << "/dev/tty" << "/dev/tty is a terminal of the system, not a serial line";
        QTest::newRow("a regular file") << m_firmware << m_firmware + " is a regular file, not a serial device";
    }
    void devicesThatAreNoSerialLineAreRefused()
    {
        QFETCH(QString, device);
        QFETCH(QString, message);
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--port", device, m_firmware}), 2);
        QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
        QVERIFY(run.out.isEmpty());
    }

    // `--port "$(tty)"` from the operator's shell: the main-code command
    // would be written onto the operator's own screen.
    void theProgramsOwnTerminalIsRefused()
    {
        TerminalCli terminal;
        QVERIFY(terminal.start(QStringLiteral("exec \"$0\" upload --port \"$(tty)\" '%1'").arg(m_firmware), 80));
        QCOMPARE(terminal.finish(), 2);
        QVERIFY2(terminal.output().contains("is the terminal this program runs in, not a serial line"),
                 terminal.output().constData());
        QVERIFY(!terminal.output().contains("4*730562"));
    }

    // The serial library reads "links/p1" as /dev/links/p1.
    void aRelativeDevicePathIsTheOneInTheWorkingFolder()
    {
        ControllerSimulator sim(quick());
        QVERIFY(QDir(m_folder.path()).mkpath(QStringLiteral("links")));
        sim.createLink(m_folder.filePath(QStringLiteral("links/p1")));
        RunningCli run;
        run.process.setWorkingDirectory(m_folder.path());
        QCOMPARE(runCli(run, {"upload", "--json", "--port", "links/p1", m_firmware}), 0);
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
    }

    // A port that cannot be opened, or goes away, says why: in the JSON
    // result, the summary table and on stderr. The message stays the
    // window's.
    void portErrorsSayWhy()
    {
        const QString folder = m_folder.filePath(QStringLiteral("portable"));
        RunningCli missing;
        missing.program = portableCopy(folder);
        QVERIFY(QFile::link(QStringLiteral("/dev/quobin-no-such-adapter"), folder + QStringLiteral("/com3")));
        QCOMPARE(runCli(missing, {"upload", "--json", "--port", "3", m_firmware}), 1);
        const QJsonObject result = missing.resultOf(QStringLiteral("Com 3"));
        QCOMPARE(result.value("result").toString(), QStringLiteral("port-error"));
        QCOMPARE(result.value("message").toString(), QStringLiteral("Error encountered while accessing the com port."));
        const QString why = folder + QStringLiteral("/com3 leads to /dev/quobin-no-such-adapter, which does not exist");
        QCOMPARE(result.value("detail").toString(), why);
        QVERIFY2(missing.err.contains(("Com 3: " + why).toUtf8()), missing.err.constData());

        // Held by another upload that waits for its controller.
        ControllerSimulator held(quick({}, -1));
        RunningCli holder;
        holder.start({"upload", "--json", "--port", held.slavePath(), m_firmware});
        QVERIFY(held.waitUntil([&] { return held.mainCodeBytes() == "\r4*730562\r"; }, 5000));
        QTest::qWait(300);
        RunningCli busy;
        QCOMPARE(runCli(busy, {"upload", "--port", held.slavePath(), m_firmware}), 1);
        // Not a terminal: the summary table shows the reason beside the message.
        QVERIFY2(QString::fromUtf8(busy.out).contains(QRegularExpression(QRegularExpression::escape(held.slavePath())
                                                      + " +port-error .*com port\\. \\("
                                                      + QRegularExpression::escape(held.slavePath())
                                                      + " is in use by another program\\)")),
                 busy.out.constData());
        holder.signal(SIGINT);
        QCOMPARE(holder.finish(), 130);

        ControllerSimulator vanishing(quick({Fault(Fault::Vanish, 20)}));
        RunningCli gone;
        QCOMPARE(runCli(gone, {"upload", "--json", "--port", vanishing.slavePath(), m_firmware}), 1);
        const QJsonObject goneResult = gone.resultOf(vanishing.slavePath());
        QCOMPARE(goneResult.value("result").toString(), QStringLiteral("transfer-error"));
        QVERIFY2(goneResult.value("detail").toString().contains(QStringLiteral("the device is gone")),
                 qPrintable(goneResult.value("detail").toString()));
    }

    // Root opens anything: permission is tried as an unprivileged user.
    void permissionDeniedNamesTheGroupThatMayOpenThePort()
    {
        if (::geteuid() != 0)
            QSKIP("runs as root, to run the program as another user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is needed to run the program as another user");
        const struct group *dialout = ::getgrnam("dialout");
        QVERIFY2(dialout, "the group dialout is needed");
        ControllerSimulator sim(quick());
        const QByteArray device = QFile::encodeName(sim.slavePath());
        QVERIFY(::chown(device.constData(), 0, dialout->gr_gid) == 0);
        QVERIFY(::chmod(device.constData(), 0660) == 0);

        RunningCli run;
        run.program = setpriv;
        QCOMPARE(runCli(run, {"--reuid=65534", "--regid=65534", "--clear-groups",
                              portableCopy(m_folder.filePath(QStringLiteral("shared"))), "upload", "--json",
                              "--port", sim.slavePath(), m_firmware}),
                 1);
        const QJsonObject result = run.resultOf(sim.slavePath());
        QCOMPARE(result.value("result").toString(), QStringLiteral("port-error"));
        QCOMPARE(result.value("detail").toString(),
                 QStringLiteral("permission denied: %1 belongs to group dialout").arg(sim.slavePath()));
    }

    // Going on past a failed line is no success; a stop names its line.
    void theQuestionsAnsweredAreInTheResult_data()
    {
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("continue") << "continue" << "completed-with-errors"
                                  << "line 5: Error writing to flash; line 9: Checksum error";
        QTest::newRow("stop") << "stop" << "stopped" << "line 5: Error writing to flash, answered No";
    }
    void theQuestionsAnsweredAreInTheResult()
    {
        QFETCH(QString, policy);
        QFETCH(QString, result);
        QFETCH(QString, message);
        // Line 9 is the ninth line received: the flash error is not resent.
        ControllerSimulator sim(quick({Fault(Fault::FlashError, 5), Fault(Fault::ChecksumAlways, 9)}));
        RunningCli json;
        QCOMPARE(runCli(json, {"upload", "--json", "--on-error", policy, "--port", sim.slavePath(), m_firmware}), 1);
        const QJsonObject outcome = json.resultOf(sim.slavePath());
        QCOMPARE(outcome.value("result").toString(), result);
        QCOMPARE(outcome.value("message").toString(), message);
        QCOMPARE(outcome.value("detail").toString(), QString());

        ControllerSimulator again(quick({Fault(Fault::FlashError, 5), Fault(Fault::ChecksumAlways, 9)}));
        RunningCli table;
        QCOMPARE(runCli(table, {"upload", "--on-error", policy, "--port", again.slavePath(), m_firmware}), 1);
        QVERIFY2(QString::fromUtf8(table.out).contains(QRegularExpression(QRegularExpression::escape(again.slavePath()) + " +"
                                                       + result + " +\\d+ +\\d+ +[0-9.]+ +"
                                                       + QRegularExpression::escape(message) + "\n")),
                 table.out.constData());
    }

    void optionsAreCheckedAndSayWhatWasWrong_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const QStringList upload{"upload", "--port", "/dev/null"};
        QTest::newRow("--log twice") << upload + QStringList{"--log", "a", "--log", "b", "x.hex"} << 2
                                     << "--log is given more than once";
        QTest::newRow("--wait-for-controller twice")
            << upload + QStringList{"--wait-for-controller", "5", "--wait-for-controller=6", "x.hex"} << 2
            << "--wait-for-controller is given more than once";
        QTest::newRow("--on-error twice") << upload + QStringList{"--on-error", "stop", "--on-error", "stop", "x.hex"}
                                          << 2 << "--on-error is given more than once";
        QTest::newRow("a wait beyond the limit")
            << upload + QStringList{"--wait-for-controller", "2147483648", "x.hex"} << 2
            << "--wait-for-controller takes a whole number of seconds from 1 to 2147483647, not '2147483648'";
        QTest::newRow("check, unknown option") << QStringList{"check", "--fast", m_firmware} << 2
                                               << "quobin-cli check: Unknown option 'fast'.";
        QTest::newRow("check, no file") << QStringList{"check"} << 2 << "quobin-cli check: no FILE given";
        m_folder.write(QStringLiteral("-dashed.hex"), m_hex);
        QTest::newRow("check, -- before a dashed name") << QStringList{"check", "--", "-dashed.hex"} << 0 << "passed";
    }
    void optionsAreCheckedAndSayWhatWasWrong()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        RunningCli run;
        run.process.setWorkingDirectory(m_folder.path());
        QCOMPARE(runCli(run, arguments), status);
        QVERIFY2((run.out + run.err).contains(said.toUtf8()), (run.out + run.err).constData());
    }

    // The record is part of the job.
    void aLogThatCannotBeWrittenIsAnError()
    {
        ControllerSimulator sim(quick());
        RunningCli full;
        QCOMPARE(runCli(full, {"upload", "--log", "/dev/full", "--port", sim.slavePath(), m_firmware}), 1);
        QCOMPARE(sim.receivedLines(), linesOf(m_hex));
        QVERIFY2(full.err.startsWith("quobin-cli upload: cannot write the log /dev/full: "), full.err.constData());
        QCOMPARE(full.err.count('\n'), 1); // that line alone: no library warning

        RunningCli unopened;
        QCOMPARE(runCli(unopened, {"upload", "--log", m_folder.filePath("none/upload.log"), "--port",
                                   sim.slavePath(), m_firmware}),
                 2);
        QVERIFY2(unopened.err.contains("cannot open the log"), unopened.err.constData());
        QCOMPARE(sim.receivedLines().size(), linesOf(m_hex).size()); // nothing more was sent
    }

    // A log that names a serial line would write the record down that line:
    // the controller's own, or another board's. Refused before any port is
    // opened; a character device that is no line (/dev/full above) is a file.
    void aLogThatNamesASerialLineIsRefused()
    {
        ControllerSimulator target(quick());
        ControllerSimulator other(quick());
        for (const QString &log : {other.slavePath(), target.slavePath()}) {
            RunningCli run;
            QCOMPARE(runCli(run, {"upload", "--log", log, "--port", target.slavePath(), m_firmware}), 2);
            QVERIFY2(run.err.contains("quobin-cli upload: the log " + log.toUtf8() + " names a serial line, not a file"),
                     run.err.constData());
        }
        QTest::qWait(300);
        QCOMPARE(target.mainCodeBytes(), QByteArray());
        QCOMPARE(other.mainCodeBytes(), QByteArray());
    }

    // A file name holding a line end must not split a record.
    void everyLogRecordIsOneLine()
    {
        ControllerSimulator sim(quick());
        const QString firmware = m_folder.write(QStringLiteral("two\nlines.hex"), m_hex);
        const QString log = m_folder.filePath(QStringLiteral("escaped.log"));
        RunningCli run;
        QCOMPARE(runCli(run, {"upload", "--log", log, "--port", sim.slavePath(), firmware}), 0);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains("status \"Opening the file " + QString(firmware).replace('\n', "\\n") + ".\""),
                 qPrintable(text));
        static const QRegularExpression record("^\\d{4}-\\d\\d-\\d\\dT[0-9:.]+Z " + QRegularExpression::escape(sim.slavePath())
                                               + ": ");
        for (const QString &line : text.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(record.match(line).hasMatch(), qPrintable(line));
    }

    // The terminal going away cancels like Ctrl-C, and the result is kept.
    void aHangUpCancelsAndRecordsTheResult()
    {
        ControllerSimulator sim(quick({}, -1));
        const QString log = m_folder.filePath(QStringLiteral("hangup.log"));
        RunningCli run;
        run.start({"upload", "--json", "--log", log, "--port", sim.slavePath(), m_firmware});
        QVERIFY(sim.waitUntil([&] { return sim.mainCodeBytes() == "\r4*730562\r"; }, 5000));
        QTest::qWait(300);
        run.signal(SIGHUP);
        QCOMPARE(run.finish(), 129);
        QCOMPARE(run.resultOf(sim.slavePath()).value("result").toString(), QStringLiteral("cancelled"));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(": result cancelled"));
    }

    // In a narrow terminal the question takes several rows; the other
    // ports' live lines go on above it, each cut to the width.
    void liveLinesGoOnWhileAQuestionWaitsInANarrowTerminal()
    {
        ControllerSimulator asking(quick({Fault(Fault::FlashError, 3)}));
        SimulatorConfig paced = quick();
        paced.paced = true;
        ControllerSimulator healthy(paced);
        const QByteArray image = sim::HexRecord::sampleImage(400);
        const QString firmware = m_folder.write(QStringLiteral("long.hex"), image);
        TerminalCli terminal;
        QVERIFY(terminal.start(QStringLiteral("exec \"$0\" upload --on-error ask --port '%1' --port '%2' '%3'")
                                   .arg(asking.slavePath(), healthy.slavePath(), firmware),
                               40));
        // Broken into rows that fit: the end of it.
        const QByteArray question = "[y/N]";
        QVERIFY2(terminal.waitFor([&](const QByteArray &out) { return out.contains(question); }, 10000),
                 terminal.output().constData());
        const qsizetype asked = terminal.output().indexOf(question);
        // The healthy port finishes while the question waits, and its line
        // is redrawn above the question meanwhile.
        QVERIFY(healthy.waitUntil([&] { return healthy.uploadsCompleted() == 1; }, 20000));
        QVERIFY2(terminal.waitFor([&](const QByteArray &out) { return out.indexOf("success", asked) > 0; }, 3000),
                 terminal.output().mid(asked).constData());
        terminal.type("y\r");
        QCOMPARE(terminal.finish(), 1);  // the asked port completed with errors
        QCOMPARE(asking.receivedLines(), linesOf(image));

        // No row the program drew is wider than the terminal (the summary
        // table at the end is printed, not drawn).
        QByteArray out = terminal.output();
        out.truncate(out.indexOf("\nPORT "));
        static const QRegularExpression controls("\x1b(\\[[0-9;]*[A-Za-z]|[78])");
        const QString plain = QString::fromUtf8(out).replace(controls, QStringLiteral("\n"));
        for (const QString &row : plain.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts))
            QVERIFY2(row.size() <= 40, qPrintable(row));
    }
};

QTEST_GUILESS_MAIN(CliSafetyTest)
#include "tst_cli_safety.moc"
