#pragma once

#include "MessageBoxes.h"

namespace quobin {

// MessageBoxes shown with QMessageBox.
class QtMessageBoxes : public MessageBoxes {
public:
    void plain(QWidget *parent, const QString &title, const QString &text) override;
    void warning(QWidget *parent, const QString &title, const QString &text) override;
    bool yesNo(QWidget *parent, const QString &title, const QString &text) override;
};

} // namespace quobin
