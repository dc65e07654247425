#pragma once

#include "BoardLog.h"

#include <QString>

namespace quobin::cli {

// --log-dir: one --log-style file per board, named after the slot and the
// time the attempt began, e.g. Com_3-20261208T101500.123Z.log.
class BoardLogFiles : public station::BoardLogFactory {
public:
    // Throws std::runtime_error when the folder cannot be made or written.
    explicit BoardLogFiles(QString folder);

    std::unique_ptr<station::BoardLog> open(const QString &slotLabel, SerialPort &port) override;

private:
    QString m_folder;
};

} // namespace quobin::cli
