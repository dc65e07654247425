#pragma once

#include <QObject>

#include <optional>

class QAbstractButton;

namespace quobin {

// The Cancel button takes the upload button's place as soon as an upload
// starts, while the upload sets up the port without letting events run. The
// second click of a double-click on the upload button waits in the queue
// meanwhile and would land on Cancel. This filter keeps from the guarded
// button the mouse clicks that come within the desktop's double-click
// interval of the click on the starting button: they belong to that click.
//
// Both times are the window system's own event times, so the comparison
// holds whatever the queue delayed. A click the operator means comes later:
// Cancel is not even drawn until the upload first lets events run, after
// its two 200 ms pauses. The keyboard is left alone.
class SecondClickGuard : public QObject {
public:
    SecondClickGuard(QAbstractButton *starting, QAbstractButton *guarded, QObject *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool belongsToStartingClick(quint64 timestamp) const;

    QAbstractButton *m_starting;
    QAbstractButton *m_guarded;
    std::optional<quint64> m_startingClickAt;
    bool m_swallowingClick = false;
};

} // namespace quobin
