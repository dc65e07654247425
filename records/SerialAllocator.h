#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <stdexcept>

namespace quobin::records {

// The series has no number left within its width; the message says so.
class SerialsRunOut : public std::runtime_error {
public:
    explicit SerialsRunOut(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// Hands a station's boards their serial numbers. A number is spent when its
// board passes; a board that fails gives its number back, and the next board
// gets it. Every method may be called from any slot's thread.
class SerialAllocator {
public:
    // What take() found.
    struct Take {
        std::optional<quint64> number;
        // Without a number: why, for the operator. The slot waits and asks
        // again, unless runOut says the series has ended.
        QString problem;
        bool runOut = false;
    };

    virtual ~SerialAllocator() = default;

    // Before the first board: throws SerialsRunOut when the series has no
    // number left, RecordStoreError when its counter cannot be used at all.
    virtual void prepare() = 0;
    // The number for the next board.
    virtual Take take() = 0;
    // The board with number passed: the number is spent.
    virtual void passed(quint64 number) = 0;
    // The board with number failed (or was cancelled): the next board gets it.
    virtual void failed(quint64 number) = 0;
    // The number the next board gets, as far as it is known now.
    virtual std::optional<quint64> next() const = 0;
    // The run is over: numbers taken and not used are given back where the
    // counter allows it.
    virtual void finish() {}
};

} // namespace quobin::records
