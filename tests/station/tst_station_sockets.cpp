#include "FakeSocketTree.h"
#include "HexRecord.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QFileInfo>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

namespace {

QList<QJsonObject> recordsOf(const QList<QJsonObject> &records, const QString &slot)
{
    QList<QJsonObject> mine;
    for (const QJsonObject &record : records)
        if (record.value(QStringLiteral("slot")).toString() == slot)
            mine << record;
    return mine;
}

} // namespace

// quobin-cli station with slots named by the USB sockets of a bench, laid
// out as Linux lays them out (udev's by-path links, sysfs) in a folder of the
// test's own; the adapters in them are played by the built vantor-sim.
class StationSocketsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(200);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);
    QString m_database = m_folder.filePath(QStringLiteral("records.sqlite"));

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
        return env;
    }

private slots:
    // Two adapters swap sockets between two runs, and the kernel numbers
    // them the other way round: each slot keeps its socket's name, flashes
    // the board in that socket, and records the socket beside the serial
    // number of the adapter that was in it.
    void slotsStayWithTheirSocketsWhenAdaptersSwap()
    {
        FakeSocketTree bench(m_folder.filePath(QStringLiteral("bench")));
        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("300"), QStringLiteral("--quiet-swap"),
                                  QStringLiteral("300")};
        SimFixture a(m_folder.path(), QStringLiteral("a"), options);
        SimFixture b(m_folder.path(), QStringLiteral("b"), options);
        QVERIFY(a.ready() && b.ready());
        const QString seven = bench.socket(QStringLiteral("1.4"));
        const QString eight = bench.socket(QStringLiteral("1.5"));
        const QString aDevice = QFileInfo(a.link()).canonicalFilePath();
        const QString bDevice = QFileInfo(b.link()).canonicalFilePath();

        struct Expected {
            QString adapter;
            QString device;
        };
        const auto run = [&](const Expected &inSeven, const Expected &inEight) {
            StationRun station(environment());
            station.start({QStringLiteral("--slot"), seven, QStringLiteral("--slot"), eight, QStringLiteral("--count"),
                           QStringLiteral("4"), QStringLiteral("--json"), QStringLiteral("--records"), m_database,
                           m_firmware});
            QCOMPARE(station.finish(kBoardMsecs), 0);
            const QList<QJsonObject> records = station.records();
            for (const auto &[socket, expected] : {std::pair{seven, inSeven}, std::pair{eight, inEight}}) {
                const QList<QJsonObject> mine = recordsOf(records, socket);
                QVERIFY2(!mine.isEmpty(), qPrintable(socket));
                QCOMPARE(mine.first().value(QStringLiteral("result")).toString(), QStringLiteral("success"));
                for (const QJsonObject &record : mine) {
                    QCOMPARE(record.value(QStringLiteral("socket")).toString(), socket);
                    QCOMPARE(record.value(QStringLiteral("usbSerial")).toString(), expected.adapter);
                    QCOMPARE(record.value(QStringLiteral("device")).toString(), expected.device);
                }
            }
        };

        bench.plug(QStringLiteral("1.4"), QStringLiteral("ttyUSB0"), QStringLiteral("A7"), a.link());
        bench.plug(QStringLiteral("1.5"), QStringLiteral("ttyUSB1"), QStringLiteral("B9"), b.link());
        run({QStringLiteral("A7"), aDevice}, {QStringLiteral("B9"), bDevice});
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(a.image(1), m_hex);
        QCOMPARE(b.image(1), m_hex);
        const int aBoards = a.count("boards");
        const int bBoards = b.count("boards");

        bench.pull(QStringLiteral("1.4"));
        bench.pull(QStringLiteral("1.5"));
        bench.plug(QStringLiteral("1.4"), QStringLiteral("ttyUSB0"), QStringLiteral("B9"), b.link());
        bench.plug(QStringLiteral("1.5"), QStringLiteral("ttyUSB1"), QStringLiteral("A7"), a.link());
        run({QStringLiteral("B9"), bDevice}, {QStringLiteral("A7"), aDevice});
        if (QTest::currentTestFailed())
            return;
        // Both fixtures had boards flashed in the second run too.
        QVERIFY(a.count("boards") > aBoards && b.count("boards") > bBoards);
    }

    // A socket that holds something other than a serial adapter, and two
    // slots that reach one device, are refused before any port is opened.
    void socketsThatCannotBeSlotsAreRefused()
    {
        FakeSocketTree bench(m_folder.filePath(QStringLiteral("refused")));
        SimFixture a(m_folder.path(), QStringLiteral("refused-a"), {QStringLiteral("--fixture"), QStringLiteral("300")});
        QVERIFY(a.ready());
        bench.plug(QStringLiteral("2.1"), QStringLiteral("ttyUSB0"), QStringLiteral("A7"), a.link());
        bench.plugOther(QStringLiteral("2.2"), QStringLiteral("Cruzer Blade"), QStringLiteral("0781"), QStringLiteral("5567"));
        const QString adapter = bench.socket(QStringLiteral("2.1"));
        const QString stick = bench.socket(QStringLiteral("2.2"));

        const QList<std::pair<QStringList, QString>> cases{
            {{QStringLiteral("--slot"), adapter, QStringLiteral("--slot"), stick},
             QStringLiteral("the socket %1 holds Cruzer Blade (0781:5567), which is not a serial adapter").arg(stick)},
            {{QStringLiteral("--slot"), adapter, QStringLiteral("--slot"), a.link()},
             QStringLiteral("the slots %1 and %2 both reach %3").arg(adapter, a.link(), QFileInfo(a.link()).canonicalFilePath())},
        };
        for (const auto &[named, message] : cases) {
            StationRun station(environment());
            station.start(named + QStringList{QStringLiteral("--records"), m_database, m_firmware});
            QCOMPARE(station.finish(kBoardMsecs), 2);
            QVERIFY2(QString::fromUtf8(station.errors()).contains(message), station.errors().constData());
        }
        QCOMPARE(a.count("mainCodeCommands"), 0);
    }
};

QTEST_GUILESS_MAIN(StationSocketsTest)
#include "tst_station_sockets.moc"
