#include "Printer.h"

#include "TerminalColumns.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

#include <cmath>

namespace quobin::cli {

namespace {

constexpr int kBarWidth = 24;

QString minutesAndSeconds(double seconds)
{
    const int whole = int(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// Columns kept free after a question for the answer being typed.
constexpr int kAnswerRoom = 8;

// text in rows of at most width characters, broken at spaces where it can be.
QStringList wrapped(const QString &text, int width)
{
    QStringList rows;
    QString row;
    for (const QString &word : text.split(QLatin1Char(' '))) {
        QString rest = word;
        if (!row.isEmpty() && row.size() + 1 + rest.size() > width) {
            rows << row;
            row.clear();
        }
        while (rest.size() > width) {
            rows << rest.left(width);
            rest = rest.mid(width);
        }
        row += (row.isEmpty() ? QString() : QStringLiteral(" ")) + rest;
    }
    rows << row;
    return rows;
}

QString fixed(double value, int decimals)
{
    // Always a full stop, whatever the locale says.
    return QString::number(value, 'f', decimals);
}

} // namespace

QString PortResult::explained() const
{
    if (detail.isEmpty())
        return message;
    if (message.isEmpty())
        return detail;
    return message + QStringLiteral(" (") + detail + QLatin1Char(')');
}

Printer::Printer(Mode mode, QStringList portLabels, std::FILE *out) : m_mode(mode), m_out(out)
{
    for (const QString &label : portLabels) {
        PortState state;
        state.label = label;
        state.phase = QStringLiteral("starting");
        m_ports << state;
        m_labelWidth = qMax(m_labelWidth, int(label.size()));
    }
}

void Printer::status(int port, const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_ports[port].phase = text.trimmed();
    if (m_mode == Mode::Json)
        json(port, {{QStringLiteral("event"), QStringLiteral("status")}, {QStringLiteral("text"), text}});
    else if (m_mode == Mode::Plain)
        writeLine(m_ports[port].label + QStringLiteral(": ") + text.trimmed());
}

void Printer::progress(int port, int sent, int total)
{
    std::lock_guard lock(m_mutex);
    PortState &state = m_ports[port];
    if (!state.sending) {
        state.sending = true;
        state.sendingSince.start();
    }
    state.sent = sent;
    state.total = total;
    if (m_mode == Mode::Json)
        json(port, {{QStringLiteral("event"), QStringLiteral("progress")},
                    {QStringLiteral("sent"), sent},
                    {QStringLiteral("total"), total}});
}

void Printer::prompt(int port, const QString &text, bool answer)
{
    std::lock_guard lock(m_mutex);
    const QString said = answer ? QStringLiteral("yes") : QStringLiteral("no");
    if (m_mode == Mode::Json)
        json(port, {{QStringLiteral("event"), QStringLiteral("prompt")},
                    {QStringLiteral("text"), text},
                    {QStringLiteral("answer"), said}});
    else if (m_mode == Mode::Plain)
        writeLine(m_ports[port].label + QStringLiteral(": ") + text + QStringLiteral(" -> ") + said);
}

void Printer::result(int port, const PortResult &result)
{
    std::lock_guard lock(m_mutex);
    PortState &state = m_ports[port];
    state.done = true;
    state.result = result;
    state.phase = result.result;
    if (m_mode == Mode::Json)
        json(port, {{QStringLiteral("event"), QStringLiteral("result")},
                    {QStringLiteral("result"), result.result},
                    {QStringLiteral("message"), result.message},
                    {QStringLiteral("detail"), result.detail},
                    {QStringLiteral("lines"), result.lines},
                    {QStringLiteral("resends"), result.resends},
                    {QStringLiteral("stale"), result.stale},
                    {QStringLiteral("seconds"), std::round(result.seconds * 1000) / 1000}});
    else if (m_mode == Mode::Plain)
        writeLine(state.label + QStringLiteral(": ") + result.result
                  + (result.explained().isEmpty() ? QString() : QStringLiteral(": ") + result.explained()));
}

void Printer::beginQuestion(int port, const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_questionOpen = true;
    m_questionPort = port;
    std::FILE *to = m_mode == Mode::Json ? stderr : m_out;
    const QString question = m_ports[port].label + QStringLiteral(": ") + text + QStringLiteral(" [y/N] ");
    // On a terminal the question is broken into rows that fit, with room
    // left for the answer, so that the rows between it and the live lines
    // can be counted and those lines go on being redrawn above it.
    const int columns = m_mode == Mode::Live ? terminalColumns(m_out) : 0;
    const QStringList rows = columns > kAnswerRoom * 2 ? wrapped(question, columns - kAnswerRoom)
                                                       : QStringList{question};
    m_questionRows = columns > kAnswerRoom * 2 ? int(rows.size()) : 0;
    std::fputs(rows.join(QLatin1Char('\n')).toUtf8().constData(), to);
    std::fflush(to);
}

void Printer::endQuestion(bool writeEcho, const QString &echo)
{
    std::lock_guard lock(m_mutex);
    if (writeEcho) {
        std::FILE *to = m_mode == Mode::Json ? stderr : m_out;
        std::fputs((echo + QLatin1Char('\n')).toUtf8().constData(), to);
        std::fflush(to);
    }
    m_questionOpen = false;
    // The live lines start afresh below the answered question.
    m_linesDrawn = 0;
}

void Printer::redraw()
{
    std::lock_guard lock(m_mutex);
    if (m_mode != Mode::Live)
        return;
    // A line wider than the terminal would wrap and spoil the count of
    // lines to go back up: cut it short.
    const int columns = terminalColumns(m_out);
    const int width = columns > 1 ? columns - 1 : -1;
    QString lines;
    for (int port = 0; port < m_ports.size(); ++port) {
        const bool asked = m_questionOpen && port == m_questionPort;
        const QString line = asked ? m_ports[port].label.leftJustified(m_labelWidth)
                                         + QStringLiteral("  waiting for your answer below")
                                   : liveLine(m_ports[port]);
        lines += QStringLiteral("\r\x1b[K") + line.left(width) + QLatin1Char('\n');
    }

    QString block;
    if (m_questionOpen) {
        // The other ports go on while a question waits on the rows below
        // their live lines: redraw those above it and put the cursor back
        // where the answer is being typed. Not when the rows to go up could
        // not be counted (the terminal's width unknown).
        if (m_linesDrawn == 0 || m_questionRows == 0)
            return;
        block = QStringLiteral("\x1b""7\x1b[%1A").arg(m_linesDrawn + m_questionRows - 1) + lines
                + QStringLiteral("\x1b""8");
    } else {
        if (m_linesDrawn > 0)
            block = QStringLiteral("\x1b[%1A").arg(m_linesDrawn);
        block += lines;
        m_linesDrawn = int(m_ports.size());
    }
    std::fputs(block.toUtf8().constData(), m_out);
    std::fflush(m_out);
}

QString Printer::liveLine(const PortState &state) const
{
    QString line = state.label.leftJustified(m_labelWidth) + QStringLiteral("  ");
    if (!state.sending || state.done) {
        line += state.phase.left(60);
        if (state.done && !state.result.explained().isEmpty())
            line += QStringLiteral(" (") + state.result.explained() + QLatin1Char(')');
        return line;
    }
    const int total = qMax(state.total, 1);
    const int filled = qBound(0, state.sent * kBarWidth / total, kBarWidth);
    const double seconds = state.sendingSince.elapsed() / 1000.0;
    const double rate = seconds > 0.2 ? state.sent / seconds : 0;
    line += QStringLiteral("sending [") + QString(filled, QLatin1Char('#'))
            + QString(kBarWidth - filled, QLatin1Char('.')) + QStringLiteral("] ")
            + QStringLiteral("%1/%2").arg(state.sent).arg(state.total);
    if (rate > 0)
        line += QStringLiteral("  %1 lines/s  ETA %2")
                    .arg(fixed(rate, 0), minutesAndSeconds(qMax(0, state.total - state.sent) / rate));
    return line;
}

void Printer::summary()
{
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Json)
        return;
    const QStringList header = {QStringLiteral("PORT"), QStringLiteral("RESULT"), QStringLiteral("LINES"),
                                QStringLiteral("RESENDS"), QStringLiteral("SECONDS"), QStringLiteral("MESSAGE")};
    QList<QStringList> rows{header};
    for (const PortState &state : m_ports)
        rows << QStringList{state.label, state.result.result, QString::number(state.result.lines),
                            QString::number(state.result.resends), fixed(state.result.seconds, 1),
                            state.result.explained()};
    QList<int> widths(header.size(), 0);
    for (const QStringList &row : rows)
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], int(row[i].size()));
    writeLine(QString());
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        writeLine(line.trimmed());
    }
}

void Printer::json(int port, const QList<QPair<QString, QVariant>> &fields)
{
    QJsonObject object;
    object.insert(QStringLiteral("port"), m_ports[port].label);
    for (const auto &field : fields)
        object.insert(field.first, QJsonValue::fromVariant(field.second));
    writeLine(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void Printer::writeLine(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), m_out);
    std::fflush(m_out);
}

} // namespace quobin::cli
