#pragma once

#include "SlotWindow.h"

#include <QRegularExpression>
#include <QString>

#include <memory>
#include <stdexcept>

namespace quobin {
class SerialPlace;
}

namespace quobin::station {

class StationJob;

// What one board is flashed from: the image, and for an approved job its
// name, version and the settings that came with it.
struct BoardJob {
    std::shared_ptr<const StationJob> job;
    QString name;      // the approved job; empty for a run on a file
    int version = 0;
    ErrorPolicy policy = ErrorPolicy::Stop;
    // Where the serial number lies in this image; null: the run's own place.
    std::shared_ptr<const SerialPlace> serialPlace;
    // What every board's ID matches before it is flashed; empty (no
    // pattern): the job asks for no IDs.
    QRegularExpression boardIdRule;
    // A board whose ID passed before may be flashed again, as a re-flash.
    bool reflashAllowed = false;

    bool wantsBoardIds() const { return !boardIdRule.pattern().isEmpty(); }
};

// The station must take no new board from the job: it was withdrawn, or its
// image is no longer what was approved. reason() says so for the operator.
class JobStopped : public std::runtime_error {
public:
    explicit JobStopped(const QString &reason) : std::runtime_error(reason.toStdString()), m_reason(reason) {}
    QString reason() const { return m_reason; }

private:
    QString m_reason;
};

// Where a station's slots get the job for each board when it is an
// approved one, read from the records database. Thread-safe: every slot
// asks before each board, and the station looks between boards.
class JobSupply {
public:
    virtual ~JobSupply() = default;

    // The job for the next board, its bytes checked against the SHA-256
    // approved. Throws JobStopped, or records::RecordStoreError when the
    // database cannot be read now (the slot tries again).
    virtual BoardJob next() = 0;
    // Looks at the job again while boards are flashed or waited for: throws
    // JobStopped as next() does; notes a new version for stillCurrent().
    virtual void look() = 0;
    // Whether version is still the one a new board gets, as far as the last
    // look or next() knows; cheap enough for every check of the engine.
    virtual bool stillCurrent(int version) const = 0;
};

} // namespace quobin::station
