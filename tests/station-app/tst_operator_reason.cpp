// A failed board's reason as the station window's tile tells it, from the
// record the station committed.

#include "OperatorReason.h"

#include <QTest>

using namespace quobin;

class TestOperatorReason : public QObject {
    Q_OBJECT

private slots:
    void reasons_data();
    void reasons();
};

void TestOperatorReason::reasons_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<float>("version");
    QTest::addColumn<QList<records::RecordedQuestion>>("questions");
    QTest::addColumn<bool>("deviceThere");
    QTest::addColumn<QString>("expected");

    const QList<records::RecordedQuestion> none;
    const QList<records::RecordedQuestion> checksum{{123, QStringLiteral("Checksum error"), false}};
    QTest::newRow("passed") << "success" << 1.3f << none << true << "";
    QTest::newRow("cancelled") << "cancelled" << 1.3f << none << true << "";
    QTest::newRow("no answer") << "no-response" << 0.0f << none << true << "No answer from the controller";
    QTest::newRow("rejected three times") << "stopped" << 1.28f << checksum << true
                                          << "The controller rejected line 123 three times";
    QTest::newRow("rejected once, older bootloader") << "stopped" << 1.27f << checksum << true
                                                     << "The controller rejected line 123";
    QTest::newRow("flash") << "stopped" << 1.3f
                           << QList<records::RecordedQuestion>{{7, QStringLiteral("Error writing to flash"), false}} << true
                           << "The controller could not write line 7 into its flash";
    // The line answered No, not an earlier one let through.
    QTest::newRow("second question")
        << "stopped" << 1.3f
        << QList<records::RecordedQuestion>{{5, QStringLiteral("No response"), true}, {9, QStringLiteral("No response"), false}}
        << true << "No answer from the controller to line 9";
    // Whatever the upload made of it, a board whose adapter is gone failed because of that.
    QTest::newRow("unplugged mid-transfer") << "transfer-error" << 1.3f << none << false << "Adapter unplugged";
    QTest::newRow("unplugged, no answer") << "no-response" << 1.3f << none << false << "Adapter unplugged";
    QTest::newRow("unplugged but passed") << "success" << 1.3f << none << false << "";
}

void TestOperatorReason::reasons()
{
    QFETCH(QString, result);
    QFETCH(float, version);
    QFETCH(QList<records::RecordedQuestion>, questions);
    QFETCH(bool, deviceThere);
    QFETCH(QString, expected);
    records::BoardRecord record;
    record.result = result;
    record.bootloaderVersion = version;
    record.questions = questions;
    QCOMPARE(operatorReason(record, deviceThere), expected);
}

QTEST_GUILESS_MAIN(TestOperatorReason)
#include "tst_operator_reason.moc"
