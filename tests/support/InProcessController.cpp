// The controller simulator on a pseudo-terminal in the test's own process.

#include "ControllerUnderTest.h"

#include "ControllerSimulator.h"

#include <QDir>
#include <QFile>

namespace quobin::testing {

namespace {

class InProcessController : public ControllerUnderTest {
public:
    InProcessController(sim::SimulatorConfig config, const QString &linkFolder)
        : m_sim(std::move(config)), m_linkFolder(linkFolder)
    {
        m_sim.createLink(QDir(linkFolder).filePath(QStringLiteral("com1")));
    }

    QList<sim::ReceivedChunk> receivedChunks() const override { return m_sim.receivedChunks(); }
    QByteArray mainCodeBytes() const override { return m_sim.mainCodeBytes(); }
    int requestCount() const override { return m_sim.requestCount(); }
    QList<sim::TimePoint> requestTimes() const override { return m_sim.requestTimes(); }
    QList<QByteArray> receivedLines() const override { return m_sim.receivedLines(); }
    QList<sim::LineCount> lineCounts() const override { return m_sim.lineCounts(); }
    void vanish() override { m_sim.vanish(); }
    void linkToNoDevice(int number) override
    {
        QFile::link(QStringLiteral("/dev/quobin-gone"), QDir(m_linkFolder).filePath(QStringLiteral("com%1").arg(number)));
    }

private:
    sim::ControllerSimulator m_sim;
    QString m_linkFolder;
};

} // namespace

std::unique_ptr<ControllerUnderTest> startController(sim::SimulatorConfig config, const QString &linkFolder)
{
    return std::make_unique<InProcessController>(std::move(config), linkFolder);
}

} // namespace quobin::testing
