#pragma once

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTest>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quobin::testing {

// The non-blank lines of a text, each without its line end and blanks.
inline QList<QByteArray> linesOf(const QByteArray &content)
{
    QList<QByteArray> lines = content.split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    lines.removeAll(QByteArray());
    return lines;
}

// One run of a program: its exit status and what it wrote.
struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

inline CliRun runProgram(const QString &program, const QStringList &arguments,
                         const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    CliRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("did not finish");
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// One run of the built quobin-cli, its stdin given, stdout and stderr kept.
struct RunningCli {
    QProcess process;
    QByteArray out;
    QByteArray err;

    QString program = QStringLiteral(QUOBIN_CLI);

    void start(const QStringList &arguments, const QByteArray &input = {}, bool moreInput = false)
    {
        // The program inherits the run's locale: the comma-decimal run
        // checks that a desktop writing 1,5 changes no byte of the JSON or
        // the log.
        process.setProgram(program);
        process.setArguments(arguments);
        process.start();
        QVERIFY(process.waitForStarted());
        process.write(input);
        if (!moreInput)
            process.closeWriteChannel();
    }
    // A program that does not end in time fails its case and says what it
    // was doing, rather than holding up the whole suite.
    int finish(int timeoutMsecs = 15000)
    {
        const bool ended = process.waitForFinished(timeoutMsecs);
        if (!ended) {
            process.kill();
            process.waitForFinished(2000);
        }
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        if (!ended)
            qWarning("quobin-cli %s did not end within %d ms\n--- stdout (end)\n%s\n--- stderr\n%s",
                     qPrintable(process.arguments().join(QLatin1Char(' '))), timeoutMsecs,
                     out.right(2000).constData(), err.constData());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }

    QList<QJsonObject> events() const
    {
        QList<QJsonObject> objects;
        for (const QByteArray &line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            if (error.error != QJsonParseError::NoError || !document.isObject())
                return {}; // not JSON: the caller's comparison fails
            objects << document.object();
        }
        return objects;
    }
    // The last event of port: its result.
    QJsonObject resultOf(const QString &port) const
    {
        QJsonObject last;
        for (const QJsonObject &event : events())
            if (event.value("port").toString() == port)
                last = event;
        return last;
    }
};

inline int runCli(RunningCli &run, const QStringList &arguments, const QByteArray &input = {})
{
    run.start(arguments, input);
    return run.finish();
}


// quobin-cli on a terminal of its own: a pseudo-terminal of the given size
// that is its controlling terminal and its stdin, stdout and stderr, as when
// an operator starts it from a shell.
class TerminalCli {
public:
    TerminalCli() = default;
    TerminalCli(const TerminalCli &) = delete;
    TerminalCli &operator=(const TerminalCli &) = delete;
    ~TerminalCli()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0)
            ::close(m_master);
    }

    // Runs `sh -c script` with QUOBIN_CLI in $0, so that the script can name
    // the terminal itself ("$(tty)").
    bool start(const QString &script, unsigned short columns, unsigned short rows = 24)
    {
        const QByteArray shell = "/bin/sh";
        const QByteArray command = script.toUtf8();
        const QByteArray program = QUOBIN_CLI;
        winsize size{};
        size.ws_col = columns;
        size.ws_row = rows;
        m_pid = ::forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            ::execl(shell.constData(), "sh", "-c", command.constData(), program.constData(), nullptr);
            ::_exit(127);
        }
        if (m_pid < 0)
            return false;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        return true;
    }

    // Everything the program has written so far.
    QByteArray output()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_master, buffer, sizeof buffer)) > 0)
            m_output.append(buffer, n);
        return m_output;
    }
    // Waits until pred(output()) holds; false when the time is up.
    bool waitFor(const std::function<bool(const QByteArray &)> &pred, int timeoutMsecs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!pred(output())) {
            if (timer.elapsed() > timeoutMsecs)
                return false;
            pollfd p{m_master, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
        return true;
    }
    void type(const QByteArray &keys) { (void)!::write(m_master, keys.constData(), size_t(keys.size())); }

    // The exit status, -1 when it did not end in time or ended by a signal.
    int finish(int timeoutMsecs = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        int status = 0;
        while (timer.elapsed() < timeoutMsecs) {
            output();
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                output();
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            QThread::msleep(10);
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_master = -1;
    QByteArray m_output;
};

} // namespace quobin::testing
