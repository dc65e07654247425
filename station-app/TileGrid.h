#pragma once

#include "SlotView.h"

#include <QList>
#include <QWidget>

class QGridLayout;

namespace quobin {

class SlotTile;

// The tiles of all slots in a grid that fills its space. The number of
// columns follows the shape of the space: when the window is resized the
// tiles re-flow so that each stays as large and as readable as it can be.
class TileGrid : public QWidget {
    Q_OBJECT

public:
    explicit TileGrid(QWidget *parent = nullptr);

    // One tile per slot, in this order.
    void setSlots(const QList<SlotView> &views);
    void updateSlot(int index, const SlotView &slot);

    const QList<SlotTile *> &tiles() const { return m_tiles; }
    int columns() const { return m_columns; }

    // The best number of columns for count tiles in a space of this size.
    static int columnsFor(int count, QSize space);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void reflow(bool force);

    QGridLayout *m_layout;
    QList<SlotTile *> m_tiles;
    int m_columns = 0;
};

} // namespace quobin
