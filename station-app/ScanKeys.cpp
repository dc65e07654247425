#include "ScanKeys.h"

#include <QKeyEvent>
#include <QWidget>

namespace quobin {

ScanKeys::ScanKeys(QWidget *window, std::function<bool()> taking, QObject *parent)
    : QObject(parent), m_window(window), m_taking(std::move(taking))
{
}

bool ScanKeys::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::KeyRelease)
        return QObject::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != m_window || !m_taking()) {
        // Keys typed elsewhere (a box, another page) start no label.
        if (!m_typed.isEmpty() && type == QEvent::KeyPress && widget && widget->window() == m_window) {
            m_typed.clear();
            emit typedChanged(m_typed);
        }
        return QObject::eventFilter(watched, event);
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    // Control and Alt keys keep their meaning (Ctrl+Q, the mnemonics);
    // Shift is part of what a scanner types.
    if (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))
        return QObject::eventFilter(watched, event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const QString text = key->text();
    const bool printable = !text.isEmpty() && text.at(0).isPrint() && !text.at(0).isSpace();
    if (!enter && !printable && key->key() != Qt::Key_Backspace)
        return QObject::eventFilter(watched, event);
    if (type == QEvent::ShortcutOverride) {
        // Taken as a key press, not as any shortcut's.
        event->accept();
        return true;
    }
    if (type == QEvent::KeyRelease)
        return true;
    if (enter) {
        const QString label = m_typed;
        m_typed.clear();
        emit typedChanged(m_typed);
        if (!label.isEmpty())
            emit scanned(label);
    } else if (key->key() == Qt::Key_Backspace) {
        m_typed.chop(1);
        emit typedChanged(m_typed);
    } else {
        m_typed += text;
        emit typedChanged(m_typed);
    }
    return true;
}

} // namespace quobin
