#include "Random.h"

namespace {
constexpr uint32_t rotl(uint32_t x, int k) noexcept { return (x << k) | (x >> (32 - k)); }
}  // namespace

// xoshiro128**: small state, long period, and any state that is not all zero
// is usable, so the documented start {1, 0, 0, 0} needs no scrambling.
int32_t sp_Random(RandomSeed& seed) noexcept {
    uint32_t* s = seed.state;
    if ((s[0] | s[1] | s[2] | s[3]) == 0) s[0] = 1;  // an all-zero state would stay zero forever
    uint32_t result = rotl(s[1] * 5u, 7) * 9u;
    uint32_t t = s[1] << 9;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 11);
    return int32_t(result >> 1);
}
