// The process's one pseudo-random generator and the secure draws beside it.
//
// The generator keeps 624 words of state and the index of the next word to use. Its right
// shifts are arithmetic (the words taken as signed) and seeding leaves the index at 0, so the
// 624 draws after a seeding temper the seeded words themselves and the first twist comes with
// draw 625. Both choices are part of the language: a script that seeds and draws sees exactly
// this sequence on every build, which is not the published reference generator's.
//
// Secure draws come from the platform's cryptographic source and never touch the state.
//
// The datatypes draw through random sources that start-up points here
// (datatypes/random-sources.h).
#pragma once
#include <cstdint>

namespace random_ {

// The seed of a fresh process.
constexpr uint32_t kStartSeed = 19650218;

// Restarts the sequence from a seed.
void init_genrand(uint32_t seed);

// The next tempered word, taken as a signed 32-bit integer.
int32_t next();

// Four bytes of the platform's secure source with the top bit cleared (0 to 2147483647). A
// source that fails raises internal/feature-na rather than answer a predictable number.
int32_t secure_next();

// The bounded draw of the random actions: 0 for n = 0; 1 to n for n > 0, redrawing values
// at or above the largest multiple of n so that no outcome is favoured; for n < 0 the draw
// for -n negated, and for the smallest integer -1 minus one 31-bit draw. Each draw is
// secure_next with `secure`, else next with its top bit cleared.
int32_t rand(bool secure, int32_t n);

} // namespace random_
