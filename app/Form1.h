#pragma once

#include "Caption.h"
#include "Form1Layout.h"
#include "SettingsFile.h"
#include "UploadWindow.h"

#include <QTimer>
#include <QWidget>

#include <functional>

namespace quobin {

class Clock;
class FileDialog;
class MessageBoxes;
class SerialPort;

// What the window drives but does not own.
struct Form1Services {
    SerialPort &port;
    Clock &clock;
    MessageBoxes &boxes;
    FileDialog &fileDialog;
    // What "Com n" reaches, for the port list's tooltip; no tooltip when empty.
    std::function<QString(int portNumber)> describePort = {};
};

// The program's one window. Created in its idle look with the versioned
// caption and the settings loaded from the settings file (a warning box and
// the defaults when they cannot be, the defaults alone at a user's first
// start), so show() is all that is left to do. Closing it, in any way, closes
// the serial port and saves the settings.
class Form1 : public QWidget, public UploadWindow {
    Q_OBJECT

public:
    Form1(Form1Services services, const SettingsLocation &settings, ProgramVersion version,
          QWidget *parent = nullptr);
    ~Form1() override;

    // The settings file: the two list positions and the path box.
    void LoadSettings(const QString &path);
    void SaveSettings(const QString &path);
    void SetDefaults();

    // One whole upload; returns when it has ended in any way.
    void RunUpload();

    const Form1Controls &controls() const { return ui; }
    qint16 linesRemaining() const { return LinesRemaining; }
    qint16 totalLines() const { return TotalLines; }
    bool countRefreshRunning() const { return Timer3->isActive(); }

    // UploadWindow
    QString firmwarePath() const override;
    int comPortPosition() const override;
    void setStatus(const QString &text) override;
    void setCountText(const QString &text) override;
    void showCount() override;
    void setCountRefreshRunning(bool running) override;
    void setLinesRemaining(qint16 lines) override;
    void setTotalLines(qint16 lines) override;
    void SetBusyState() override;
    void SetIdleState() override;
    void focusBrowse() override;
    bool cancelRequested() const override;
    void letEventsRun(int maxBlockMsecs = 0) override;
    void showPlainBox(const QString &text) override;
    void showWarningBox(const QString &text) override;
    bool askYesNo(const QString &text) override;

signals:
    // Exit was pressed: the window has closed and the program should end now.
    void exitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Cancel();
    void Browse();
    void Exit();
    void RefreshCount();
    void ShutDown();
    void RefreshPortToolTip();
    void WarnSettingsNotLoaded(const QString &path);
    QWidget *boxParent();

    Form1Services m_services;
    const SettingsLocation m_settings;
    // The path box's text came from a settings file in the system's legacy
    // code page: it is saved back in it.
    bool m_pathInLegacyCodePage = false;
    Form1Controls ui;
    QTimer *Timer3;  // refreshes the lines-remaining count once a second
    QTimer m_wakeTimer;
    QObject *m_portListView = nullptr;  // the port list's popup, watched for its opening

    // Window-level state the upload shares: the Cancel button's request, and
    // the line counts that the count refresh shows.
    bool CancelRequested = false;
    qint16 LinesRemaining = 0;
    qint16 TotalLines = 0;

    bool m_uploadRunning = false;
    // A close request arrived while the upload ran: the upload is being
    // cancelled without further boxes and the window closes once it returns.
    bool m_closePending = false;
};

} // namespace quobin
