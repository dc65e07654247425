#pragma once

#include <QString>

#include <memory>

namespace quobin {
class SerialPort;
}

namespace quobin::station {

// The byte log of one board: a port that writes every byte sent and
// received, and notes of what the slot saw.
class BoardLog {
public:
    virtual ~BoardLog() = default;
    // The port to give the engine: it passes everything to the real one.
    virtual SerialPort &port() = 0;
    virtual void note(const QString &text) = 0;
    virtual QString path() const = 0;
    // Why a write to the log failed (a full disk), once one has: the log is
    // incomplete from there. Empty while every write has succeeded.
    virtual QString failure() const { return {}; }
    // No board came: the log is not worth keeping.
    virtual void discard() = 0;
};

// Opens a byte log for each attempt at a board on a slot.
class BoardLogFactory {
public:
    virtual ~BoardLogFactory() = default;
    // Throws std::runtime_error when the log cannot be written.
    virtual std::unique_ptr<BoardLog> open(const QString &slotLabel, SerialPort &port) = 0;
};

} // namespace quobin::station
