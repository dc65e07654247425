#pragma once

#include "SlotView.h"

#include <QHash>
#include <QList>
#include <QTimer>
#include <QWidget>

namespace quobin {

class SlotTile;

// The tiles of all slots in a grid that fills its space. The number of
// columns follows the shape of the space: when the window is resized the
// tiles re-flow so that each stays as large and as readable as it can be.
// The tiles are placed by hand rather than by a grid layout, so that the
// grid never holds the window at the size of its last arrangement.
class TileGrid : public QWidget {
    Q_OBJECT

public:
    explicit TileGrid(QWidget *parent = nullptr);

    // One tile per slot, in this order.
    void setSlots(const QList<SlotView> &views);
    // A flashing tile's progress is drawn at most every kProgressMsecs
    // (the latest one); every other change at once.
    void updateSlot(int index, const SlotView &slot);

    const QList<SlotTile *> &tiles() const { return m_tiles; }
    int columns() const { return m_columns; }

    // The number of columns for count tiles in a space of this size that
    // leaves the tiles the most room beyond their least size.
    static int columnsFor(int count, QSize space, QSize leastTile);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void reflow();
    QSize leastTile() const;
    void showPending();

    QList<SlotTile *> m_tiles;
    QHash<int, SlotView> m_pending;
    QTimer m_progressTimer;
    // 32 flashing slots report some 300 changes a second; four a second
    // per tile reads the same and draws far less.
    static constexpr int kProgressMsecs = 250;
    int m_columns = 1;
    static constexpr int kSpacing = 8;
};

} // namespace quobin
