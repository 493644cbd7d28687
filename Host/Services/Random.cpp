#include "Random.h"

// splitmix64 over the first two words of the record as one 64-bit counter:
// every output is a full mix of the counter, so even the documented start
// {1, 0, 0, 0} gives well-spread first values, and the period is 2^64.
int32_t sp_Random(RandomSeed& seed) noexcept {
    uint64_t counter = uint64_t(seed.state[0]) | uint64_t(seed.state[1]) << 32;
    counter += 0x9E3779B97F4A7C15ull;
    seed.state[0] = uint32_t(counter);
    seed.state[1] = uint32_t(counter >> 32);
    uint64_t z = counter;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return int32_t(z >> 33);
}
