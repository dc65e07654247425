#pragma once

// The bounds of the tests that measure a program's memory. Under
// AddressSanitizer every allocation carries shadow memory and red zones and
// freed blocks wait in a quarantine before they are reused, so a sanitized
// build is given more room; the faults these tests catch grow by hundreds of
// megabytes either way.
namespace quobin::testing {

#if defined(__SANITIZE_ADDRESS__)
constexpr long long kSanitizerSlackKib = 96 * 1024;
constexpr int kSanitizerFactor = 3;
#else
constexpr long long kSanitizerSlackKib = 0;
constexpr int kSanitizerFactor = 1;
#endif

// A growth bound of baseKib on a plain build.
constexpr long long growthBoundKib(long long baseKib)
{
    return baseKib + kSanitizerSlackKib;
}

// A peak bound of baseKib on a plain build.
constexpr long long peakBoundKib(long long baseKib)
{
    return baseKib * kSanitizerFactor;
}

} // namespace quobin::testing
