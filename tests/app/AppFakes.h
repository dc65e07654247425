#pragma once

// Stand-ins for what the window drives, so window tests never touch a real
// port or block on a modal box.

#include "Clock.h"
#include "FileDialog.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "SerialError.h"
#include "SerialPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <QWidget>

#include <functional>
#include <stdexcept>

namespace quobin::testing {

// A port with nothing on the far end: it opens and closes, takes what is
// written and never answers. After failAfterMsecs of open time every read
// fails, so an upload waiting on it cannot run forever.
class SilentPort : public SerialPort {
public:
    void setCommPort(qint16 number) override { commPort = number; }
    void setSettings(const QString &settings) override { lineSettings = settings; }
    void setHandshaking(qint32 handshake) override { handshaking = handshake; }
    void setPortOpen(bool open) override
    {
        log << (open ? QStringLiteral("open") : QStringLiteral("close"));
        if (open && !isOpen)
            ++opens;
        isOpen = open;
        if (open)
            sinceOpen.start();
    }
    bool portOpen() const override { return isOpen; }
    void output(const QByteArray &bytes) override
    {
        requireOpen();
        written += bytes;
    }
    QByteArray input() override
    {
        requireOpen();
        return {};
    }
    qint16 inBufferCount() override
    {
        requireOpen();
        return 0;
    }
    void waitForInput(int msecs) override
    {
        requireOpen();
        QThread::msleep(std::min(msecs, 5));
    }

    bool isOpen = false;
    int opens = 0;
    qint16 commPort = 0;
    QString lineSettings;
    qint32 handshaking = 0;
    QByteArray written;
    QStringList log;
    int failAfterMsecs = 5000;

private:
    void requireOpen()
    {
        if (!isOpen)
            throw SerialError("port closed");
        if (sinceOpen.isValid() && sinceOpen.elapsed() > failAfterMsecs)
            throw SerialError("test port gave up");
    }
    QElapsedTimer sinceOpen;
};

// Time stands still unless a test moves it; sleeping only moves it.
class StillClock : public Clock {
public:
    qint64 now() override { return seconds; }
    int msecsToNextSecond() override { return 1000; }
    void sleep(int msecs) override { slept += msecs; }
    qint64 seconds = 0;
    int slept = 0;
};

// Records every box and answers Yes/No boxes from a script (Yes when empty).
class RecordingBoxes : public MessageBoxes {
public:
    struct Box {
        QString kind;
        QString title;
        QString text;
        bool hadParent = false;
        bool anyWindowVisible = false;
    };

    void plain(QWidget *parent, const QString &title, const QString &text) override
    {
        record(QStringLiteral("plain"), parent, title, text);
    }
    void warning(QWidget *parent, const QString &title, const QString &text) override
    {
        record(QStringLiteral("warning"), parent, title, text);
    }
    bool yesNo(QWidget *parent, const QString &title, const QString &text) override
    {
        record(QStringLiteral("yesNo"), parent, title, text);
        return answers.isEmpty() ? true : answers.takeFirst();
    }

    QList<Box> boxes;
    QList<bool> answers;

private:
    void record(const QString &kind, QWidget *parent, const QString &title, const QString &text)
    {
        bool visible = false;
        for (QWidget *w : QApplication::topLevelWidgets())
            visible = visible || w->isVisible();
        boxes.append({kind, title, text, parent != nullptr, visible});
    }
};

// A file dialog that returns what the test says, or fails.
class ScriptedFileDialog : public FileDialog {
public:
    QString openFile(QWidget *, const QString &title, const QStringList &nameFilters,
                     const QString &defaultSuffix) override
    {
        ++calls;
        lastTitle = title;
        lastFilters = nameFilters;
        lastSuffix = defaultSuffix;
        if (fails)
            throw std::runtime_error("dialog failed");
        return answer;
    }

    QString answer;
    bool fails = false;
    int calls = 0;
    QString lastTitle;
    QStringList lastFilters;
    QString lastSuffix;
};

// The window with its fakes; the settings path points into a folder the
// test owns.
struct WindowRig {
    explicit WindowRig(const SettingsLocation &settings, ProgramVersion version = {3, 0})
        : settingsPath(settings.path)
    {
        window = std::make_unique<Form1>(Form1Services{port, clock, boxes, dialog}, settings, version);
    }

    QString settingsPath;
    SilentPort port;
    StillClock clock;
    RecordingBoxes boxes;
    ScriptedFileDialog dialog;
    std::unique_ptr<Form1> window;

    const Form1Controls &ui() const { return window->controls(); }
};

} // namespace quobin::testing
