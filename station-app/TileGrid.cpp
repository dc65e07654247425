#include "TileGrid.h"
#include "SlotTile.h"

#include <QGridLayout>
#include <QResizeEvent>

#include <algorithm>

namespace quobin {

TileGrid::TileGrid(QWidget *parent) : QWidget(parent), m_layout(new QGridLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(8);
}

void TileGrid::setSlots(const QList<SlotView> &views)
{
    while (m_tiles.size() > views.size())
        delete m_tiles.takeLast();
    while (m_tiles.size() < views.size())
        m_tiles.append(new SlotTile(this));
    for (qsizetype i = 0; i < views.size(); ++i)
        m_tiles[i]->setSlot(views[i]);
    reflow(true);
}

void TileGrid::updateSlot(int index, const SlotView &slot)
{
    if (index >= 0 && index < m_tiles.size())
        m_tiles[index]->setSlot(slot);
}

int TileGrid::columnsFor(int count, QSize space)
{
    if (count <= 1)
        return 1;
    // A tile reads best a little wider than tall: choose the columns that
    // let the largest tile of that shape fit.
    constexpr double kTileAspect = 1.6;
    int best = 1;
    double bestScale = 0;
    for (int columns = 1; columns <= count; ++columns) {
        const int rows = (count + columns - 1) / columns;
        const double width = double(std::max(space.width(), 1)) / columns;
        const double height = double(std::max(space.height(), 1)) / rows;
        const double scale = std::min(width / kTileAspect, height);
        if (scale > bestScale + 1e-9) {
            bestScale = scale;
            best = columns;
        }
    }
    return best;
}

void TileGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    reflow(false);
}

void TileGrid::reflow(bool force)
{
    const int columns = columnsFor(int(m_tiles.size()), size());
    if (!force && columns == m_columns)
        return;
    m_columns = columns;
    for (SlotTile *tile : m_tiles)
        m_layout->removeWidget(tile);
    for (int c = 0; c < m_layout->columnCount(); ++c)
        m_layout->setColumnStretch(c, 0);
    for (int r = 0; r < m_layout->rowCount(); ++r)
        m_layout->setRowStretch(r, 0);
    for (qsizetype i = 0; i < m_tiles.size(); ++i)
        m_layout->addWidget(m_tiles[i], int(i) / columns, int(i) % columns);
    const int rows = m_tiles.isEmpty() ? 0 : int((m_tiles.size() + columns - 1) / columns);
    for (int c = 0; c < columns; ++c)
        m_layout->setColumnStretch(c, 1);
    for (int r = 0; r < rows; ++r)
        m_layout->setRowStretch(r, 1);
}

} // namespace quobin
