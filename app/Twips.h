#pragma once

#include <QRect>
#include <QtGlobal>

namespace quobin {

// The layout is given in twips (1/1440 inch, 15 to a pixel at 96 dpi). Qt lays
// widgets out in device-independent pixels, so the conversion is the same at
// every screen scale.
constexpr int twips(int value)
{
    return qRound(value / 15.0);
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace quobin
