// The host's pseudo-random integers. A script function keeps its own seed
// record, so its sequence is reproducible and independent of any other user.
#pragma once
#include <cstdint>

// Generator state. Any record is a valid start, {1, 0, 0, 0} included.
struct RandomSeed {
    uint32_t state[4] = {1, 0, 0, 0};
};

// The next integer of the sequence, uniform in 0 ... 2147483647; advances the seed.
int32_t sp_Random(RandomSeed& seed) noexcept;
