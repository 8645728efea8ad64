// The process's generator (runtime-core/random.h) as the random source of the datatypes:
// logic! and integer! keep a source that tests may replace, and every random action built
// on them draws through it.
#pragma once

namespace random_ {

// Seeds the generator with kStartSeed and installs it as the random source of logic! and
// integer!.
void init();

} // namespace random_
