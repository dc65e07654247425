// The station window's approved jobs on real parts. The driver on an
// approved job, on the real engine: the
// job approved through the window's own approval code into a real SQLite
// file, a fixture played by the simulator on a pseudo-terminal, board IDs
// given as the window gives what a scanner typed. What the tiles and the
// header are given, what is refused and why, and what the boards received.
// And the window's own approve and withdraw on a real PostgreSQL server with
// the README's roles: a supervisor approves, an operator is refused with the
// right that is missing.

#include "ControllerSimulator.h"
#include "EngineStationDriver.h"
#include "HexRecord.h"
#include "JobApproval.h"
#include "JobStore.h"
#include "PostgresServer.h"
#include "ReadmeBlock.h"
#include "RecordStores.h"
#include "SetupPanel.h"
#include "StationFakes.h"
#include "StationWindow.h"
#include "SerialPorts.h"
#include "SqliteRecordStore.h"
#include "TempFiles.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

using namespace quobin;
using namespace quobin::testing;

namespace {

// The last view the driver gave of slot 0.
SlotView lastView(const QSignalSpy &spy)
{
    for (qsizetype i = spy.size() - 1; i >= 0; --i)
        if (spy.at(i).at(0).toInt() == 0)
            return spy.at(i).at(1).value<SlotView>();
    return {};
}

// The SQL of a README block between its markers.
QString readmeBlock(const QString &name)
{
    return quobin::testing::readmeBlock(QStringLiteral(QUOBIN_README), name);
}

} // namespace

class StationDriverJobsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_files;
    QByteArray m_hex = sim::HexRecord::sampleImage(30);

private slots:
    void initTestCase()
    {
        qRegisterMetaType<SlotView>();
        qRegisterMetaType<RunTotals>();
    }

    // A job with a board ID rule: the slot asks for a scan, a label that
    // fails the rule is refused on the tile and flashes nothing, a good one
    // flashes exactly the approved image, and the same label again is
    // refused with where it passed. The image file is gone from the disk
    // before the run: the station flashes the stored bytes.
    void scansRefusedAndTakenOnAnApprovedJob()
    {
        const QString database = m_files.filePath(QStringLiteral("jobs.sqlite"));
        JobApprovalRequest request;
        request.name = QStringLiteral("pump-main");
        request.imagePath = m_files.write(QStringLiteral("pump.hex"), m_hex);
        request.boardIdRule = QStringLiteral("^QB[0-9]{8}$");
        const records::ApprovedJob approved = records::JobStore::onFile(database)->approve(jobToApprove(request));
        QVERIFY(QFile::remove(request.imagePath));

        sim::SimulatorConfig config;
        config.caretDelayMs = 100;
        config.fixture.enabled = true;
        config.fixture.gapMs = 200;
        config.fixture.boards = 2;
        sim::ControllerSimulator controller(config);
        records::SqliteRecordStore store(database);
        EngineStationDriver driver({}, [](const QString &device) { return makeSerialPortOn(device); },
                                   QStringLiteral("test"));
        QSignalSpy views(&driver, &StationDriver::slotChanged);
        QSignalSpy totals(&driver, &StationDriver::totalsChanged);
        QSignalSpy boards(&driver, &StationDriver::boardEnded);
        QSignalSpy ended(&driver, &StationDriver::ended);

        StationSetup setup;
        setup.jobName = approved.name;
        setup.jobPath = request.imagePath;  // a file named before the job was picked: not read
        setup.serialSpec = QStringLiteral("pump@0x0E:4:le");  // nor this: the job writes no serials
        setup.ports = {controller.slavePath()};
        setup.recordsTarget = database;
        driver.start(setup, store);

        QTRY_COMPARE_WITH_TIMEOUT(lastView(views).state, SlotState::ScanWanted, 10000);

        driver.giveBoardId(0, QStringLiteral("QB123"));
        QTRY_VERIFY_WITH_TIMEOUT(!lastView(views).scanRefusal.isEmpty(), 10000);
        QCOMPARE(lastView(views).scanRefusal,
                 QStringLiteral("QB123: it does not match the job's rule ^QB[0-9]{8}$"));
        QCOMPARE(lastView(views).state, SlotState::ScanWanted);
        QVERIFY(controller.receivedLines().isEmpty());

        // The next scan clears the refusal at once, and is taken.
        driver.giveBoardId(0, QStringLiteral("QB00000001"));
        QTRY_COMPARE_WITH_TIMEOUT(boards.size(), 1, 20000);
        QVERIFY(boards.first().at(1).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(lastView(views).state, SlotState::ScanWanted, 10000);
        QCOMPARE(lastView(views).scanRefusal, QString());
        QCOMPARE(lastView(views).reason, QStringLiteral("Last board: PASS"));

        driver.giveBoardId(0, QStringLiteral("QB00000001"));
        QTRY_VERIFY_WITH_TIMEOUT(!lastView(views).scanRefusal.isEmpty(), 10000);
        QVERIFY2(lastView(views).scanRefusal.startsWith(QStringLiteral("QB00000001: it passed already (station ")),
                 qPrintable(lastView(views).scanRefusal));
        // A new version approved meanwhile: the header names it within a
        // look at the job, and the slot asks for its board's ID again.
        m_files.write(QStringLiteral("pump.hex"), m_hex);
        const records::ApprovedJob second = records::JobStore::onFile(database)->approve(jobToApprove(request));
        QCOMPARE(second.version, 2);
        QTRY_VERIFY_WITH_TIMEOUT(!totals.isEmpty() && totals.last().first().value<RunTotals>().jobVersion == 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(lastView(views).state, SlotState::ScanWanted, 10000);

        driver.requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 10000);
        QCOMPARE(ended.first().first().toString(), QString());
        QCOMPARE(boards.size(), 1);

        const QList<records::BoardRecord> kept = store.read();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].boardId, QStringLiteral("QB00000001"));
        QCOMPARE(kept[0].jobName, approved.name);
        QCOMPARE(kept[0].jobVersion, std::optional<int>(1));
        QCOMPARE(kept[0].serial, std::optional<quint64>());
        QCOMPARE(kept[0].jobSha256, approved.sha256);
        // Byte for byte the approved image.
        QList<QByteArray> expected;
        for (const QByteArray &line : m_hex.split('\n'))
            if (!line.trimmed().isEmpty())
                expected << line.trimmed();
        QCOMPARE(controller.receivedLines(), expected);

        // The header named the job as approved.
        QVERIFY(!totals.isEmpty());
        QCOMPARE(jobHeaderText(totals.first().first().value<RunTotals>()),
                 QStringLiteral("Job pump-main version 1  approved by %1  %2").arg(approved.approvedBy, approved.sha256.left(12)));
        QCOMPARE(jobHeaderText(totals.last().first().value<RunTotals>()),
                 QStringLiteral("Job pump-main version 2  approved by %1  %2").arg(second.approvedBy, second.sha256.left(12)));
    }

    // A job that is not there, or withdrawn, is refused at Start with the
    // reason; no slot starts.
    void aJobThatCannotBeFlashedIsRefusedAtStart()
    {
        const QString database = m_files.filePath(QStringLiteral("refused.sqlite"));
        JobApprovalRequest request;
        request.name = QStringLiteral("old");
        request.imagePath = m_files.write(QStringLiteral("old.hex"), m_hex);
        {
            const std::unique_ptr<records::JobStore> jobs = records::JobStore::onFile(database);
            jobs->approve(jobToApprove(request));
            jobs->withdraw(request.name);
        }
        sim::ControllerSimulator controller(sim::SimulatorConfig{});
        records::SqliteRecordStore store(database);
        EngineStationDriver driver({}, [](const QString &device) { return makeSerialPortOn(device); },
                                   QStringLiteral("test"));
        StationSetup setup;
        setup.ports = {controller.slavePath()};
        setup.recordsTarget = database;
        for (const auto &[name, reason] : {std::pair{QStringLiteral("old"), QStringLiteral("was withdrawn by")},
                                           std::pair{QStringLiteral("none"), QStringLiteral("there is no approved job none")}}) {
            setup.jobName = name;
            try {
                driver.start(setup, store);
                QFAIL("the station started");
            } catch (const std::runtime_error &error) {
                QVERIFY2(QString::fromStdString(error.what()).startsWith(QStringLiteral("The job %1 cannot be flashed: ").arg(name)),
                         error.what());
                QVERIFY2(QString::fromStdString(error.what()).contains(reason), error.what());
            }
        }
        QTest::qWait(300);
        QVERIFY(controller.mainCodeBytes().isEmpty());
    }

    // The set-up's Approve and Withdraw on PostgreSQL as the README grants
    // it: logged in as a supervisor the job is stored; as the operators'
    // role the window shows the database's refusal, which names the right.
    void approvingInTheWindowOnPostgresql()
    {
        const QString grants = readmeBlock(QStringLiteral("grants"));
        const QString jobGrants = readmeBlock(QStringLiteral("job grants"));
        QVERIFY2(!grants.isEmpty() && !jobGrants.isEmpty(), "the README's grants are not found");
        PostgresServer server;
        QVERIFY2(server.start() && server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        const QString owner = server.socketUrl(QStringLiteral("line"));
        const auto as = [&](const QString &user) {
            return QString(owner).replace(QStringLiteral("postgresql://quobin@"), QStringLiteral("postgresql://%1@").arg(user));
        };
        // The tables are made by their owner, as an administrator does.
        records::openJobStore(owner)->current();
        QString out;
        QVERIFY2(server.psql(QStringLiteral("line"), QStringLiteral("CREATE ROLE line LOGIN; CREATE ROLE office LOGIN;") + grants
                                 + jobGrants + QStringLiteral("CREATE ROLE anna LOGIN IN ROLE supervisors;"),
                             &out),
                 qPrintable(server.problem()));

        PlayedStation station;
        RecordingBoxes boxes;
        ScriptedFileDialog fileDialog;
        ScriptedSaveDialog saveDialog;
        CountingSounds sounds;
        ScriptedApprovalDialog approvals;
        StationWindowServices services{station, boxes, fileDialog, saveDialog, sounds, [] { return QList<SlotCandidate>(); },
                                       [](const QString &target) { return records::openRecordStore(target); },
                                       [](const QList<records::BoardRecord> &) { return QByteArray(); }};
        services.openJobs = [](const QString &target) { return records::openJobStore(target); };
        services.approvalDialog = &approvals;
        StationWindow window(services, m_files.filePath(QStringLiteral("pg-station.ini")));
        SetupPanel *setup = window.setupPanel();
        JobApprovalRequest request;
        request.name = QStringLiteral("pump");
        request.imagePath = m_files.write(QStringLiteral("pg.hex"), m_hex);
        approvals.answer = request;

        setup->recordsEdit()->setText(as(QStringLiteral("line")));
        setup->approveButton()->click();
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].kind, QStringLiteral("warning"));
        QVERIFY2(boxes.boxes[0].text.startsWith(QStringLiteral("The job pump cannot be approved: "))
                     && boxes.boxes[0].text.contains(QStringLiteral("permission denied for table jobs"))
                     && boxes.boxes[0].text.contains(QStringLiteral("Approving a job needs the rights SELECT and INSERT on the table jobs")),
                 qPrintable(boxes.boxes[0].text));

        setup->recordsEdit()->setText(as(QStringLiteral("anna")));
        setup->approveButton()->click();
        QCOMPARE(boxes.boxes.size(), 2);
        QVERIFY2(boxes.boxes[1].text.startsWith(QStringLiteral("Approved job pump version 1 (SHA-256 ")), qPrintable(boxes.boxes[1].text));
        QVERIFY2(boxes.boxes[1].text.contains(QStringLiteral(", by anna at ")), qPrintable(boxes.boxes[1].text));

        // The operator reads and picks it, and may not withdraw it.
        setup->recordsEdit()->setText(as(QStringLiteral("line")));
        setup->readJobsButton()->click();
        QCOMPARE(setup->approvedJobList()->count(), 2);
        QVERIFY(setup->approvedJobList()->itemText(1).startsWith(QStringLiteral("pump  version 1  approved by anna at ")));
        setup->approvedJobList()->setCurrentIndex(1);
        boxes.answers = {true};
        setup->withdrawButton()->click();
        QCOMPARE(boxes.boxes.size(), 4);
        QVERIFY2(boxes.boxes[3].text.startsWith(QStringLiteral("The job pump cannot be withdrawn: "))
                     && boxes.boxes[3].text.contains(QStringLiteral("UPDATE of its columns withdrawn_by and withdrawn")),
                 qPrintable(boxes.boxes[3].text));
        QCOMPARE(setup->approvedJobList()->count(), 2);
    }
};

QTEST_MAIN(StationDriverJobsTest)
#include "tst_station_driver_jobs.moc"
