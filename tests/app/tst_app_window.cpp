// The window's controls and its idle and busy states, offscreen.

#include "AppFakes.h"
#include "Caption.h"
#include "FileDropLineEdit.h"
#include "Twips.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHelpEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quobin;
using namespace quobin::testing;

class TestAppWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void captionCarriesTheVersion();
    void everyControlCarriesItsName();
    void idleLookAtCreation();
    void listsHoldTheirItems();
    void geometryTheBehaviourReliesOn();
    void tabOrder();
    void busyAndIdleStates();
    void cancelGreysAtOnce();
    void countRefreshCopiesLinesRemaining();
    void everyCaptionFits();
    void iconHoldsEightImages();
    void letEventsRunWakesForAnEvent();
    void portListToolTipNamesTheDevice();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WindowRig> m_rig;
};

void TestAppWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(QStringLiteral("quobin.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("2\r\n3\r\n\"/fw/main.hex\"\r\n");
    file.close();
    m_rig = std::make_unique<WindowRig>(path);
    m_rig->window->show();
}

void TestAppWindow::cleanup()
{
    m_rig.reset();
    m_dir.reset();
}

void TestAppWindow::captionCarriesTheVersion()
{
    QCOMPARE(captionFor({3, 0}), QStringLiteral("Kelsar Vantor Quobin - V 3.0"));
    QCOMPARE(captionFor({3, 5}), QStringLiteral("Kelsar Vantor Quobin - V 3.5"));
    QCOMPARE(captionFor({3, 12}), QStringLiteral("Kelsar Vantor Quobin - V 3.12"));

    WindowRig rig(m_rig->settingsPath, {3, 12});
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Kelsar Vantor Quobin - V 3.12"));
}

void TestAppWindow::everyControlCarriesItsName()
{
    const Form1Controls &c = m_rig->ui();
    const QList<QPair<QWidget *, const char *>> named = {
        {c.Frame1, "Frame1"},     {c.Combo1, "Combo1"},     {c.Combo2, "Combo2"},
        {c.Frame4, "Frame4"},     {c.Text1, "Text1"},       {c.Command1, "Command1"},
        {c.Command6, "Command6"}, {c.Command4, "Command4"}, {c.Frame5, "Frame5"},
        {c.Label3, "Label3"},     {c.Label2, "Label2"},     {c.Label14, "Label14"},
        {c.Command3, "Command3"},
    };
    for (const auto &[widget, name] : named) {
        QVERIFY2(widget, name);
        QCOMPARE(m_rig->window->findChild<QWidget *>(QLatin1String(name)), widget);
    }
    // Containers.
    for (QWidget *w : {static_cast<QWidget *>(c.Combo1), static_cast<QWidget *>(c.Combo2)})
        QCOMPARE(w->parentWidget(), c.Frame1);
    for (QWidget *w : {static_cast<QWidget *>(c.Text1), static_cast<QWidget *>(c.Command1),
                       static_cast<QWidget *>(c.Command6), static_cast<QWidget *>(c.Command4)})
        QCOMPARE(w->parentWidget(), c.Frame4);
    for (QWidget *w : {c.Label3, c.Label2, c.Label14})
        QCOMPARE(w->parentWidget(), c.Frame5);
    for (QWidget *w : {static_cast<QWidget *>(c.Frame1), static_cast<QWidget *>(c.Frame4),
                       static_cast<QWidget *>(c.Frame5), static_cast<QWidget *>(c.Command3)})
        QCOMPARE(w->parentWidget(), m_rig->window.get());
}

void TestAppWindow::idleLookAtCreation()
{
    const Form1Controls &c = m_rig->ui();
    QCOMPARE(c.Frame1->title(), QStringLiteral("Select Com Port"));
    QVERIFY(c.Frame4->title().isEmpty());
    QVERIFY(c.Frame5->title().isEmpty());
    QCOMPARE(c.Command1->text(), QStringLiteral("&Browse"));
    QCOMPARE(c.Command6->text(), QStringLiteral("&Wait for Controller Then Upload"));
    QCOMPARE(c.Command4->text(), QStringLiteral("Cancel"));
    QCOMPARE(c.Command3->text(), QStringLiteral("E&xit"));
    QCOMPARE(c.Label3->text(), QStringLiteral("Status:"));
    QCOMPARE(c.Label2->text(), QStringLiteral("Idle"));
    QVERIFY(c.Label14->text().isEmpty());
    QCOMPARE(c.Command6->toolTip(),
             QStringLiteral("Wait for the Bootloader Active Character before continuing with the upload."));

    for (QWidget *w : std::initializer_list<QWidget *>{c.Combo1, c.Text1, c.Command1, c.Command6, c.Command3}) {
        QVERIFY2(w->isVisible(), qPrintable(w->objectName()));
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    }
    QVERIFY(!c.Combo2->isVisible());
    QVERIFY(!c.Command4->isVisible());
    QVERIFY(!c.Label14->isVisible());
    QVERIFY(!c.Combo1->isEditable());
    QVERIFY(!c.Combo2->isEditable());
    QVERIFY(!m_rig->window->cancelRequested());
    QVERIFY(!m_rig->window->countRefreshRunning());
    QCOMPARE(m_rig->window->linesRemaining(), qint16(0));
    QCOMPARE(m_rig->window->totalLines(), qint16(0));

    auto *timer = m_rig->window->findChild<QTimer *>(QStringLiteral("Timer3"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 1000);
}

void TestAppWindow::listsHoldTheirItems()
{
    const Form1Controls &c = m_rig->ui();
    QStringList com, baud;
    for (int i = 0; i < c.Combo1->count(); ++i)
        com << c.Combo1->itemText(i);
    for (int i = 0; i < c.Combo2->count(); ++i)
        baud << c.Combo2->itemText(i);
    QCOMPARE(com, QStringList({"Com 1", "Com 2", "Com 3", "Com 4", "Com 5", "Com 6", "Com 7", "Com 8"}));
    QCOMPARE(baud, QStringList({"1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
                                "57600", "115200"}));
    // The settings file set both positions.
    QCOMPARE(c.Combo1->currentIndex(), 2);
    QCOMPARE(c.Combo2->currentIndex(), 3);
}

void TestAppWindow::geometryTheBehaviourReliesOn()
{
    const Form1Controls &c = m_rig->ui();
    QCOMPARE(m_rig->window->size(), QSize(twips(6672), twips(4044)));
    QCOMPARE(m_rig->window->minimumSize(), m_rig->window->maximumSize());

    // Cancel lies wholly inside the upload button.
    QVERIFY(c.Command6->geometry().contains(c.Command4->geometry()));
    QCOMPARE(c.Command4->geometry().top(), c.Command6->geometry().top());
    QCOMPARE(c.Command4->height(), c.Command6->height());

    // The count stands on the status line, over its right part, in front.
    QCOMPARE(c.Label14->geometry().top(), c.Label2->geometry().top());
    QVERIFY(c.Label2->geometry().contains(c.Label14->geometry()));
    QVERIFY(c.Label14->autoFillBackground());
    const QObjectList &order = c.Frame5->children();
    QVERIFY(order.indexOf(c.Label14) > order.indexOf(c.Label2));

    // The hidden baud-rate list lies below its frame's visible area.
    QVERIFY(c.Combo2->geometry().top() >= c.Frame1->height());

    QCOMPARE(c.Text1->geometry(), twipsRect(120, 360, 5172, 285));
    QCOMPARE(c.Command3->geometry(), twipsRect(2280, 3480, 1935, 495));
}

// The widgets that Tab can reach, in chain order from Combo1.
static QStringList tabChain(QWidget *window, QWidget *first, bool visibleOnly)
{
    QStringList names;
    QWidget *w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && (!visibleOnly || w->isVisibleTo(window)))
            names << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first && names.size() < 50);
    return names;
}

void TestAppWindow::tabOrder()
{
    const Form1Controls &c = m_rig->ui();
    QCOMPARE(tabChain(m_rig->window.get(), c.Combo1, false),
             QStringList({"Combo1", "Combo2", "Command1", "Command6", "Command4", "Command3", "Text1"}));
    // Idle: Combo2 and Command4 are hidden and skipped.
    QCOMPARE(tabChain(m_rig->window.get(), c.Combo1, true),
             QStringList({"Combo1", "Command1", "Command6", "Command3", "Text1"}));
    for (QWidget *w : std::initializer_list<QWidget *>{c.Frame1, c.Frame4, c.Frame5, c.Label2, c.Label3, c.Label14})
        QCOMPARE(w->focusPolicy(), Qt::NoFocus);
}

void TestAppWindow::busyAndIdleStates()
{
    Form1 &window = *m_rig->window;
    const Form1Controls &c = m_rig->ui();
    auto neverBoth = [&] { return !(c.Command4->isVisible() && c.Command6->isVisible()); };

    QVERIFY(neverBoth());
    window.setStatus(QStringLiteral("something"));
    window.SetBusyState();
    QVERIFY(neverBoth());
    QVERIFY(c.Command4->isVisible());
    QVERIFY(c.Command4->isEnabled());
    QVERIFY(!c.Command6->isVisible());
    for (QWidget *w : std::initializer_list<QWidget *>{c.Command1, c.Command3, c.Command6, c.Text1, c.Combo1, c.Combo2})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(c.Label2->text().isEmpty());
    QVERIFY(!window.cancelRequested());
    QVERIFY(!c.Combo2->isVisible());
    // Cancel stands in front of the upload button.
    QVERIFY(c.Frame4->children().indexOf(c.Command4) > c.Frame4->children().indexOf(c.Command6));

    // Sending: the count shows in front of the status text.
    window.setStatus(QStringLiteral("Sending Firmware File - lines remaining "));
    window.setCountText(QStringLiteral("12"));
    window.showCount();
    QVERIFY(c.Label14->isVisible());
    QVERIFY(c.Frame5->childAt(c.Label14->geometry().center()) == c.Label14);

    // Nothing drops onto the disabled path box.
    const QString before = c.Text1->text();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/other.hex"))});
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(c.Text1, &drop);
    QCOMPARE(c.Text1->text(), before);

    window.setCountRefreshRunning(true);
    window.SetIdleState();
    QVERIFY(neverBoth());
    QVERIFY(c.Command6->isVisible());
    QVERIFY(!c.Command4->isVisible());
    QVERIFY(!c.Label14->isVisible());
    QVERIFY(c.Label14->text().isEmpty());
    QCOMPARE(c.Label2->text(), QStringLiteral("Idle"));
    for (QWidget *w : std::initializer_list<QWidget *>{c.Command1, c.Command3, c.Command6, c.Text1, c.Combo1, c.Combo2})
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(!c.Combo2->isVisible());
    // The idle state leaves the count refresh alone.
    QVERIFY(window.countRefreshRunning());
}

void TestAppWindow::cancelGreysAtOnce()
{
    Form1 &window = *m_rig->window;
    const Form1Controls &c = m_rig->ui();
    window.SetBusyState();
    QTest::mouseClick(c.Command4, Qt::LeftButton);
    QVERIFY(window.cancelRequested());
    QVERIFY(c.Command4->isVisible());
    QVERIFY(!c.Command4->isEnabled());
    QVERIFY(!c.Command6->isVisible());

    window.SetIdleState();
    QVERIFY(window.cancelRequested());  // only the next busy state clears it
    window.SetBusyState();
    QVERIFY(!window.cancelRequested());
    QVERIFY(c.Command4->isEnabled());
}

void TestAppWindow::countRefreshCopiesLinesRemaining()
{
    Form1 &window = *m_rig->window;
    const Form1Controls &c = m_rig->ui();
    window.setLinesRemaining(-17);
    window.setCountRefreshRunning(true);
    QVERIFY(window.countRefreshRunning());
    QTRY_COMPARE_WITH_TIMEOUT(c.Label14->text(), QStringLiteral("-17"), 3000);
    window.setLinesRemaining(32767);
    QTRY_COMPARE_WITH_TIMEOUT(c.Label14->text(), QStringLiteral("32767"), 3000);
    window.setCountRefreshRunning(false);
    QVERIFY(!window.countRefreshRunning());
}

static QString withoutAccessKey(QString text)
{
    return text.remove(QLatin1Char('&'));
}

void TestAppWindow::everyCaptionFits()
{
    const Form1Controls &c = m_rig->ui();
    QCOMPARE(m_rig->window->font().pointSize(), form1FontPointSize);

    for (QPushButton *b : {c.Command1, c.Command6, c.Command4, c.Command3}) {
        QStyleOptionButton option;
        option.initFrom(b);
        const QRect contents = b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
        const QFontMetrics metrics(b->font());
        QVERIFY2(metrics.horizontalAdvance(withoutAccessKey(b->text())) <= contents.width(),
                 qPrintable(b->objectName()));
        QVERIFY2(metrics.height() <= contents.height(), qPrintable(b->objectName()));
    }

    for (QComboBox *list : {c.Combo1, c.Combo2}) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, list);
        const QFontMetrics metrics(list->font());
        for (int i = 0; i < list->count(); ++i)
            QVERIFY2(metrics.horizontalAdvance(list->itemText(i)) <= field.width(),
                     qPrintable(list->itemText(i)));
    }

    {
        QStyleOptionGroupBox option;
        option.initFrom(c.Frame1);
        option.text = c.Frame1->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect label = c.Frame1->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                              QStyle::SC_GroupBoxLabel, c.Frame1);
        QVERIFY(c.Frame1->rect().contains(label));
        QVERIFY(QFontMetrics(c.Frame1->font()).horizontalAdvance(c.Frame1->title()) <= label.width());
    }

    const QFontMetrics metrics(c.Label2->font());
    QVERIFY(metrics.height() <= c.Label2->height());
    QVERIFY(metrics.horizontalAdvance(c.Label3->text()) <= c.Label3->width());
    // The longest fixed status texts, and the one the count completes.
    for (const char *status : {"Idle", "Initializing the com port",
                               "Waiting for Bootloader Active Character...Reset target...",
                               "Requesting Bootloader Ready.  Try #3"})
        QVERIFY2(metrics.horizontalAdvance(QLatin1String(status)) <= c.Label2->width(), status);
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("Sending Firmware File - lines remaining "))
            <= c.Label14->x() - c.Label2->x());
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("-32768")) <= c.Label14->width());
    QVERIFY(QFontMetrics(c.Text1->font()).height() <= c.Text1->height());
}

void TestAppWindow::iconHoldsEightImages()
{
    QFile ico(QStringLiteral(":/icons/quobin.ico"));
    QVERIFY(ico.open(QIODevice::ReadOnly));
    const QByteArray data = ico.readAll();
    QVERIFY(data.size() > 6);
    auto u16 = [&](int at) { return quint16(quint8(data[at]) | quint8(data[at + 1]) << 8); };
    QCOMPARE(u16(0), quint16(0));
    QCOMPARE(u16(2), quint16(1));
    QCOMPARE(u16(4), quint16(8));
    QList<QPair<int, int>> images;  // (size, bits per pixel)
    for (int i = 0; i < 8; ++i) {
        const int entry = 6 + 16 * i;
        images.append({quint8(data[entry]), u16(entry + 6)});
    }
    std::sort(images.begin(), images.end());
    const QList<QPair<int, int>> expected = {{16, 4}, {16, 8}, {16, 32}, {32, 4},
                                             {32, 8}, {32, 32}, {48, 8}, {48, 32}};
    QCOMPARE(images, expected);

    const QList<QSize> sizes = m_rig->window->windowIcon().availableSizes();
    for (int side : {16, 32, 48})
        QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
}

void TestAppWindow::letEventsRunWakesForAnEvent()
{
    Form1 &window = *m_rig->window;
    bool ran = false;
    QTimer::singleShot(20, &window, [&] { ran = true; });
    QElapsedTimer elapsed;
    elapsed.start();
    while (!ran && elapsed.elapsed() < 5000)
        window.letEventsRun(10000);
    QVERIFY(ran);
    QVERIFY(elapsed.elapsed() < 5000);

    // With nothing to do it sleeps until its time is up instead of spinning.
    elapsed.restart();
    int passes = 0;
    while (elapsed.elapsed() < 200) {
        window.letEventsRun(50);
        ++passes;
    }
    QVERIFY2(passes < 40, qPrintable(QString::number(passes)));
}

// The port list's tooltip says what the chosen "Com n" reaches, asked again
// when the choice changes, when the list opens and before the tooltip shows.
void TestAppWindow::portListToolTipNamesTheDevice()
{
    QVERIFY(m_rig->ui().Combo1->toolTip().isEmpty());  // nothing to describe ports with

    QString adapter = QStringLiteral("Maker Bench Adapter, serial A7, 0403:6001");
    QList<int> asked;
    bool fails = false;
    auto describe = [&](int number) {
        asked << number;
        if (fails)
            throw std::runtime_error("no such port");
        return QStringLiteral("/dev/ttyUSB%1 (link com%2)\n%3").arg(number - 1).arg(number).arg(adapter);
    };
    Form1 window({m_rig->port, m_rig->clock, m_rig->boxes, m_rig->dialog, describe}, m_rig->settingsPath, {3, 0});
    window.show();
    QComboBox *list = window.controls().Combo1;
    QCOMPARE(list->toolTip(), QStringLiteral("/dev/ttyUSB2 (link com3)\nMaker Bench Adapter, serial A7, 0403:6001"));

    list->setCurrentIndex(0);
    QCOMPARE(list->toolTip(), QStringLiteral("/dev/ttyUSB0 (link com1)\nMaker Bench Adapter, serial A7, 0403:6001"));

    // Another adapter was plugged in behind the same link.
    adapter = QStringLiteral("Other Maker Cable, 067b:2303");
    list->showPopup();
    QTRY_VERIFY(list->view()->isVisible());
    QCOMPARE(list->toolTip(), QStringLiteral("/dev/ttyUSB0 (link com1)\nOther Maker Cable, 067b:2303"));
    list->hidePopup();

    adapter = QStringLiteral("Third Cable");
    const QPoint inside(4, 4);
    QHelpEvent help(QEvent::ToolTip, inside, list->mapToGlobal(inside));
    QApplication::sendEvent(list, &help);
    QCOMPARE(list->toolTip(), QStringLiteral("/dev/ttyUSB0 (link com1)\nThird Cable"));
    QVERIFY(!asked.contains(0));

    fails = true;
    list->setCurrentIndex(4);
    QVERIFY(list->toolTip().isEmpty());

    // Nothing else about the list changed.
    QCOMPARE(list->count(), 8);
    QCOMPARE(list->itemText(4), QStringLiteral("Com 5"));
    QCOMPARE(list->currentIndex(), 4);
    QVERIFY(list->isEnabled());
    QVERIFY(!list->isEditable());
}

QTEST_MAIN(TestAppWindow)
#include "tst_app_window.moc"
