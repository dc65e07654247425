#pragma once

namespace quobin::bench {

// 7. What publishing the live view costs a station: the same paced slots,
// in process, with and without the live view written into the records
// file (and, when PostgreSQL's server is installed, into a server).
void benchLivePublishing();

} // namespace quobin::bench
