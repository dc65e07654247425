#include "SerialUse.h"

#include <QMap>

#include <numeric>
#include <set>

namespace quobin::records {

QList<SeriesUse> serialUse(const QList<BoardRecord> &records)
{
    QMap<QString, std::set<quint64>> passed;
    for (const BoardRecord &r : records) {
        if (r.passed() && r.serial)
            passed[r.series].insert(*r.serial);
    }
    QList<SeriesUse> uses;
    for (auto it = passed.cbegin(); it != passed.cend(); ++it) {
        const std::set<quint64> &numbers = it.value();
        SeriesUse use;
        use.series = it.key();
        use.passed = int(numbers.size());
        use.lowest = *numbers.begin();
        use.highest = *numbers.rbegin();
        quint64 step = 0;
        for (auto n = std::next(numbers.begin()); n != numbers.end(); ++n)
            step = std::gcd(step, *n - *std::prev(n));
        use.step = step == 0 ? 1 : step;
        for (auto n = std::next(numbers.begin()); n != numbers.end(); ++n) {
            const quint64 before = *std::prev(n);
            if (*n - before > use.step) {
                const SerialGap gap{before + use.step, *n - use.step, (*n - before) / use.step - 1};
                use.gaps.append(gap);
                use.unused += gap.count;
            }
        }
        uses.append(use);
    }
    return uses;
}

} // namespace quobin::records
