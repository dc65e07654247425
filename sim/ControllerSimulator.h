#pragma once

#include "ControllerModel.h"
#include "PseudoTerminal.h"
#include "Recording.h"
#include "SimulatorConfig.h"
#include "WirePacer.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace quobin::sim {

// A controller on the far end of a pseudo-terminal. The constructor opens the
// pseudo-terminal and starts the simulator's own thread, which serves the
// master side until destruction, so the program under test may block its
// thread without running an event loop. Every public member is thread-safe.
class ControllerSimulator {
public:
    explicit ControllerSimulator(SimulatorConfig config = {}); // throws SimulatorError
    ~ControllerSimulator();
    ControllerSimulator(const ControllerSimulator &) = delete;
    ControllerSimulator &operator=(const ControllerSimulator &) = delete;

    // The device the program opens as its serial port.
    QString slavePath() const { return m_slavePath; }
    // Makes linkPath a symbolic link to the slave path, replacing any old link.
    void createLink(const QString &linkPath) const; // throws SimulatorError

    // The operator resets the controller: it enters its bootloader and sends
    // the active character.
    void sendActiveCharacter();
    // Writes bytes to the host as soon as possible.
    void send(const QByteArray &bytes);
    // The far end disappears: the pseudo-terminal closes.
    void vanish();

    // Waits until pred() holds or timeoutMs have passed; true when it holds.
    // Lets the calling thread's pending Qt events run meanwhile, so that a
    // serial port in that thread can push out what it has queued.
    bool waitUntil(const std::function<bool()> &pred, int timeoutMs) const;

    // What has happened so far; each call returns a copy.
    QList<ReceivedChunk> receivedChunks() const;
    QByteArray mainCodeBytes() const;           // everything received by the main code
    int requestCount() const;                   // "@&$" requests
    QList<TimePoint> requestTimes() const;      // when each request's first byte arrived
    QList<QByteArray> receivedLines() const;    // firmware lines, byte for byte
    QList<LineRecord> lineRecords() const;
    QList<LineCount> lineCounts() const;        // how often each line arrived
    QList<SentChunk> sentChunks() const;
    QByteArray sentBytes() const;               // everything written, in order
    int uploadsCompleted() const;               // end-of-file records answered
    int mainCodeCommands() const;               // main-code commands recognised
    QList<BoardLog> boards() const;             // every board that has said "^"
    bool hasPendingOutput() const;              // outputs scheduled and not yet written
    bool inBootloader() const;
    bool hasVanished() const;

private:
    void run();
    void wake() const;
    int hostBytesWaiting() const;
    std::optional<TimePoint> stayAwake(std::optional<TimePoint> deadline, TimePoint now) const;
    void transmit(QList<ScheduledOutput> outputs);
    void readFromHost(int baud);
    void log(const QString &text) const;

    const SimulatorConfig m_config;
    PseudoTerminal m_pty; // used by the simulator's thread only, after construction
    const QString m_slavePath;
    WirePacer m_pacer;
    TimePoint m_awakeUntil; // used by the simulator's thread only

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    ControllerModel m_model;
    QList<SentChunk> m_sent;
    bool m_vanished = false;

    int m_wakeFd = -1;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

} // namespace quobin::sim
