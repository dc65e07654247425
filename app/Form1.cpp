#include "Form1.h"

#include "FileDialog.h"
#include "FileDropLineEdit.h"
#include "MessageBoxes.h"
#include "SerialPort.h"
#include "SecondClickGuard.h"
#include "SettingsFile.h"
#include "UploadProcedure.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <exception>

namespace quobin {

namespace {

// The title of the settings file's boxes.
const QString applicationTitle = QStringLiteral("Vantor Quobin");

// A list refuses a position it does not have.
void setListPosition(QComboBox *list, qint16 position)
{
    if (!isListPosition(position, list->count()))
        throw SettingsError("list position " + std::to_string(position) + " out of range");
    list->setCurrentIndex(position);
}

// The settings path as the operator reads it, in the system's own
// separators: on Windows the program's folder comes with forward slashes
// and the file name is joined with a backslash. Elsewhere it is unchanged.
QString shownPath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

Form1::Form1(Form1Services services, const SettingsLocation &settings, ProgramVersion version,
             QWidget *parent)
    : QWidget(parent), m_services(services), m_settings(settings), Timer3(new QTimer(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(designCaption);
    setWindowIcon(QIcon(QStringLiteral(":/icons/quobin.ico")));
    ui = buildForm1Layout(this);

    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(1000);
    m_wakeTimer.setSingleShot(true);
    m_wakeTimer.setTimerType(Qt::PreciseTimer);

    connect(ui.Command6, &QPushButton::clicked, this, &Form1::RunUpload);
    connect(ui.Command4, &QPushButton::clicked, this, &Form1::Cancel);
    // A double-click on the upload button starts one upload and does not
    // also press the Cancel button that has taken its place.
    new SecondClickGuard(ui.Command6, ui.Command4, this);
    connect(ui.Command1, &QPushButton::clicked, this, &Form1::Browse);
    connect(ui.Command3, &QPushButton::clicked, this, &Form1::Exit);
    connect(ui.Text1, &FileDropLineEdit::filesDropped, this, [this](const QStringList &paths) {
        for (const QString &path : paths)
            ui.Text1->setText(path);
    });
    connect(Timer3, &QTimer::timeout, this, &Form1::RefreshCount);

    // Start-up: the versioned caption, then the settings, all before the
    // window is first shown.
    setWindowTitle(captionFor(version));
    LoadSettings(m_settings.path);

    // The port list's tooltip names what the chosen "Com n" reaches. Devices
    // come and go, so it is asked again when the choice changes, when the
    // list opens and before the tooltip shows.
    if (m_services.describePort) {
        connect(ui.Combo1, &QComboBox::currentIndexChanged, this, &Form1::RefreshPortToolTip);
        m_portListView = ui.Combo1->view();
        m_portListView->installEventFilter(this);
        ui.Combo1->installEventFilter(this);
        RefreshPortToolTip();
    }
}

Form1::~Form1() = default;

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == ui.Combo1 && event->type() == QEvent::ToolTip)
        || (watched == m_portListView && event->type() == QEvent::Show))
        RefreshPortToolTip();
    return QWidget::eventFilter(watched, event);
}

void Form1::RefreshPortToolTip()
{
    const int position = ui.Combo1->currentIndex();
    QString text;
    if (position >= 0) {
        try {
            text = m_services.describePort(position + 1);
        } catch (const std::exception &) {
            // A port that cannot be described gets no tooltip.
        }
    }
    ui.Combo1->setToolTip(text);
}

// ---- Settings -------------------------------------------------------------

void Form1::LoadSettings(const QString &path)
{
    try {
        const StoredSettings settings = readSettingsFile(path);
        setListPosition(ui.Combo1, settings.comPortPosition);
        setListPosition(ui.Combo2, settings.baudRatePosition);
        ui.Text1->setText(settings.firmwarePath);
        m_pathInLegacyCodePage = settings.pathInLegacyCodePage;
    } catch (const SettingsFileMissing &) {
        if (!m_settings.missingFileIsFirstStart)
            WarnSettingsNotLoaded(path);
        SetDefaults();
    } catch (const std::exception &) {
        WarnSettingsNotLoaded(path);
        SetDefaults();
    }
}

void Form1::WarnSettingsNotLoaded(const QString &path)
{
    m_services.boxes.warning(boxParent(), applicationTitle,
                             QStringLiteral("An error occured while loading file ") + shownPath(path)
                                 + QStringLiteral(".")
                                 + QStringLiteral(" The default settings will be loaded instead."));
}

void Form1::SaveSettings(const QString &path)
{
    StoredSettings settings;
    settings.comPortPosition = static_cast<qint16>(ui.Combo1->currentIndex());
    settings.baudRatePosition = static_cast<qint16>(ui.Combo2->currentIndex());
    settings.firmwarePath = ui.Text1->text();
    settings.pathInLegacyCodePage = m_pathInLegacyCodePage;
    try {
        writeSettingsFile(path, settings);
    } catch (const std::exception &) {
        m_services.boxes.warning(boxParent(), applicationTitle,
                                 QStringLiteral("An error occured while saving file ") + shownPath(path));
    }
}

void Form1::SetDefaults()
{
    m_pathInLegacyCodePage = false;
    ui.Combo1->setCurrentIndex(0);
    ui.Combo2->setCurrentIndex(5);
    ui.Text1->setText(QString());
}

// ---- Commands -------------------------------------------------------------

void Form1::RunUpload()
{
    m_uploadRunning = true;
    struct Finished {
        Form1 *window;
        ~Finished() { window->m_uploadRunning = false; }
    } finished{this};
    UploadProcedure(*this, m_services.port, m_services.clock).run();
    // The window is still whole here: a close request during the upload was
    // only noted. Carry it out now.
    if (m_closePending) {
        m_uploadRunning = false;
        close();
    }
}

void Form1::Cancel()
{
    CancelRequested = true;
    ui.Command4->setEnabled(false);
}

void Form1::Browse()
{
    // Any failure of the dialog ends the command silently. A cancelled
    // dialog counts as one: the path box keeps what it held.
    QString chosen;
    try {
        chosen = m_services.fileDialog.openFile(
            this, QStringLiteral("Select File to Upload"),
            {QStringLiteral("Update Files (*.hex)"), QStringLiteral("Binary Files (*.bin)")},
            QStringLiteral("hex"));
    } catch (const std::exception &) {
        return;
    }
    if (!chosen.isEmpty())
        ui.Text1->setText(QDir::toNativeSeparators(chosen));
}

void Form1::Exit()
{
    if (close())
        emit exitRequested();
}

void Form1::RefreshCount()
{
    ui.Label14->setText(QString::number(LinesRemaining));
}

// ---- Shut-down ------------------------------------------------------------

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_uploadRunning) {
        // Closing ends the upload as Cancel does, without any further box;
        // the window closes for real once the upload has returned.
        m_closePending = true;
        Cancel();
        event->ignore();
        return;
    }
    ShutDown();
    event->accept();
}

void Form1::ShutDown()
{
    try {
        if (m_services.port.portOpen())
            m_services.port.setPortOpen(false);
    } catch (const std::exception &) {
        // The port is going away with the program; the settings are saved regardless.
    }
    SaveSettings(m_settings.path);
}

QWidget *Form1::boxParent()
{
    // Before the window is first shown a box stands on its own.
    return isVisible() ? this : nullptr;
}

// ---- The window as the upload sees it --------------------------------------

QString Form1::firmwarePath() const
{
    return ui.Text1->text();
}

int Form1::comPortPosition() const
{
    return ui.Combo1->currentIndex();
}

void Form1::setStatus(const QString &text)
{
    ui.Label2->setText(text);
}

void Form1::setCountText(const QString &text)
{
    ui.Label14->setText(text);
}

void Form1::showCount()
{
    ui.Label14->show();
    ui.Label14->raise();
}

void Form1::setCountRefreshRunning(bool running)
{
    if (running)
        Timer3->start();
    else
        Timer3->stop();
}

void Form1::setLinesRemaining(qint16 lines)
{
    LinesRemaining = lines;
}

void Form1::setTotalLines(qint16 lines)
{
    TotalLines = lines;
}

void Form1::SetBusyState()
{
    ui.Command1->setEnabled(false);
    ui.Command3->setEnabled(false);
    ui.Command6->setEnabled(false);
    ui.Text1->setEnabled(false);
    ui.Label2->setText(QString());
    CancelRequested = false;
    ui.Command4->show();
    ui.Command4->setEnabled(true);
    ui.Command4->raise();
    ui.Command6->hide();
    ui.Combo1->setEnabled(false);
    ui.Combo2->setEnabled(false);
}

void Form1::SetIdleState()
{
    ui.Label14->hide();
    ui.Command6->show();
    ui.Command4->hide();
    ui.Command1->setEnabled(true);
    ui.Command3->setEnabled(true);
    ui.Command6->setEnabled(true);
    ui.Text1->setEnabled(true);
    ui.Label2->setText(QStringLiteral("Idle"));
    ui.Label14->setText(QString());
    ui.Combo1->setEnabled(true);
    ui.Combo2->setEnabled(true);
}

void Form1::focusBrowse()
{
    ui.Command1->setFocus();
}

bool Form1::cancelRequested() const
{
    return CancelRequested;
}

void Form1::letEventsRun(int maxBlockMsecs)
{
    if (maxBlockMsecs <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    // Sleep in the event loop until an event arrives (the serial port's
    // notifier counts) or the precise timer ends the wait.
    m_wakeTimer.start(maxBlockMsecs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_wakeTimer.stop();
}

void Form1::showPlainBox(const QString &text)
{
    if (!m_closePending)
        m_services.boxes.plain(this, windowTitle(), text);
}

void Form1::showWarningBox(const QString &text)
{
    if (!m_closePending)
        m_services.boxes.warning(this, windowTitle(), text);
}

bool Form1::askYesNo(const QString &text)
{
    if (m_closePending)
        return false;
    return m_services.boxes.yesNo(this, windowTitle(), text);
}

} // namespace quobin
