// The controller outside the test's process: the Linux vantor-sim on a COM
// port of Wine, started for each case by the controller host
// (tests/windows/controller_host.py), which the test reaches over TCP on
// 127.0.0.1 at the port that QUOBIN_CONTROLLER_HOST names. The host answers
// each request line with one line; vantor-sim's --control reports what the
// controller received.

#include "ControllerUnderTest.h"

#include "FaultNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <stdexcept>

namespace quobin::testing {

namespace {

// Generous: a busy 2-core machine runs Wine and the build beside the test.
constexpr int kAnswerMsecs = 30000;

// vantor-sim's options for the case's settings.
QStringList simulatorArguments(const sim::SimulatorConfig &config)
{
    if (config.fixture.enabled || config.lineGapMs != sim::SimulatorConfig().lineGapMs)
        throw std::runtime_error("vantor-sim has no option for a fixture or another line gap");
    QStringList arguments;
    if (!config.version.isEmpty())
        arguments << QStringLiteral("--version") << QString::fromLatin1(config.version);
    if (config.caretDelayMs < 0)
        arguments << QStringLiteral("--no-caret");
    else
        arguments << QStringLiteral("--caret-delay") << QString::number(config.caretDelayMs);
    for (const sim::Fault &fault : config.faults)
        arguments << QStringLiteral("--fault") << sim::FaultNames::format(fault);
    if (config.paced)
        arguments << QStringLiteral("--pace");
    if (!config.stayAwake)
        arguments << QStringLiteral("--no-stay-awake");
    return arguments;
}

QByteArray bytesFromHex(const QJsonValue &value)
{
    return QByteArray::fromHex(value.toString().toLatin1());
}

sim::TimePoint timeFrom(const QJsonValue &micros)
{
    return sim::TimePoint(std::chrono::microseconds(qint64(micros.toDouble())));
}

class ExternalController : public ControllerUnderTest {
public:
    explicit ExternalController(const sim::SimulatorConfig &config)
    {
        const QByteArray port = qgetenv("QUOBIN_CONTROLLER_HOST");
        if (port.isEmpty())
            throw std::runtime_error("QUOBIN_CONTROLLER_HOST names no port: the controller host starts the controller "
                                     "(tests/windows/window_suites_under_wine.sh)");
        m_host.connectToHost(QStringLiteral("127.0.0.1"), quint16(port.toUInt()));
        if (!m_host.waitForConnected(kAnswerMsecs))
            throw std::runtime_error("no controller host on 127.0.0.1:" + port.toStdString() + ": "
                                     + m_host.errorString().toStdString());
        const QByteArray arguments =
            QJsonDocument(QJsonArray::fromStringList(simulatorArguments(config))).toJson(QJsonDocument::Compact);
        expectOk(ask("start " + arguments));
    }

    ~ExternalController() override
    {
        // The host ends the simulator when the connection ends; asking
        // first makes sure that it has gone before the next case starts one.
        if (m_host.state() == QAbstractSocket::ConnectedState) {
            try {
                ask("stop");
            } catch (const std::exception &) {
            }
            m_host.disconnectFromHost();
        }
    }

    QList<sim::ReceivedChunk> receivedChunks() const override
    {
        QList<sim::ReceivedChunk> chunks;
        for (const QJsonValue &value : report().value(QStringLiteral("chunks")).toArray()) {
            const QJsonObject chunk = value.toObject();
            sim::LineSettings settings;
            settings.baud = chunk.value(QStringLiteral("baud")).toInt();
            settings.ixon = chunk.value(QStringLiteral("ixon")).toBool();
            settings.ixoff = chunk.value(QStringLiteral("ixoff")).toBool();
            settings.ixany = chunk.value(QStringLiteral("ixany")).toBool();
            chunks.append({bytesFromHex(chunk.value(QStringLiteral("bytes"))), settings,
                           timeFrom(chunk.value(QStringLiteral("us")))});
        }
        return chunks;
    }
    QByteArray mainCodeBytes() const override { return bytesFromHex(report().value(QStringLiteral("mainCode"))); }
    int requestCount() const override { return int(report().value(QStringLiteral("requests")).toArray().size()); }
    QList<sim::TimePoint> requestTimes() const override
    {
        QList<sim::TimePoint> times;
        for (const QJsonValue &value : report().value(QStringLiteral("requests")).toArray())
            times.append(timeFrom(value));
        return times;
    }
    QList<QByteArray> receivedLines() const override
    {
        QList<QByteArray> lines;
        for (const QJsonValue &value : report().value(QStringLiteral("lines")).toArray())
            lines.append(bytesFromHex(value));
        return lines;
    }
    QList<sim::LineCount> lineCounts() const override
    {
        QList<sim::LineCount> counts;
        for (const QJsonValue &value : report().value(QStringLiteral("lineCounts")).toArray())
            counts.append({bytesFromHex(value.toArray().at(1)), value.toArray().at(0).toInt()});
        return counts;
    }

    void vanish() override { expectOk(ask("sim vanish")); }
    void linkToNoDevice(int number) override { expectOk(ask("unplug " + QByteArray::number(number))); }

private:
    // One request line to the host and its answer line.
    QByteArray ask(const QByteArray &request) const
    {
        m_host.write(request + '\n');
        if (!m_host.waitForBytesWritten(kAnswerMsecs))
            throw std::runtime_error("the controller host took no request: " + m_host.errorString().toStdString());
        while (!m_host.canReadLine()) {
            if (!m_host.waitForReadyRead(kAnswerMsecs))
                throw std::runtime_error("the controller host did not answer " + request.toStdString() + ": "
                                         + m_host.errorString().toStdString());
        }
        return m_host.readLine().trimmed();
    }

    static void expectOk(const QByteArray &answer)
    {
        if (answer != "ok")
            throw std::runtime_error("the controller host: " + answer.toStdString());
    }

    QJsonObject report() const
    {
        const QByteArray answer = ask("sim report");
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
        if (!document.isObject())
            throw std::runtime_error("vantor-sim's report is no JSON object: " + answer.left(200).toStdString());
        return document.object();
    }

    mutable QTcpSocket m_host;
};

} // namespace

std::unique_ptr<ControllerUnderTest> startController(sim::SimulatorConfig config, const QString &linkFolder)
{
    Q_UNUSED(linkFolder); // the host links Wine's COM ports
    return std::make_unique<ExternalController>(config);
}

} // namespace quobin::testing
