// The real message boxes and file dialog, each answered by a polling helper.

#include "QtFileDialog.h"
#include "QtMessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace quobin;

// Every 10 ms looks for a modal widget it has not handled yet and hands it to
// answer(). Stops after the first one, or after 10 s.
class ModalAnswerer : public QObject {
public:
    explicit ModalAnswerer(std::function<void(QWidget *)> answer) : m_answer(std::move(answer))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal != m_done) {
                m_done = modal;
                m_timer.stop();
                m_answer(modal);
            } else if (m_elapsed.elapsed() > 10000) {
                m_timer.stop();
                if (modal)
                    modal->close();
            }
        });
        m_elapsed.start();
        m_timer.start(10);
    }

private:
    std::function<void(QWidget *)> m_answer;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    QWidget *m_done = nullptr;
};

class TestAppBoxes : public QObject {
    Q_OBJECT

private slots:
    void plainBox();
    void warningBox();
    void yesNoBox_data();
    void yesNoBox();
    void fileDialogRemembersTheLastFile();
    void cancelledFileDialogReturnsNothing();
};

struct Seen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

static Seen inspect(QWidget *modal)
{
    Seen seen;
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box)
        return seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    for (QAbstractButton *b : box->buttons())
        seen.buttons << box->standardButton(b);
    std::sort(seen.buttons.begin(), seen.buttons.end());
    if (box->defaultButton())
        seen.defaultButton = box->standardButton(box->defaultButton());
    return seen;
}

void TestAppBoxes::plainBox()
{
    Seen seen;
    ModalAnswerer answerer([&](QWidget *modal) {
        seen = inspect(modal);
        qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
    });
    QtMessageBoxes().plain(nullptr, QStringLiteral("Kelsar Vantor Quobin - V 3.0"),
                           QStringLiteral("Upload <b>done</b>"));
    QCOMPARE(seen.title, QStringLiteral("Kelsar Vantor Quobin - V 3.0"));
    QCOMPARE(seen.text, QStringLiteral("Upload <b>done</b>"));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, QList<QMessageBox::StandardButton>({QMessageBox::Ok}));
}

void TestAppBoxes::warningBox()
{
    Seen seen;
    ModalAnswerer answerer([&](QWidget *modal) {
        seen = inspect(modal);
        qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
    });
    QtMessageBoxes().warning(nullptr, QStringLiteral("Vantor Quobin"), QStringLiteral("Careful"));
    QCOMPARE(seen.title, QStringLiteral("Vantor Quobin"));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.buttons, QList<QMessageBox::StandardButton>({QMessageBox::Ok}));
}

void TestAppBoxes::yesNoBox_data()
{
    QTest::addColumn<int>("press");
    QTest::addColumn<bool>("answer");
    QTest::newRow("yes") << int(QMessageBox::Yes) << true;
    QTest::newRow("no") << int(QMessageBox::No) << false;
}

void TestAppBoxes::yesNoBox()
{
    QFETCH(int, press);
    QFETCH(bool, answer);
    Seen seen;
    ModalAnswerer answerer([&](QWidget *modal) {
        seen = inspect(modal);
        qobject_cast<QMessageBox *>(modal)->button(QMessageBox::StandardButton(press))->click();
    });
    QCOMPARE(QtMessageBoxes().yesNo(nullptr, QStringLiteral("Caption"), QStringLiteral("Go on?")), answer);
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, QList<QMessageBox::StandardButton>({QMessageBox::Yes, QMessageBox::No}));
    QCOMPARE(seen.defaultButton, QMessageBox::Yes);
}

void TestAppBoxes::fileDialogRemembersTheLastFile()
{
    QTemporaryDir dir;
    const QString chosen = dir.filePath(QStringLiteral("main.hex"));
    QFile file(chosen);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QtFileDialog dialog;
    const QStringList filters = {QStringLiteral("Update Files (*.hex)"), QStringLiteral("Binary Files (*.bin)")};
    QString title, selectedFilter, suffix;
    QStringList shownFilters;
    {
        ModalAnswerer answerer([&](QWidget *modal) {
            auto *fd = qobject_cast<QFileDialog *>(modal);
            QVERIFY(fd);
            title = fd->windowTitle();
            shownFilters = fd->nameFilters();
            selectedFilter = fd->selectedNameFilter();
            suffix = fd->defaultSuffix();
            fd->selectFile(chosen);
            static_cast<QDialog *>(fd)->accept();
        });
        QCOMPARE(dialog.openFile(nullptr, QStringLiteral("Select File to Upload"), filters,
                                 QStringLiteral("hex")),
                 chosen);
    }
    QCOMPARE(title, QStringLiteral("Select File to Upload"));
    QCOMPARE(shownFilters, filters);
    QCOMPARE(selectedFilter, filters.first());
    QCOMPARE(suffix, QStringLiteral("hex"));

    // The next time it opens on the file chosen last; accepting it as it
    // stands returns that file again.
    QStringList preselected;
    {
        ModalAnswerer answerer([&](QWidget *modal) {
            auto *fd = qobject_cast<QFileDialog *>(modal);
            QVERIFY(fd);
            preselected = fd->selectedFiles();
            static_cast<QDialog *>(fd)->accept();
        });
        QCOMPARE(dialog.openFile(nullptr, QStringLiteral("Select File to Upload"), filters,
                                 QStringLiteral("hex")),
                 chosen);
    }
    QCOMPARE(preselected, QStringList({chosen}));
}

void TestAppBoxes::cancelledFileDialogReturnsNothing()
{
    QtFileDialog dialog;
    ModalAnswerer answerer([](QWidget *modal) {
        if (auto *fd = qobject_cast<QFileDialog *>(modal))
            fd->reject();
    });
    QVERIFY(dialog.openFile(nullptr, QStringLiteral("t"), {QStringLiteral("Any (*)")}, QStringLiteral("hex"))
                .isEmpty());
}

QTEST_MAIN(TestAppBoxes)
#include "tst_app_boxes.moc"
