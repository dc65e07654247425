#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace quobin::records {

// One version of a job as a supervisor approved it: the image itself, what
// is known of it, and the settings that belong to it. Never changed once
// approved; a withdrawal only marks it (who, when).
struct ApprovedJob {
    QString name;
    int version = 0;            // 1, 2, 3, ... per name
    QString fileName;           // the file the image was read from, for the records
    QByteArray image;           // empty when read without the image
    QString sha256;             // lower-case hex of image
    int lines = 0;              // the lines that go over the wire
    qint64 size = 0;            // bytes
    QString serialFormat;       // SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], empty for none
    QString onError;            // stop or continue
    // A regular expression that every board's ID (its label) matches; the
    // station asks for each board's ID before flashing it. Empty: no IDs.
    QString boardIdRule;
    // A board whose ID passed before may be flashed again (recorded as a
    // re-flash); otherwise it is refused.
    bool reflashAllowed = false;
    QString approvedBy;
    QDateTime approved;         // UTC
    QString withdrawnBy;        // empty while not withdrawn
    QDateTime withdrawn;

    bool isWithdrawn() const { return !withdrawnBy.isEmpty() || withdrawn.isValid(); }
};

} // namespace quobin::records
