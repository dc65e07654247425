#include "FileDropLineEdit.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace quobin {

FileDropLineEdit::FileDropLineEdit(QWidget *parent) : QLineEdit(parent)
{
    setAcceptDrops(true);
}

QStringList FileDropLineEdit::localFiles(const QMimeData *data)
{
    QStringList paths;
    // A URL drag also claims to carry text; only the URLs count here.
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty())
            paths << QDir::toNativeSeparators(path);
    }
    return paths;
}

bool FileDropLineEdit::takesDrop(const QMimeData *data) const
{
    return isEnabled() && !localFiles(data).isEmpty();
}

void FileDropLineEdit::dragEnterEvent(QDragEnterEvent *event)
{
    if (takesDrop(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileDropLineEdit::dragMoveEvent(QDragMoveEvent *event)
{
    if (takesDrop(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileDropLineEdit::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void FileDropLineEdit::dropEvent(QDropEvent *event)
{
    if (!takesDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    const QStringList paths = localFiles(event->mimeData());
    event->acceptProposedAction();
    emit filesDropped(paths);
}

} // namespace quobin
