#include "SpaceKeeper.h"

#include <QKeyEvent>
#include <QWidget>

namespace quobin {

void SpaceKeeper::keepFor(QWidget *control)
{
    control->installEventFilter(this);
}

bool SpaceKeeper::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace quobin
