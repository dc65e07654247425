#pragma once

namespace quobin::bench {

// 5. quobin-cli station: 8 paced fixtures of 10 boards each, then one alone;
// CPU of waiting and flashing slots; the median record commit into SQLite.
void benchStation();
// 7. quobin-cli station with 32 paced slots, then one alone: boards per
// hour against 32 single slots, CPU per flashing and per waiting slot, and
// the station's largest resident memory.
void benchStation32();
// 6. The same paced slots with and without serial numbers, and the median
// allocation of one number with its commit into SQLite.
void benchStationSerials();

} // namespace quobin::bench
