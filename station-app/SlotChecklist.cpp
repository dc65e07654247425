#include "SlotChecklist.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace quobin {

SlotChecklist::SlotChecklist(QWidget *parent)
    : QScrollArea(parent), m_column(new QWidget), m_layout(new QVBoxLayout(m_column))
{
    m_layout->setContentsMargins(4, 4, 4, 4);
    m_layout->setSpacing(2);
    m_layout->addStretch(1);
    setWidget(m_column);
    setWidgetResizable(true);
    // The boxes take the focus, one by one; the frame around them does not.
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Slots"));
}

void SlotChecklist::setSlots(const QList<SlotCandidate> &candidates, const QStringList &ticked)
{
    qDeleteAll(m_boxes);
    m_boxes.clear();
    m_ports.clear();
    for (const SlotCandidate &candidate : candidates) {
        const QString text = candidate.description.isEmpty()
            ? candidate.port
            : candidate.port + QStringLiteral("  \u2014  ") + candidate.description;
        // An ampersand in a description is shown, not taken for a mnemonic.
        auto *box = new QCheckBox(QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")), m_column);
        box->setAccessibleName(text);
        box->setChecked(ticked.contains(candidate.port));
        box->installEventFilter(this);
        m_layout->insertWidget(m_layout->count() - 1, box);
        m_boxes.append(box);
        m_ports.append(candidate.port);
    }
    // The label's mnemonic, and focus given to the list, go to its first box.
    setFocusProxy(m_boxes.isEmpty() ? nullptr : m_boxes.first());
    emit slotsListed();
}

QStringList SlotChecklist::tickedPorts() const
{
    QStringList ports;
    for (int i = 0; i < m_boxes.size(); ++i)
        if (m_boxes[i]->isChecked())
            ports << m_ports[i];
    return ports;
}

QWidget *SlotChecklist::firstBox() const
{
    return m_boxes.isEmpty() ? nullptr : m_boxes.first();
}

QWidget *SlotChecklist::lastBox() const
{
    return m_boxes.isEmpty() ? nullptr : m_boxes.last();
}

bool SlotChecklist::eventFilter(QObject *watched, QEvent *event)
{
    // Space ticks the box with the focus here; it starts the station
    // everywhere else.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    if (event->type() == QEvent::FocusIn)
        ensureWidgetVisible(static_cast<QWidget *>(watched));
    return QScrollArea::eventFilter(watched, event);
}

} // namespace quobin
