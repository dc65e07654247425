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
    , m_framer(std::chrono::milliseconds(config.lineGapMs))
{
}

void ControllerModel::receive(const QByteArray &bytes, const LineSettings &settings, TimePoint now)
{
    if (bytes.isEmpty())
        return;
    m_chunks.append({bytes, settings, now});

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
    QList<FramedItem> items;
    m_framer.expire(now, items);
    for (const FramedItem &item : items)
        handle(item, now);
}

void ControllerModel::reset(TimePoint now)
{
    enterBootloader();
    plan({{0, m_faults.activeCharacter()}}, now, 0);
}

std::optional<TimePoint> ControllerModel::nextDeadline() const
{
    const auto gap = m_framer.deadline();
    const auto output = m_schedule.nextDue();
    if (gap && output)
        return std::min(*gap, *output);
    return gap ? gap : output;
}

void ControllerModel::receiveMainCode(const QByteArray &bytes, TimePoint now)
{
    m_mainCodeBytes += bytes;
    m_commandWindow += bytes;
    if (m_commandWindow.contains(mainCodeCommand)) {
        m_commandWindow.clear();
        enterBootloader();
        if (m_caretDelayMs >= 0)
            plan({{m_caretDelayMs, m_faults.activeCharacter()}}, now, 0);
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

    QByteArray answer = "~";
    const bool isRecord = HexRecord::expectedLength(item.text).has_value();
    if (isRecord && !HexRecord::checksumOk(item.text))
        answer = "-";
    const bool endOfFile = HexRecord::isEndOfFile(item.text);
    if (endOfFile && !m_faults.has(Fault::NoCompletion))
        answer = "@";

    const QList<PlannedOutput> outputs = m_faults.answerLine(line, item.text, answer);
    if (m_faults.answersInOrder())
        m_lastAnswerDue = plan(outputs, now, line, m_lastAnswerDue);
    else
        plan(outputs, now, line);
    if (endOfFile)
        ++m_uploadsCompleted;
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
