#pragma once

#include "Recording.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <optional>

namespace quobin::sim {

// What the bootloader makes of the bytes the host sends without any
// end-of-line: "@&$" requests and firmware lines.
struct FramedItem {
    enum Kind { Request, Line };
    Kind kind;
    QByteArray text;
    TimePoint firstByteAt;
};

// Delimits the bootloader's input. An Intel HEX record ends when its byte
// count says it is complete, "@&$" after its third character; anything else,
// and a record cut short, ends after a quiet gap.
class LineFramer {
public:
    explicit LineFramer(std::chrono::milliseconds quietGap) : m_quietGap(quietGap) {}

    // Adds bytes read at now and appends every item they complete to out.
    void feed(const QByteArray &bytes, TimePoint now, QList<FramedItem> &out);
    // Ends a pending item whose quiet gap has passed by now.
    void expire(TimePoint now, QList<FramedItem> &out);
    // When the pending item would end for quiet, if any is pending.
    std::optional<TimePoint> deadline() const;
    void clear();

private:
    void takeComplete(QList<FramedItem> &out);
    void take(FramedItem::Kind kind, qsizetype length, QList<FramedItem> &out);

    std::chrono::milliseconds m_quietGap;
    QByteArray m_pending;
    TimePoint m_firstByteAt;
    TimePoint m_lastByteAt;
};

} // namespace quobin::sim
