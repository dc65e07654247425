#pragma once

namespace quobin::bench {

// 5. quobin-cli station: 8 paced fixtures of 10 boards each, then one alone;
// CPU of waiting and flashing slots; the median record commit into SQLite.
void benchStation();

} // namespace quobin::bench
