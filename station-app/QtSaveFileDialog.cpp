#include "SaveFileDialog.h"

#include <QFileDialog>

namespace quobin {

QString QtSaveFileDialog::saveFile(QWidget *parent, const QString &title, const QString &nameFilter,
                                   const QString &defaultSuffix)
{
    QFileDialog dialog(parent, title, QString(), nameFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace quobin
