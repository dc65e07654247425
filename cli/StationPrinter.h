#pragma once

#include "StationObserver.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <mutex>
#include <optional>

namespace quobin::cli {

// The station on stdout, which it alone writes.
// - Json: one JSON object per line, each with "slot" (null for the
//   station's own): job, board-start, status, progress, record (the whole
//   record), warning, records-waiting, summary; with board IDs also
//   board-id-wanted, board-id-refused (id, reason) and board-id (id, reflash).
// - Live (a terminal): a header with the job and the counts, one line per
//   slot redrawn in place, and the bell: once at a pass, three times at a
//   failure.
// - Plain (a pipe or a file): the header once, then a line per event that
//   matters (state changes, results), with the bell as on a terminal.
class StationPrinter : public station::StationObserver {
public:
    enum class Mode { Json, Live, Plain };

    // approvedJob: "NAME version N" of an approved job, empty for a file;
    // the header shows it before the file, the JSON job event as "job".
    StationPrinter(Mode mode, QStringList slotLabels, QString jobFile, QString jobSha256,
                   std::FILE *out = stdout, QString approvedJob = {});

    // The adapter a slot opens, for its live line.
    void setAdapter(int slot, const QString &adapter);

    void boardStarted(int slot) override;
    void slotStatus(int slot, station::SlotState state, const QString &text) override;
    void progress(int slot, int sent, int total) override;
    void recorded(int slot, const records::BoardRecord &record, const station::StationCounts &counts) override;
    void warning(const QString &text) override;
    void recordsWaiting(int count, const QString &reason) override;
    void tick(const station::StationCounts &counts) override;
    void serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last) override;
    void nextSerial(std::optional<quint64> number) override;
    void boardIdWanted(int slot) override;
    void boardIdRefused(int slot, const QString &id, const QString &reason) override;
    void boardIdTaken(int slot, const QString &id, bool reflash) override;
    // A line of board IDs that names no slot.
    void boardIdLineRefused(const QString &line, const QString &reason);

    // A run with serial numbers: the series, and its next number for the header.
    void setSeries(const QString &series, std::optional<quint64> next);

    // The end of the run: the counts, and why it ended.
    void summary(const station::StationCounts &counts, const QString &end);

private:
    struct SlotLine {
        QString label;
        QString adapter;
        station::SlotState state = station::SlotState::Waiting;
        QString text = QStringLiteral("starting");
        QString lastResult; // PASS or FAIL and why, shown until the next board starts
        int sent = 0;
        int total = 0;
        int passed = 0;
        int failed = 0;
        std::optional<quint64> serial;     // the board in progress
        std::optional<quint64> lastSerial; // the slot's last good board
        QString boardId;                   // of the board waited for or in progress
    };

    QString header(const station::StationCounts &counts) const;
    QString liveLine(const SlotLine &line) const;
    QString waitingText() const;
    void redraw(const station::StationCounts &counts);
    void json(int slot, const QString &event, QJsonObject fields);
    void writeJson(QJsonObject object);
    void writeLine(const QString &line);
    void bell(int times);

    const Mode m_mode;
    const QString m_jobFile;
    const QString m_approvedJob;
    const QString m_jobSha256;
    std::FILE *m_out;
    std::mutex m_mutex;
    QList<SlotLine> m_slots;
    station::StationCounts m_counts;
    int m_recordsWaiting = 0;
    QString m_serverProblem; // why the records wait
    int m_linesDrawn = 0;
    int m_labelWidth = 4;
    int m_adapterWidth = 0;
    QString m_series;
    std::optional<quint64> m_nextSerial;
};

} // namespace quobin::cli
