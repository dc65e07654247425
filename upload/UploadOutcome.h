#pragma once

#include <QList>
#include <QString>

#include <memory>

namespace quobin {

class FirmwareImage;

// A Yes/No question the upload asked about a line that still failed, and the
// answer it got. reason is the question's cause in the operator's words:
// "Checksum error", "Error writing to flash" or "No response", so that
// "line 5: Error writing to flash" reads as a sentence.
struct AnsweredQuestion {
    int lineNumber = 0;
    QString reason;
    bool answeredYes = false;
};

// How one upload ended, as data: what happened, the text the window shows
// for it, and how much went over the wire. The window shows its boxes as it
// always has; other front ends read this instead of the boxes.
struct UploadOutcome {
    enum class Kind {
        Success,           // "@" confirmed the whole file
        NoPath,            // the path is too short to name a file; nothing was touched
        NoResponse,        // the bootloader never answered "?" to the ready requests
        Stopped,           // the operator answered No to a question about a line
        NoEndConfirmation, // no "@" after the last line
        PortError,         // the port could not be set up (or closed)
        FileError,         // the firmware file could not be opened
        TransferError,     // a failure during the handshake or the transfer
        Cancelled,         // the operator cancelled
        NoController,      // no "^" within the wait allowed for the controller
    };

    Kind kind = Kind::Cancelled;
    // The text of the box the window shows for this end; empty where it
    // shows none (cancelled, stopped, no controller).
    QString message;
    // Firmware lines written at least once, and the further sends of them.
    int linesSent = 0;
    int resends = 0;
    // How many of the image's lines, from the first on (blank ones
    // included), were all sent and taken by the controller: each answered
    // as accepted, none put to the operator.
    int linesTakenInOrder = 0;
    // Every question asked about a failing line, in the order asked.
    QList<AnsweredQuestion> questions;
    // Why the port, the file or the transfer failed, in the system's words
    // (from the error raised where it happened); empty for every other end.
    QString detail;
    // Answers that came after their line had been judged (late, or owed to
    // an earlier send of it) and were dropped before the next line's first
    // send, so that none was taken for that line's answer.
    int staleAnswers = 0;

    bool succeeded() const { return kind == Kind::Success; }
};

// Options that the window never sets.
struct UploadOptions {
    // Gives up waiting for the controller's "^" once this many whole seconds
    // have passed; 0 waits without a limit, as the window does.
    int controllerWaitSeconds = 0;
    // The firmware file as already read; when set, the upload sends it and
    // does not read the path. Its texts, counts and failures stay the same.
    std::shared_ptr<const FirmwareImage> image;
    // False skips the main-code command at 9600 baud: the port is opened
    // straight for the bootloader, whose "^" is then awaited as usual.
    bool sendMainCodeCommand = true;
};

} // namespace quobin
