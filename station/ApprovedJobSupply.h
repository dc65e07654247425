#pragma once

#include "ApprovedJob.h"
#include "JobSupply.h"

#include <QMap>
#include <QString>

#include <atomic>
#include <mutex>
#include <optional>

namespace quobin::records {
class JobStore;
}

namespace quobin::station {

// The boards' job from an approved job of the records database. Every
// board's image is read from the database and checked against the SHA-256
// approved with it, and against the one this station first read for that
// version: bytes altered in the database behind the job's back stop the
// station before any board gets them. The highest version not withdrawn is
// the one a new board gets; a board in progress finishes on the version it
// began with. A withdrawn job takes no new board. The first version read
// sets the run's serial number format: a later version that writes serials
// otherwise stops the run (its counters would not match).
class ApprovedJobSupply : public JobSupply {
public:
    ApprovedJobSupply(records::JobStore &store, QString name);

    BoardJob next() override;
    void look() override;
    bool stillCurrent(int version) const override { return m_latest.load() == version; }

    // The version the last check found (its image left out); for the front
    // end's heading and the run's serial format.
    records::ApprovedJob details() const;

private:
    // Reads the current version and checks it; with its image, also the
    // image's bytes, and builds the board's job from them.
    BoardJob checked(bool withImage);

    records::JobStore &m_store;
    const QString m_name;
    mutable std::mutex m_mutex;
    std::optional<BoardJob> m_built;
    records::ApprovedJob m_details;
    std::optional<QString> m_serialFormat;
    QMap<int, QString> m_seenSha256;
    std::atomic<int> m_latest{0};
};

// "stop" or "continue" as the policy; nothing for any other text.
std::optional<ErrorPolicy> errorPolicyNamed(const QString &name);

} // namespace quobin::station
