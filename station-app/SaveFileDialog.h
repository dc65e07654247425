#pragma once

#include <QString>

class QWidget;

namespace quobin {

// A modal file-save dialog. Returns the path chosen, or an empty string
// when the operator cancels.
class SaveFileDialog {
public:
    virtual ~SaveFileDialog() = default;
    virtual QString saveFile(QWidget *parent, const QString &title, const QString &nameFilter,
                             const QString &defaultSuffix) = 0;
};

// The one shown to the operator.
class QtSaveFileDialog : public SaveFileDialog {
public:
    QString saveFile(QWidget *parent, const QString &title, const QString &nameFilter,
                     const QString &defaultSuffix) override;
};

} // namespace quobin
