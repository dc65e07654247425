#pragma once

#include "UploadOutcome.h"

#include <QList>
#include <QString>

namespace quobin {

// The name a front end without boxes gives an outcome: success, no-response,
// stopped, no-end-confirmation, port-error, file-error, transfer-error,
// cancelled or no-controller. A success past a line the operator let go
// (a question answered Yes) is completed-with-errors: the controller did not
// take every line as sent.
QString resultName(const UploadOutcome &outcome);

// The questions answered Yes, as one sentence:
// "line 5: Error writing to flash; line 9: Checksum error". Empty when none was.
QString linesLetGo(const QList<AnsweredQuestion> &questions);

// The question answered No, as one sentence: "line 5: Error writing to flash,
// answered No". Empty when none was.
QString lineStoppedAt(const QList<AnsweredQuestion> &questions);

// What a front end without boxes says about an outcome: the window's box
// text, except where the window's box would not tell what happened. A stop
// names the line and the question answered No ("line 5: Error writing to
// flash, answered No"), and a completed-with-errors the lines answered Yes
// and why ("line 5: Error writing to flash; line 9: Checksum error").
QString resultMessage(const UploadOutcome &outcome);

} // namespace quobin
