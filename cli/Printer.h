#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <mutex>

namespace quobin::cli {

// How one port's upload ended, as the command line reports it.
struct PortResult {
    QString result;    // success, completed-with-errors, no-response, stopped, ...
    // The window's box text; for completed-with-errors the lines let go and
    // why, for stopped the line and the question answered No.
    QString message;
    QString detail;    // the system's reason for a port, file or transfer failure
    int lines = 0;
    int resends = 0;
    int stale = 0;     // late answers dropped before a line was sent
    double seconds = 0;

    // The message with the detail beside it, as one line for people.
    QString explained() const;
};

// The one owner of stdout. Every port's thread reports through it; it writes
// whole lines, so the ports' output never interleaves.
// - Json: one JSON object per line, each with "port"; nothing else.
// - Live (stdout is a terminal): one line per port, redrawn in place by
//   redraw(), then a summary table.
// - Plain (a pipe or a file): status changes and answers as lines, then the
//   summary table.
class Printer {
public:
    enum class Mode { Json, Live, Plain };

    Printer(Mode mode, QStringList portLabels, std::FILE *out = stdout);

    Mode mode() const { return m_mode; }

    void status(int port, const QString &text);
    void progress(int port, int sent, int total);
    void prompt(int port, const QString &text, bool answer);
    void result(int port, const PortResult &result);

    // A question about to be asked on the terminal, written below the live
    // lines, which go on being redrawn above it while it fits on one line.
    // The returned text is printed by the caller's terminal (stderr in Json
    // mode, where stdout is kept for JSON).
    void beginQuestion(int port, const QString &text);
    // echo: what to write after the question when the answer did not come
    // from a terminal (which echoes it itself); empty for none.
    void endQuestion(bool writeEcho, const QString &echo);

    // Redraws the live lines (Live mode only); called a few times a second.
    void redraw();
    // The table of results, one row per port (not in Json mode).
    void summary();

private:
    struct PortState {
        QString label;
        QString phase;
        int sent = 0;
        int total = 0;
        bool sending = false;
        bool done = false;
        QElapsedTimer sendingSince;
        PortResult result;
    };

    void json(int port, const QList<QPair<QString, QVariant>> &fields);
    QString liveLine(const PortState &state) const;
    void writeLine(const QString &line);

    const Mode m_mode;
    std::FILE *m_out;
    std::mutex m_mutex;
    QList<PortState> m_ports;
    int m_linesDrawn = 0;
    bool m_questionOpen = false;
    int m_questionRows = 0;        // rows the open question takes; 0 when not counted
    int m_questionPort = -1;
    int m_labelWidth = 4;
};

} // namespace quobin::cli
