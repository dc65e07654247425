#pragma once

#include "FirmwareImage.h"
#include "PollWithDeadline.h"
#include "UploadOutcome.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <exception>
#include <memory>

namespace quobin {

class Clock;
class SerialPort;
class UploadWindow;

// One whole upload: the check of the operator's input, the switch of the
// controller into its bootloader, the handshake, the line-by-line transfer
// of the firmware file and the verdict. run() returns when the upload has
// ended in any way; the window is idle again by then.
//
// Every failure is an exception raised where it happens. The procedure keeps
// one current stage, and handleFailure() turns a failure into that stage's
// one message and clean-up.
//
// How the upload ended also comes back as a value (run()'s result, and
// outcome()), so that a front end without boxes never reads their texts.
class UploadProcedure {
public:
    UploadProcedure(UploadWindow &window, SerialPort &port, Clock &clock,
                    UploadOptions options = {});
    UploadOutcome run();

    // How the latest run ended.
    const UploadOutcome &outcome() const { return m_outcome; }

    // The bootloader version read in the handshake; 0 when none was reported.
    float bootloaderVersion() const { return m_bootloaderVersion; }

private:
    enum class Stage { PortSetup, Transfer, FileOpening, Closing };
    // How the upload's normal flow ended: on to the clean-up either way.
    enum class Flow { Continue, Stop };

    void switchToBootloader();
    Flow awaitBootloader();
    Flow handshake();
    void readFirmwareFile();
    void countLines();
    Flow sendLines();
    Flow sendAndJudge(const QByteArray &lineText);
    Flow dropStaleAnswers();
    void readVersion();
    void finishAtEndOfFile();
    void cleanUp();
    void handleFailure(const std::exception &error);
    void endWithPlainBox(UploadOutcome::Kind kind, const QString &text);
    void endWithWarningBox(UploadOutcome::Kind kind, const QString &text);

    void setLinesRemaining(qint16 lines);
    WaitHooks watchingOperator();

    UploadWindow &m_window;
    SerialPort &m_port;
    Clock &m_clock;
    const UploadOptions m_options;
    PollWithDeadline m_poll;
    std::shared_ptr<const FirmwareImage> m_image;

    Stage m_stage = Stage::PortSetup;
    QByteArray m_response;
    float m_bootloaderVersion = 0.0f;
    qint16 m_linesRemaining = 0;
    qint16 m_totalLines = 0;
    // Answers still owed by sends whose wait ended before any answer came,
    // and the line they belong to.
    int m_answersOwed = 0;
    int m_lastLineSent = 0;
    bool m_lineTaken = false; // the last line judged was accepted without a question
    UploadOutcome m_outcome;
};

} // namespace quobin
