// quobin-line under a line of 16 stations of 8 slots on one real PostgreSQL
// server: each station writes its live view through the stations' own
// LiveWriter at a station's pace (at most one write in 250 ms; a board of
// 20 s per slot, its percentage every second), over a board_records table
// that already holds four hours of a shift. Prints the time from a slot's
// change to its event at a connected client (median, 95th percentile) and
// the server's CPU. Not a test: nothing here fails on a slow machine.
//   line_bench [SECONDS]   (60 by default)
#include "LiveWriter.h"
#include "PostgresServer.h"
#include "RecordSchema.h"
#include "RecordStores.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

using namespace quobin;

namespace {

constexpr int kStations = 16;
constexpr int kSlots = 8;
constexpr int kBoardSeconds = 20;

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    // utime and stime: fields 14 and 15 of the whole line, 12 and 13 after ")".
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

// One station: its slots staggered over a board's time, written as a
// station's publisher writes them.
void runStation(const QString &url, int number, const std::atomic_bool &stop)
{
    records::LiveWriter writer(records::ServerTarget::parse(url));
    const QDateTime started = QDateTime::currentDateTimeUtc();
    QList<records::LiveSlot> last(kSlots);
    QElapsedTimer clock;
    clock.start();
    while (!stop) {
        const double now = clock.elapsed() / 1000.0;
        records::LiveSnapshot snapshot;
        snapshot.station = {QStringLiteral("station-%1").arg(number, 2, 10, QLatin1Char('0')), QStringLiteral("ctl"), 3,
                            QStringLiteral("ctl-3.hex"), kSlots, started, QDateTime::currentDateTimeUtc(), false};
        for (int slot = 0; slot < kSlots; ++slot) {
            const double into = std::fmod(now + slot * 2.5 + number * 0.3, kBoardSeconds);
            records::LiveSlot row{slot, QStringLiteral("Com %1").arg(slot + 1), {}, {}, {}, {}, {}, {}};
            if (into < 1) {
                row.state = QStringLiteral("waiting");
                row.text = QStringLiteral("waiting for a board");
            } else if (into < kBoardSeconds - 1) {
                row.state = QStringLiteral("flashing");
                row.percent = int((into - 1) / (kBoardSeconds - 2) * 100);
                row.text = QStringLiteral("flashing %1 %").arg(*row.percent);
            } else {
                row.state = QStringLiteral("passed");
                row.text = QStringLiteral("PASS");
            }
            if (row.state != last[slot].state || row.percent != last[slot].percent) {
                row.changed = QDateTime::currentDateTimeUtc();
                snapshot.slotRows.append(row);
                last[slot] = row;
            }
        }
        try {
            writer.write(snapshot);
        } catch (const records::RecordStoreError &error) {
            std::fprintf(stderr, "station %d: %s\n", number, qPrintable(error.reason()));
        }
        QThread::msleep(250);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, atoi(argv[1])) : 60;
    QTemporaryDir folder;
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder.path()));

    testing::PostgresServer server;
    if (!server.start() || !server.createDatabase(QStringLiteral("line"))) {
        std::fprintf(stderr, "line_bench: %s\n", qPrintable(server.problem()));
        return 1;
    }
    const QString url = server.tcpUrl(QStringLiteral("line"));
    // The tables, as a station makes them, then four hours of boards.
    try {
        records::openRecordStore(url)->read(QDateTime::currentDateTimeUtc());
    } catch (const records::RecordStoreError &error) {
        std::fprintf(stderr, "line_bench: %s\n", qPrintable(error.reason()));
        return 1;
    }
    QString out;
    const QString fill = QStringLiteral(
        "INSERT INTO board_records (id, station, slot, device, usb_serial, by_id_name, job_sha256, job_file, started,"
        " ended, seconds, bootloader_version, result, message, detail, lines_sent, resends, questions, quobin_version,"
        " log_path) SELECT md5(i::text), 'station-' || lpad((i % 16)::text, 2, '0'), 'Com ' || (i % 8 + 1), '/dev/x',"
        " '', '', 'ab', 'ctl-3.hex',"
        " to_char((now() - make_interval(secs => i * 0.156 + 20)) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'),"
        " to_char((now() - make_interval(secs => i * 0.156)) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'),"
        " 20, 1.2, CASE WHEN i % 50 = 0 THEN 'verify-failed' ELSE 'success' END, 'Done', '', 100, 0, '[]', '3.0', ''"
        " FROM generate_series(1, 92160) AS i");
    if (!server.psql(QStringLiteral("line"), fill, &out)) {
        std::fprintf(stderr, "line_bench: %s\n", qPrintable(server.problem()));
        return 1;
    }

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess line;
    line.setProcessChannelMode(QProcess::ForwardedChannels);
    line.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quobin-line"),
               {QStringLiteral("--records"), url, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
    if (!line.waitForStarted(10000))
        return 1;
    QThread::msleep(1500);

    QTcpSocket events;
    events.connectToHost(QHostAddress::LocalHost, port);
    if (!events.waitForConnected(5000))
        return 1;
    events.write("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");

    std::atomic_bool stop = false;
    std::vector<std::thread> stations;
    for (int i = 0; i < kStations; ++i)
        stations.emplace_back(runStation, url, i, std::cref(stop));

    QThread::sleep(3); // every station has written once
    QList<double> latencies;
    QHash<QString, QString> newest; // station/slot -> changed seen
    QByteArray buffer;
    // The server's backend that answers quobin-line's reads.
    QString backend;
    server.psql(QStringLiteral("line"),
                QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = 'quobin-line' LIMIT 1"), &backend);
    const double cpuBefore = cpuSeconds(line.processId());
    const double backendBefore = cpuSeconds(backend.toLongLong());
    QElapsedTimer run;
    run.start();
    int eventCount = 0;
    while (run.elapsed() < seconds * 1000) {
        events.waitForReadyRead(100);
        buffer += events.readAll();
        qsizetype end;
        while ((end = buffer.indexOf("\n\n")) >= 0) {
            const QByteArray block = buffer.left(end);
            buffer.remove(0, end + 2);
            if (!block.startsWith("event: line\ndata: "))
                continue;
            const QDateTime received = QDateTime::currentDateTimeUtc();
            ++eventCount;
            const QJsonObject figures = QJsonDocument::fromJson(block.mid(18)).object();
            for (const QJsonValue &station : figures.value(QStringLiteral("stations")).toArray())
                for (const QJsonValue &slot : station[QLatin1String("slots")].toArray()) {
                    const QString key = station[QLatin1String("station")].toString() + slot[QLatin1String("slot")].toString();
                    const QString changed = slot[QLatin1String("changed")].toString();
                    if (changed > newest.value(key)) {
                        if (!newest.value(key).isEmpty())
                            latencies << QDateTime::fromString(changed, Qt::ISODateWithMs).msecsTo(received);
                        newest[key] = changed;
                    }
                }
        }
    }
    const double cpu = cpuSeconds(line.processId()) - cpuBefore;
    const double backendCpu = cpuSeconds(backend.toLongLong()) - backendBefore;
    stop = true;
    for (std::thread &station : stations)
        station.join();
    line.terminate();
    line.waitForFinished(5000);

    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) { return latencies.isEmpty() ? 0.0 : latencies[int(share * (latencies.size() - 1))]; };
    std::printf("quobin-line, %d stations of %d slots (boards of %d s, writes paced at 250 ms), %d s,\n"
                "over 92,160 records of the shift:\n", kStations, kSlots, kBoardSeconds, seconds);
    std::printf("  slot change to a client's event: median %.0f ms, 95th percentile %.0f ms, max %.0f ms"
                " (%lld changes, %d events)   goal: 95th under 1000 ms\n",
                at(0.5), at(0.95), at(1.0), qlonglong(latencies.size()), eventCount);
    std::printf("  quobin-line's CPU: %.1f %% of a core   goal: under 5 %%\n", cpu / seconds * 100);
    std::printf("  its PostgreSQL backend's CPU (the figures' queries): %.1f %% of a core\n", backendCpu / seconds * 100);
    return 0;
}
