#include "FittedLabel.h"

#include <QPainter>
#include <QStyle>

namespace quobin {

namespace {

// The least width asked for: a few characters, so that a layout can always
// shrink the label to what the screen leaves it.
constexpr int kLeastCharacters = 8;
// The widest a label asks to be when laid out afresh; the layout gives it
// more when there is more.
constexpr int kPreferredCharacters = 60;

} // namespace

FittedLabel::FittedLabel(Fit fit, QWidget *parent) : QLabel(parent), m_fit(fit)
{
    setTextFormat(Qt::PlainText);
    // Those who ask a label whether it wraps learn that this one does.
    setWordWrap(fit == Fit::Wrap);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(fit == Fit::Wrap);
    setSizePolicy(policy);
}

void FittedLabel::setText(const QString &text)
{
    QLabel::setText(text);
    if (m_fit == Fit::Elide)
        setToolTip(text);
    updateGeometry();
    update();
}

int FittedLabel::textFlags() const
{
    const int aligned = int(QStyle::visualAlignment(layoutDirection(), alignment()));
    return m_fit == Fit::Wrap ? aligned | Qt::TextWordWrap | Qt::TextWrapAnywhere : aligned | Qt::TextSingleLine;
}

int FittedLabel::wrappedHeight(int width) const
{
    const QMargins margins = contentsMargins();
    const int room = qMax(1, width - margins.left() - margins.right() - 2 * margin());
    const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, room, 1 << 20), textFlags(), text());
    return qMax(bounds.height(), fontMetrics().height()) + margins.top() + margins.bottom() + 2 * margin();
}

QSize FittedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = fontMetrics().averageCharWidth() * kLeastCharacters + margins.left() + margins.right() + 2 * margin();
    const int height = m_fit == Fit::Wrap ? wrappedHeight(width)
                                          : fontMetrics().height() + margins.top() + margins.bottom() + 2 * margin();
    return {width, height};
}

QSize FittedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int whole = fontMetrics().horizontalAdvance(text()) + margins.left() + margins.right() + 2 * margin();
    const int width = qMax(minimumSizeHint().width(), qMin(whole, fontMetrics().averageCharWidth() * kPreferredCharacters));
    return {width, m_fit == Fit::Wrap ? wrappedHeight(width) : minimumSizeHint().height()};
}

int FittedLabel::heightForWidth(int width) const
{
    return m_fit == Fit::Wrap ? wrappedHeight(width) : QLabel::heightForWidth(width);
}

void FittedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    painter.setPen(palette().color(foregroundRole()));
    const QString shown = m_fit == Fit::Elide ? fontMetrics().elidedText(text(), Qt::ElideRight, room.width()) : text();
    painter.drawText(room, textFlags(), shown);
}

} // namespace quobin
