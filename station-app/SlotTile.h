#pragma once

#include "SlotView.h"

#include <QColor>
#include <QFrame>

class QLabel;
class QProgressBar;

namespace quobin {

// One slot on the run screen, readable from across the bench: the slot and
// its adapter, the state as a symbol and a word in large type on the state's
// colour, a failure's reason under it, a progress bar and the time left
// while flashing, and the slot's own counts. To a screen reader the tile is
// "Slot <label>", described by the state text as shown. A tile that waits
// for its board's ID has a colour of its own; the one the next scan goes to
// has a thick outline and says so.
class SlotTile : public QFrame {
    Q_OBJECT

public:
    explicit SlotTile(QWidget *parent = nullptr);

    void setSlot(const SlotView &slot);
    const SlotView &slot() const { return m_slot; }

    // The state's large type; at least 24 pt.
    static constexpr int kStatePointSize = 25;
    static constexpr int kReasonPointSize = 13;

    QLabel *titleLabel() const { return m_title; }
    QLabel *adapterLabel() const { return m_adapter; }
    QLabel *stateLabel() const { return m_state; }
    QLabel *reasonLabel() const { return m_reason; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *timeLeftLabel() const { return m_timeLeft; }
    QLabel *countsLabel() const { return m_counts; }
    QLabel *scanMarkLabel() const { return m_scanMark; }

    // The outline of the tile the next scan goes to.
    static constexpr int kServedOutline = 8;
    static QColor servedOutlineColour() { return QColor(0xff, 0xd6, 0x00); }

    // Room for every state: the state word on two lines at most and a
    // failure's reason on three.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void elideAdapter();
    void showStateWord();

    SlotView m_slot;
    QLabel *m_title;
    QLabel *m_adapter;
    QLabel *m_state;
    QLabel *m_reason;
    QProgressBar *m_progress;
    QLabel *m_timeLeft;
    QLabel *m_counts;
    QLabel *m_scanMark;
};

// The background and text colours of a state.
struct StateColours {
    QColor background;
    QColor text;
};
StateColours stateColours(SlotState state);

} // namespace quobin
