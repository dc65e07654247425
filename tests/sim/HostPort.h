#pragma once

#include <QByteArray>
#include <QString>

#include <termios.h>

// The program's side of the pseudo-terminal, on a plain descriptor: raw line
// settings at a given speed, optionally with XON/XOFF. Like the uploader, it
// discards whatever waits when it opens.
class HostPort {
public:
    HostPort(const QString &path, speed_t speed, bool xonXoff);
    ~HostPort();
    HostPort(const HostPort &) = delete;
    HostPort &operator=(const HostPort &) = delete;

    void write(const QByteArray &bytes);
    // Everything that arrives within msecs.
    QByteArray readFor(int msecs);
    // Reads until the bytes received end with expected or timeoutMs pass.
    QByteArray readUntil(const QByteArray &expected, int timeoutMs = 2000);
    // True when the far end has gone: a read fails or reports hang-up.
    bool farEndGone(int timeoutMs);

private:
    QByteArray readSome(int timeoutMs, bool *gone = nullptr);

    int m_fd = -1;
};
