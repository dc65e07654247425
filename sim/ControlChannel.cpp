#include "ControlChannel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quobin::sim {

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

qint64 microsSince(TimePoint origin, TimePoint at)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(at - origin).count();
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

ControlChannel::ControlChannel(ControllerSimulator &simulator, int inputFd, int outputFd)
    : m_simulator(simulator)
    , m_input(inputFd)
    , m_output(outputFd)
    , m_origin(SimClock::now())
{
    m_thread = std::thread([this] { run(); });
}

ControlChannel::~ControlChannel()
{
    m_stopping = true;
    m_thread.join();
}

QByteArray ControlChannel::reportOf(const ControllerSimulator &simulator, TimePoint origin)
{
    QJsonArray requests;
    for (const TimePoint &at : simulator.requestTimes())
        requests.append(microsSince(origin, at));
    QJsonArray chunks;
    for (const ReceivedChunk &chunk : simulator.receivedChunks()) {
        chunks.append(QJsonObject {
            { QStringLiteral("bytes"), hex(chunk.bytes) },
            { QStringLiteral("baud"), chunk.settings.baud },
            { QStringLiteral("ixon"), chunk.settings.ixon },
            { QStringLiteral("ixoff"), chunk.settings.ixoff },
            { QStringLiteral("ixany"), chunk.settings.ixany },
            { QStringLiteral("us"), microsSince(origin, chunk.at) },
        });
    }
    QJsonArray lines;
    for (const QByteArray &line : simulator.receivedLines())
        lines.append(hex(line));
    QJsonArray counts;
    for (const LineCount &count : simulator.lineCounts())
        counts.append(QJsonArray { count.times, hex(count.text) });
    const QJsonObject report {
        { QStringLiteral("mainCode"), hex(simulator.mainCodeBytes()) },
        { QStringLiteral("requests"), requests },
        { QStringLiteral("chunks"), chunks },
        { QStringLiteral("lines"), lines },
        { QStringLiteral("lineCounts"), counts },
    };
    return QJsonDocument(report).toJson(QJsonDocument::Compact);
}

QByteArray ControlChannel::answer(const QByteArray &command)
{
    if (command == "report")
        return reportOf(m_simulator, m_origin);
    if (command == "vanish") {
        m_simulator.vanish();
        return "ok";
    }
    if (command == "reset") {
        m_simulator.sendActiveCharacter();
        return "ok";
    }
    return "error: unknown command " + command;
}

void ControlChannel::run()
{
    QByteArray pending;
    while (!m_stopping) {
        // Look at the stop request every 100 ms.
        pollfd input { m_input, POLLIN, 0 };
        const int ready = ::poll(&input, 1, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[1024];
        const ssize_t n = ::read(m_input, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the input has ended: no more commands
        pending.append(buffer, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command.isEmpty())
                continue;
            if (!writeAll(m_output, answer(command) + '\n'))
                return;
        }
    }
}

} // namespace quobin::sim
