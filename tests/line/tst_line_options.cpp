// What quobin-line takes from its command line, and the shift a time falls
// in, on the days where a naive reading goes wrong: before 06:00 (the night
// shift began yesterday) and the nights the clocks change.
#include "LineOptions.h"
#include "ShiftWindow.h"

#include <QTest>

#include <stdexcept>

using namespace quobin::line;

class LineOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void addressesAndOptions()
    {
        const auto parsed = [](const QStringList &arguments) {
            return LineOptions::parse(QStringList{QStringLiteral("quobin-line")} + arguments);
        };
        const LineOptions plain = parsed({QStringLiteral("--records"), QStringLiteral("r.sqlite")});
        QCOMPARE(plain.listen.text(), QStringLiteral("127.0.0.1:8080"));
        QCOMPARE(parsed({QStringLiteral("--records"), QStringLiteral("r"), QStringLiteral("--listen"),
                         QStringLiteral("[::1]:8443")}).listen.text(),
                 QStringLiteral("[::1]:8443"));
        QCOMPARE(parsed({QStringLiteral("--records=r"), QStringLiteral("--listen=0.0.0.0:80")}).listen.port, quint16(80));
        for (const QString &wrong : {QStringLiteral("8080"), QStringLiteral("localhost:8080"), QStringLiteral("::1:8080"),
                                     QStringLiteral("[::1:8080"), QStringLiteral("127.0.0.1:0"),
                                     QStringLiteral("127.0.0.1:65536"), QStringLiteral("127.0.0.1:80x")})
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                     parsed({QStringLiteral("--records"), QStringLiteral("r"), QStringLiteral("--listen"), wrong}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, parsed({}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 parsed({QStringLiteral("--records"), QStringLiteral("r"), QStringLiteral("--tls-cert"),
                                         QStringLiteral("c.pem")}));
        // The parser's complaint about an unknown option shows no password.
        try {
            parsed({QStringLiteral("--records"), QStringLiteral("r"),
                    QStringLiteral("--what=postgresql://u:s3cret@h/db")});
            QFAIL("an unknown option was taken");
        } catch (const std::invalid_argument &error) {
            QVERIFY(!QString::fromUtf8(error.what()).contains(QStringLiteral("s3cret")));
        }
    }

    void shiftsAcrossMidnightAndTheClockChanges()
    {
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY(berlin.isValid());
        const auto shiftOf = [&](const QDate &day, const QTime &time) {
            return ShiftWindow::containing(QDateTime(day, time, berlin).toUTC(), berlin).start.toTimeZone(berlin);
        };
        const QDate day(2026, 3, 10);
        QCOMPARE(shiftOf(day, QTime(5, 59)), QDateTime(day.addDays(-1), QTime(22, 0), berlin));
        QCOMPARE(shiftOf(day, QTime(6, 0)), QDateTime(day, QTime(6, 0), berlin));
        QCOMPARE(shiftOf(day, QTime(13, 59, 59)), QDateTime(day, QTime(6, 0), berlin));
        QCOMPARE(shiftOf(day, QTime(23, 30)), QDateTime(day, QTime(22, 0), berlin));
        // The night the clocks go forward (29 March 2026, 02:00 -> 03:00):
        // the night shift began at 22:00 the evening before, seven hours ago.
        const QDate spring(2026, 3, 29);
        const QDateTime springShift = shiftOf(spring, QTime(5, 0));
        QCOMPARE(springShift, QDateTime(spring.addDays(-1), QTime(22, 0), berlin));
        QCOMPARE(springShift.secsTo(QDateTime(spring, QTime(5, 0), berlin)), 6 * 3600);
        // And back (25 October 2026): 22:00 is still the shift's start.
        const QDate autumn(2026, 10, 25);
        QCOMPARE(shiftOf(autumn, QTime(4, 0)), QDateTime(autumn.addDays(-1), QTime(22, 0), berlin));
    }
};

QTEST_GUILESS_MAIN(LineOptionsTest)
#include "tst_line_options.moc"
