// The window's station driver with serial numbers, on the real engine: a
// fixture played by the simulator on a pseudo-terminal, the records and the
// series' counter in a real SQLite file. What the tiles and the header are
// given, and what the boards received.

#include "ControllerSimulator.h"
#include "EngineStationDriver.h"
#include "HexRecord.h"
#include "SerialPorts.h"
#include "SqliteRecordStore.h"
#include "TempFiles.h"

#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

using namespace quobin;
using namespace quobin::testing;

class StationDriverSerialsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_files;
    QByteArray m_hex = sim::HexRecord::sampleImage(40);
    QString m_job = m_files.write(QStringLiteral("job.hex"), m_hex);

    static sim::SimulatorConfig fixture(int boards)
    {
        sim::SimulatorConfig config;
        config.caretDelayMs = 100;
        config.fixture.enabled = true;
        config.fixture.gapMs = 200;
        config.fixture.boards = boards;
        return config;
    }

private slots:
    void tilesAndHeaderShowTheSerials()
    {
        qRegisterMetaType<SlotView>();
        qRegisterMetaType<RunTotals>();
        sim::ControllerSimulator controller(fixture(2));
        const QString database = m_files.filePath(QStringLiteral("tiles.sqlite"));
        records::SqliteRecordStore store(database);
        EngineStationDriver driver({}, [](const QString &device) { return makeSerialPortOn(device); },
                                   QStringLiteral("test"));
        QSignalSpy slotSpy(&driver, &StationDriver::slotChanged);
        QSignalSpy totals(&driver, &StationDriver::totalsChanged);
        QSignalSpy boards(&driver, &StationDriver::boardEnded);
        QSignalSpy ended(&driver, &StationDriver::ended);

        StationSetup setup;
        setup.jobPath = m_job;
        setup.ports = {controller.slavePath()};
        setup.recordsTarget = database;
        setup.serialSpec = QStringLiteral("pump@0x0E:4:le:500");
        driver.start(setup, store);
        QTRY_COMPARE_WITH_TIMEOUT(boards.size(), 2, 20000);
        driver.requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 10000);
        QCOMPARE(ended.first().first().toString(), QString());

        QStringList inProgress, last;
        for (const QList<QVariant> &signal : std::as_const(slotSpy)) {
            const SlotView view = signal.at(1).value<SlotView>();
            if (!view.serial.isEmpty() && !inProgress.contains(view.serial))
                inProgress << view.serial;
            if (!view.lastSerial.isEmpty() && !last.contains(view.lastSerial))
                last << view.lastSerial;
        }
        QVERIFY2(inProgress.mid(0, 2) == QStringList({QStringLiteral("500"), QStringLiteral("501")}),
                 qPrintable(inProgress.join(QLatin1Char(','))));
        QCOMPARE(last, QStringList({QStringLiteral("500"), QStringLiteral("501")}));
        QVERIFY(!totals.isEmpty());
        QCOMPARE(totals.last().first().value<RunTotals>().nextSerial, QStringLiteral("pump 502"));
        QVERIFY(totalsText(totals.last().first().value<RunTotals>()).endsWith(QStringLiteral("   Next serial pump 502")));

        const QList<records::BoardRecord> kept = store.read();
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept[0].serial, std::optional<quint64>(500));
        QCOMPARE(kept[1].serial, std::optional<quint64>(501));
        // The second board received the job with 501 in its place.
        const QList<QByteArray> lines = controller.receivedLines();
        QVERIFY(lines.size() >= 2 * 40);
        const QByteArray second = lines.mid(lines.size() - 41, 2).join();
        // 501 is F5 01 00 00: at 0x0E and 0x0F of the first record, 0x10 and
        // 0x11 of the second, each record with its checksum worked out again.
        QVERIFY2(second.contains("A9F5015B:100010000000212E"), second.constData());
    }

    // A place outside the job's data, or a series without a number left, is
    // refused at Start with the reason; no slot starts.
    void aSerialThatCannotBeUsedIsRefusedAtStart()
    {
        sim::ControllerSimulator controller(fixture(1));
        const QString database = m_files.filePath(QStringLiteral("refused.sqlite"));
        records::SqliteRecordStore store(database);
        EngineStationDriver driver({}, [](const QString &device) { return makeSerialPortOn(device); },
                                   QStringLiteral("test"));
        StationSetup setup;
        setup.jobPath = m_job;
        setup.ports = {controller.slavePath()};
        setup.recordsTarget = database;
        for (const auto &[format, reason] : {std::pair{QStringLiteral("pump@0x3FE:4:le"), QStringLiteral("0x000003FE")},
                                           std::pair{QStringLiteral("pump@0x0E:1:le:256"), QStringLiteral("does not fit")}}) {
            setup.serialSpec = format;
            try {
                driver.start(setup, store);
                QFAIL("the station started");
            } catch (const std::runtime_error &error) {
                QVERIFY2(QString::fromStdString(error.what()).contains(reason), error.what());
            }
        }
        QTest::qWait(300);
        QVERIFY(controller.mainCodeBytes().isEmpty());
    }
};

QTEST_MAIN(StationDriverSerialsTest)
#include "tst_station_driver_serials.moc"
