#include "TileGrid.h"
#include "SlotTile.h"

#include <QResizeEvent>

#include <algorithm>

namespace quobin {

TileGrid::TileGrid(QWidget *parent) : QWidget(parent)
{
    m_progressTimer.setSingleShot(true);
    m_progressTimer.setInterval(kProgressMsecs);
    connect(&m_progressTimer, &QTimer::timeout, this, &TileGrid::showPending);
}

void TileGrid::setSlots(const QList<SlotView> &views)
{
    m_pending.clear();
    while (m_tiles.size() > views.size())
        delete m_tiles.takeLast();
    while (m_tiles.size() < views.size()) {
        auto *tile = new SlotTile(this);
        tile->show();
        m_tiles.append(tile);
    }
    for (qsizetype i = 0; i < views.size(); ++i)
        m_tiles[i]->setSlot(views[i]);
    reflow();
    updateGeometry();
}

void TileGrid::updateSlot(int index, const SlotView &slot)
{
    if (index < 0 || index >= m_tiles.size())
        return;
    SlotTile *tile = m_tiles[index];
    if (slot.state == SlotState::Flashing && tile->slot().state == SlotState::Flashing) {
        m_pending.insert(index, slot);
        if (!m_progressTimer.isActive())
            m_progressTimer.start();
        return;
    }
    m_pending.remove(index);
    tile->setSlot(slot);
}

void TileGrid::showPending()
{
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it.key() < m_tiles.size())
            m_tiles[it.key()]->setSlot(it.value());
    }
    m_pending.clear();
}

int TileGrid::columnsFor(int count, QSize space, QSize leastTile)
{
    int best = 1;
    double bestRoom = -1;
    for (int columns = 1; columns <= std::max(count, 1); ++columns) {
        const int rows = (count + columns - 1) / columns;
        const double width = double(space.width() - (columns - 1) * kSpacing) / columns;
        const double height = double(space.height() - (rows - 1) * kSpacing) / std::max(rows, 1);
        // How far the tightest side of a tile is from its least size.
        const double room = std::min(width / std::max(leastTile.width(), 1), height / std::max(leastTile.height(), 1));
        if (room > bestRoom + 1e-9) {
            bestRoom = room;
            best = columns;
        }
    }
    return best;
}

QSize TileGrid::leastTile() const
{
    QSize least(1, 1);
    for (const SlotTile *tile : m_tiles)
        least = least.expandedTo(tile->minimumSizeHint());
    return least;
}

QSize TileGrid::minimumSizeHint() const
{
    return leastTile();
}

QSize TileGrid::sizeHint() const
{
    const int columns = columnsFor(int(m_tiles.size()), QSize(1024, 600), leastTile());
    const int rows = m_tiles.isEmpty() ? 1 : int((m_tiles.size() + columns - 1) / columns);
    const QSize least = leastTile();
    return {columns * least.width() + (columns - 1) * kSpacing, rows * least.height() + (rows - 1) * kSpacing};
}

void TileGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    reflow();
}

void TileGrid::reflow()
{
    const int count = int(m_tiles.size());
    if (count == 0)
        return;
    m_columns = columnsFor(count, size(), leastTile());
    const int rows = (count + m_columns - 1) / m_columns;
    const int width = (this->width() - (m_columns - 1) * kSpacing) / m_columns;
    const int height = (this->height() - (rows - 1) * kSpacing) / rows;
    for (int i = 0; i < count; ++i) {
        const int row = i / m_columns;
        const int column = i % m_columns;
        m_tiles[i]->setGeometry(column * (width + kSpacing), row * (height + kSpacing), width, height);
    }
}

} // namespace quobin
