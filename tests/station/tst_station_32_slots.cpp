#include "HexRecord.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QDateTime>
#include <QHash>
#include <QTest>

#include <memory>
#include <vector>

using namespace quobin;
using namespace quobin::testing;

// A gang fixture of 32 boards' positions on one station: the built
// quobin-cli station with 32 slots, each played by its own vantor-sim.
class Station32SlotsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(200);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);
    QString m_database = m_folder.filePath(QStringLiteral("records.sqlite"));

private slots:
    // 32 slots of 3 boards each: every board gets the image byte for byte
    // and one record, and every slot had its first board flashed before any
    // slot was done with its last (no slot waited for the others). Not a
    // timing test: the bounds only keep a hung run from hanging the suite.
    void thirtyTwoSlotsOfThreeBoards()
    {
        constexpr int kSlots = 32;
        constexpr int kBoards = 3;
        std::vector<std::unique_ptr<SimFixture>> fixtures;
        QStringList arguments;
        for (int i = 0; i < kSlots; ++i) {
            fixtures.push_back(std::make_unique<SimFixture>(
                m_folder.path(), QStringLiteral("slot%1").arg(i + 1),
                QStringList{QStringLiteral("--fixture"), QStringLiteral("300"), QStringLiteral("--boards"),
                            QString::number(kBoards), QStringLiteral("--quiet-swap"), QStringLiteral("300")}));
        }
        for (const auto &fixture : fixtures) {
            QVERIFY(fixture->ready());
            arguments << QStringLiteral("--slot") << fixture->link();
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
        StationRun station(env);
        station.start(arguments + QStringList{QStringLiteral("--count"), QString::number(kSlots * kBoards),
                                              QStringLiteral("--json"), QStringLiteral("--records"), m_database,
                                              m_firmware});
        QCOMPARE(station.finish(4 * 60 * 1000), 0);

        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), kSlots * kBoards);
        QHash<QString, QList<QJsonObject>> bySlot;
        QSet<QString> ids;
        for (const QJsonObject &record : records) {
            QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
            ids.insert(record.value(QStringLiteral("id")).toString());
            bySlot[record.value(QStringLiteral("slot")).toString()] << record;
        }
        QCOMPARE(ids.size(), kSlots * kBoards);
        QDateTime lastFirstStart;
        QDateTime firstLastEnd;
        for (const auto &fixture : fixtures) {
            const QList<QJsonObject> mine = bySlot.value(fixture->link());
            QCOMPARE(mine.size(), kBoards);
            QVERIFY(waitFor([&] { return fixture->count("boards") == kBoards; }, kSoonMsecs));
            QCOMPARE(fixture->count("uploads"), kBoards);
            for (int board = 1; board <= kBoards; ++board)
                QVERIFY2(fixture->image(board) == m_hex, qPrintable(fixture->link()));
            const QDateTime firstStart = QDateTime::fromString(mine.first().value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
            const QDateTime lastEnd = QDateTime::fromString(mine.last().value(QStringLiteral("ended")).toString(), Qt::ISODateWithMs);
            if (!lastFirstStart.isValid() || firstStart > lastFirstStart)
                lastFirstStart = firstStart;
            if (!firstLastEnd.isValid() || lastEnd < firstLastEnd)
                firstLastEnd = lastEnd;
        }
        QVERIFY2(lastFirstStart < firstLastEnd,
                 qPrintable(QStringLiteral("a slot started its first board at %1, after another had ended its last at %2")
                                .arg(lastFirstStart.toString(Qt::ISODateWithMs), firstLastEnd.toString(Qt::ISODateWithMs))));
    }
};

QTEST_GUILESS_MAIN(Station32SlotsTest)
#include "tst_station_32_slots.moc"
