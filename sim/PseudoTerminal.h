#pragma once

#include "Recording.h"

#include <QByteArray>
#include <QString>

namespace quobin::sim {

// The controller's end of a pseudo-terminal. The program under test opens the
// slave path as its serial port; the simulator reads and writes the master.
//
// The slave starts from the kernel's default settings made raw. The object
// keeps its own descriptor of the slave open, so that the master does not read
// EIO while the program has the port closed.
class PseudoTerminal {
public:
    PseudoTerminal();   // throws SimulatorError
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    bool isOpen() const { return m_master >= 0; }

    // Reads at most maxBytes of what the host has written; empty when nothing
    // waits. Never blocks.
    QByteArray read(qsizetype maxBytes);
    // Writes every byte, retrying partial writes. Gives up (returns false)
    // when the host has not made room within timeoutMs.
    bool writeAll(const QByteArray &bytes, int timeoutMs = 1000);
    // The slave's settings, read through the master.
    LineSettings lineSettings() const;

    // Closes both descriptors: to the host the device has gone.
    void close();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

} // namespace quobin::sim
