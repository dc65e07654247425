#pragma once

#include <QObject>

class QWidget;

namespace quobin {

// Lets a control keep the Space key for itself (a tick box ticks, a list
// ticks its item, a button presses) instead of the window's Space shortcut.
class SpaceKeeper : public QObject {
public:
    using QObject::QObject;
    void keepFor(QWidget *control);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace quobin
