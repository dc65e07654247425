#pragma once

#include "FileDialog.h"

namespace quobin {

// FileDialog shown with QFileDialog. It opens on the file chosen last time,
// like a dialog that keeps its file name between uses; no starting folder is
// given at first.
class QtFileDialog : public FileDialog {
public:
    QString openFile(QWidget *parent, const QString &title, const QStringList &nameFilters,
                     const QString &defaultSuffix) override;

private:
    QString m_lastChosen;
};

} // namespace quobin
