#pragma once

#include <QLabel>

namespace quobin {

// A label for text of any length that never asks for more width than it is
// given: one line elided at the end, or lines broken at word boundaries and,
// for a word longer than the line (a path, a job name), anywhere. text() and
// what a screen reader hears stay whole; an elided label shows the whole
// text as its tool tip.
class FittedLabel : public QLabel {
    Q_OBJECT

public:
    enum class Fit { Elide, Wrap };

    explicit FittedLabel(Fit fit, QWidget *parent = nullptr);

    void setText(const QString &text);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return m_fit == Fit::Wrap; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int textFlags() const;
    // The text's height when drawn width wide, margins included.
    int wrappedHeight(int width) const;

    const Fit m_fit;
};

} // namespace quobin
