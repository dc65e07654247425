// What the Windows window tells the operator about its settings file, run
// under Wine: the path in the boxes is written with the system's own
// separators, as the operator finds it in Explorer, never half in "/".
#include "AppFakes.h"
#include "SettingsFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

class TestWindowsTexts : public QObject {
    Q_OBJECT

private slots:
    void settingsBoxesNameThePathInBackslashes();
};

void TestWindowsTexts::settingsBoxesNameThePathInBackslashes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The program's folder as Qt reports it (with "/"), in a folder that
    // is gone by the time the window saves.
    const QString folder = dir.filePath(QStringLiteral("port1"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = settingsFilePath(folder);
    const QString shown = QDir::toNativeSeparators(path);
    QVERIFY(shown.contains(QLatin1Char('\\')));
    {
        WindowRig rig{SettingsLocation(path)};
        QCOMPARE(rig.boxes.boxes.size(), 1);
        QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("An error occured while loading file ") + shown
                                              + QStringLiteral(". The default settings will be loaded instead."));
        QVERIFY(QDir(folder).removeRecursively());
        rig.window->close();
        QCOMPARE(rig.boxes.boxes.size(), 2);
        QCOMPARE(rig.boxes.boxes[1].text, QStringLiteral("An error occured while saving file ") + shown);
        QVERIFY2(!rig.boxes.boxes[1].text.contains(QLatin1Char('/')), qPrintable(rig.boxes.boxes[1].text));
    }
}

QTEST_MAIN(TestWindowsTexts)
#include "tst_windows_texts.moc"
