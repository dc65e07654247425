#include "QtFileDialog.h"

#include <QFileDialog>

namespace quobin {

QString QtFileDialog::openFile(QWidget *parent, const QString &title, const QStringList &nameFilters,
                               const QString &defaultSuffix)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name need not exist yet: the upload reports a file it cannot open.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(nameFilters);
    if (!nameFilters.isEmpty())
        dialog.selectNameFilter(nameFilters.first());
    dialog.setDefaultSuffix(defaultSuffix);
    if (!m_lastChosen.isEmpty())
        dialog.selectFile(m_lastChosen);

    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return {};
    m_lastChosen = chosen.first();
    return m_lastChosen;
}

} // namespace quobin
