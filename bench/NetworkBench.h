#pragma once

namespace quobin::bench {

// 6. A paced upload of `lines` lines at 57600 through Debian's ser2net on
// loopback (RFC 2217), beside the same upload on the pseudo-terminal
// directly: both times and the difference per line.
void benchNetwork(int lines);

} // namespace quobin::bench
