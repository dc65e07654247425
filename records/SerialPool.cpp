#include "SerialPool.h"

#include "RecordStore.h"

namespace quobin::records {

namespace {

// How long a pool that could not reach its counter waits before it tries
// again while it still has numbers.
constexpr std::chrono::seconds kRetryAfter{2};

} // namespace

SerialPool::SerialPool(SerialCounter &counter, const SeriesRule &rule, Sizes sizes)
    : m_counter(counter), m_rule(rule), m_sizes({qMax(1, sizes.block), qMax(0, sizes.low)})
{
}

SerialPool::~SerialPool()
{
    if (m_topper.joinable())
        m_topper.join();
}

void SerialPool::topUpAside()
{
    // The thread before has set m_toppingUp back and is leaving.
    if (m_topper.joinable())
        m_topper.join();
    m_toppingUp = true;
    m_topper = std::thread([this] {
        std::unique_lock lock(m_mutex);
        topUp(lock);
    });
}

QString SerialPool::unreachedText() const
{
    if (m_counter.remote())
        return serverAwayText();
    return QStringLiteral("no serial numbers: %1").arg(m_problem);
}

QString SerialPool::runOutText() const
{
    return QStringLiteral("series %1 has no serial number left: %2 is its last").arg(m_rule.series).arg(m_rule.limit);
}

bool SerialPool::topUp(std::unique_lock<std::mutex> &lock)
{
    m_toppingUp = true;
    lock.unlock();
    QList<quint64> numbers;
    bool reached = true;
    try {
        numbers = m_counter.take(m_sizes.block);
    } catch (const RecordStoreError &error) {
        reached = false;
        lock.lock();
        m_problem = error.reason();
        lock.unlock();
    }
    lock.lock();
    m_toppingUp = false;
    if (reached) {
        m_problem.clear();
        for (quint64 number : numbers) {
            m_available.insert(number);
            m_highest = qMax(m_highest.value_or(0), number);
        }
        if (numbers.size() < m_sizes.block)
            m_runOut = true;
    } else {
        m_nextTry = std::chrono::steady_clock::now() + kRetryAfter;
    }
    m_toppedUp.notify_all();
    return reached;
}

void SerialPool::prepare()
{
    std::unique_lock lock(m_mutex);
    m_toppingUp = true;
    lock.unlock();
    QList<quint64> numbers = m_counter.take(m_sizes.block); // errors go to the caller
    lock.lock();
    m_toppingUp = false;
    for (quint64 number : numbers) {
        m_available.insert(number);
        m_highest = qMax(m_highest.value_or(0), number);
    }
    if (numbers.size() < m_sizes.block)
        m_runOut = true;
    m_toppedUp.notify_all();
    if (m_available.empty())
        throw SerialsRunOut(runOutText());
}

SerialAllocator::Take SerialPool::take()
{
    std::unique_lock lock(m_mutex);
    if (!m_available.empty() && int(m_available.size()) <= m_sizes.low && !m_runOut && !m_toppingUp
        && std::chrono::steady_clock::now() >= m_nextTry)
        topUpAside();
    // Another slot may take the numbers just topped up: then again, until
    // the counter cannot be reached or the series ends.
    while (m_available.empty() && !m_runOut) {
        if (m_toppingUp) {
            m_toppedUp.wait(lock, [this] { return !m_toppingUp; });
            if (!m_problem.isEmpty())
                break;
        } else if (!topUp(lock)) {
            break;
        }
    }
    if (m_available.empty()) {
        if (m_runOut && !m_out.empty()) {
            // A board in progress may still fail and give its number back.
            return {std::nullopt, QStringLiteral("waiting for a serial number"), false};
        }
        if (m_runOut)
            return {std::nullopt, runOutText(), true};
        return {std::nullopt, unreachedText(), false};
    }
    const quint64 number = *m_available.begin();
    m_available.erase(m_available.begin());
    m_out.insert(number);
    return {number, {}, false};
}

void SerialPool::passed(quint64 number)
{
    std::lock_guard lock(m_mutex);
    m_out.erase(number);
}

void SerialPool::failed(quint64 number)
{
    std::lock_guard lock(m_mutex);
    if (m_out.erase(number) > 0)
        m_available.insert(number);
}

std::optional<quint64> SerialPool::next() const
{
    std::lock_guard lock(m_mutex);
    if (!m_available.empty())
        return *m_available.begin();
    // None in hand: the counter's next, as far as this station moved it.
    if (m_runOut || !m_highest || *m_highest > m_rule.limit - qMin(m_rule.limit, m_rule.step))
        return std::nullopt;
    return *m_highest + m_rule.step;
}

int SerialPool::inHand() const
{
    std::lock_guard lock(m_mutex);
    return int(m_available.size());
}

void SerialPool::finish()
{
    std::unique_lock lock(m_mutex);
    m_toppedUp.wait(lock, [this] { return !m_toppingUp; });
    if (m_available.empty())
        return;
    const QList<quint64> unused(m_available.begin(), m_available.end());
    try {
        m_counter.giveBack(unused);
    } catch (const RecordStoreError &) {
        return; // they stay a gap, which records shows
    }
    m_available.clear();
}

} // namespace quobin::records
