#pragma once

#include "QmpClient.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QHash>
#include <QProcess>
#include <QString>

namespace quobin::testing {

// What a job that ran in the guest left behind.
struct GuestJobResult {
    int status = -1;
    double startedAt = 0; // the guest's uptime in seconds
    double endedAt = 0;
    QString output;       // stdout and stderr together
    qint64 hostMsecs = 0; // from the host's submission until the host saw it end
};

// A QEMU guest on Debian's kernel that runs the host's programs. It has the
// real 8250 driver on a 16550 (the guest's ttyS1) and the real ftdi_sio
// driver on FTDI adapters behind an xHCI controller (the guest's ttyUSBn),
// plugged into the controller's own ports or into the ports of a USB hub on
// its port 1 (ports "1.1" to "1.8" in QEMU's naming, the hub's sockets),
// each wired to a host device named by the test: the 16550 can be moved to
// another device while the guest runs, the adapters plugged in and pulled
// out. Jobs are shell scripts that the guest runs in the background
// in a chroot of the host's root (see guest_runner.sh); the work folder is
// shared read-write at the same path, so a job sees the host's paths.
class GuestMachine {
public:
    // imageFolder holds what make_guest.sh made; workFolder is emptied and
    // used for this run's files.
    GuestMachine(const QString &imageFolder, const QString &workFolder, const QString &runnerScript);
    ~GuestMachine();
    GuestMachine(const GuestMachine &) = delete;
    GuestMachine &operator=(const GuestMachine &) = delete;

    bool boot(int timeoutSecs);
    // Wires the 16550 to device, a host tty whose line settings QEMU then
    // follows; an empty device leaves it unconnected.
    bool connectUart(const QString &device);
    // Plugs an adapter in, wired to device; serialNumber becomes its USB
    // serial number and names it here. port is QEMU's name of the port to
    // plug it into ("1.2": the hub's port 2); empty for the first free one.
    bool plugAdapter(const QString &device, const QString &serialNumber, const QString &port = {});
    // Pulls it out; true once QEMU has let go of it.
    bool unplugAdapter(const QString &serialNumber);
    // Pulls out every adapter still plugged in.
    bool unplugAdapters();

    // Starts a job; its name for waitFor().
    QString start(const QString &script);
    // Waits for the job to end; false with error() set when it does not.
    bool waitFor(const QString &job, int timeoutSecs, GuestJobResult &result);
    bool hasEnded(const QString &job) const;
    // What the job has printed so far.
    QByteArray outputSoFar(const QString &job) const;
    // Both at once.
    bool run(const QString &script, int timeoutSecs, GuestJobResult &result);

    QString workFolder() const { return m_work; }
    QString error() const { return m_error; }
    // The end of the guest's console, for a failure's message.
    QString consoleTail() const;

private:
    bool fail(const QString &why);
    bool qmpFailed();
    bool execute(const QString &command, const QJsonObject &arguments);
    void shutDown();

    QString m_image;
    QString m_work;
    QString m_runner;
    QProcess m_qemu;
    QmpClient m_qmp;
    QString m_error;
    QString m_stuck; // why QEMU is taken to have stopped answering
    int m_jobs = 0;
    int m_plugs = 0;
    QHash<QString, QString> m_adapterChardevs; // by serial number, of the adapters plugged in
    QHash<QString, qint64> m_submitted;
    QElapsedTimer m_clock;
};

} // namespace quobin::testing
