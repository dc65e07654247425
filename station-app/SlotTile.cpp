#include "SlotTile.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace quobin {

StateColours stateColours(SlotState state)
{
    switch (state) {
    case SlotState::Pass:
        return {QColor(0x1b, 0x7f, 0x2a), Qt::white};
    case SlotState::Fail:
        return {QColor(0xb7, 0x1c, 0x1c), Qt::white};
    case SlotState::Flashing:
        return {QColor(0x15, 0x5f, 0xa8), Qt::white};
    case SlotState::Waiting:
        return {QColor(0xe4, 0xe7, 0xeb), Qt::black};
    case SlotState::NoAdapter:
        return {QColor(0xf0, 0xb4, 0x29), Qt::black};
    case SlotState::Stopped:
    case SlotState::Cancelled:
        return {QColor(0x6b, 0x6f, 0x75), Qt::white};
    }
    return {Qt::white, Qt::black};
}

SlotTile::SlotTile(QWidget *parent)
    : QFrame(parent),
      m_title(new QLabel(this)),
      m_adapter(new QLabel(this)),
      m_state(new QLabel(this)),
      m_progress(new QProgressBar(this)),
      m_timeLeft(new QLabel(this)),
      m_counts(new QLabel(this))
{
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);

    QFont titleFont = font();
    titleFont.setPointSize(16);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_adapter->setWordWrap(true);
    QFont stateFont = font();
    stateFont.setPointSize(kStatePointSize);
    stateFont.setBold(true);
    m_state->setFont(stateFont);
    m_state->setWordWrap(true);
    m_state->setAlignment(Qt::AlignCenter);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_timeLeft->setAlignment(Qt::AlignCenter);
    QFont countsFont = font();
    countsFont.setPointSize(12);
    m_counts->setFont(countsFont);

    // The parts are read through the tile itself.
    for (QWidget *part : {static_cast<QWidget *>(m_title), static_cast<QWidget *>(m_adapter),
                          static_cast<QWidget *>(m_state), static_cast<QWidget *>(m_progress),
                          static_cast<QWidget *>(m_timeLeft), static_cast<QWidget *>(m_counts)})
        part->setFocusPolicy(Qt::NoFocus);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_title);
    layout->addWidget(m_adapter);
    layout->addStretch(1);
    layout->addWidget(m_state);
    layout->addWidget(m_progress);
    layout->addWidget(m_timeLeft);
    layout->addStretch(1);
    layout->addWidget(m_counts);
    setSlot(m_slot);
}

void SlotTile::setSlot(const SlotView &slot)
{
    m_slot = slot;
    const QString stateText = slotStateText(slot);
    m_title->setText(slot.label);
    m_adapter->setText(slot.adapter);
    m_adapter->setVisible(!slot.adapter.isEmpty());
    m_state->setText(slotStateSymbol(slot.state) + QLatin1Char(' ') + stateText);
    const bool flashing = slot.state == SlotState::Flashing;
    m_progress->setVisible(flashing);
    m_progress->setValue(slot.percent);
    m_timeLeft->setVisible(flashing);
    m_timeLeft->setText(timeLeftText(slot.secondsLeft));
    m_counts->setText(QStringLiteral("Passed %1   Failed %2").arg(slot.passed).arg(slot.failed));

    const StateColours colours = stateColours(slot.state);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colours.background);
    palette.setColor(QPalette::WindowText, colours.text);
    setPalette(palette);

    setAccessibleName(QStringLiteral("Slot ") + slot.label);
    setAccessibleDescription(stateText);
}

QSize SlotTile::minimumSizeHint() const
{
    // Wide enough for the slot's name and the longest fixed state word in
    // the large type; a failure's reason wraps.
    const QFontMetrics state(m_state->font());
    const int wide = state.horizontalAdvance(slotStateSymbol(SlotState::Flashing) + QStringLiteral(" flashing 100 %"));
    const QSize laidOut = QFrame::minimumSizeHint();
    return {std::max(laidOut.width(), wide + 2 * frameWidth() + 24), laidOut.height()};
}

} // namespace quobin
