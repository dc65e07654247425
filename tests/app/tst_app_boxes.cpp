// The real message boxes and file dialog, each answered by a polling helper.

#include "QtFileDialog.h"
#include "QtMessageBoxes.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace quobin;

// Answers the next modal dialog: every 10 ms looks for an active modal
// widget and hands the first one to answer(), then keeps watching until that
// dialog is gone. A dialog that does not appear, or is still open a few
// seconds after its answer, is closed so that exec() returns, and problem()
// says what went wrong; the test then fails instead of hanging.
class ModalAnswerer : public QObject {
public:
    explicit ModalAnswerer(std::function<void(QWidget *)> answer) : m_answer(std::move(answer))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_elapsed.start();
        m_timer.start(10);
    }

    // Empty when a dialog came, was answered and went away.
    QString problem() const { return m_problem; }

private:
    static constexpr qint64 limitMs = 5000;

    void poll()
    {
        if (!m_answered) {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                m_answered = true;
                m_watched = modal;
                m_elapsed.restart();
                m_answer(modal);
            } else if (m_elapsed.elapsed() > limitMs) {
                giveUp(QStringLiteral("no modal dialog appeared within %1 ms").arg(limitMs));
            }
            return;
        }
        if (!m_watched || !m_watched->isVisible()) {
            m_timer.stop();
        } else if (m_elapsed.elapsed() > limitMs) {
            giveUp(QStringLiteral("the dialog was still open %1 ms after its answer").arg(limitMs));
        }
    }

    void giveUp(const QString &problem)
    {
        m_timer.stop();
        m_problem = problem;
        if (auto *dialog = qobject_cast<QDialog *>(m_watched))
            dialog->reject();
        else if (m_watched)
            m_watched->close();
    }

    std::function<void(QWidget *)> m_answer;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    bool m_answered = false;
    QPointer<QWidget> m_watched;
    QString m_problem;
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
    QVERIFY2(answerer.problem().isEmpty(), qPrintable(answerer.problem()));
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
    QVERIFY2(answerer.problem().isEmpty(), qPrintable(answerer.problem()));
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
    const bool yes = QtMessageBoxes().yesNo(nullptr, QStringLiteral("Caption"), QStringLiteral("Go on?"));
    QVERIFY2(answerer.problem().isEmpty(), qPrintable(answerer.problem()));
    QCOMPARE(yes, answer);
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
            // Typed into the name box as an operator would: selectFile() on a
            // shown dialog leaves the box empty while the box has the focus.
            auto *nameBox = fd->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(nameBox);
            nameBox->setText(chosen);
            static_cast<QDialog *>(fd)->accept();
        });
        const QString first = dialog.openFile(nullptr, QStringLiteral("Select File to Upload"), filters,
                                              QStringLiteral("hex"));
        QVERIFY2(answerer.problem().isEmpty(), qPrintable(answerer.problem()));
        QCOMPARE(first, chosen);
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
        const QString again = dialog.openFile(nullptr, QStringLiteral("Select File to Upload"), filters,
                                              QStringLiteral("hex"));
        QVERIFY2(answerer.problem().isEmpty(), qPrintable(answerer.problem()));
        QCOMPARE(again, chosen);
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
    QVERIFY2(answerer.problem().isEmpty(), qPrintable(answerer.problem()));
}

QTEST_MAIN(TestAppBoxes)
#include "tst_app_boxes.moc"
