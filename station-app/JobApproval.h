#pragma once

#include "ApprovedJob.h"

#include <QString>

#include <stdexcept>

namespace quobin {

// What a supervisor fills in to approve a job at the station window, as
// quobin-cli job approve takes it.
struct JobApprovalRequest {
    QString name;
    QString imagePath;
    QString serialFormat;                        // empty: no serial numbers
    QString onError = QStringLiteral("stop");    // stop or continue
    QString boardIdRule;                         // empty: no board IDs
    bool reflashAllowed = false;

    bool operator==(const JobApprovalRequest &) const = default;
};

// A request that cannot become a job; what() says why, for the supervisor.
class JobApprovalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The job to store: the image read and checked as a station reads it, the
// serial format found in it, the board ID rule checked. Throws
// JobApprovalError.
records::ApprovedJob jobToApprove(const JobApprovalRequest &request);

} // namespace quobin
