#include "StationPrinter.h"

#include "LogText.h"
#include "TerminalColumns.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "RecordJson.h"

#include <cmath>

namespace quobin::cli {

using station::SlotState;
using station::StationCounts;

namespace {

// Always a full stop, whatever the locale says.
QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString stateName(SlotState state)
{
    switch (state) {
    case SlotState::NoAdapter: return QStringLiteral("no-adapter");
    case SlotState::PortTrouble: return QStringLiteral("port-trouble");
    case SlotState::Waiting: return QStringLiteral("waiting");
    case SlotState::WaitingForId: return QStringLiteral("waiting-for-board-id");
    case SlotState::Noisy: return QStringLiteral("noisy");
    case SlotState::Flashing: return QStringLiteral("flashing");
    case SlotState::Passed: return QStringLiteral("pass");
    case SlotState::Failed: return QStringLiteral("fail");
    case SlotState::Unsaved: return QStringLiteral("not-saved");
    case SlotState::Stopped: return QStringLiteral("stopped");
    }
    return {};
}

// value rounded to decimals places, as the double nearest to that decimal:
// dividing by a power of ten (not multiplying by 0.1) keeps 5250.4 from
// printing as 5250.400000000001.
double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

using records::serialJson;

} // namespace

StationPrinter::StationPrinter(Mode mode, QStringList slotLabels, QString jobFile, QString jobSha256,
                               std::FILE *out, QString approvedJob)
    : m_mode(mode), m_jobFile(std::move(jobFile)), m_approvedJob(std::move(approvedJob)),
      m_jobSha256(std::move(jobSha256)), m_out(out)
{
    for (const QString &label : slotLabels) {
        SlotLine line;
        line.label = label;
        m_slots << line;
        m_labelWidth = qMax(m_labelWidth, int(label.size()));
    }
    if (m_mode == Mode::Plain)
        writeLine(header(m_counts));
    if (m_mode == Mode::Json) {
        QJsonObject object{{QStringLiteral("event"), QStringLiteral("job")}, {QStringLiteral("slot"), QJsonValue::Null},
                           {QStringLiteral("jobFile"), m_jobFile}, {QStringLiteral("jobSha256"), m_jobSha256}};
        if (!m_approvedJob.isEmpty())
            object.insert(QStringLiteral("job"), m_approvedJob);
        writeJson(object);
    }
}

void StationPrinter::setAdapter(int slot, const QString &adapter)
{
    std::lock_guard lock(m_mutex);
    m_slots[slot].adapter = adapter;
    m_adapterWidth = qMax(m_adapterWidth, int(adapter.size()));
}

void StationPrinter::boardStarted(int slot)
{
    std::lock_guard lock(m_mutex);
    SlotLine &line = m_slots[slot];
    line.state = SlotState::Flashing;
    line.text = QStringLiteral("board found");
    line.lastResult.clear();
    line.sent = 0;
    line.total = 0;
    if (m_mode == Mode::Json)
        json(slot, QStringLiteral("board-start"), {});
    else if (m_mode == Mode::Plain)
        writeLine(line.label + QStringLiteral(": board found"));
}

void StationPrinter::slotStatus(int slot, SlotState state, const QString &text)
{
    std::lock_guard lock(m_mutex);
    SlotLine &line = m_slots[slot];
    const bool news = state != line.state || state != SlotState::Flashing;
    line.state = state;
    line.text = text;
    if (state == SlotState::Passed || state == SlotState::Failed)
        line.lastResult = text;
    if (m_mode == Mode::Json) {
        json(slot, QStringLiteral("status"), {{QStringLiteral("state"), stateName(state)},
                                              {QStringLiteral("text"), text}});
    } else if (m_mode == Mode::Plain && news && state != SlotState::Passed && state != SlotState::Failed) {
        // Results have their own line, written with the record.
        writeLine(line.label + QStringLiteral(": ") + text);
    }
}

void StationPrinter::progress(int slot, int sent, int total)
{
    std::lock_guard lock(m_mutex);
    m_slots[slot].sent = sent;
    m_slots[slot].total = total;
    if (m_mode == Mode::Json)
        json(slot, QStringLiteral("progress"), {{QStringLiteral("sent"), sent}, {QStringLiteral("total"), total}});
}

void StationPrinter::recorded(int slot, const records::BoardRecord &record, const StationCounts &counts)
{
    std::lock_guard lock(m_mutex);
    SlotLine &line = m_slots[slot];
    // A no-response is counted apart from the boards, in the header; a
    // cancelled board is neither passed nor failed.
    if (record.passed())
        ++line.passed;
    else if (!record.cancelled() && record.result != QLatin1String("no-response"))
        ++line.failed;
    m_counts = counts;
    line.boardId.clear();
    if (m_mode == Mode::Json) {
        json(slot, QStringLiteral("record"), {{QStringLiteral("record"), records::recordJson(record)}});
        return;
    }
    if (m_mode == Mode::Plain) {
        QString text = line.label + QStringLiteral(": ") + (record.passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
            + QLatin1Char(' ') + record.result;
        if (!record.boardId.isEmpty())
            text += QStringLiteral(" board %1%2").arg(record.boardId, record.reflash ? QStringLiteral(" (re-flash)") : QString());
        if (record.serial)
            text += QStringLiteral(" serial %1").arg(*record.serial);
        if (!record.message.isEmpty())
            text += QStringLiteral(": ") + record.message;
        writeLine(text + QStringLiteral("  (") + header(counts) + QLatin1Char(')'));
    }
    bell(record.passed() ? 1 : 3);
}

void StationPrinter::boardIdWanted(int slot)
{
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Json)
        json(slot, QStringLiteral("board-id-wanted"), {});
}

// On a terminal and in a file the slot's status says it: "refused ID:
// reason; waiting for board ID".
void StationPrinter::boardIdRefused(int slot, const QString &id, const QString &reason)
{
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Json)
        json(slot, QStringLiteral("board-id-refused"), {{QStringLiteral("id"), id}, {QStringLiteral("reason"), reason}});
    else
        bell(3);
}

void StationPrinter::boardIdTaken(int slot, const QString &id, bool reflash)
{
    std::lock_guard lock(m_mutex);
    SlotLine &line = m_slots[slot];
    line.boardId = id;
    if (m_mode == Mode::Json)
        json(slot, QStringLiteral("board-id"), {{QStringLiteral("id"), id}, {QStringLiteral("reflash"), reflash}});
    else if (m_mode == Mode::Plain)
        writeLine(QStringLiteral("%1: board ID %2%3, waiting for the board")
                      .arg(line.label, id, reflash ? QStringLiteral(" (re-flash)") : QString()));
}

void StationPrinter::boardIdLineRefused(const QString &line, const QString &reason)
{
    if (m_mode != Mode::Json) {
        warning(QStringLiteral("board ID line '%1' refused: %2").arg(line, reason));
        return;
    }
    std::lock_guard lock(m_mutex);
    {
        writeJson(QJsonObject{{QStringLiteral("event"), QStringLiteral("board-id-refused")},
                              {QStringLiteral("slot"), QJsonValue::Null},
                              {QStringLiteral("id"), line},
                              {QStringLiteral("reason"), reason}});
    }
}

void StationPrinter::warning(const QString &text)
{
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Json) {
        QJsonObject object{{QStringLiteral("event"), QStringLiteral("warning")}, {QStringLiteral("slot"), QJsonValue::Null},
                           {QStringLiteral("text"), text}};
        writeJson(object);
        return;
    }
    // Above the live lines, which start afresh below it.
    if (m_mode == Mode::Live && m_linesDrawn > 0) {
        std::fputs(QStringLiteral("\x1b[%1A\r\x1b[J").arg(m_linesDrawn).toUtf8().constData(), m_out);
        m_linesDrawn = 0;
    }
    writeLine(QStringLiteral("warning: ") + text);
}

void StationPrinter::recordsWaiting(int count, const QString &reason)
{
    std::lock_guard lock(m_mutex);
    m_recordsWaiting = count;
    m_serverProblem = reason;
    if (m_mode == Mode::Json) {
        QJsonObject object{{QStringLiteral("event"), QStringLiteral("records-waiting")},
                           {QStringLiteral("slot"), QJsonValue::Null}, {QStringLiteral("count"), count}};
        if (!reason.isEmpty())
            object.insert(QStringLiteral("reason"), reason);
        writeJson(object);
    } else if (m_mode == Mode::Plain) {
        writeLine(count > 0 ? waitingText() : QStringLiteral("every record has reached the server"));
    }
}

// "N records waiting for the server", and why they wait when it is known.
QString StationPrinter::waitingText() const
{
    QString text = QStringLiteral("%1 records waiting for the server").arg(m_recordsWaiting);
    if (!m_serverProblem.isEmpty())
        text += QStringLiteral(": ") + m_serverProblem;
    return text;
}

void StationPrinter::tick(const StationCounts &counts)
{
    std::lock_guard lock(m_mutex);
    m_counts = counts;
    if (m_mode == Mode::Live)
        redraw(counts);
}

void StationPrinter::setSeries(const QString &series, std::optional<quint64> next)
{
    std::lock_guard lock(m_mutex);
    m_series = series;
    m_nextSerial = next;
}

void StationPrinter::serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last)
{
    std::lock_guard lock(m_mutex);
    SlotLine &line = m_slots[slot];
    line.serial = inProgress;
    line.lastSerial = last;
    if (m_mode == Mode::Json) {
        json(slot, QStringLiteral("serial"),
             {{QStringLiteral("series"), m_series},
              {QStringLiteral("serial"), serialJson(inProgress)},
              {QStringLiteral("last"), serialJson(last)}});
    }
}

void StationPrinter::nextSerial(std::optional<quint64> number)
{
    std::lock_guard lock(m_mutex);
    m_nextSerial = number;
}

void StationPrinter::summary(const StationCounts &counts, const QString &end)
{
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Json) {
        QJsonObject object{
            {QStringLiteral("event"), QStringLiteral("summary")},
            {QStringLiteral("slot"), QJsonValue::Null},
            {QStringLiteral("end"), end},
            {QStringLiteral("jobFile"), m_jobFile},
            {QStringLiteral("jobSha256"), m_jobSha256},
            {QStringLiteral("passed"), counts.passed},
            {QStringLiteral("failed"), counts.failed},
            {QStringLiteral("cancelled"), counts.cancelled},
            {QStringLiteral("noResponse"), counts.noResponse},
            {QStringLiteral("firstPassYield"), rounded(counts.firstPassYield(), 4)},
            {QStringLiteral("boardsPerHour"), rounded(counts.boardsPerHour(), 1)},
            {QStringLiteral("recordsWaiting"), m_recordsWaiting},
        };
        writeJson(object);
        return;
    }
    if (m_mode == Mode::Live)
        redraw(counts);
    writeLine(QString());
    writeLine(header(counts));
    for (const SlotLine &line : std::as_const(m_slots))
        writeLine(QStringLiteral("  %1  passed %2  failed %3")
                      .arg(line.label.leftJustified(m_labelWidth)).arg(line.passed).arg(line.failed));
    writeLine(QStringLiteral("station ") + end);
}

QString StationPrinter::header(const StationCounts &counts) const
{
    QString text = QStringLiteral("%1  SHA-256 %2  passed %3  failed %4  yield %5 %  %6 boards/h")
                       .arg(m_approvedJob.isEmpty() ? m_jobFile : QStringLiteral("job %1 (%2)").arg(m_approvedJob, m_jobFile),
                            m_jobSha256.left(12))
                       .arg(counts.passed)
                       .arg(counts.failed)
                       .arg(fixed(counts.firstPassYield() * 100, 1), fixed(counts.boardsPerHour(), 1));
    if (counts.cancelled > 0)
        text += QStringLiteral("  cancelled %1").arg(counts.cancelled);
    if (counts.noResponse > 0)
        text += QStringLiteral("  no response %1").arg(counts.noResponse);
    if (m_recordsWaiting > 0)
        text += QStringLiteral("  ") + waitingText();
    if (!m_series.isEmpty())
        text += QStringLiteral("  next serial %1 %2").arg(m_series,
                                                         m_nextSerial ? QString::number(*m_nextSerial) : QStringLiteral("-"));
    return text;
}

QString StationPrinter::liveLine(const SlotLine &line) const
{
    QString state;
    switch (line.state) {
    case SlotState::Flashing:
        state = line.total > 0 ? QStringLiteral("flashing %1 %").arg(line.sent * 100 / qMax(1, line.total))
                               : QStringLiteral("flashing");
        break;
    case SlotState::Waiting:
    case SlotState::Stopped:
        // The last board's result stays in sight across the bench until
        // the next board starts.
        state = line.lastResult.isEmpty() ? line.text : line.lastResult + QStringLiteral("; ") + line.text;
        break;
    case SlotState::WaitingForId:
    case SlotState::Passed:
    case SlotState::Failed:
    case SlotState::NoAdapter:
    case SlotState::PortTrouble:
    case SlotState::Noisy:
    case SlotState::Unsaved:
        state = line.text;
        break;
    }
    if (!line.boardId.isEmpty() && (line.state == SlotState::Waiting || line.state == SlotState::Flashing))
        state = QStringLiteral("board %1: %2").arg(line.boardId, state);
    QString text = QStringLiteral("%1  %2  %3  passed %4  failed %5")
                       .arg(line.label.leftJustified(m_labelWidth), line.adapter.leftJustified(m_adapterWidth),
                            state.left(60).leftJustified(60))
                       .arg(line.passed)
                       .arg(line.failed);
    if (!m_series.isEmpty()) {
        text += QStringLiteral("  serial %1  last %2")
                    .arg(line.serial ? QString::number(*line.serial) : QStringLiteral("-"),
                         line.lastSerial ? QString::number(*line.lastSerial) : QStringLiteral("-"));
    }
    return text;
}

void StationPrinter::redraw(const StationCounts &counts)
{
    const int columns = terminalColumns(m_out);
    const int width = columns > 1 ? columns - 1 : -1;
    QString block;
    if (m_linesDrawn > 0)
        block = QStringLiteral("\x1b[%1A").arg(m_linesDrawn);
    // Names and texts from outside are escaped before the redraw's own
    // control sequences go around them.
    block += QStringLiteral("\r\x1b[K") + terminalText(header(counts)).left(width) + QLatin1Char('\n');
    for (const SlotLine &line : std::as_const(m_slots))
        block += QStringLiteral("\r\x1b[K") + terminalText(liveLine(line)).left(width) + QLatin1Char('\n');
    m_linesDrawn = int(m_slots.size()) + 1;
    std::fputs(block.toUtf8().constData(), m_out);
    std::fflush(m_out);
}

void StationPrinter::json(int slot, const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), event);
    fields.insert(QStringLiteral("slot"), m_slots[slot].label);
    writeJson(fields);
}

// Every line says which form of the events it has, so that a script can
// tell a change before it misreads one.
void StationPrinter::writeJson(QJsonObject object)
{
    object.insert(QStringLiteral("schema"), records::kJsonSchema);
    writeLine(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void StationPrinter::writeLine(const QString &line)
{
    // One line, whatever a name in it holds: no control character reaches
    // the terminal (a JSON line has escaped its own already).
    std::fputs((terminalText(line) + QLatin1Char('\n')).toUtf8().constData(), m_out);
    std::fflush(m_out);
}

void StationPrinter::bell(int times)
{
    std::fputs(QByteArray(times, '\a').constData(), m_out);
    std::fflush(m_out);
}

} // namespace quobin::cli
