#include "SlotTile.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
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
    case SlotState::ScanWanted:
        // Magenta: no other state comes near it, seen from across the line.
        return {QColor(0x8e, 0x24, 0xaa), Qt::white};
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
      m_counts(new QLabel(this)),
      m_scanMark(new QLabel(this))
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
    // In the top row, where the adapter is otherwise: the tile keeps its
    // size, and a small tile still has room for the reason of a refusal.
    m_scanMark->setFont(sized(font(), 12, true));
    m_scanMark->setText(QStringLiteral("\u25B6 NEXT SCAN"));
    for (QLabel *label : {m_title, m_adapter, m_state, m_reason, m_timeLeft, m_counts, m_scanMark})
        label->setTextFormat(Qt::PlainText);

    auto *flashing = new QHBoxLayout;
    flashing->addWidget(m_progress, 1);
    flashing->addWidget(m_timeLeft);
    auto *top = new QHBoxLayout;
    top->addWidget(m_title);
    top->addWidget(m_adapter, 1, Qt::AlignRight | Qt::AlignVCenter);
    top->addWidget(m_scanMark, 0, Qt::AlignRight | Qt::AlignVCenter);
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
    const bool served = slot.state == SlotState::ScanWanted && slot.scanServed;
    m_adapter->setVisible(!slot.adapter.isEmpty() && !served);
    // The failure's reason goes under the large word, in type that still
    // reads from a distance but lets a long reason fit.
    const bool failed = slot.state == SlotState::Fail;
    const bool scanWanted = slot.state == SlotState::ScanWanted;
    showStateWord();
    // A refused scan's reason stays under the large words until the next scan.
    const QString reason = scanWanted && !slot.scanRefusal.isEmpty() ? QStringLiteral("Refused: ") + slot.scanRefusal
                                                                     : slot.reason;
    m_reason->setText(reason);
    m_reason->setVisible((failed || scanWanted) && !reason.isEmpty());
    m_scanMark->setVisible(served);
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
    setAccessibleDescription(scanWanted && slot.scanServed ? stateText + QStringLiteral("; the next scan goes here")
                                                           : stateText);
    update();
}

// The state's word; a call to scan on one line, "SCAN ID" where "SCAN BOARD
// ID" does not fit, so that it leaves the reason of a refusal its room.
void SlotTile::showStateWord()
{
    const QString symbol = slotStateSymbol(m_slot.state) + QLatin1Char(' ');
    if (m_slot.state == SlotState::Fail) {
        m_state->setText(symbol + QStringLiteral("FAIL"));
    } else if (m_slot.state == SlotState::ScanWanted) {
        const QString full = symbol + QStringLiteral("SCAN BOARD ID");
        const bool fits = QFontMetrics(m_state->font()).horizontalAdvance(full) <= contentsRect().width() - 16;
        m_state->setText(fits ? full : symbol + QStringLiteral("SCAN ID"));
    } else {
        m_state->setText(symbol + slotStateText(m_slot));
    }
}

void SlotTile::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_slot.state != SlotState::ScanWanted || !m_slot.scanServed)
        return;
    QPainter painter(this);
    QPen pen(servedOutlineColour(), kServedOutline);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(kServedOutline / 2.0, kServedOutline / 2.0, -kServedOutline / 2.0,
                                             -kServedOutline / 2.0));
}

void SlotTile::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    elideAdapter();
    showStateWord();
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
