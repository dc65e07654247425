// quobin-line, the built program, as a line's supervisor and a plant's
// systems meet it: three real quobin-cli station runs on fixtures of the
// built vantor-sim write into a real PostgreSQL server; Debian's headless
// chromium opens the page; the JSON is held against the server's records;
// the server goes away and comes back, and so does quobin-line itself. And
// a single station's SQLite file under a thousand bad requests.
#include "HexRecord.h"
#include "HttpProbe.h"
#include "PostgresServer.h"
#include "StationRig.h"
#include "TempFiles.h"
#include "WebDriver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <memory>

using namespace quobin;
using namespace quobin::testing;

namespace {

// The built quobin-line, its log read as it comes.
class LineRun {
public:
    // wrapper: a program that runs quobin-line (strace), with its own
    // arguments first.
    LineRun(const QString &records, int port, const QStringList &more = {}, const QStringList &wrapper = {})
        : m_port(port)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList arguments = QStringList{QStringLiteral("--records"), records, QStringLiteral("--listen"),
                                                  QStringLiteral("127.0.0.1:%1").arg(port)}
            + more;
        if (wrapper.isEmpty())
            m_process.start(QStringLiteral(QUOBIN_LINE), arguments);
        else
            m_process.start(wrapper.first(), wrapper.mid(1) + QStringList{QStringLiteral(QUOBIN_LINE)} + arguments);
    }
    ~LineRun() { stop(); }
    bool serving()
    {
        return waitFor([&] { return log().contains("page is on") || m_process.state() == QProcess::NotRunning; },
                       kSoonMsecs)
            && m_process.state() == QProcess::Running;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
        log();
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    QByteArray log()
    {
        m_log += m_process.readAll();
        return m_log;
    }
    qint64 pid() const { return m_process.processId(); }

private:
    int m_port;
    QProcess m_process;
    QByteArray m_log;
};

QJsonObject jsonOf(const HttpProbe::Reply &reply)
{
    return QJsonDocument::fromJson(reply.body).object();
}

// What the page shows, read from its DOM: per card its name, whether it is
// shown as not heard from, and its tiles' states; the failures' rows; the
// connection's word; and the marker that a reload would lose.
const char kPageState[] = R"(
  const cards = [...document.querySelectorAll('article.station')].map(card => ({
    station: card.dataset.station,
    stale: card.classList.contains('stale'),
    heard: (card.querySelector('.heard') || {}).textContent || '',
    tiles: [...card.querySelectorAll('.tile')].map(t => t.dataset.state),
    passed: card.querySelector('table.counts tr:nth-child(3) .passed').textContent,
  }));
  const failures = [...document.querySelectorAll('#failures tbody tr')].map(r => r.textContent);
  return {cards, failures, connection: document.getElementById('connection').textContent,
          problem: document.getElementById('problem').hidden ? '' : document.getElementById('problem').textContent,
          marker: window.quobinTestMarker || '', bars: document.querySelectorAll('#chart rect').length,
          html: document.documentElement.outerHTML};
)";

QJsonObject cardOf(const QJsonObject &page, const QString &station)
{
    for (const QJsonValue &card : page[QLatin1String("cards")].toArray())
        if (card[QLatin1String("station")].toString() == station)
            return card.toObject();
    return {};
}

} // namespace

class LineWebTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), sim::HexRecord::sampleImage(200));

    QProcessEnvironment environment(const QString &station) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(station));
        return env;
    }

private slots:
    void aLineOfStationsLiveOnThePage()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        const QString password = QStringLiteral("pw-line-8812");
        QVERIFY2(server.requirePassword(password), qPrintable(server.problem()));
        QString url = server.tcpUrl(QStringLiteral("line"));
        url.replace(QStringLiteral("//quobin@"), QStringLiteral("//quobin:%1@").arg(password));

        WebDriver browser;
        QVERIFY2(browser.ready(), qPrintable(browser.problem()));

        // The stations make the tables; the page starts on an empty line.
        const QStringList quick{QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"),
                                QStringLiteral("3")};
        SimFixture a1(m_folder.path(), QStringLiteral("a1"), quick), a2(m_folder.path(), QStringLiteral("a2"), quick);
        // The second board of b2 fails, paced so that the page sees it come.
        SimFixture b1(m_folder.path(), QStringLiteral("b1"), quick);
        SimFixture b2(m_folder.path(), QStringLiteral("b2"),
                      {QStringLiteral("--fixture"), QStringLiteral("1200"), QStringLiteral("--boards"),
                       QStringLiteral("3"), QStringLiteral("--pace"), QStringLiteral("--fault"),
                       QStringLiteral("flash:30@2")});
        SimFixture c1(m_folder.path(), QStringLiteral("c1"),
                      {QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"), QStringLiteral("1")});
        QVERIFY(a1.ready() && a2.ready() && b1.ready() && b2.ready() && c1.ready());

        const int port = HttpProbe::freePort();
        auto line = std::make_unique<LineRun>(url, port);
        QVERIFY2(line->serving(), line->log().constData());
        const QString page = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        browser.open(page);
        browser.run(QStringLiteral("window.quobinTestMarker = 'kept'; return 1;"));
        const auto shown = [&] { return browser.run(QLatin1String(kPageState)).toObject(); };

        const QDateTime testStart = QDateTime::currentDateTimeUtc().addSecs(-1);
        StationRun alpha(environment(QStringLiteral("alpha"))), bravo(environment(QStringLiteral("bravo"))),
            charlie(environment(QStringLiteral("charlie")));
        const auto run = [&](StationRun &station, const QString &name, const QStringList &ports, int count) {
            QStringList arguments;
            for (const QString &slot : ports)
                arguments << QStringLiteral("--slot") << slot;
            station.start(arguments + QStringList{QStringLiteral("--json"), QStringLiteral("--records"), url,
                                                  QStringLiteral("--station"), name, QStringLiteral("--count"),
                                                  QString::number(count), m_firmware});
        };
        run(alpha, QStringLiteral("alpha"), {a1.link(), a2.link()}, 6);
        // bravo keeps waiting for boards after its fixtures' six.
        run(bravo, QStringLiteral("bravo"), {b1.link(), b2.link()}, 100);
        run(charlie, QStringLiteral("charlie"), {c1.link()}, 5);

        // Three cards with their slots, without a reload.
        QJsonObject seen;
        QVERIFY2(waitFor([&] {
            seen = shown();
            return cardOf(seen, QStringLiteral("alpha"))[QLatin1String("tiles")].toArray().size() == 2
                && cardOf(seen, QStringLiteral("bravo"))[QLatin1String("tiles")].toArray().size() == 2
                && cardOf(seen, QStringLiteral("charlie"))[QLatin1String("tiles")].toArray().size() == 1;
        }, kBoardMsecs), QJsonDocument(seen).toJson().left(3000).constData());
        QCOMPARE(seen[QLatin1String("marker")].toString(), QStringLiteral("kept"));
        QCOMPARE(seen[QLatin1String("connection")].toString(), QStringLiteral("live"));

        // b2's failure: on the server, then on the page within 2 s, its
        // reason in the failures' list.
        const auto serverSays = [&](const QString &sql) {
            QString out;
            server.psql(QStringLiteral("line"), sql, &out);
            return out;
        };
        QVERIFY2(waitFor([&] {
            return serverSays(QStringLiteral("SELECT count(*) FROM slot_live WHERE station = 'bravo' AND state = 'failed'"))
                == QLatin1String("1");
        }, kBoardMsecs), bravo.errors().constData());
        // The reason as the slot's tile says it.
        const QString reason =
            serverSays(QStringLiteral("SELECT text FROM slot_live WHERE station = 'bravo' AND state = 'failed'"))
                .remove(QRegularExpression(QStringLiteral("^FAIL ")));
        QVERIFY(!reason.isEmpty());
        QElapsedTimer sinceFailure;
        sinceFailure.start();
        QVERIFY2(waitFor([&] {
            seen = shown();
            const QJsonArray tiles = cardOf(seen, QStringLiteral("bravo"))[QLatin1String("tiles")].toArray();
            const QJsonArray failures = seen[QLatin1String("failures")].toArray();
            return tiles.contains(QStringLiteral("failed")) && !failures.isEmpty()
                && failures[0].toString().contains(reason) && failures[0].toString().contains(QStringLiteral("bravo"));
        }, 2000), QJsonDocument(seen[QLatin1String("failures")].toArray()).toJson().constData());
        qInfo("a failure reached the page %lld ms after the server had it", sinceFailure.elapsed());
        QCOMPARE(seen[QLatin1String("marker")].toString(), QStringLiteral("kept"));

        // alpha ends; bravo has flashed its fixtures' boards.
        QCOMPARE(alpha.finish(kBoardMsecs * 2), 0);
        QVERIFY2(waitFor([&] { return bravo.records().size() == 6; }, kBoardMsecs * 2),
                 qPrintable(QString::number(bravo.records().size())));

        // The server stops while the stations run, charlie flashes a board
        // meanwhile, and the server starts again: the page says that it
        // cannot read the records and recovers by itself, and every record
        // arrives.
        QVERIFY2(server.stop(), qPrintable(server.problem()));
        QVERIFY2(waitFor([&] { return !shown()[QLatin1String("problem")].toString().isEmpty(); }, kSoonMsecs),
                 line->log().constData());
        c1.reset();
        QVERIFY2(waitFor([&] { return charlie.records().size() == 2; }, kBoardMsecs), charlie.errors().constData());
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(waitFor([&] { return shown()[QLatin1String("problem")].toString().isEmpty(); }, kSoonMsecs),
                 line->log().constData());
        QVERIFY2(waitFor([&] {
            return serverSays(QStringLiteral("SELECT count(*) FROM board_records")) == QLatin1String("14");
        }, kBoardMsecs), qPrintable(serverSays(QStringLiteral("SELECT station, slot, result FROM board_records"))));
        QVERIFY2(waitFor([&] {
            seen = shown();
            return cardOf(seen, QStringLiteral("charlie"))[QLatin1String("passed")].toString() == QLatin1String("2");
        }, kSoonMsecs), QJsonDocument(cardOf(seen, QStringLiteral("charlie"))).toJson().constData());
        // The page counts what the server holds, once it has heard of it.
        QVERIFY2(waitFor([&] {
            seen = shown();
            return cardOf(seen, QStringLiteral("alpha"))[QLatin1String("passed")].toString() == QLatin1String("6");
        }, kSoonMsecs), QJsonDocument(cardOf(seen, QStringLiteral("alpha"))).toJson().constData());

        // quobin-line itself restarts: the open page reconnects by itself.
        line.reset();
        QVERIFY(waitFor([&] { return shown()[QLatin1String("connection")].toString() != QLatin1String("live"); }, kSoonMsecs));
        line = std::make_unique<LineRun>(url, port);
        QVERIFY2(line->serving(), line->log().constData());
        QVERIFY(waitFor([&] { return shown()[QLatin1String("connection")].toString() == QLatin1String("live"); }, kSoonMsecs));
        QCOMPARE(shown()[QLatin1String("marker")].toString(), QStringLiteral("kept"));

        // The JSON holds the server's records and their figures.
        HttpProbe http(port);
        const QJsonObject figures = jsonOf(http.get(QStringLiteral("/api/line")));
        const auto count = [&](const QString &station, const QString &where) {
            return serverSays(QStringLiteral("SELECT count(*) FROM board_records WHERE station = '%1' AND %2")
                                  .arg(station, where)).toInt();
        };
        for (const QJsonValue &value : figures[QLatin1String("stations")].toArray()) {
            const QString name = value[QLatin1String("station")].toString();
            const QJsonObject shift = value[QLatin1String("shift")].toObject();
            const int passed = count(name, QStringLiteral("result = 'success'"));
            const int failed = count(name, QStringLiteral("result NOT IN ('success', 'cancelled')"));
            QCOMPARE(shift[QLatin1String("passed")].toInt(), passed);
            QCOMPARE(shift[QLatin1String("failed")].toInt(), failed);
            if (passed + failed > 0)
                QCOMPARE(shift[QLatin1String("firstPassYield")].toDouble(),
                         std::round(double(passed) / (passed + failed) * 10000) / 10000);
        }
        QCOMPARE(figures[QLatin1String("totals")][QLatin1String("shift")][QLatin1String("boards")].toInt(),
                 serverSays(QStringLiteral("SELECT count(*) FROM board_records WHERE result <> 'cancelled'")).toInt());
        const HttpProbe::Reply recordsReply =
            http.get(QStringLiteral("/api/records?since=") + testStart.toString(Qt::ISODate));
        QCOMPARE(recordsReply.status, 200);
        QSet<QString> ids;
        for (const QJsonValue &record : jsonOf(recordsReply)[QLatin1String("records")].toArray())
            ids.insert(record[QLatin1String("id")].toString());
        const QStringList serverIds = serverSays(QStringLiteral("SELECT id FROM board_records")).split(QLatin1Char('\n'));
        QCOMPARE(ids, QSet<QString>(serverIds.cbegin(), serverIds.cend()));
        QCOMPARE(alpha.records().size() + bravo.records().size() + charlie.records().size(), int(ids.size()));
        QCOMPARE(ids.size(), 14);

        // charlie is killed mid-run: after 15 s without its heartbeat the
        // card says it is not heard from, and since when.
        charlie.signal(SIGKILL);
        QVERIFY2(waitFor([&] {
            seen = shown();
            return cardOf(seen, QStringLiteral("charlie"))[QLatin1String("stale")].toBool();
        }, 15000 + kSoonMsecs), QJsonDocument(cardOf(seen, QStringLiteral("charlie"))).toJson().constData());
        QVERIFY(cardOf(seen, QStringLiteral("charlie"))[QLatin1String("heard")].toString().startsWith(QStringLiteral("not heard from since")));
        QVERIFY(!cardOf(seen, QStringLiteral("alpha"))[QLatin1String("stale")].toBool());
        QVERIFY(seen[QLatin1String("bars")].toInt() > 0);

        const QByteArray png = browser.screenshot();
        QVERIFY(png.startsWith("\x89PNG"));
        QFile shot(QStringLiteral(QUOBIN_LINE_SCREENSHOT));
        QVERIFY(shot.open(QIODevice::WriteOnly) && shot.write(png) == png.size());

        // No password on the page, in the JSON or in the log.
        const QByteArray secret = password.toUtf8();
        QVERIFY(!seen[QLatin1String("html")].toString().contains(password));
        QVERIFY(!http.get(QStringLiteral("/api/line")).body.contains(secret));
        QVERIFY(!recordsReply.body.contains(secret));
        QVERIFY(!http.get(QStringLiteral("/")).body.contains(secret));
        line->stop();
        QVERIFY2(!line->log().contains(secret), line->log().constData());
    }

    // One bench's own SQLite file under a thousand bad requests: broken
    // heads, heads and bodies too large, paths that climb out, and heads
    // that never end. Each is refused; meanwhile an open event stream stays
    // and a good request is answered at once; the half requests are cut
    // off; nothing but the program's own files is ever served.
    void badRequestsHarmNoOne()
    {
        const QString database = m_folder.filePath(QStringLiteral("bench.sqlite"));
        {
            SimFixture fixture(m_folder.path(), QStringLiteral("bench"),
                               {QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"),
                                QStringLiteral("1")});
            QVERIFY(fixture.ready());
            StationRun station(environment(QStringLiteral("bench")));
            station.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--json"), QStringLiteral("--records"),
                           database, QStringLiteral("--station"), QStringLiteral("bench-1"), QStringLiteral("--count"),
                           QStringLiteral("1"), m_firmware});
            QCOMPARE(station.finish(), 0);
        }
        const int port = HttpProbe::freePort();
        // Every file the program opens, for the proof that none is asked for
        // by a request.
        QVERIFY2(QFile::exists(QStringLiteral("/usr/bin/strace")),
                 "strace is not installed: apt-get install strace (scripts/test installs it)");
        const QString opened = m_folder.filePath(QStringLiteral("opened.txt"));
        LineRun line(database, port, {},
                     {QStringLiteral("/usr/bin/strace"), QStringLiteral("-f"), QStringLiteral("-qq"),
                      QStringLiteral("-e"), QStringLiteral("trace=open,openat,openat2,stat,newfstatat,statx,access"),
                      QStringLiteral("-o"), opened});
        QVERIFY2(line.serving(), line.log().constData());
        HttpProbe http(port);
        QVERIFY(jsonOf(http.get(QStringLiteral("/api/line")))[QLatin1String("stations")].toArray().size() == 1);

        QTcpSocket stream;
        stream.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(stream.waitForConnected(5000));
        stream.write("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(waitFor([&] { return stream.bytesAvailable() > 0 && stream.peek(1 << 20).contains("event: line"); }, kSoonMsecs));

        std::vector<std::unique_ptr<QTcpSocket>> halves;
        for (int i = 0; i < 100; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, quint16(port));
            QVERIFY(socket->waitForConnected(5000));
            socket->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
            socket->flush();
            halves.push_back(std::move(socket));
        }

        const QByteArray big(40 * 1024, 'a');
        const QList<QByteArray> bad{
            "GET / HTTP/1.1\r\nHost x\r\nno colon here\r\n\r\n",
            QByteArray("\x00\x01\x02\xff\xfe garbage\r\n\r\n", 18),
            "GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET /line.js/../../../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET /..%2f..%2f..%2fetc%2fpasswd HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET //etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET /api/records?since=../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + big + "\r\n\r\n",
            "POST /api/line HTTP/1.1\r\nHost: x\r\nContent-Length: 104857600\r\n\r\n" + big,
            "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nffffff\r\n" + big,
            "DELETE /api/line HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET / HTTP/9.9\r\n\r\n",
        };
        QElapsedTimer allBad;
        allBad.start();
        for (int i = 0; i < 1000; ++i) {
            const QByteArray &request = bad[i % bad.size()];
            const HttpProbe::Reply reply = http.send(request, 5000);
            // Refused, never with a file from the disk.
            QVERIFY2(reply.status != 200, request.left(80).constData());
            QVERIFY(!reply.body.contains("root:"));
        }
        qInfo("1000 bad requests refused in %lld ms", allBad.elapsed());
        QVERIFY(line.running());

        // The others are served at once, the stream still open.
        QElapsedTimer good;
        good.start();
        const HttpProbe::Reply page = http.get(QStringLiteral("/"), 2000);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("<title>Quobin line</title>"));
        QCOMPARE(http.get(QStringLiteral("/line.css"), 2000).status, 200);
        QVERIFY2(good.elapsed() < 2000, qPrintable(QString::number(good.elapsed())));
        QCOMPARE(stream.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(http.get(QStringLiteral("/etc/passwd")).status, 404);
        QCOMPARE(http.get(QStringLiteral("/api/records")).status, 400);

        // The half requests are cut off within their ten seconds.
        QVERIFY(waitFor([&] {
            for (const auto &socket : halves) {
                socket->waitForReadyRead(0);
                if (socket->state() == QAbstractSocket::ConnectedState)
                    return false;
            }
            return true;
        }, 10000 + kSoonMsecs));
        QCOMPARE(stream.state(), QAbstractSocket::ConnectedState);
        QVERIFY(line.running());
        line.stop();
        QFile trace(opened);
        QVERIFY(trace.open(QIODevice::ReadOnly));
        const QByteArray calls = trace.readAll();
        QVERIFY(calls.contains("bench.sqlite"));
        QVERIFY2(!calls.contains("passwd") && !calls.contains("/etc/pass"), "a request reached the disk");
    }

    // HTTPS with the program's own certificate: the page over TLS, a plain
    // request to it refused, a handshake that never comes cut off.
    void httpsWithItsOwnCertificate()
    {
        const QString cert = m_folder.filePath(QStringLiteral("line.crt"));
        const QString key = m_folder.filePath(QStringLiteral("line.key"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                       QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
        QVERIFY2(openssl.waitForFinished(30000) && openssl.exitCode() == 0, openssl.readAll().constData());
        const QString database = m_folder.filePath(QStringLiteral("tls.sqlite"));
        const int port = HttpProbe::freePort();
        LineRun line(database, port, {QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key});
        QVERIFY2(line.serving(), line.log().constData());
        QVERIFY(line.log().contains("https://127.0.0.1:"));

        QSslSocket tls;
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
        QVERIFY2(tls.waitForEncrypted(kSoonMsecs), qPrintable(tls.errorString()));
        QCOMPARE(tls.peerCertificate(), QSslCertificate::fromPath(cert).value(0));
        tls.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        QVERIFY(waitFor([&] {
            tls.waitForReadyRead(50);
            answer += tls.readAll();
            return answer.contains("</html>");
        }, kSoonMsecs));
        QVERIFY(answer.startsWith("HTTP/1.1 200"));

        HttpProbe plain(port);
        QCOMPARE(plain.get(QStringLiteral("/"), 5000).status, 0);
        QTcpSocket silent;
        silent.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(silent.waitForConnected(5000));
        QVERIFY(waitFor([&] { silent.waitForReadyRead(0); return silent.state() != QAbstractSocket::ConnectedState; },
                        10000 + kSoonMsecs));
        QVERIFY(line.running());
    }
};

QTEST_GUILESS_MAIN(LineWebTest)
#include "tst_line_web.moc"
