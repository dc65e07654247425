#include "FaultPlan.h"

namespace quobin::sim {

namespace {

const char xoff = 0x13;
const char xon = 0x11;

int millisOr(const Fault &fault, int fallback)
{
    return fault.millis >= 0 ? fault.millis : fallback;
}

} // namespace

FaultPlan::FaultPlan(QList<Fault> faults, QByteArray version)
    : m_faults(std::move(faults))
    , m_version(std::move(version))
{
}

bool FaultPlan::has(Fault::Kind kind) const
{
    for (const Fault &fault : m_faults) {
        if (fault.kind == kind && fault.concernsBoard(m_board))
            return true;
    }
    return false;
}

QByteArray FaultPlan::activeCharacter() const
{
    return has(Fault::CaretWithQuestion) ? QByteArray("^?") : QByteArray("^");
}

QList<PlannedOutput> FaultPlan::requestReply() const
{
    if (has(Fault::Silent))
        return {};
    if (has(Fault::Echo))
        return {{0, "@&$"}};
    if (m_version.isEmpty())
        return {{0, "?"}};
    for (const Fault &fault : m_faults) {
        if (fault.kind == Fault::SplitReply && fault.concernsBoard(m_board))
            return {{0, "?"}, {millisOr(fault, 3), "V" + m_version}};
    }
    return {{0, "?V" + m_version}};
}

QList<PlannedOutput> FaultPlan::answerLine(int line, int boardLine, const QByteArray &text,
                                           const QByteArray &answer)
{
    QByteArray reply = answer;
    bool silent = false;
    bool holdAfterReply = false;
    int delay = 0;
    QList<PlannedOutput> before;
    QList<PlannedOutput> after;

    if (!m_repeatedBadLine.isEmpty()) {
        if (text == m_repeatedBadLine)
            reply = "-";
        else
            m_repeatedBadLine.clear();
    }

    for (const Fault &fault : m_faults) {
        if (!fault.concernsBoard(m_board))
            continue;
        const int counted = fault.board == 0 ? line : boardLine;
        const bool here = fault.line == counted || (fault.kind == Fault::Garbage && fault.line == 0);
        if (!here)
            continue;
        switch (fault.kind) {
        case Fault::ChecksumAlways:
            m_repeatedBadLine = text;
            reply = "-";
            break;
        case Fault::ChecksumOnce: reply = "-"; break;
        case Fault::FlashError: reply = "%"; break;
        case Fault::HashAnswer: reply = "#"; break;
        case Fault::CustomAnswer: reply = fault.text; break;
        case Fault::NoAnswer: silent = true; break;
        case Fault::LateAnswer:
        case Fault::LateInOrder: delay += millisOr(fault, 3500); break;
        case Fault::SplitAnswer:
            before.append({0, fault.text.isEmpty() ? QByteArray("x") : fault.text});
            delay += millisOr(fault, 20);
            break;
        case Fault::XoffHold:
            holdAfterReply = true;
            after.append({millisOr(fault, 2000), QByteArray(1, xon)});
            break;
        case Fault::Garbage:
            after.append({millisOr(fault, 1), fault.text.isEmpty() ? QByteArray("xyz") : fault.text});
            break;
        case Fault::Vanish:
            return {{0, {}, true}};
        case Fault::Silent:
        case Fault::Echo:
        case Fault::CaretWithQuestion:
        case Fault::NoCompletion:
        case Fault::SplitReply:
            break;
        }
    }

    if (silent)
        reply.clear();
    // XOFF goes out in the same write as the answer: once the host has read
    // the answer its line is already stopped, so no next line slips through.
    if (holdAfterReply)
        reply += xoff;
    QList<PlannedOutput> outputs = before;
    if (!reply.isEmpty())
        outputs.append({delay, reply});
    for (PlannedOutput output : after) {
        output.delayMs += delay;
        outputs.append(output);
    }
    return outputs;
}

} // namespace quobin::sim
