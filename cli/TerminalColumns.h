#pragma once

#include <cstdio>

namespace quobin::cli {

// The width of the terminal behind out; 0 when it cannot be told (a pipe, a
// file).
int terminalColumns(std::FILE *out);

} // namespace quobin::cli
