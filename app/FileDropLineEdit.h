#pragma once

#include <QLineEdit>
#include <QStringList>

class QMimeData;

namespace quobin {

// A path box that takes dropped files but no dropped text: a drag that
// carries a list of local files is accepted and reported by filesDropped();
// any other drag, plain text included, is refused, so the box never inserts
// dropped text itself.
class FileDropLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit FileDropLineEdit(QWidget *parent = nullptr);

    // The local files a drag carries, in its order; empty when it carries none.
    static QStringList localFiles(const QMimeData *data);

signals:
    void filesDropped(const QStringList &paths);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool takesDrop(const QMimeData *data) const;
};

} // namespace quobin
