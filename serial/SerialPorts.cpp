#include "SerialPorts.h"

#include "NetworkPortAddress.h"
#include "Rfc2217Port.h"

#ifdef Q_OS_WIN
#include "Win32SerialPort.h"
#else
#include "QtSerialPort.h"
#endif

namespace quobin {

namespace {

// The port on this system's own devices.
std::unique_ptr<SerialPort> makeLocalPort(std::function<QString(qint16)> portNameFor)
{
#ifdef Q_OS_WIN
    return std::make_unique<Win32SerialPort>(std::move(portNameFor));
#else
    return std::make_unique<QtSerialPort>(std::move(portNameFor));
#endif
}

// A port that opens whatever its number names at each open: a serial server
// on the network for "rfc2217://HOST:PORT", else a device of this system. A
// link may be pointed elsewhere between two opens; the settings carry over.
class PortByName : public SerialPort {
public:
    PortByName(std::function<QString(qint16)> portNameFor, std::function<bool()> cancelRequested)
        : m_portNameFor(std::move(portNameFor)), m_cancelRequested(std::move(cancelRequested)),
          m_port(makeLocalPort(m_portNameFor))
    {
    }

    void setCommPort(qint16 number) override
    {
        m_port->setCommPort(number);
        m_commPort = number;
    }
    void setSettings(const QString &settings) override
    {
        m_port->setSettings(settings);
        m_settings = settings;
    }
    void setHandshaking(qint32 handshake) override
    {
        m_port->setHandshaking(handshake);
        m_handshake = handshake;
    }
    void setPortOpen(bool open) override
    {
        if (open && !m_port->portOpen())
            useKindFor(m_portNameFor(m_commPort));
        m_port->setPortOpen(open);
    }
    bool portOpen() const override { return m_port->portOpen(); }
    void output(const QByteArray &bytes) override { m_port->output(bytes); }
    QByteArray input() override { return m_port->input(); }
    qint16 inBufferCount() override { return m_port->inBufferCount(); }
    void waitForInput(int msecs) override { m_port->waitForInput(msecs); }

private:
    void useKindFor(const QString &name)
    {
        const bool network = NetworkPortAddress::names(name);
        if (network == m_network)
            return;
        std::unique_ptr<SerialPort> port = network ? std::make_unique<Rfc2217Port>(m_portNameFor, Rfc2217Timing{}, m_cancelRequested)
                                                   : makeLocalPort(m_portNameFor);
        port->setCommPort(m_commPort);
        if (!m_settings.isEmpty())
            port->setSettings(m_settings);
        port->setHandshaking(m_handshake);
        m_port = std::move(port);
        m_network = network;
    }

    std::function<QString(qint16)> m_portNameFor;
    std::function<bool()> m_cancelRequested;
    std::unique_ptr<SerialPort> m_port;
    bool m_network = false;
    qint16 m_commPort = 1;
    QString m_settings;
    qint32 m_handshake = NoHandshake;
};

} // namespace

std::unique_ptr<SerialPort> makeSerialPort(std::function<QString(qint16)> portNameFor,
                                           std::function<bool()> cancelRequested)
{
    return std::make_unique<PortByName>(std::move(portNameFor), std::move(cancelRequested));
}

std::unique_ptr<SerialPort> makeSerialPortOn(const QString &device, std::function<bool()> cancelRequested)
{
    return makeSerialPort([device](qint16) { return device; }, std::move(cancelRequested));
}

} // namespace quobin
