#include "HexRecord.h"
#include "Ser2net.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QFileInfo>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

// quobin-cli station on a slot behind Debian's ser2net: the server goes away
// between two boards, the slot shows the trouble, and once the server is
// back the next board passes.
class StationRfc2217Test : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(120);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);

private slots:
    void aSlotCarriesOnWhenItsServerIsBack()
    {
        // A board whose "^" nobody heard (the server was away) says it again.
        SimFixture fixture(m_folder.path(), QStringLiteral("bench"),
                           {QStringLiteral("--fixture"), QStringLiteral("1500"), QStringLiteral("--boards"),
                            QStringLiteral("3"), QStringLiteral("--quiet-swap"), QStringLiteral("1500"),
                            QStringLiteral("--version"), QStringLiteral("1.28")});
        QVERIFY(fixture.ready());
        Ser2net server(QFileInfo(fixture.link()).canonicalFilePath());
        QVERIFY(server.start());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
        StationRun station(env);
        station.start({QStringLiteral("--slot"), server.address(), QStringLiteral("--count"), QStringLiteral("3"),
                       QStringLiteral("--json"), QStringLiteral("--records"), m_folder.filePath(QStringLiteral("records.sqlite")),
                       m_firmware});
        QVERIFY2(waitFor([&] { return station.records().size() == 1; }, kBoardMsecs), station.errors().constData());

        server.kill();
        const auto troubleShown = [&] {
            return station.output().contains("cannot use rfc2217://127.0.0.1:" + QByteArray::number(server.port()));
        };
        QVERIFY2(waitFor(troubleShown, kBoardMsecs), station.output().right(2000).constData());
        QVERIFY(station.running());
        QVERIFY(server.start());

        QCOMPARE(station.finish(60000), 0);
        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 3);
        for (const QJsonObject &record : records) {
            QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
            QCOMPARE(record.value(QStringLiteral("slot")).toString(), server.address());
        }
        QVERIFY(waitFor([&] { return fixture.count("boards") == 3; }, kSoonMsecs));
        for (int board = 1; board <= 3; ++board)
            QCOMPARE(fixture.image(board), m_hex);
    }
};

QTEST_GUILESS_MAIN(StationRfc2217Test)
#include "tst_station_rfc2217.moc"
