// Text output natives: print and prin.
#include <string>

#include "datatypes/core/block.h"
#include "datatypes/core/string.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime-core/memory.h"
#include "runtime-core/form-mold.h"
#include "runtime-core/stdio.h"

namespace natives {

namespace {

using interp::Status;

// Forms the value (a block reduced first) and writes it.
Status output(bool newline) {
    Cell* a = stack::arguments;
    if (cell::type(a) == kTypeBlock) {
        Status s = reduce_block(a);
        if (s != Status::normal) return s;
        *a = stack::top[-1];
        stack::top = a + 1;
    }
    Cell* text = form::to_new_string(nullptr, 0);
    memory::Buffer* b = memory::buffer(text->w2);
    const uint32_t unit = b->unit();
    std::u16string units;
    for (const uint8_t* p = b->at_head() + text->w1 * unit; p < b->at_tail(); p += unit) {
        const uint32_t cp = string::get_char(p, unit);
        if (cp < 0x10000) {
            units.push_back(static_cast<char16_t>(cp));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    stdio::write(units.data(), units.size(), newline);
    a->header = kTypeUnset;
    return Status::normal;
}

Status print(const int32_t*) { return output(true); }
Status prin(const int32_t*) { return output(false); }

} // namespace

void register_system() {
    set(kPrint, print);
    set(kPrin, prin);
}

} // namespace natives
