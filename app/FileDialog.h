#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace quobin {

// A modal file-open dialog.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    // Shows the dialog with the given title and name filters (the first one
    // selected). A typed name without an extension gets defaultSuffix.
    // Returns the full path of the file chosen, or an empty string when the
    // operator cancels. May throw std::exception when the dialog fails.
    virtual QString openFile(QWidget *parent, const QString &title, const QStringList &nameFilters,
                             const QString &defaultSuffix) = 0;
};

} // namespace quobin
