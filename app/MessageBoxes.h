#pragma once

#include <QString>

class QWidget;

namespace quobin {

// The window's modal message boxes. They wait for the operator without a
// time limit. parent may be null (before the window is first shown).
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // OK button, no icon.
    virtual void plain(QWidget *parent, const QString &title, const QString &text) = 0;
    // OK button, exclamation icon.
    virtual void warning(QWidget *parent, const QString &title, const QString &text) = 0;
    // Yes and No buttons, Yes the default, no icon. True for Yes.
    virtual bool yesNo(QWidget *parent, const QString &title, const QString &text) = 0;
};

} // namespace quobin
