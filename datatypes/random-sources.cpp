#include "datatypes/random-sources.h"

#include <cstdint>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "runtime-core/random.h"

namespace random_ {

namespace {

uint32_t next_word() {
    return static_cast<uint32_t>(next());
}
uint32_t secure_word() {
    return static_cast<uint32_t>(secure_next());
}
const logic::RandomSource kLogicSource{next_word, secure_word, init_genrand};
const integer::RandomSource kIntegerSource{rand, init_genrand};

} // namespace

void init() {
    init_genrand(kStartSeed);
    logic::set_random_source(&kLogicSource);
    integer::set_random_source(&kIntegerSource);
}

} // namespace random_
