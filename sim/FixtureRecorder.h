#pragma once

#include "Recording.h"

#include <QList>
#include <QString>

namespace quobin::sim {

// Keeps a folder up to date with what a fixture's boards received:
// board-N.hex holds the lines board N took into its flash, each ended by
// CR LF, as a firmware file is written (so a passing board's file equals the
// image sent), and fixture.json the counts and each board's SHA-256:
//   {"boards":3,"mainCodeCommands":1,"uploads":3,"boardImages":[{"board":1,
//    "lines":3001,"linesReceived":3002,"completed":true,"sha256":"..."}]}
// Both are replaced whole (written aside, then renamed), so a reader never
// sees half a file.
class FixtureRecorder {
public:
    explicit FixtureRecorder(QString folder); // throws SimulatorError

    // Writes what changed since the last call. Throws SimulatorError.
    void update(const QList<BoardLog> &boards, int mainCodeCommands, int uploads);

    static QByteArray imageOf(const BoardLog &board);

private:
    void replaceFile(const QString &name, const QByteArray &bytes);

    QString m_folder;
    QList<BoardLog> m_written;
    int m_mainCodeCommands = -1;
    int m_uploads = -1;
};

} // namespace quobin::sim
