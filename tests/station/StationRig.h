#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <functional>
#include <memory>

namespace quobin::testing {

// The bounds of the waits for what a run must do. A wait ends as soon as
// its condition holds, so a wide bound costs nothing when all is well; it
// has to outlast a 2-core machine that is busy with a build besides.
// kSoonMsecs: what follows at once from what the test has seen (a
// simulator's count after the run ended, a process's first output).
// kBoardMsecs: a board flashed and recorded, a store's own busy wait, the
// end of a run.
constexpr int kSoonMsecs = 15000;
constexpr int kBoardMsecs = 60000;

// Waits until done() holds, letting the test's own processes be read
// meanwhile; false after timeoutMsecs.
inline bool waitFor(const std::function<bool()> &done, int timeoutMsecs)
{
    const QDeadlineTimer deadline(timeoutMsecs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

// A fixture played by the real vantor-sim: a link to its device, and the
// folder where it records what each board received.
class SimFixture {
public:
    SimFixture(const QString &folder, const QString &name, const QStringList &options)
        : m_link(folder + QLatin1Char('/') + name), m_records(folder + QLatin1Char('/') + name + QStringLiteral("-boards"))
    {
        m_process.setProgram(QStringLiteral(VANTOR_SIM));
        m_process.setArguments(QStringList{QStringLiteral("--link"), m_link, QStringLiteral("--record-dir"), m_records}
                               + options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~SimFixture()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    // True once the simulator has made its link.
    bool ready() { return m_process.waitForReadyRead(5000) || !m_process.readAllStandardOutput().isEmpty(); }
    QString link() const { return m_link; }
    void reset() { ::kill(pid_t(m_process.processId()), SIGUSR1); }

    // fixture.json: boards, mainCodeCommands, uploads, boardImages.
    QJsonObject report() const
    {
        QFile file(m_records + QStringLiteral("/fixture.json"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }
    QJsonObject board(int number) const
    {
        const QJsonArray images = report().value(QStringLiteral("boardImages")).toArray();
        return number >= 1 && number <= images.size() ? images[number - 1].toObject() : QJsonObject{};
    }
    // The lines board `number` took, once it has finished or the next board
    // has come (the simulator writes its records a few times a second).
    QByteArray image(int number) const
    {
        waitFor([&] { return board(number).value(QStringLiteral("completed")).toBool() || board(number + 1).size() > 0; },
                3000);
        QFile file(m_records + QStringLiteral("/board-%1.hex").arg(number));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    int count(const char *key) const { return report().value(QLatin1String(key)).toInt(); }

private:
    QString m_link;
    QString m_records;
    QProcess m_process;
};

// A run of the built quobin-cli station whose output is read as it comes.
class StationRun {
public:
    explicit StationRun(const QProcessEnvironment &env)
    {
        m_process.setProcessEnvironment(env);
    }
    ~StationRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    void start(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(QUOBIN_CLI), QStringList{QStringLiteral("station")} + arguments);
        m_process.waitForStarted();
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    // Lines on the station's standard input (board IDs), and its end.
    void type(const QByteArray &lines) { m_process.write(lines); m_process.waitForBytesWritten(kSoonMsecs); }
    void closeInput() { m_process.closeWriteChannel(); }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // Waits for the end; -1 when it did not come or was a crash.
    int finish(int timeoutMsecs = kBoardMsecs)
    {
        // A run that a wait of the test saw end is over already.
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMsecs)) {
            qWarning("quobin-cli station did not end in %d ms; its output:\n%s\n%s", timeoutMsecs,
                     output().right(3000).constData(), errors().constData());
            m_process.kill();
            m_process.waitForFinished(3000);
            return -1;
        }
        if (m_process.exitStatus() != QProcess::NormalExit) {
            qWarning("quobin-cli station ended on a signal; its errors:\n%s", errors().right(3000).constData());
            return -1;
        }
        return m_process.exitCode();
    }

    QByteArray output()
    {
        m_out += m_process.readAllStandardOutput();
        return m_out;
    }
    QByteArray errors()
    {
        m_err += m_process.readAllStandardError();
        return m_err;
    }

    // The JSON events so far (whole lines only).
    QList<QJsonObject> events()
    {
        QList<QJsonObject> objects;
        const QByteArray out = output();
        const QList<QByteArray> lines = out.left(out.lastIndexOf('\n') + 1).split('\n');
        for (const QByteArray &line : lines) {
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                objects << document.object();
        }
        return objects;
    }
    QList<QJsonObject> events(const QString &kind)
    {
        QList<QJsonObject> matching;
        for (const QJsonObject &event : events())
            if (event.value(QStringLiteral("event")).toString() == kind)
                matching << event;
        return matching;
    }
    QList<QJsonObject> records()
    {
        QList<QJsonObject> all;
        for (const QJsonObject &event : events(QStringLiteral("record")))
            all << event.value(QStringLiteral("record")).toObject();
        return all;
    }

private:
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

// A small tmpfs of the test's own, for a disk that fills up: mounted on
// folder (made), unmounted and its folder removed at the end. Mounting needs
// root; problem() says why it could not be had.
class SmallDisk {
public:
    SmallDisk(const QString &folder, int kibibytes) : m_folder(folder)
    {
        QDir().mkpath(folder);
        QProcess mount;
        mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                              QStringLiteral("size=%1k,mode=0755").arg(kibibytes),
                                              QStringLiteral("tmpfs"), folder});
        m_mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        if (!m_mounted)
            m_problem = QStringLiteral("cannot mount a tmpfs on %1 (the full-disk cases run as root): %2")
                            .arg(folder, QString::fromLocal8Bit(mount.readAllStandardError()));
    }
    ~SmallDisk()
    {
        if (m_mounted) {
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder});
            QDir().rmdir(m_folder);
        }
    }
    bool mounted() const { return m_mounted; }
    QString problem() const { return m_problem; }

    // Writes a file until the disk has no room left.
    void fill()
    {
        QFile filler(m_folder + QStringLiteral("/filler"));
        filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        while (filler.write("x", 1) == 1) {
        }
    }
    void free() { QFile::remove(m_folder + QStringLiteral("/filler")); }

private:
    QString m_folder;
    bool m_mounted = false;
    QString m_problem;
};

} // namespace quobin::testing
