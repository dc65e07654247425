#include "LineFramer.h"

#include "HexRecord.h"

namespace quobin::sim {

namespace {
const QByteArray request = "@&$";
}

void LineFramer::feed(const QByteArray &bytes, TimePoint now, QList<FramedItem> &out)
{
    if (bytes.isEmpty())
        return;
    if (m_pending.isEmpty())
        m_firstByteAt = now;
    m_pending += bytes;
    m_lastByteAt = now;
    takeComplete(out);
}

void LineFramer::expire(TimePoint now, QList<FramedItem> &out)
{
    if (!m_pending.isEmpty() && now >= m_lastByteAt + m_quietGap)
        take(FramedItem::Line, m_pending.size(), out);
}

std::optional<TimePoint> LineFramer::deadline() const
{
    if (m_pending.isEmpty())
        return std::nullopt;
    return m_lastByteAt + m_quietGap;
}

void LineFramer::clear()
{
    m_pending.clear();
}

void LineFramer::takeComplete(QList<FramedItem> &out)
{
    while (!m_pending.isEmpty()) {
        if (const auto length = HexRecord::expectedLength(m_pending)) {
            if (m_pending.size() < *length)
                return;
            take(FramedItem::Line, *length, out);
        } else if (m_pending.startsWith(request)) {
            take(FramedItem::Request, request.size(), out);
        } else {
            return; // ends on the quiet gap (or is the start of a record or request)
        }
    }
}

void LineFramer::take(FramedItem::Kind kind, qsizetype length, QList<FramedItem> &out)
{
    out.append({kind, m_pending.left(length), m_firstByteAt});
    m_pending.remove(0, length);
    // Whatever follows arrived in the same read; it starts now.
    m_firstByteAt = m_lastByteAt;
}

} // namespace quobin::sim
