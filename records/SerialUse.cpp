#include "SerialUse.h"

#include <numeric>

namespace quobin::records {

namespace {

// The numbers before + step, before + 2 step, ... below next that are not in
// returned, as runs; returned numbers inside split a run. A long gap costs
// no more than the returned numbers inside it.
void addGaps(SeriesUse &use, quint64 before, quint64 next, const std::set<quint64> &returned)
{
    if (next - before <= use.step)
        return;
    const quint64 count = (next - before - 1) / use.step;
    quint64 first = before + use.step;
    const quint64 last = before + count * use.step;
    auto waiting = returned.lower_bound(first);
    while (first <= last) {
        // Returned numbers off the step do not split the run.
        while (waiting != returned.end() && *waiting <= last && (*waiting - before) % use.step != 0)
            ++waiting;
        const bool split = waiting != returned.end() && *waiting <= last;
        const quint64 end = split ? *waiting : last + use.step; // one step past the run
        if (end > first) {
            const SerialGap gap{first, end - use.step, (end - first) / use.step};
            use.gaps.append(gap);
            use.unused += gap.count;
        }
        if (!split)
            break;
        ++use.waiting;
        if (*waiting == last)
            break;
        first = *waiting + use.step;
        ++waiting;
    }
}

} // namespace

QList<SeriesUse> serialUse(const QList<BoardRecord> &records, const QMap<QString, SeriesState> &states)
{
    QMap<QString, std::set<quint64>> passed;
    for (const BoardRecord &r : records) {
        if (r.passed() && r.serial)
            passed[r.series].insert(*r.serial);
    }
    QList<SeriesUse> uses;
    for (auto it = passed.cbegin(); it != passed.cend(); ++it) {
        const std::set<quint64> &numbers = it.value();
        const SeriesState state = states.value(it.key());
        SeriesUse use;
        use.series = it.key();
        use.passed = int(numbers.size());
        use.lowest = *numbers.begin();
        use.highest = *numbers.rbegin();
        if (state.step) {
            use.step = *state.step;
            use.stepKnown = true;
        } else {
            quint64 step = 0;
            for (auto n = std::next(numbers.begin()); n != numbers.end(); ++n)
                step = std::gcd(step, *n - *std::prev(n));
            use.step = step == 0 ? 1 : step;
        }
        for (auto n = std::next(numbers.begin()); n != numbers.end(); ++n)
            addGaps(use, *std::prev(n), *n, state.returned);
        uses.append(use);
    }
    return uses;
}

} // namespace quobin::records
