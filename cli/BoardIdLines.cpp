#include "BoardIdLines.h"

#include <QRegularExpression>

#include <chrono>

namespace quobin::cli {

namespace {

// "Com 3", "com3" and "COM 3" name the same slot.
QString plain(const QString &name)
{
    QString text = name.toLower();
    text.remove(QRegularExpression(QStringLiteral("\\s+")));
    return text;
}

} // namespace

BoardIdLines::BoardIdLines(QList<SlotName> slotNames, std::function<void(const QString &, const QString &)> refused)
    : m_slots(std::move(slotNames)), m_refused(std::move(refused))
{
}

int BoardIdLines::slotNamed(const QString &text) const
{
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber)
        return number >= 1 && number <= m_slots.size() ? number - 1 : -1;
    for (int i = 0; i < m_slots.size(); ++i) {
        if (plain(m_slots[i].label) == plain(text) || m_slots[i].path == text)
            return i;
    }
    return -1;
}

void BoardIdLines::feed(const QString &line)
{
    const QString text = line.trimmed();
    if (text.isEmpty())
        return;
    const qsizetype space = text.lastIndexOf(QRegularExpression(QStringLiteral("\\s")));
    std::unique_lock lock(m_mutex);
    if (space < 0) {
        m_forAny << text;
    } else {
        const QString name = text.left(space).trimmed();
        const QString id = text.mid(space + 1);
        const int slot = slotNamed(name);
        if (slot < 0) {
            lock.unlock();
            m_refused(text, QStringLiteral("no slot is named '%1': give the slot's number (1 to %2) or its name,"
                                           " then the ID, or the ID alone")
                                .arg(name)
                                .arg(m_slots.size()));
            return;
        }
        m_forSlot[slot] << id;
    }
    route();
    m_arrived.notify_all();
}

void BoardIdLines::end()
{
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_arrived.notify_all();
}

// With the mutex held.
void BoardIdLines::route()
{
    while (!m_forAny.isEmpty()) {
        int lowest = -1;
        for (int slot : std::as_const(m_waiting)) {
            if (m_forSlot.value(slot).isEmpty() && (lowest < 0 || slot < lowest))
                lowest = slot;
        }
        if (lowest < 0)
            return;
        m_forSlot[lowest] << m_forAny.takeFirst();
    }
}

std::optional<QString> BoardIdLines::take(int slot, int msecs)
{
    std::unique_lock lock(m_mutex);
    if (!m_waiting.contains(slot)) {
        m_waiting.insert(slot);
        route();
    }
    m_arrived.wait_for(lock, std::chrono::milliseconds(msecs), [&] {
        route();
        return !m_forSlot.value(slot).isEmpty() || m_ended;
    });
    QStringList &mine = m_forSlot[slot];
    if (mine.isEmpty())
        return std::nullopt;
    return mine.takeFirst();
}

void BoardIdLines::stopWaiting(int slot)
{
    std::lock_guard lock(m_mutex);
    m_waiting.remove(slot);
}

bool BoardIdLines::closed(int slot) const
{
    std::lock_guard lock(m_mutex);
    return m_ended && m_forSlot.value(slot).isEmpty() && m_forAny.isEmpty();
}

} // namespace quobin::cli
