#include "ControllerModel.h"

#include "HexRecord.h"

#include <QHash>

#include <algorithm>
#include <chrono>

namespace quobin::sim {

namespace {
const QByteArray mainCodeCommand = "\r4*730562\r";
}

ControllerModel::ControllerModel(const SimulatorConfig &config)
    : m_faults(config.faults, config.version)
    , m_caretDelayMs(config.caretDelayMs)
    , m_fixture(config.fixture)
    , m_framer(std::chrono::milliseconds(config.lineGapMs))
{
}

void ControllerModel::receive(const QByteArray &bytes, const LineSettings &settings, TimePoint now)
{
    if (bytes.isEmpty())
        return;
    m_chunks.append({bytes, settings, now});
    if (!m_boards.isEmpty() && !m_boards.last().completed)
        m_lastHostByteAt = now;
    m_unheardCaretAt.reset();

    // The bootloader listens only at its own rate; what the host sends at the
    // main code's rate reaches a controller that has restarted its main code.
    if (m_mode == Mode::Bootloader && settings.baud == mainCodeBaud) {
        m_mode = Mode::MainCode;
        m_framer.clear();
    }
    if (m_mode == Mode::MainCode) {
        receiveMainCode(bytes, now);
        return;
    }
    QList<FramedItem> items;
    m_framer.feed(bytes, now, items);
    for (const FramedItem &item : items)
        handle(item, now);
}

void ControllerModel::tick(TimePoint now)
{
    planFixture(now);
    if (m_nextArrival && *m_nextArrival <= now) {
        m_nextArrival.reset();
        reset(now);
    }
    QList<FramedItem> items;
    m_framer.expire(now, items);
    for (const FramedItem &item : items)
        handle(item, now);
}

void ControllerModel::reset(TimePoint now)
{
    enterBootloader();
    arrive(0, now);
}

std::optional<TimePoint> ControllerModel::nextDeadline() const
{
    std::optional<TimePoint> next;
    for (const auto &candidate : {m_framer.deadline(), m_schedule.nextDue(), m_nextArrival}) {
        if (candidate && (!next || *candidate < *next))
            next = candidate;
    }
    if (m_fixture.enabled && m_fixture.quietSwapMs > 0 && !m_nextArrival) {
        for (const auto &since : {m_lastHostByteAt, m_unheardCaretAt}) {
            if (!since)
                continue;
            const TimePoint swap = *since + std::chrono::milliseconds(m_fixture.quietSwapMs);
            if (!next || swap < *next)
                next = swap;
        }
    }
    return next;
}

// A new board: from now on its lines are its own, and it says "^" after
// delayMs.
void ControllerModel::arrive(int delayMs, TimePoint now)
{
    m_nextArrival.reset();
    m_lastHostByteAt.reset();
    m_boards.append({int(m_boards.size()) + 1, {}, 0, false});
    m_faults.startBoard(int(m_boards.size()));
    plan({{delayMs, m_faults.activeCharacter()}}, now, 0);
    if (m_fixture.enabled)
        m_unheardCaretAt = now + std::chrono::milliseconds(delayMs);
}

bool ControllerModel::fixtureHoldsMore() const
{
    return m_fixture.enabled && (m_fixture.boards == 0 || m_boards.size() < m_fixture.boards);
}

// The operator swaps a board the host has given up on; the next one arrives
// in the bootloader. (A board that finished is swapped from answerLine().)
void ControllerModel::planFixture(TimePoint now)
{
    // A board whose "^" went unheard (the station was still busy with the
    // last board) is reset once more by the operator: the same board says
    // "^" again.
    if (m_unheardCaretAt && m_fixture.quietSwapMs > 0
        && now - *m_unheardCaretAt >= std::chrono::milliseconds(m_fixture.quietSwapMs)) {
        plan({{0, m_faults.activeCharacter()}}, now, 0);
        m_unheardCaretAt = now;
        return;
    }
    if (m_nextArrival || !fixtureHoldsMore() || m_boards.isEmpty() || m_boards.last().completed)
        return;
    if (m_fixture.quietSwapMs > 0 && m_lastHostByteAt
        && now - *m_lastHostByteAt >= std::chrono::milliseconds(m_fixture.quietSwapMs))
        m_nextArrival = now;
}

void ControllerModel::receiveMainCode(const QByteArray &bytes, TimePoint now)
{
    m_mainCodeBytes += bytes;
    m_commandWindow += bytes;
    if (m_commandWindow.contains(mainCodeCommand)) {
        m_commandWindow.clear();
        ++m_mainCodeCommands;
        enterBootloader();
        if (m_caretDelayMs >= 0)
            arrive(m_caretDelayMs, now);
        return;
    }
    m_commandWindow = m_commandWindow.right(mainCodeCommand.size() - 1);
}

void ControllerModel::enterBootloader()
{
    m_mode = Mode::Bootloader;
    m_lastAnswerDue = {};
    m_framer.clear();
}

void ControllerModel::handle(const FramedItem &item, TimePoint now)
{
    if (item.kind == FramedItem::Request) {
        m_requestTimes.append(item.firstByteAt);
        plan(m_faults.requestReply(), now, 0);
        return;
    }
    answerLine(item, now);
}

void ControllerModel::answerLine(const FramedItem &item, TimePoint now)
{
    m_lines.append({item.text, item.firstByteAt, now});
    const int line = int(m_lines.size());
    // Lines before any "^" (the host did not wait for one) go to a board of their own.
    if (m_boards.isEmpty())
        m_boards.append({1, {}, 0, false});
    BoardLog &board = m_boards.last();
    ++board.linesReceived;

    QByteArray answer = "~";
    const bool isRecord = HexRecord::expectedLength(item.text).has_value();
    if (isRecord && !HexRecord::checksumOk(item.text))
        answer = "-";
    const bool endOfFile = HexRecord::isEndOfFile(item.text);
    if (endOfFile && !m_faults.has(Fault::NoCompletion))
        answer = "@";

    const QList<PlannedOutput> outputs = m_faults.answerLine(line, board.linesReceived, item.text, answer);
    if (m_faults.answersInOrder())
        m_lastAnswerDue = plan(outputs, now, line, m_lastAnswerDue);
    else
        plan(outputs, now, line);
    if (endOfFile)
        ++m_uploadsCompleted;
    QByteArray replied;
    for (const PlannedOutput &output : outputs)
        replied += output.bytes;
    // A board keeps the lines it took: answered "~" or "@", without "-" or "%".
    if ((replied.contains('~') || replied.contains('@')) && !replied.contains('-') && !replied.contains('%'))
        board.lines.append(item.text);
    const bool completes = replied.contains('@');
    if (endOfFile && completes && !board.completed) {
        board.completed = true;
        m_lastHostByteAt.reset();
        if (fixtureHoldsMore())
            m_nextArrival = now + std::chrono::milliseconds(m_fixture.gapMs);
    }
}

TimePoint ControllerModel::plan(const QList<PlannedOutput> &outputs, TimePoint now, int line,
                                TimePoint notBefore)
{
    TimePoint last = notBefore;
    for (const PlannedOutput &output : outputs) {
        const TimePoint due = std::max(now + std::chrono::milliseconds(output.delayMs), notBefore);
        m_schedule.add({due, output.bytes, line, output.vanish});
        last = std::max(last, due);
    }
    return last;
}

QList<LineCount> ControllerModel::lineCounts() const
{
    QList<LineCount> counts;
    QHash<QByteArray, qsizetype> at;
    for (const LineRecord &line : m_lines) {
        const auto found = at.constFind(line.text);
        if (found != at.constEnd()) {
            ++counts[*found].times;
        } else {
            at.insert(line.text, counts.size());
            counts.append({line.text, 1});
        }
    }
    return counts;
}

} // namespace quobin::sim
