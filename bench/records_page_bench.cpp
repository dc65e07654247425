// The Records tab over 100,000 records in SQLite: how long the whole-table
// read takes that the tab used to do on the window's thread, and what the
// tab does now: the first page, a filter, the next page, the choices of the
// filters and an export, each timed, with the longest time the window's
// thread went without running its events meanwhile. Prints its figures; not
// a test.

#include "RecordCsv.h"
#include "RecordFiller.h"
#include "RecordStores.h"
#include "RecordsPage.h"
#include "SaveFileDialog.h"
#include "MessageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace quobin;

namespace {

class NoBoxes : public MessageBoxes {
public:
    void plain(QWidget *, const QString &, const QString &) override {}
    void warning(QWidget *, const QString &, const QString &text) override { std::printf("warning: %s\n", qPrintable(text)); }
    bool yesNo(QWidget *, const QString &, const QString &) override { return false; }
};

class FixedSaveDialog : public SaveFileDialog {
public:
    explicit FixedSaveDialog(QString path) : m_path(std::move(path)) {}
    QString saveFile(QWidget *, const QString &, const QString &, const QString &) override { return m_path; }

private:
    QString m_path;
};

// Runs the window's events until the page has shown an answer; the time
// taken, and the longest the window's thread was away from its events.
struct Timing {
    double msecs = 0;
    double longestStallMsecs = 0;
};

Timing untilShown(RecordsPage &page, const std::function<void()> &ask)
{
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(2);
    qint64 longestEnd = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (now - lastTick > longest) {
            longest = now - lastTick;
            longestEnd = now;
        }
        lastTick = now;
    });
    bool shown = false;
    qint64 shownAt = 0;
    const QMetaObject::Connection done = QObject::connect(&page, &RecordsPage::pageShown, [&] {
        shown = true;
        shownAt = clock.nsecsElapsed();
    });
    clock.start();
    ticker.start();
    ask();
    const qint64 asked = clock.nsecsElapsed();
    longest = qMax(longest, asked);
    lastTick = asked;
    while (!shown)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The next tick closes the gap that showing the page took.
    const qint64 settle = clock.nsecsElapsed();
    while (lastTick < settle)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(done);
    if (qEnvironmentVariableIsSet("RECORDS_BENCH_DEBUG"))
        std::printf("  longest gap ended %.1f ms, page shown at %.1f ms, asked in %.1f ms\n", longestEnd / 1e6,
                    shownAt / 1e6, asked / 1e6);
    return {shownAt / 1e6, longest / 1e6};
}

void print(const char *what, const Timing &timing)
{
    std::printf("%-44s %8.1f ms   window thread away from its events at most %6.1f ms\n", what, timing.msecs,
                timing.longestStallMsecs);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 100'000;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("records.sqlite"));

    QElapsedTimer clock;
    clock.start();
    testing::fillRecords(path, count, [](int i) {
        records::BoardRecord r;
        r.id = QUuid::createUuid();
        r.station = QStringLiteral("bench-1");
        r.slot = QStringLiteral("Com %1").arg(1 + i % 8);
        r.jobFile = QStringLiteral("main.hex");
        r.jobSha256 = QStringLiteral("77298cf90aa5beadd90ba722e217479e30ec2a1fe29f6810ac71574213a039af");
        r.result = i % 10 == 0 ? QStringLiteral("transfer-error") : QStringLiteral("success");
        r.message = i % 10 == 0 ? QStringLiteral("The controller rejected line 3") : QString();
        r.started = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(i) * 40);
        r.ended = r.started.addMSecs(31'500);
        r.seconds = 31.5;
        r.linesSent = 3000;
        return r;
    });
    std::printf("%d records written in %.1f s to %s\n\n", count, clock.elapsed() / 1000.0, qPrintable(path));

    std::shared_ptr<records::RecordStore> store = records::openRecordStore(path);
    clock.restart();
    const QList<records::BoardRecord> all = store->read();
    std::printf("%-44s %8.1f ms   (%lld records, all on the calling thread)\n", "the whole table read at once, as before",
                clock.nsecsElapsed() / 1e6, qlonglong(all.size()));

    NoBoxes boxes;
    FixedSaveDialog saveDialog(folder.filePath(QStringLiteral("export.csv")));
    RecordsPage page({boxes, saveDialog, [](const QList<records::BoardRecord> &list) { return records::recordsCsv(list); }});
    page.resize(1000, 600);
    page.show();

    print("open: choices and the first page", untilShown(page, [&] { page.reload(store); }));
    print("slot filter Com 3", untilShown(page, [&] { page.slotFilter()->setCurrentText(QStringLiteral("Com 3")); }));
    print("and failures only", untilShown(page, [&] { page.resultFilter()->setCurrentText(QStringLiteral("Failed")); }));
    page.slotFilter()->blockSignals(true);
    page.slotFilter()->setCurrentText(QStringLiteral("All slots"));
    page.slotFilter()->blockSignals(false);
    page.resultFilter()->blockSignals(true);
    page.resultFilter()->setCurrentText(QStringLiteral("All results"));
    page.resultFilter()->blockSignals(false);
    print("all records again", untilShown(page, [&] { page.reload(store); }));
    print("next page", untilShown(page, [&] { page.olderButton()->click(); }));
    std::printf("%-44s %8d\n", "records the filters select", page.total());

    page.resultFilter()->setCurrentText(QStringLiteral("Failed"));
    while (page.reading() || !page.exportButton()->isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    clock.restart();
    bool exported = false;
    QObject::connect(&page, &RecordsPage::exportFinished, [&] { exported = true; });
    page.exportButton()->click();
    const double clicked = clock.nsecsElapsed() / 1e6;
    while (!exported)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QFile csv(folder.filePath(QStringLiteral("export.csv")));
    csv.open(QIODevice::ReadOnly);
    const qsizetype lines = csv.readAll().count('\n') - 1;
    std::printf("%-44s %8.1f ms   (%lld records of %d failures; the click returned in %.1f ms)\n",
                "export of every failure", clock.nsecsElapsed() / 1e6, qlonglong(lines), page.total(), clicked);
    return 0;
}
