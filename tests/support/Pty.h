#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace quobin::testing {

// A bare pseudo-terminal for tests of the serial layer: the test plays the
// device on the master side, the code under test opens the slave path.
class Pty {
public:
    Pty()
    {
        termios raw{};
        int slave = -1;
        ::openpty(&m_master, &slave, nullptr, nullptr, nullptr);
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        m_path = QString::fromLocal8Bit(::ttyname(slave));
        m_keptSlave = slave; // keeps the master readable while the port is closed
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { hangUp(); }

    QString path() const { return m_path; }

    void write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else
                QThread::msleep(1);
        }
    }

    // Writes what the pseudo-terminal takes now, without waiting; the
    // number of bytes written.
    qsizetype writeSome(const QByteArray &bytes)
    {
        const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
        return n > 0 ? n : 0;
    }

    // Reads what the far end has sent until `count` bytes are in or the time is up.
    QByteArray read(qsizetype count, int timeoutMsecs = 2000)
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count && timer.elapsed() < timeoutMsecs) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1 && (p.revents & POLLIN)) {
                char buffer[4096];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, n);
            }
        }
        return got;
    }

    termios slaveSettings() const
    {
        termios t{};
        ::tcgetattr(m_master, &t);
        return t;
    }

    // The device disappears: both of our ends close.
    void hangUp()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_keptSlave >= 0)
            ::close(m_keptSlave);
        m_master = m_keptSlave = -1;
    }

private:
    int m_master = -1;
    int m_keptSlave = -1;
    QString m_path;
};

} // namespace quobin::testing
