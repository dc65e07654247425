#pragma once

#include "SlotView.h"

#include <QWidget>

class QLabel;

namespace quobin {

class FittedLabel;

// Above the tiles: the job's name and SHA prefix, the totals, the first-pass
// yield and the boards per hour. To a screen reader it is "Totals",
// described by the counts as shown.
class RunHeader : public QWidget {
    Q_OBJECT

public:
    explicit RunHeader(QWidget *parent = nullptr);

    void setTotals(const RunTotals &totals);
    // "3 records waiting for the server"; hidden when empty.
    void setNotice(const QString &notice);

    QLabel *jobLabel() const;
    QLabel *totalsLabel() const;
    QLabel *noticeLabel() const;

private:
    FittedLabel *m_job;
    FittedLabel *m_totals;
    FittedLabel *m_notice;
};

} // namespace quobin
