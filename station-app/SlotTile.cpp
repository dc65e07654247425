#include "SlotTile.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace quobin {

namespace {

QFont sized(QFont font, int pointSize, bool bold)
{
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace

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
    case SlotState::Noisy:
    case SlotState::Unsaved:
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
      m_reason(new QLabel(this)),
      m_progress(new QProgressBar(this)),
      m_timeLeft(new QLabel(this)),
      m_counts(new QLabel(this))
{
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setAutoFillBackground(true);

    m_title->setFont(sized(font(), 16, true));
    m_adapter->setFont(sized(font(), 9, false));
    m_state->setFont(sized(font(), kStatePointSize, true));
    m_state->setWordWrap(true);
    m_state->setAlignment(Qt::AlignCenter);
    m_reason->setFont(sized(font(), kReasonPointSize, true));
    m_reason->setWordWrap(true);
    m_reason->setAlignment(Qt::AlignCenter);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(QFontMetrics(font()).height());
    m_counts->setFont(sized(font(), 12, false));
    for (QLabel *label : {m_title, m_adapter, m_state, m_reason, m_timeLeft, m_counts})
        label->setTextFormat(Qt::PlainText);

    auto *flashing = new QHBoxLayout;
    flashing->addWidget(m_progress, 1);
    flashing->addWidget(m_timeLeft);
    auto *top = new QHBoxLayout;
    top->addWidget(m_title);
    top->addWidget(m_adapter, 1, Qt::AlignRight | Qt::AlignVCenter);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addStretch(1);
    layout->addWidget(m_state);
    layout->addWidget(m_reason);
    layout->addLayout(flashing);
    layout->addStretch(1);
    layout->addWidget(m_counts);
    setSlot(m_slot);
}

void SlotTile::setSlot(const SlotView &slot)
{
    m_slot = slot;
    const QString stateText = slotStateText(slot);
    m_title->setText(slot.label);
    elideAdapter();
    m_adapter->setToolTip(slot.adapter);
    m_adapter->setVisible(!slot.adapter.isEmpty());
    // The failure's reason goes under the large word, in type that still
    // reads from a distance but lets a long reason fit.
    const bool failed = slot.state == SlotState::Fail;
    m_state->setText(slotStateSymbol(slot.state) + QLatin1Char(' ')
                     + (failed ? QStringLiteral("FAIL") : stateText));
    m_reason->setText(slot.reason);
    m_reason->setVisible(failed && !slot.reason.isEmpty());
    const bool flashing = slot.state == SlotState::Flashing;
    m_progress->setVisible(flashing);
    m_progress->setValue(slot.percent);
    m_timeLeft->setVisible(flashing);
    m_timeLeft->setText(timeLeftText(slot.secondsLeft));
    QString counts = QStringLiteral("Passed %1   Failed %2").arg(slot.passed).arg(slot.failed);
    if (const QString serial = serialText(slot); !serial.isEmpty())
        counts += QLatin1Char('\n') + serial;
    m_counts->setText(counts);

    const StateColours colours = stateColours(slot.state);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colours.background);
    palette.setColor(QPalette::WindowText, colours.text);
    setPalette(palette);

    setAccessibleName(QStringLiteral("Slot ") + slot.label);
    setAccessibleDescription(stateText);
}

void SlotTile::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    elideAdapter();
}

void SlotTile::elideAdapter()
{
    // The adapter's description can be long; it is cut to the tile and
    // shown whole in the tooltip.
    const int room = std::max(contentsRect().width() - 16 - m_title->sizeHint().width() - 8, 20);
    m_adapter->setText(QFontMetrics(m_adapter->font()).elidedText(m_slot.adapter, Qt::ElideMiddle, room));
}

QSize SlotTile::minimumSizeHint() const
{
    const QFontMetrics state(m_state->font());
    const QFontMetrics reason(m_reason->font());
    const QFontMetrics title(m_title->font());
    const QFontMetrics counts(m_counts->font());
    const QFontMetrics adapter(m_adapter->font());
    const int width = std::max({state.horizontalAdvance(slotStateSymbol(SlotState::Flashing) + QStringLiteral(" flashing")),
                                state.horizontalAdvance(slotStateSymbol(SlotState::Cancelled) + QStringLiteral(" CANCELLED")),
                                counts.horizontalAdvance(QStringLiteral("Passed 00000   Failed 00000"))})
        + 16 + 2 * frameWidth() + 8;
    // Flashing: two lines of state and the progress; failed: one line of
    // state and three of reason.
    const int middle = std::max(2 * state.lineSpacing() + QFontMetrics(font()).height(),
                                state.lineSpacing() + 3 * reason.lineSpacing());
    const int height = std::max(title.height(), adapter.height()) + middle + counts.height() + 5 * 2 + 2 * 2
        + 2 * frameWidth();
    return {width, height};
}

} // namespace quobin
