// Time for deadlines.
#pragma once

#include <stdint.h>
#include <time.h>

/// Milliseconds on a clock that never jumps, for deadlines.
inline int64_t monotonic_ms() {
    struct timespec now {};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    // Division by a constant, unsigned: a multiplication, not libgcc's division, on the unit.
    return static_cast<int64_t>(now.tv_sec) * 1000 + static_cast<uint32_t>(now.tv_nsec) / 1000000U;
}
