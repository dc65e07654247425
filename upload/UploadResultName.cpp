#include "UploadResultName.h"

#include <QStringList>

namespace quobin {

namespace {

QString lineAndReason(const AnsweredQuestion &question)
{
    return QStringLiteral("line %1: %2").arg(question.lineNumber).arg(question.reason);
}

} // namespace

QString linesLetGo(const QList<AnsweredQuestion> &questions)
{
    QStringList lines;
    for (const AnsweredQuestion &question : questions) {
        if (question.answeredYes)
            lines << lineAndReason(question);
    }
    return lines.join(QStringLiteral("; "));
}

QString lineStoppedAt(const QList<AnsweredQuestion> &questions)
{
    for (const AnsweredQuestion &question : questions) {
        if (!question.answeredYes)
            return lineAndReason(question) + QStringLiteral(", answered No");
    }
    return {};
}

QString resultName(const UploadOutcome &outcome)
{
    using Kind = UploadOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Success:
        return linesLetGo(outcome.questions).isEmpty() ? QStringLiteral("success")
                                                       : QStringLiteral("completed-with-errors");
    case Kind::NoResponse: return QStringLiteral("no-response");
    case Kind::Stopped: return QStringLiteral("stopped");
    case Kind::NoEndConfirmation: return QStringLiteral("no-end-confirmation");
    case Kind::PortError: return QStringLiteral("port-error");
    case Kind::NoPath:
    case Kind::FileError: return QStringLiteral("file-error");
    case Kind::TransferError: return QStringLiteral("transfer-error");
    case Kind::Cancelled: return QStringLiteral("cancelled");
    case Kind::NoController: return QStringLiteral("no-controller");
    }
    return QStringLiteral("transfer-error");
}

QString resultMessage(const UploadOutcome &outcome)
{
    if (outcome.kind == UploadOutcome::Kind::Stopped)
        return lineStoppedAt(outcome.questions);
    if (outcome.kind == UploadOutcome::Kind::Success && !linesLetGo(outcome.questions).isEmpty())
        return linesLetGo(outcome.questions);
    return outcome.message;
}

} // namespace quobin
