#pragma once

#include "JobApproval.h"

#include <optional>

class QWidget;

namespace quobin {

// The supervisor's modal approve dialog: what to approve, or nothing when
// cancelled.
class JobApprovalDialog {
public:
    virtual ~JobApprovalDialog() = default;
    virtual std::optional<JobApprovalRequest> ask(QWidget *parent) = 0;
};

// The one shown to the supervisor: name, image file (typed or browsed for),
// serial format, on-error policy, board ID rule and re-flash.
class QtJobApprovalDialog : public JobApprovalDialog {
public:
    std::optional<JobApprovalRequest> ask(QWidget *parent) override;
};

} // namespace quobin
