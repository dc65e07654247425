// Start-up, shut-down, Browse and drop on the path box, offscreen.

#include "AppFakes.h"
#include "FileDropLineEdit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace quobin;
using namespace quobin::testing;

namespace {

// One mouse event as the window system delivers it, stamped with its own
// time (milliseconds, the window system's clock).
void mouseAt(QWidget *widget, QEvent::Type type, quint64 timestamp)
{
    const QPointF centre = QRectF(widget->rect()).center();
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, centre, widget->mapToGlobal(centre), Qt::LeftButton, held, Qt::NoModifier);
    event.setTimestamp(timestamp);
    QApplication::sendEvent(widget, &event);
}

// A click; the second click of a double-click brings a double-click event
// after its press.
void clickAt(QWidget *widget, quint64 timestamp, bool secondOfDouble = false)
{
    mouseAt(widget, QEvent::MouseButtonPress, timestamp);
    if (secondOfDouble)
        mouseAt(widget, QEvent::MouseButtonDblClick, timestamp);
    mouseAt(widget, QEvent::MouseButtonRelease, timestamp + 60);
}

} // namespace

class TestAppLifecycle : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingsAreRestored();
    void firstRunShowsTheLoadBoxBeforeTheWindow();
    void badSettingsGiveTheDefaults_data();
    void badSettingsGiveTheDefaults();
    void noSelectionIsRestored();
    void aFirstStartInThePerUserFolderTakesTheDefaultsWithoutABox();
    void aDamagedFileInThePerUserFolderIsStillReported_data();
    void aDamagedFileInThePerUserFolderIsStillReported();

    void exitClosesThePortAndSaves();
    void closingTheIdleWindowClosesThePortAndSaves();
    void closingWithThePortClosedLeavesItAlone();
    void aSaveThatFailsIsReported();

    void browseSetsThePath();
    void browseThatIsCancelledOrFailsChangesNothing();

    void droppedFilesLeaveTheLast();
    void droppedTextChangesNothing();

    void uploadButtonRunsTheUpload();
    void cancelDuringUploadEndsIt();
    void closeDuringUploadCancelsIt();
    void aDoubleClickOnUploadDoesNotCancel_data();
    void aDoubleClickOnUploadDoesNotCancel();

private:
    QString settingsPath() const { return m_dir->filePath(QStringLiteral("quobin.ini")); }
    // As the boxes name it: in the system's own separators.
    QString shownSettingsPath() const { return QDir::toNativeSeparators(settingsPath()); }
    void writeSettings(const QByteArray &content);
    QByteArray readSettings() const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

static const QString loadBoxEnd = QStringLiteral(". The default settings will be loaded instead.");

void TestAppLifecycle::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestAppLifecycle::cleanup()
{
    m_dir.reset();
}

void TestAppLifecycle::writeSettings(const QByteArray &content)
{
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray TestAppLifecycle::readSettings() const
{
    QFile file(settingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestAppLifecycle::settingsAreRestored()
{
    writeSettings("7\r\n9\r\n\"/fw/a,b.hex\"\r\n");
    WindowRig rig(settingsPath());
    QVERIFY(rig.boxes.boxes.isEmpty());
    QCOMPARE(rig.ui().Combo1->currentText(), QStringLiteral("Com 8"));
    QCOMPARE(rig.ui().Combo2->currentText(), QStringLiteral("115200"));
    QCOMPARE(rig.ui().Text1->text(), QStringLiteral("/fw/a,b.hex"));
    QCOMPARE(rig.window->comPortPosition(), 7);
    QCOMPARE(rig.window->firmwarePath(), QStringLiteral("/fw/a,b.hex"));
}

void TestAppLifecycle::firstRunShowsTheLoadBoxBeforeTheWindow()
{
    WindowRig rig(settingsPath());
    QCOMPARE(rig.boxes.boxes.size(), 1);
    const RecordingBoxes::Box box = rig.boxes.boxes.first();
    QCOMPARE(box.kind, QStringLiteral("warning"));
    QCOMPARE(box.title, QStringLiteral("Vantor Quobin"));
    QCOMPARE(box.text, QStringLiteral("An error occured while loading file ") + shownSettingsPath() + loadBoxEnd);
    QVERIFY(!box.anyWindowVisible);
    QVERIFY(!box.hadParent);
    // The caption was complete before the settings were loaded.
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Kelsar Vantor Quobin - V 3.0"));

    QCOMPARE(rig.ui().Combo1->currentIndex(), 0);
    QCOMPARE(rig.ui().Combo2->currentText(), QStringLiteral("19200"));
    QVERIFY(rig.ui().Text1->text().isEmpty());

    rig.window->show();
    rig.window->close();
    QCOMPARE(readSettings(), QByteArray("0\r\n5\r\n\"\"\r\n", 10));
    QCOMPARE(rig.boxes.boxes.size(), 1);
}

void TestAppLifecycle::badSettingsGiveTheDefaults_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("two fields") << QByteArray("1\r\n2\r\n");
    QTest::newRow("no such COM port") << QByteArray("8\r\n3\r\n\"/fw/x.hex\"\r\n");
    QTest::newRow("below no selection") << QByteArray("-2\r\n3\r\n\"/fw/x.hex\"\r\n");
    QTest::newRow("no such baud rate") << QByteArray("2\r\n10\r\n\"/fw/x.hex\"\r\n");
    QTest::newRow("too big for 16 bits") << QByteArray("40000\r\n3\r\n\"/fw/x.hex\"\r\n");
}

void TestAppLifecycle::badSettingsGiveTheDefaults()
{
    QFETCH(QByteArray, content);
    writeSettings(content);
    WindowRig rig(settingsPath());
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes.first().text,
             QStringLiteral("An error occured while loading file ") + shownSettingsPath() + loadBoxEnd);
    QCOMPARE(rig.ui().Combo1->currentIndex(), 0);
    QCOMPARE(rig.ui().Combo2->currentIndex(), 5);
    QVERIFY(rig.ui().Text1->text().isEmpty());
    // The damaged file is left as it was until the next save.
    QCOMPARE(readSettings(), content);
}

// The per-user folder of an installed program: no file there yet is a
// user's first start, not an error.
void TestAppLifecycle::aFirstStartInThePerUserFolderTakesTheDefaultsWithoutABox()
{
    WindowRig rig(SettingsLocation(settingsPath(), true));
    QCOMPARE(rig.boxes.boxes.size(), 0);
    QCOMPARE(rig.ui().Combo1->currentIndex(), 0);
    QCOMPARE(rig.ui().Combo2->currentText(), QStringLiteral("19200"));
    QVERIFY(rig.ui().Text1->text().isEmpty());
    rig.window->show();
    rig.window->close();
    QCOMPARE(readSettings(), QByteArray("0\r\n5\r\n\"\"\r\n", 10));
    QCOMPARE(rig.boxes.boxes.size(), 0);
}

void TestAppLifecycle::aDamagedFileInThePerUserFolderIsStillReported_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("linkTarget");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("two fields") << QByteArray("1\r\n2\r\n") << QString();
    QTest::newRow("too big for 16 bits") << QByteArray("40000\r\n3\r\n\"/fw/x.hex\"\r\n") << QString();
    QTest::newRow("a link to nothing") << QByteArray() << QStringLiteral("/nonexistent/quobin.ini");
    QTest::newRow("a folder in its place") << QByteArray() << QStringLiteral("folder");
}

void TestAppLifecycle::aDamagedFileInThePerUserFolderIsStillReported()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, linkTarget);
    if (linkTarget == QStringLiteral("folder"))
        QVERIFY(QDir().mkdir(settingsPath()));
    else if (!linkTarget.isEmpty())
        QVERIFY(QFile::link(linkTarget, settingsPath()));
    else
        writeSettings(content);
    WindowRig rig(SettingsLocation(settingsPath(), true));
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes.first().title, QStringLiteral("Vantor Quobin"));
    QCOMPARE(rig.boxes.boxes.first().text,
             QStringLiteral("An error occured while loading file ") + shownSettingsPath() + loadBoxEnd);
    QCOMPARE(rig.ui().Combo1->currentIndex(), 0);
    QCOMPARE(rig.ui().Combo2->currentIndex(), 5);
    QVERIFY(rig.ui().Text1->text().isEmpty());
}

void TestAppLifecycle::noSelectionIsRestored()
{
    writeSettings("-1\r\n-1\r\n\"x\"\r\n");
    WindowRig rig(settingsPath());
    QVERIFY(rig.boxes.boxes.isEmpty());
    QCOMPARE(rig.ui().Combo1->currentIndex(), -1);
    QCOMPARE(rig.ui().Combo2->currentIndex(), -1);
    rig.window->show();
    rig.window->close();
    QCOMPARE(readSettings(), QByteArray("-1\r\n-1\r\n\"x\"\r\n"));
}

void TestAppLifecycle::exitClosesThePortAndSaves()
{
    writeSettings("0\r\n5\r\n\"\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    rig.port.setPortOpen(true);
    rig.ui().Combo1->setCurrentIndex(2);
    rig.ui().Text1->setText(QStringLiteral("/fw/main.hex"));
    QSignalSpy exitRequested(rig.window.get(), &Form1::exitRequested);

    QTest::mouseClick(rig.ui().Command3, Qt::LeftButton);

    QVERIFY(!rig.port.isOpen);
    QCOMPARE(rig.port.log.last(), QStringLiteral("close"));
    QCOMPARE(readSettings(), QByteArray("2\r\n5\r\n\"/fw/main.hex\"\r\n"));
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(exitRequested.size(), 1);
    QVERIFY(rig.boxes.boxes.isEmpty());
}

void TestAppLifecycle::closingTheIdleWindowClosesThePortAndSaves()
{
    writeSettings("0\r\n5\r\n\"\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    rig.port.setPortOpen(true);
    rig.ui().Combo1->setCurrentIndex(4);
    QSignalSpy exitRequested(rig.window.get(), &Form1::exitRequested);

    QVERIFY(rig.window->close());

    QVERIFY(!rig.port.isOpen);
    QCOMPARE(readSettings(), QByteArray("4\r\n5\r\n\"\"\r\n"));
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(exitRequested.size(), 0);
}

void TestAppLifecycle::closingWithThePortClosedLeavesItAlone()
{
    writeSettings("0\r\n5\r\n\"\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    rig.window->close();
    QVERIFY(rig.port.log.isEmpty());
    QCOMPARE(readSettings(), QByteArray("0\r\n5\r\n\"\"\r\n"));
}

void TestAppLifecycle::aSaveThatFailsIsReported()
{
    writeSettings("0\r\n5\r\n\"\"\r\n");
    WindowRig rig(settingsPath());
    QVERIFY(QDir(m_dir->path()).removeRecursively());
    rig.window->show();
    QVERIFY(rig.window->close());
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes.first().kind, QStringLiteral("warning"));
    QCOMPARE(rig.boxes.boxes.first().title, QStringLiteral("Vantor Quobin"));
    QCOMPARE(rig.boxes.boxes.first().text,
             QStringLiteral("An error occured while saving file ") + shownSettingsPath());
}

void TestAppLifecycle::browseSetsThePath()
{
    writeSettings("0\r\n5\r\n\"/old.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    rig.dialog.answer = QStringLiteral("/fw/new firmware.hex");
    QTest::mouseClick(rig.ui().Command1, Qt::LeftButton);
    QCOMPARE(rig.dialog.calls, 1);
    QCOMPARE(rig.dialog.lastTitle, QStringLiteral("Select File to Upload"));
    QCOMPARE(rig.dialog.lastFilters,
             QStringList({"Update Files (*.hex)", "Binary Files (*.bin)"}));
    QCOMPARE(rig.dialog.lastSuffix, QStringLiteral("hex"));
    QCOMPARE(rig.ui().Text1->text(), QDir::toNativeSeparators(QStringLiteral("/fw/new firmware.hex")));
    QVERIFY(rig.boxes.boxes.isEmpty());
}

void TestAppLifecycle::browseThatIsCancelledOrFailsChangesNothing()
{
    writeSettings("0\r\n5\r\n\"/old.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();

    rig.dialog.answer.clear();  // cancelled
    QTest::mouseClick(rig.ui().Command1, Qt::LeftButton);
    QCOMPARE(rig.ui().Text1->text(), QStringLiteral("/old.hex"));

    rig.dialog.answer = QStringLiteral("/fw/ignored.hex");
    rig.dialog.fails = true;
    QTest::mouseClick(rig.ui().Command1, Qt::LeftButton);
    QCOMPARE(rig.dialog.calls, 2);
    QCOMPARE(rig.ui().Text1->text(), QStringLiteral("/old.hex"));
    QVERIFY(rig.boxes.boxes.isEmpty());
}

// Drags data onto the path box as a drag from another program would.
static void dropOn(QWidget *target, QMimeData *data)
{
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(6, 6), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

void TestAppLifecycle::droppedFilesLeaveTheLast()
{
    writeSettings("0\r\n5\r\n\"/old.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/fw/one.hex")),
                  QUrl::fromLocalFile(QStringLiteral("/fw/two.bin")),
                  QUrl::fromLocalFile(QStringLiteral("/fw/three.hex"))});
    QVERIFY(data.hasText());  // a URL drag claims text as well
    QStringList seen;
    connect(rig.ui().Text1, &QLineEdit::textChanged, this, [&](const QString &t) { seen << t; });
    dropOn(rig.ui().Text1, &data);
    QCOMPARE(rig.ui().Text1->text(), QDir::toNativeSeparators(QStringLiteral("/fw/three.hex")));
    QCOMPARE(seen.size(), 3);
}

void TestAppLifecycle::droppedTextChangesNothing()
{
    writeSettings("0\r\n5\r\n\"/old.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();

    QMimeData text;
    text.setText(QStringLiteral("/fw/typed.hex"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rig.ui().Text1, &enter);
    QVERIFY(!enter.isAccepted());
    dropOn(rig.ui().Text1, &text);
    QCOMPARE(rig.ui().Text1->text(), QStringLiteral("/old.hex"));

    // A web address is not a file either.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/fw.hex"))});
    dropOn(rig.ui().Text1, &web);
    QCOMPARE(rig.ui().Text1->text(), QStringLiteral("/old.hex"));
}

void TestAppLifecycle::uploadButtonRunsTheUpload()
{
    writeSettings("0\r\n5\r\n\"\"\r\n");
    WindowRig rig(settingsPath(), {3, 5});
    rig.window->show();
    // No path: the upload asks for one in a box titled with the caption.
    QTest::mouseClick(rig.ui().Command6, Qt::LeftButton);
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes.first().kind, QStringLiteral("plain"));
    QCOMPARE(rig.boxes.boxes.first().title, QStringLiteral("Kelsar Vantor Quobin - V 3.5"));
    QVERIFY(rig.boxes.boxes.first().hadParent);
    QVERIFY(rig.ui().Command6->isVisible());
    QCOMPARE(rig.ui().Label2->text(), QStringLiteral("Idle"));
}

void TestAppLifecycle::cancelDuringUploadEndsIt()
{
    writeSettings("0\r\n5\r\n\"/fw/main.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    bool sawBusy = false;
    QTimer::singleShot(100, rig.window.get(), [&] {
        sawBusy = rig.ui().Command4->isVisible() && !rig.ui().Command6->isVisible();
        QTest::mouseClick(rig.ui().Command4, Qt::LeftButton);
    });
    QTest::mouseClick(rig.ui().Command6, Qt::LeftButton);
    QVERIFY(sawBusy);
    QVERIFY(rig.boxes.boxes.isEmpty());
    QVERIFY(!rig.port.isOpen);
    QVERIFY(rig.window->isVisible());
    QVERIFY(rig.ui().Command6->isVisible() && rig.ui().Command6->isEnabled());
    QVERIFY(!rig.ui().Command4->isVisible());
    QCOMPARE(rig.ui().Label2->text(), QStringLiteral("Idle"));
}

void TestAppLifecycle::closeDuringUploadCancelsIt()
{
    writeSettings("0\r\n5\r\n\"/fw/main.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    bool closedWhileBusy = false;
    bool answeredYes = true;
    QTimer::singleShot(100, rig.window.get(), [&] {
        closedWhileBusy = rig.ui().Command4->isVisible();
        rig.window->close();
        // The close request only cancels: the window stays until the upload returns.
        QVERIFY(rig.window->cancelRequested());
        QVERIFY(!rig.ui().Command4->isEnabled());
        // From now on the upload's boxes stay away, and a question is answered No.
        rig.window->showPlainBox(QStringLiteral("plain"));
        rig.window->showWarningBox(QStringLiteral("warning"));
        answeredYes = rig.window->askYesNo(QStringLiteral("go on?"));
    });

    QTest::mouseClick(rig.ui().Command6, Qt::LeftButton);  // returns when the upload has ended

    QVERIFY(closedWhileBusy);
    QVERIFY(!answeredYes);
    QVERIFY(!rig.window->isVisible());
    QVERIFY(!rig.port.isOpen);
    QVERIFY(rig.boxes.boxes.isEmpty());
    QCOMPARE(readSettings(), QByteArray("0\r\n5\r\n\"/fw/main.hex\"\r\n"));
}

void TestAppLifecycle::aDoubleClickOnUploadDoesNotCancel_data()
{
    QTest::addColumn<int>("secondClickAfter");
    // The queue holds the second click while the upload sets up the port:
    // it reaches the Cancel button that has taken the upload button's place.
    QTest::newRow("fast double-click") << 80;
    QTest::newRow("slow double-click") << QApplication::doubleClickInterval() - 20;
}

void TestAppLifecycle::aDoubleClickOnUploadDoesNotCancel()
{
    QFETCH(int, secondClickAfter);
    writeSettings("0\r\n5\r\n\"/fw/main.hex\"\r\n");
    WindowRig rig(settingsPath());
    rig.window->show();
    const quint64 firstClick = 5'000'000;
    bool runningAfterSecondClick = false;
    bool cancelledByTheMeantClick = false;
    QTimer::singleShot(50, rig.window.get(), [&] {
        clickAt(rig.ui().Command4, firstClick + quint64(secondClickAfter), true);
        runningAfterSecondClick = !rig.window->cancelRequested() && rig.ui().Command4->isEnabled();
        // Then the operator sees Cancel and means it.
        QTimer::singleShot(100, rig.window.get(), [&] {
            clickAt(rig.ui().Command4, firstClick + 1500);
            cancelledByTheMeantClick = rig.window->cancelRequested() && !rig.ui().Command4->isEnabled();
        });
    });
    clickAt(rig.ui().Command6, firstClick - 60); // returns when the upload has ended
    QVERIFY(runningAfterSecondClick);
    QVERIFY(cancelledByTheMeantClick);
    QVERIFY(rig.boxes.boxes.isEmpty());
    QCOMPARE(rig.ui().Label2->text(), QStringLiteral("Idle"));
    QVERIFY(rig.ui().Command6->isVisible());

    // The keyboard cancels at once, whenever it comes.
    bool cancelledByKey = false;
    QTimer::singleShot(50, rig.window.get(), [&] {
        QTest::keyClick(rig.ui().Command4, Qt::Key_Space);
        cancelledByKey = rig.window->cancelRequested();
    });
    clickAt(rig.ui().Command6, firstClick + 10'000);
    QVERIFY(cancelledByKey);
    QCOMPARE(rig.ui().Label2->text(), QStringLiteral("Idle"));
}

QTEST_MAIN(TestAppLifecycle)
#include "tst_app_lifecycle.moc"
