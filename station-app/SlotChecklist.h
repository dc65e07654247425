#pragma once

#include "SlotCandidates.h"

#include <QList>
#include <QScrollArea>
#include <QStringList>

class QCheckBox;
class QVBoxLayout;

namespace quobin {

// The slots to choose from, one tick box each, in a column that scrolls
// when there are many. A tick box is what a screen reader knows how to
// tick: its action ticks it, it is heard as ticked, and it announces the
// change. Space ticks the box that has the focus; it does not start the
// station here.
class SlotChecklist : public QScrollArea {
    Q_OBJECT

public:
    explicit SlotChecklist(QWidget *parent = nullptr);

    // One box per candidate, in order, ticked when its port is in ticked.
    void setSlots(const QList<SlotCandidate> &candidates, const QStringList &ticked);

    int count() const { return int(m_boxes.size()); }
    QCheckBox *box(int index) const { return m_boxes.at(index); }
    QString port(int index) const { return m_ports.at(index); }
    // The ports ticked, in the order listed.
    QStringList tickedPorts() const;

    // The first and last boxes, for the tab order around the list; null
    // when there are none.
    QWidget *firstBox() const;
    QWidget *lastBox() const;

signals:
    // The boxes were made afresh.
    void slotsListed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_column;
    QVBoxLayout *m_layout;
    QList<QCheckBox *> m_boxes;
    QStringList m_ports;
};

} // namespace quobin
