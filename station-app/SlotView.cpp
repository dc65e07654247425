#include "SlotView.h"

namespace quobin {

QString slotStateText(const SlotView &slot)
{
    switch (slot.state) {
    case SlotState::Stopped:
        return QStringLiteral("stopped");
    case SlotState::NoAdapter:
        return QStringLiteral("no adapter");
    case SlotState::Waiting:
        return QStringLiteral("waiting for a board");
    case SlotState::Noisy:
        return QStringLiteral("line noisy");
    case SlotState::Flashing:
        return QStringLiteral("flashing %1 %").arg(slot.percent);
    case SlotState::Pass:
        return QStringLiteral("PASS");
    case SlotState::Fail:
        return slot.reason.isEmpty() ? QStringLiteral("FAIL") : QStringLiteral("FAIL: ") + slot.reason;
    case SlotState::Cancelled:
        return QStringLiteral("CANCELLED");
    case SlotState::Unsaved:
        return QStringLiteral("record not saved yet");
    case SlotState::ScanWanted:
        return slot.scanRefusal.isEmpty() ? QStringLiteral("SCAN BOARD ID")
                                          : QStringLiteral("SCAN BOARD ID: refused ") + slot.scanRefusal;
    }
    return {};
}

QString slotStateSymbol(SlotState state)
{
    switch (state) {
    case SlotState::Stopped:
        return QStringLiteral("\u25A0");  // black square
    case SlotState::NoAdapter:
    case SlotState::Noisy:
        return QStringLiteral("\u26A0");  // warning sign
    case SlotState::Waiting:
        return QStringLiteral("\u25CB");  // white circle
    case SlotState::Flashing:
        return QStringLiteral("\u25B6");  // play triangle
    case SlotState::Pass:
        return QStringLiteral("\u2714");  // heavy check mark
    case SlotState::Fail:
        return QStringLiteral("\u2718");  // heavy ballot x
    case SlotState::Cancelled:
        return QStringLiteral("\u25A0");
    case SlotState::Unsaved:
        return QStringLiteral("\u26A0");  // warning sign
    case SlotState::ScanWanted:
        return QStringLiteral("\u2261");  // identical to: the bars of a label
    }
    return {};
}

QString timeLeftText(int secondsLeft)
{
    if (secondsLeft < 0)
        return {};
    return QStringLiteral("%1:%2 left").arg(secondsLeft / 60).arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
}

QString jobHeaderText(const RunTotals &totals)
{
    if (totals.jobName.isEmpty())
        return QStringLiteral("No job");
    if (totals.jobVersion > 0)
        return QStringLiteral("Job %1 version %2  approved by %3  %4")
            .arg(totals.jobName)
            .arg(totals.jobVersion)
            .arg(totals.jobApprover, totals.jobSha256.left(12));
    return totals.jobName + QStringLiteral("  ") + totals.jobSha256.left(12);
}

QString serialText(const SlotView &slot)
{
    if (slot.serial.isEmpty() && slot.lastSerial.isEmpty())
        return {};
    return QStringLiteral("Serial %1   Last %2")
        .arg(slot.serial.isEmpty() ? QStringLiteral("-") : slot.serial,
             slot.lastSerial.isEmpty() ? QStringLiteral("-") : slot.lastSerial);
}

QString totalsText(const RunTotals &totals)
{
    const double yield = totals.firstPassYield;
    const QString yieldText = yield < 0 ? QStringLiteral("-") : QString::number(yield, 'f', 1) + QStringLiteral(" %");
    QString text = QStringLiteral("Passed %1   Failed %2   First-pass yield %3   Boards per hour %4")
                       .arg(totals.passed)
                       .arg(totals.failed)
                       .arg(yieldText)
                       .arg(QString::number(totals.boardsPerHour, 'f', 0));
    if (totals.noResponse > 0)
        text += QStringLiteral("   No response %1").arg(totals.noResponse);
    if (!totals.nextSerial.isEmpty())
        text += QStringLiteral("   Next serial ") + totals.nextSerial;
    return text;
}

} // namespace quobin
