#pragma once

namespace quobin::bench {

// 6. Serial numbers: finding the serial's place in an image of 32,767 lines
// (once per job) and patching a number into it (once per board).
void benchSerialPatching();

} // namespace quobin::bench
