#include "UploadProcedure.h"

#include "Clock.h"
#include "ClosePortIfOpen.h"
#include "Counter16.h"
#include "SerialError.h"
#include "SerialPort.h"
#include "UploadWindow.h"
#include "VersionNumber.h"

#include <QFile>

#include <exception>

namespace quobin {

namespace {

// The controller's main code switches to its bootloader on this command.
const QByteArray kMainCodeCommand = QByteArrayLiteral("4*730562\r");
const QByteArray kReadyRequest = QByteArrayLiteral("@&$");
const QString kMainCodeSettings = QStringLiteral("9600,n,8,1");
const QString kBootloaderSettings = QStringLiteral("57600,n,8,1");

constexpr int kSettleMsecs = 200;       // pause around the main-code command
constexpr int kAnswerLimitSeconds = 3;  // every timed wait for the controller
constexpr qint16 kHandshakeTries = 3;
constexpr qint16 kSendsPerLine = 3;
// The ready reply may come in pieces ("?", then "V1.28" a moment later, the
// gap set by the adapter's latency): a "V" is awaited this long after the
// "?"; once it is in, the reply counts as whole when the line has been quiet
// this long (over a hundred character times at 57600 baud). The reply is
// read at most this long.
constexpr int kVersionWaitMsecs = 100;
constexpr int kReplyQuietMsecs = 20;
constexpr int kReplyLimitMsecs = 200;

// Bootloaders from this version on resend a line after a checksum error or
// no answer, and a line with no answer needs the operator's word.
constexpr float kResendingVersion = 1.28f;

// Every character that ends the wait for a line's answer.
const QByteArray kAnswerMarkers = QByteArrayLiteral("%~#@-");

// The bootloader answers each send with one of the markers.
int answersIn(const QByteArray &bytes)
{
    return PollWithDeadline::countOf(bytes, kAnswerMarkers);
}

bool accepted(const QByteArray &answer)
{
    return answer.contains('~') || answer.contains('@');
}

} // namespace

UploadProcedure::UploadProcedure(UploadWindow &window, SerialPort &port, Clock &clock,
                                 UploadOptions options)
    : m_window(window), m_port(port), m_clock(clock), m_options(options), m_poll(port, clock)
{
}

UploadOutcome UploadProcedure::run()
{
    // Every way out that shows no box and sets nothing else is the operator's
    // cancel.
    m_outcome = UploadOutcome{};
    m_image.reset();
    m_answersOwed = 0;
    m_lastLineSent = 0;
    if (m_window.firmwarePath().size() < 2) {
        endWithPlainBox(UploadOutcome::Kind::NoPath, QStringLiteral("Select Update file to upload."));
        m_window.focusBrowse();
        return m_outcome;
    }
    try {
        m_stage = Stage::PortSetup;
        m_window.SetBusyState();
        m_window.setStatus(QStringLiteral("Initializing the com port"));
        switchToBootloader();
        if (awaitBootloader() == Flow::Continue && handshake() == Flow::Continue) {
            m_window.bootloaderVersionRead(m_bootloaderVersion);
            readFirmwareFile();
            countLines();
            if (sendLines() == Flow::Continue)
                finishAtEndOfFile();
        }
        cleanUp();
    } catch (const SerialCancelled &) {
        // The operator cancelled an operation of the port that looks at the
        // cancel itself (an open still reaching a serial server): the way
        // out of a cancel, without a message.
        m_outcome = UploadOutcome{};
        try {
            cleanUp();
        } catch (const std::exception &error) {
            handleFailure(error);
        }
    } catch (const std::exception &error) {
        handleFailure(error);
    }
    return m_outcome;
}

// The main code listens at 9600 baud without flow control; the bootloader it
// starts talks at 57600 baud with XON/XOFF. Without the main-code command the
// port is opened straight for a bootloader that the operator starts.
void UploadProcedure::switchToBootloader()
{
    if (m_port.portOpen())
        m_port.setPortOpen(false);

    // "Com n" stands at list position n - 1; no selection gives port 0,
    // which the port refuses.
    const qint16 portNumber = checkedAdd(0, m_window.comPortPosition() + 1);
    if (m_options.sendMainCodeCommand) {
        m_port.setHandshaking(SerialPort::NoHandshake);
        m_port.setSettings(kMainCodeSettings);
        m_port.setCommPort(portNumber);
        m_port.setPortOpen(true);
        m_clock.sleep(kSettleMsecs);
        m_port.output(QByteArrayLiteral("\r"));
        m_clock.sleep(kSettleMsecs);
        m_port.output(kMainCodeCommand);
        m_port.setPortOpen(false);
    }

    m_port.setHandshaking(SerialPort::XonXoff);
    m_port.setSettings(kBootloaderSettings);
    if (!m_options.sendMainCodeCommand)
        m_port.setCommPort(portNumber);
    m_port.setPortOpen(true);
}

// The operator resets the controller; its bootloader then announces itself
// with "^". Whatever was waiting before cannot count as that.
UploadProcedure::Flow UploadProcedure::awaitBootloader()
{
    m_stage = Stage::Transfer;
    m_port.input();
    m_response.clear();
    m_window.setStatus(QStringLiteral("Waiting for Bootloader Active Character...Reset target..."));
    WaitHooks hooks = watchingOperator();
    bool outOfTime = false;
    if (m_options.controllerWaitSeconds > 0) {
        // More than the limit of whole-second boundaries: the wait lasts at
        // least the seconds asked for.
        const qint64 startTime = m_clock.now();
        hooks.cancelRequested = [this, &outOfTime, startTime, cancel = hooks.cancelRequested] {
            if (cancel())
                return true;
            outOfTime = m_clock.now() - startTime > m_options.controllerWaitSeconds;
            return outOfTime;
        };
    }
    if (m_poll.forMarker('^', m_response, hooks) == WaitEnd::Cancelled) {
        if (outOfTime)
            m_outcome.kind = UploadOutcome::Kind::NoController;
        return Flow::Stop;
    }
    return Flow::Continue;
}

UploadProcedure::Flow UploadProcedure::handshake()
{
    qint16 handshakeTries = 0;
    // Whatever came with the "^", a "?" included, does not answer a request.
    m_response.clear();
    while (!m_response.contains('?') && handshakeTries < kHandshakeTries) {
        if (m_window.cancelRequested())
            return Flow::Stop;
        m_window.setStatus(QStringLiteral("Requesting Bootloader Ready.  Try #")
                           + QString::number(handshakeTries + 1));
        m_response += m_port.input();
        m_port.output(kReadyRequest);
        const qint64 startTime = m_clock.now();
        if (m_poll.forFirstByte(startTime, kAnswerLimitSeconds, m_response, watchingOperator())
            == WaitEnd::Cancelled)
            return Flow::Stop;
        handshakeTries = checkedAdd(handshakeTries, 1);
        m_window.letEventsRun();
    }
    if (!m_response.contains('?')) {
        endWithPlainBox(UploadOutcome::Kind::NoResponse, QStringLiteral("No response from Vantor"));
        return Flow::Stop;
    }
    readVersion();
    return Flow::Continue;
}

// The wait for the reply ended at its first character; the version may still
// be on its way.
void UploadProcedure::readVersion()
{
    const qint64 start = m_clock.msecsNow();
    if (!m_response.contains('V'))
        m_poll.forMarkerWithin('V', m_response, kVersionWaitMsecs);
    if (m_response.contains('V')) {
        const int left = kReplyLimitMsecs - int(m_clock.msecsNow() - start);
        m_poll.untilQuiet(m_response, kReplyQuietMsecs, qMax(0, left));
    }
    const qsizetype versionAt = m_response.indexOf('V');
    if (versionAt >= 0) {
        m_response = m_response.mid(versionAt + 1);
        m_bootloaderVersion = readVersionNumber(m_response);
    } else {
        m_bootloaderVersion = 0.0f;
    }
}

// The file is read once, here: every line sent comes from this one reading,
// whatever happens to the file meanwhile. An image given with the options
// stands for the reading.
void UploadProcedure::readFirmwareFile()
{
    m_stage = Stage::FileOpening;
    const QString path = m_window.firmwarePath();
    m_window.setStatus(QStringLiteral("Opening the file ") + path + QStringLiteral("."));
    if (m_options.image) {
        m_image = m_options.image;
    } else {
        QFile file;
        FirmwareImage::open(file, path);
        m_stage = Stage::Transfer;
        m_image = FirmwareImage::readFrom(file);
    }
    m_stage = Stage::Transfer;
}

// Counts every line, blank ones included, so that the count shown starts at
// the lines still to come after the first.
void UploadProcedure::countLines()
{
    qint16 lines = 0;
    for (qsizetype i = 0; i < m_image->lines().size(); ++i)
        lines = checkedAdd(lines, 1);
    setLinesRemaining(checkedAdd(lines, -1));
    m_totalLines = m_linesRemaining;
    m_window.setTotalLines(m_totalLines);

    m_window.setStatus(QStringLiteral("Sending Firmware File - lines remaining "));
    m_window.setCountText(QString::number(m_linesRemaining));
    m_window.showCount();
    m_window.setCountRefreshRunning(true);
}

UploadProcedure::Flow UploadProcedure::sendLines()
{
    bool allTaken = true;
    for (const QByteArray &lineText : m_image->lines()) {
        if (m_window.cancelRequested())
            return Flow::Stop;
        if (!lineText.isEmpty()) {
            m_lineTaken = false;
            if (sendAndJudge(lineText) == Flow::Stop)
                return Flow::Stop;
            allTaken = allTaken && m_lineTaken;
            setLinesRemaining(checkedAdd(m_linesRemaining, -1));
        }
        if (allTaken)
            ++m_outcome.linesTakenInOrder;
        m_window.letEventsRun();
    }
    return Flow::Continue;
}

// Sends one line as it stands in the file and judges the bootloader's
// one-character answer; a line that still fails is put to the operator.
UploadProcedure::Flow UploadProcedure::sendAndJudge(const QByteArray &lineText)
{
    const bool resending = !(m_bootloaderVersion < kResendingVersion);
    const int lineNumber = int(m_totalLines) - int(m_linesRemaining) + 1;
    if (dropStaleAnswers() == Flow::Stop)
        return Flow::Stop;
    qint16 tries = 0;
    int sends = 0;
    while (tries < kSendsPerLine) {
        if (sends > 0)
            m_window.lineResent(lineNumber, sends + 1);
        m_port.output(lineText);
        ++(sends == 0 ? m_outcome.linesSent : m_outcome.resends);
        ++sends;
        m_response = m_port.input();
        const qint64 startTime = m_clock.now();
        m_poll.collectUntilMarker(startTime, kAnswerLimitSeconds, m_response, kAnswerMarkers,
                                   watchingOperator());
        // Each send is answered once, in one character. Whatever this send's
        // wait took beyond one answer paid what earlier sends owed; a wait
        // that ended empty leaves this send's answer owed.
        m_answersOwed = qMax(0, m_answersOwed + 1 - answersIn(m_response));
        if (m_response.contains('%') || accepted(m_response) || !resending)
            tries = kSendsPerLine;
        else
            tries = checkedAdd(tries, 1);
    }
    m_lastLineSent = lineNumber;

    QString question;
    QString reason;
    if (m_response.contains('-')) {
        question = QStringLiteral("Checksum error at line ");
        reason = QStringLiteral("Checksum error");
    } else if (m_response.contains('%')) {
        question = QStringLiteral("Error writing to flash at line ");
        reason = QStringLiteral("Error writing to flash");
    } else if (!accepted(m_response) && resending) {
        question = QStringLiteral("Did not receive a response after sending line ");
        reason = QStringLiteral("No response");
    } else {
        m_lineTaken = accepted(m_response);
        return Flow::Continue;
    }

    const bool goOn = m_window.askYesNo(question + QString::number(lineNumber)
                                        + QStringLiteral(". Continue with download?"));
    m_outcome.questions.append({lineNumber, reason, goOn});
    if (!goOn) {
        m_outcome.kind = UploadOutcome::Kind::Stopped;
        return Flow::Stop;
    }
    m_response.clear();
    return Flow::Continue;
}

// Before a line's first send, nothing of an earlier line's may stay behind
// to be taken for its answer: what is waiting is dropped, and answers that
// earlier sends still owe are awaited, within one answer limit, and dropped
// as well. A controller that owes nothing costs no time here.
UploadProcedure::Flow UploadProcedure::dropStaleAnswers()
{
    QByteArray stale = m_port.input();
    bool cancelled = false;
    if (answersIn(stale) < m_answersOwed) {
        const qint64 startTime = m_clock.now();
        m_poll.collectUntilMarkers(startTime, kAnswerLimitSeconds, stale, kAnswerMarkers,
                                    m_answersOwed, watchingOperator());
        cancelled = m_window.cancelRequested();
    }
    m_answersOwed = 0;
    if (const int answers = answersIn(stale); answers > 0) {
        m_outcome.staleAnswers += answers;
        m_window.staleAnswerDropped(m_lastLineSent, stale);
    }
    return cancelled ? Flow::Stop : Flow::Continue;
}

// The bootloader confirms the whole image with "@", often as the answer to
// the last line. This short wait runs no events: the operator waits for it.
void UploadProcedure::finishAtEndOfFile()
{
    m_window.setCountText(QStringLiteral("0"));
    m_window.setCountRefreshRunning(false);
    const qint64 startTime = m_clock.now();
    m_poll.collectUntilMarker(startTime, kAnswerLimitSeconds, m_response,
                               QByteArrayLiteral("@"), WaitHooks{});
    if (m_response.contains('@'))
        endWithPlainBox(UploadOutcome::Kind::Success,
                        QStringLiteral("Update File successfully uploaded."));
    else
        endWithPlainBox(UploadOutcome::Kind::NoEndConfirmation,
                        QStringLiteral("Error encountered while uploading file.  No response from "
                                       "bootloader at end of file."));
}

void UploadProcedure::cleanUp()
{
    m_stage = Stage::Closing;
    m_window.setCountRefreshRunning(false);
    ClosePortIfOpen(m_port);
    m_window.SetIdleState();
}

// The one place where a failure becomes the operator's message. Each stage
// has its own text and its own way of leaving things tidy. The error's own
// reason is kept beside the message for front ends that can show it.
void UploadProcedure::handleFailure(const std::exception &error)
{
    m_outcome.detail = QString::fromUtf8(error.what());
    try {
        switch (m_stage) {
        case Stage::PortSetup:
            // The port stays as the failure left it; the next upload closes it.
            endWithWarningBox(UploadOutcome::Kind::PortError,
                              QStringLiteral("Error encountered while accessing the com port."));
            break;
        case Stage::FileOpening:
            ClosePortIfOpen(m_port);
            endWithWarningBox(UploadOutcome::Kind::FileError, QStringLiteral("Error opening ")
                                  + m_window.firmwarePath() + QStringLiteral("."));
            break;
        case Stage::Transfer:
            endWithWarningBox(UploadOutcome::Kind::TransferError,
                              QStringLiteral("Error encountered while uploading the firmware file."));
            ClosePortIfOpen(m_port);
            break;
        case Stage::Closing:
            endWithWarningBox(UploadOutcome::Kind::PortError,
                              QStringLiteral("Error encountered while closing the com port."));
            break;
        }
        m_window.setCountRefreshRunning(false);
        m_window.SetIdleState();
    } catch (const std::exception &) {
        // The window itself is failing; leave at least the port closed.
        ClosePortIfOpen(m_port);
    }
}

// The outcome is recorded before the box shows, so that it stands even when
// showing the box fails.
void UploadProcedure::endWithPlainBox(UploadOutcome::Kind kind, const QString &text)
{
    m_outcome.kind = kind;
    m_outcome.message = text;
    m_window.showPlainBox(text);
}

void UploadProcedure::endWithWarningBox(UploadOutcome::Kind kind, const QString &text)
{
    m_outcome.kind = kind;
    m_outcome.message = text;
    m_window.showWarningBox(text);
}

void UploadProcedure::setLinesRemaining(qint16 lines)
{
    m_linesRemaining = lines;
    m_window.setLinesRemaining(lines);
}

WaitHooks UploadProcedure::watchingOperator()
{
    return WaitHooks{[this] { return m_window.cancelRequested(); },
                     [this](int maxBlockMsecs) { m_window.letEventsRun(maxBlockMsecs); }};
}

} // namespace quobin
