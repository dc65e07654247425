#include "SecondClickGuard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>

#include <utility>

namespace quobin {

SecondClickGuard::SecondClickGuard(QAbstractButton *starting, QAbstractButton *guarded,
                                   QObject *parent)
    : QObject(parent), m_starting(starting), m_guarded(guarded)
{
    m_starting->installEventFilter(this);
    m_guarded->installEventFilter(this);
}

bool SecondClickGuard::belongsToStartingClick(quint64 timestamp) const
{
    return m_startingClickAt && timestamp >= *m_startingClickAt
        && timestamp - *m_startingClickAt < quint64(QApplication::doubleClickInterval());
}

bool SecondClickGuard::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool mouseButton = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick
        || type == QEvent::MouseButtonRelease;
    if (!mouseButton)
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);

    if (watched == m_starting) {
        // The release is what clicks the button and starts the upload.
        if (type == QEvent::MouseButtonRelease)
            m_startingClickAt = mouse->timestamp();
        return false;
    }
    if (watched != m_guarded)
        return false;
    if (type == QEvent::MouseButtonRelease) {
        // The release that ends a kept press is kept as well.
        return std::exchange(m_swallowingClick, false);
    }
    if (belongsToStartingClick(mouse->timestamp())) {
        m_swallowingClick = true;
        return true;
    }
    return false;
}

} // namespace quobin
