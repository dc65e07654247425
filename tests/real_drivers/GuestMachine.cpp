#include "GuestMachine.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace quobin::testing {

namespace {

constexpr auto kUartChardev = "uart0";

bool writeFileAtomically(const QString &path, const QByteArray &content)
{
    const QString temporary = path + QStringLiteral(".tmp");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return QFile::rename(temporary, path);
}

QJsonObject serialBackend(const QString &device)
{
    if (device.isEmpty())
        return {{QStringLiteral("type"), QStringLiteral("null")}, {QStringLiteral("data"), QJsonObject{}}};
    return {{QStringLiteral("type"), QStringLiteral("serial")},
            {QStringLiteral("data"), QJsonObject{{QStringLiteral("device"), device}}}};
}

// QEMU's id of the adapter with serialNumber.
QString adapterId(const QString &serialNumber)
{
    return QStringLiteral("adapter-") + serialNumber;
}

} // namespace

GuestMachine::GuestMachine(const QString &imageFolder, const QString &workFolder, const QString &runnerScript)
    : m_image(imageFolder), m_work(QDir(workFolder).absolutePath()), m_runner(runnerScript)
{
    m_clock.start();
}

GuestMachine::~GuestMachine()
{
    shutDown();
}

bool GuestMachine::boot(int timeoutSecs)
{
    for (const char *file : {"vmlinuz", "initrd.gz", "udev/bin/udevadm"}) {
        if (!QFile::exists(m_image + QLatin1Char('/') + QLatin1String(file)))
            return fail(QStringLiteral("%1/%2 is missing: the test real_drivers_guest makes it (ctest -R real_drivers)")
                            .arg(m_image, QLatin1String(file)));
    }
    QDir(m_work).removeRecursively();
    if (!QDir().mkpath(m_work + QStringLiteral("/jobs")))
        return fail(QStringLiteral("cannot make %1").arg(m_work));
    if (!writeFileAtomically(m_work + QStringLiteral("/guest.env"),
                             "QUOBIN_UDEV_ROOT=" + QFile::encodeName(m_image + QStringLiteral("/udev")) + '\n'))
        return fail(QStringLiteral("cannot write to %1").arg(m_work));

    const QString qmpSocket = m_work + QStringLiteral("/qmp.sock");
    const QString fsOptions = QStringLiteral("security_model=none,multidevs=remap");
    const QStringList arguments{
        QStringLiteral("-accel"), QStringLiteral("tcg"),
        QStringLiteral("-m"), QStringLiteral("512"),
        QStringLiteral("-nodefaults"), QStringLiteral("-display"), QStringLiteral("none"),
        QStringLiteral("-no-reboot"),
        QStringLiteral("-kernel"), m_image + QStringLiteral("/vmlinuz"),
        QStringLiteral("-initrd"), m_image + QStringLiteral("/initrd.gz"),
        QStringLiteral("-append"),
        QStringLiteral("console=ttyS0 quiet panic=-1 quobin.work=%1 quobin.run=%2").arg(m_work, m_runner),
        // ttyS0, the console, into a file; ttyS1 is the 16550 under test.
        QStringLiteral("-serial"), QStringLiteral("file:") + m_work + QStringLiteral("/console.log"),
        QStringLiteral("-chardev"), QStringLiteral("null,id=%1").arg(QLatin1String(kUartChardev)),
        QStringLiteral("-serial"), QStringLiteral("chardev:%1").arg(QLatin1String(kUartChardev)),
        QStringLiteral("-fsdev"), QStringLiteral("local,id=hostroot,path=/,readonly=on,") + fsOptions,
        QStringLiteral("-device"), QStringLiteral("virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot"),
        QStringLiteral("-fsdev"), QStringLiteral("local,id=work,path=%1,").arg(m_work) + fsOptions,
        QStringLiteral("-device"), QStringLiteral("virtio-9p-pci,fsdev=work,mount_tag=work"),
        QStringLiteral("-device"), QStringLiteral("qemu-xhci,id=xhci"),
        // A hub whose ports are sockets with stable USB paths (0:1.N).
        QStringLiteral("-device"), QStringLiteral("usb-hub,id=hub,bus=xhci.0,port=1"),
        QStringLiteral("-qmp"), QStringLiteral("unix:%1,server=on,wait=off").arg(qmpSocket),
    };
    m_qemu.setProgram(QStringLiteral("qemu-system-x86_64"));
    m_qemu.setArguments(arguments);
    m_qemu.setProcessChannelMode(QProcess::MergedChannels);
    // QEMU goes with the test, however the test ends.
    m_qemu.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_qemu.start();
    if (!m_qemu.waitForStarted(10000))
        return fail(QStringLiteral("cannot start qemu-system-x86_64 (scripts/test installs qemu-system-x86): %1")
                        .arg(m_qemu.errorString()));
    if (!m_qmp.connectTo(qmpSocket, 20000))
        return qmpFailed();

    const QDeadlineTimer deadline(qint64(timeoutSecs) * 1000);
    const QString ready = m_work + QStringLiteral("/ready");
    while (!QFile::exists(ready)) {
        if (m_qemu.state() == QProcess::NotRunning)
            return fail(QStringLiteral("QEMU ended while the guest booted: %1\n%2")
                            .arg(QString::fromLocal8Bit(m_qemu.readAll()), consoleTail()));
        if (deadline.hasExpired())
            return fail(QStringLiteral("the guest was not ready within %1 s").arg(timeoutSecs));
        QThread::msleep(100);
    }
    QFile readyFile(ready);
    readyFile.open(QIODevice::ReadOnly);
    const QByteArray state = readyFile.readAll().trimmed();
    if (!state.startsWith("udev started")) {
        QFile log(m_work + QStringLiteral("/udev.log"));
        log.open(QIODevice::ReadOnly);
        return fail(QStringLiteral("udev did not start in the guest: %1").arg(QString::fromLocal8Bit(log.readAll())));
    }
    qInfo("The guest was ready after %.1f s (%s)", m_clock.elapsed() / 1000.0, state.constData());
    return true;
}

bool GuestMachine::connectUart(const QString &device)
{
    return execute(QStringLiteral("chardev-change"),
                   {{QStringLiteral("id"), QLatin1String(kUartChardev)}, {QStringLiteral("backend"), serialBackend(device)}});
}

bool GuestMachine::plugAdapter(const QString &device, const QString &serialNumber, const QString &port)
{
    if (m_adapterChardevs.contains(serialNumber))
        return fail(QStringLiteral("the adapter %1 is plugged in already").arg(serialNumber));
    const QString chardev = QStringLiteral("adapter%1").arg(++m_plugs);
    if (!execute(QStringLiteral("chardev-add"),
                 {{QStringLiteral("id"), chardev}, {QStringLiteral("backend"), serialBackend(device)}}))
        return false;
    QJsonObject adapter{{QStringLiteral("driver"), QStringLiteral("usb-serial")},
                        {QStringLiteral("id"), adapterId(serialNumber)},
                        {QStringLiteral("bus"), QStringLiteral("xhci.0")},
                        {QStringLiteral("chardev"), chardev},
                        {QStringLiteral("serial"), serialNumber}};
    if (!port.isEmpty())
        adapter.insert(QStringLiteral("port"), port);
    if (!execute(QStringLiteral("device_add"), adapter)) {
        execute(QStringLiteral("chardev-remove"), {{QStringLiteral("id"), chardev}});
        return false;
    }
    m_adapterChardevs.insert(serialNumber, chardev);
    return true;
}

bool GuestMachine::unplugAdapter(const QString &serialNumber)
{
    const QString chardev = m_adapterChardevs.value(serialNumber);
    if (chardev.isEmpty())
        return true;
    const QString id = adapterId(serialNumber);
    if (!execute(QStringLiteral("device_del"), {{QStringLiteral("id"), id}}))
        return false;
    if (!m_qmp.waitForEvent(QStringLiteral("DEVICE_DELETED"), {{QStringLiteral("device"), id}}, 30000))
        return qmpFailed();
    m_adapterChardevs.remove(serialNumber);
    return execute(QStringLiteral("chardev-remove"), {{QStringLiteral("id"), chardev}});
}

bool GuestMachine::unplugAdapters()
{
    bool allOut = true;
    for (const QString &serialNumber : m_adapterChardevs.keys())
        allOut = unplugAdapter(serialNumber) && allOut;
    return allOut;
}

QString GuestMachine::start(const QString &script)
{
    const QString name = QStringLiteral("job%1").arg(++m_jobs);
    m_submitted.insert(name, m_clock.elapsed());
    if (!writeFileAtomically(m_work + QStringLiteral("/jobs/") + name + QStringLiteral(".sh"), script.toUtf8()))
        fail(QStringLiteral("cannot write the job %1").arg(name));
    return name;
}

bool GuestMachine::waitFor(const QString &job, int timeoutSecs, GuestJobResult &result)
{
    const QString base = m_work + QStringLiteral("/jobs/") + job;
    QFile done(base + QStringLiteral(".done"));
    const QDeadlineTimer deadline(qint64(timeoutSecs) * 1000);
    while (!done.exists()) {
        if (m_qemu.state() == QProcess::NotRunning)
            return fail(QStringLiteral("QEMU ended during %1:\n%2").arg(job, consoleTail()));
        if (deadline.hasExpired())
            return fail(QStringLiteral("the guest's %1 did not end within %2 s").arg(job).arg(timeoutSecs));
        QThread::msleep(20);
    }
    result.hostMsecs = m_clock.elapsed() - m_submitted.value(job);
    if (!done.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(done.fileName()));
    const QList<QByteArray> fields = done.readAll().simplified().split(' ');
    if (fields.size() != 3)
        return fail(QStringLiteral("%1 is not \"status start end\"").arg(done.fileName()));
    result.status = fields[0].toInt();
    result.startedAt = fields[1].toDouble();
    result.endedAt = fields[2].toDouble();
    QFile output(base + QStringLiteral(".out"));
    output.open(QIODevice::ReadOnly);
    result.output = QString::fromUtf8(output.readAll());
    return true;
}

bool GuestMachine::hasEnded(const QString &job) const
{
    return QFile::exists(m_work + QStringLiteral("/jobs/") + job + QStringLiteral(".done"));
}

QByteArray GuestMachine::outputSoFar(const QString &job) const
{
    QFile output(m_work + QStringLiteral("/jobs/") + job + QStringLiteral(".out"));
    output.open(QIODevice::ReadOnly);
    return output.readAll();
}

bool GuestMachine::run(const QString &script, int timeoutSecs, GuestJobResult &result)
{
    return waitFor(start(script), timeoutSecs, result);
}

QString GuestMachine::consoleTail() const
{
    QFile console(m_work + QStringLiteral("/console.log"));
    if (!console.open(QIODevice::ReadOnly))
        return QStringLiteral("(no console output)");
    const QByteArray text = console.readAll();
    return QStringLiteral("guest console:\n") + QString::fromLocal8Bit(text.right(3000));
}

// QEMU refused or did not answer: say whether it is still there, and what
// it said if it is not.
bool GuestMachine::qmpFailed()
{
    if (m_qemu.state() == QProcess::NotRunning)
        return fail(QStringLiteral("%1; QEMU has ended (status %2): %3\n%4")
                        .arg(m_qmp.error()).arg(m_qemu.exitCode())
                        .arg(QString::fromLocal8Bit(m_qemu.readAll()), consoleTail()));
    return fail(m_qmp.error() + QStringLiteral("; QEMU is still running\n") + consoleTail());
}

bool GuestMachine::execute(const QString &command, const QJsonObject &arguments)
{
    // A QEMU that has stopped answering once is not asked again: each later
    // case fails at once, naming the first failure.
    if (!m_stuck.isEmpty())
        return fail(QStringLiteral("QEMU stopped answering earlier: ") + m_stuck);
    if (m_qmp.execute(command, arguments, 30000))
        return true;
    qmpFailed();
    if (m_qemu.state() != QProcess::NotRunning)
        m_stuck = m_error;
    return false;
}

bool GuestMachine::fail(const QString &why)
{
    m_error = why;
    return false;
}

void GuestMachine::shutDown()
{
    if (m_qemu.state() == QProcess::NotRunning)
        return;
    writeFileAtomically(m_work + QStringLiteral("/stop"), {});
    m_qmp.execute(QStringLiteral("quit"), {}, 5000);
    if (!m_qemu.waitForFinished(10000)) {
        m_qemu.kill();
        m_qemu.waitForFinished(5000);
    }
}

} // namespace quobin::testing
