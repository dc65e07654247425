#include "ControllerSimulator.h"

#include "SimulatorError.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quobin::sim {

namespace {

// The most the simulator takes from the host in one read.
constexpr qsizetype kReadChunk = 4096;
// How long a paced simulator stays awake after answering a line.
constexpr auto kAwaitNextLine = std::chrono::milliseconds(2);

QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            text += QLatin1String("\\r");
        else if (c == '\n')
            text += QLatin1String("\\n");
        else if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

timespec timeoutUntil(std::optional<TimePoint> deadline, TimePoint now)
{
    using namespace std::chrono;
    // Without a deadline, look again now and then: a stop request also wakes the loop.
    const auto left = deadline ? std::max(SimClock::duration::zero(), *deadline - now) : SimClock::duration(seconds(1));
    const auto ns = duration_cast<nanoseconds>(left).count();
    return timespec { time_t(ns / 1'000'000'000), long(ns % 1'000'000'000) };
}

} // namespace

ControllerSimulator::ControllerSimulator(SimulatorConfig config)
    : m_config(std::move(config))
    , m_slavePath(m_pty.slavePath())
    , m_model(m_config)
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        throw SimulatorError(std::string("eventfd: ") + std::strerror(errno));
    m_thread = std::thread([this] { run(); });
}

ControllerSimulator::~ControllerSimulator()
{
    m_stopping = true;
    wake();
    m_thread.join();
    ::close(m_wakeFd);
}

void ControllerSimulator::createLink(const QString &linkPath) const
{
    const QByteArray link = QFile::encodeName(linkPath);
    ::unlink(link.constData());
    if (::symlink(QFile::encodeName(m_slavePath).constData(), link.constData()) != 0)
        throw SimulatorError("cannot link " + link.toStdString() + ": " + std::strerror(errno));
}

void ControllerSimulator::sendActiveCharacter()
{
    {
        std::lock_guard lock(m_mutex);
        m_model.reset(SimClock::now());
    }
    wake();
}

void ControllerSimulator::send(const QByteArray &bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_model.schedule().add({SimClock::now(), bytes});
    }
    wake();
}

void ControllerSimulator::vanish()
{
    {
        std::lock_guard lock(m_mutex);
        m_model.schedule().add({SimClock::now(), {}, 0, true});
    }
    wake();
}

bool ControllerSimulator::waitUntil(const std::function<bool()> &pred, int timeoutMs) const
{
    const TimePoint deadline = SimClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred())
            return true;
        if (SimClock::now() >= deadline)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(2));
    }
}

QList<ReceivedChunk> ControllerSimulator::receivedChunks() const
{
    std::lock_guard lock(m_mutex);
    return m_model.chunks();
}

QByteArray ControllerSimulator::mainCodeBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_model.mainCodeBytes();
}

int ControllerSimulator::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_model.requestTimes().size());
}

QList<TimePoint> ControllerSimulator::requestTimes() const
{
    std::lock_guard lock(m_mutex);
    return m_model.requestTimes();
}

QList<QByteArray> ControllerSimulator::receivedLines() const
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> lines;
    for (const LineRecord &line : m_model.lines())
        lines.append(line.text);
    return lines;
}

QList<LineRecord> ControllerSimulator::lineRecords() const
{
    std::lock_guard lock(m_mutex);
    return m_model.lines();
}

QList<LineCount> ControllerSimulator::lineCounts() const
{
    std::lock_guard lock(m_mutex);
    return m_model.lineCounts();
}

QList<SentChunk> ControllerSimulator::sentChunks() const
{
    std::lock_guard lock(m_mutex);
    return m_sent;
}

QByteArray ControllerSimulator::sentBytes() const
{
    std::lock_guard lock(m_mutex);
    QByteArray bytes;
    for (const SentChunk &chunk : m_sent)
        bytes += chunk.bytes;
    return bytes;
}

int ControllerSimulator::uploadsCompleted() const
{
    std::lock_guard lock(m_mutex);
    return m_model.uploadsCompleted();
}

int ControllerSimulator::mainCodeCommands() const
{
    std::lock_guard lock(m_mutex);
    return m_model.mainCodeCommands();
}

QList<BoardLog> ControllerSimulator::boards() const
{
    std::lock_guard lock(m_mutex);
    return m_model.boards();
}

bool ControllerSimulator::hasPendingOutput() const
{
    std::lock_guard lock(m_mutex);
    return m_model.schedule().nextDue().has_value();
}

bool ControllerSimulator::inBootloader() const
{
    std::lock_guard lock(m_mutex);
    return m_model.mode() == ControllerModel::Mode::Bootloader;
}

bool ControllerSimulator::hasVanished() const
{
    std::lock_guard lock(m_mutex);
    return m_vanished;
}

int ControllerSimulator::hostBytesWaiting() const
{
    int waiting = 0;
    if (!m_pty.isOpen() || ::ioctl(m_pty.masterFd(), FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

void ControllerSimulator::wake() const
{
    const quint64 one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void ControllerSimulator::run()
{
#ifdef PR_SET_TIMERSLACK
    // The default 50 us of timer slack would make every paced byte and
    // answer late; a wire is punctual.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    while (!m_stopping) {
        const int baud = m_config.paced && m_pty.isOpen() ? m_pty.lineSettings().baud : 0;
        TimePoint now = SimClock::now();
        QList<ScheduledOutput> due;
        std::optional<TimePoint> deadline;
        {
            std::lock_guard lock(m_mutex);
            const qsizetype linesBefore = m_model.lines().size();
            // A line ends on a quiet gap only when the host really is quiet:
            // bytes still on the wire or in the kernel belong to it, however
            // late this thread is to take them.
            if (!m_pacer.receiving(now) && hostBytesWaiting() == 0)
                m_model.tick(now);
            due = m_model.schedule().takeDue(now);
            if (m_model.lines().size() != linesBefore)
                m_changed.notify_all();
        }
        if (!due.isEmpty()) {
            transmit(std::move(due));
            continue; // pacing may have put outputs back; look at the schedule again
        }
        {
            std::lock_guard lock(m_mutex);
            deadline = m_model.nextDeadline();
        }

        const bool watchHost = m_pty.isOpen();
        pollfd fds[2] = { { m_wakeFd, POLLIN, 0 }, { m_pty.masterFd(), POLLIN, 0 } };
        const timespec timeout = baud > 0 ? timeoutUntil(stayAwake(deadline, now), now)
                                          : timeoutUntil(deadline, now);
        const int ready = ::ppoll(fds, watchHost ? 2 : 1, &timeout, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            quint64 count;
            [[maybe_unused]] const auto n = ::read(m_wakeFd, &count, sizeof count);
        }
        if (watchHost && ready > 0 && (fds[1].revents & POLLIN))
            readFromHost(baud);
        else if (watchHost && ready > 0 && (fds[1].revents & (POLLHUP | POLLERR)))
            ::usleep(10'000); // nothing to read yet the master reports trouble: do not spin
    }
}

// A real wire never oversleeps, but a thread does: waking a sleeping core can
// take a good part of a millisecond. On a paced wire the simulator therefore
// wakes a little before each due time and stays awake just after each answer,
// when the host's next line is about to come, polling without sleeping.
std::optional<TimePoint> ControllerSimulator::stayAwake(std::optional<TimePoint> deadline,
                                                        TimePoint now) const
{
    using namespace std::chrono;
    constexpr auto earlyWake = microseconds(300);
    if (!m_config.stayAwake)
        return deadline;
    if (now < m_awakeUntil)
        return now;
    if (!deadline)
        return deadline;
    return *deadline - earlyWake <= now ? now : *deadline - earlyWake;
}

void ControllerSimulator::readFromHost(int baud)
{
    const QByteArray bytes = m_pty.read(kReadChunk);
    if (bytes.isEmpty())
        return;
    m_awakeUntil = {}; // the line has come: sleep while it crosses the wire
    const LineSettings settings = m_pty.lineSettings();
    // On a paced wire the bytes count as arrived when the wire would have
    // delivered the last of them: answers are timed from there. Taking them
    // at once spares a wake-up for every byte.
    const TimePoint arrived = m_pacer.receiveEnd(SimClock::now(), bytes.size(), baud);
    {
        std::lock_guard lock(m_mutex);
        m_model.receive(bytes, settings, arrived);
    }
    m_changed.notify_all();
    log(QStringLiteral("<- %1 [%2%3%4%5]")
            .arg(printable(bytes))
            .arg(settings.baud)
            .arg(settings.ixon ? QStringLiteral(" IXON") : QString())
            .arg(settings.ixoff ? QStringLiteral(" IXOFF") : QString())
            .arg(settings.ixany ? QStringLiteral(" IXANY") : QString()));
}

void ControllerSimulator::transmit(QList<ScheduledOutput> outputs)
{
    for (ScheduledOutput &output : outputs) {
        if (output.vanish) {
            {
                std::lock_guard lock(m_mutex);
                m_vanished = true;
            }
            m_pty.close();
            m_changed.notify_all();
            log(QStringLiteral("vanished"));
            continue;
        }
        if (m_config.paced && !output.onWire && m_pty.isOpen()) {
            const int baud = m_pty.lineSettings().baud;
            output.due = m_pacer.transmitEnd(output.due, output.bytes.size(), baud);
            output.onWire = true;
            if (output.due > SimClock::now()) {
                std::lock_guard lock(m_mutex);
                m_model.schedule().add(std::move(output));
                continue;
            }
        }
        const bool written = m_pty.writeAll(output.bytes);
        if (m_config.paced && output.line > 0)
            m_awakeUntil = SimClock::now() + kAwaitNextLine;
        {
            std::lock_guard lock(m_mutex);
            if (written)
                m_sent.append({output.bytes, SimClock::now(), output.line});
        }
        m_changed.notify_all();
        log(written ? QStringLiteral("-> %1").arg(printable(output.bytes))
                    : QStringLiteral("-> %1 (not written: the host has gone or stopped reading)").arg(printable(output.bytes)));
    }
}

void ControllerSimulator::log(const QString &text) const
{
    if (m_config.log)
        m_config.log(text);
}

} // namespace quobin::sim
