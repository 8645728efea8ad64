#include "datatypes/signature.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "runtime-core/type-traits.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace signature {

namespace {

constexpr Cell kNone{kTypeNone, 0, 0, 0};

using memory::cells_of;
using memory::length_of;

using traits::is_arg_word;

uint32_t canonical(const Cell* c) {
    return symbol::resolve(c->w2);
}

bool is_local(const Cell* c) {
    return cell::type(c) == kTypeRefinement &&
           canonical(c) == symbol::resolve(refinements::refinement.local->w2);
}

Cell place_at(uint32_t at) {
    return Cell{kTypeInteger, at, kNowhere, 0};
}

[[noreturn]] void bad_spec(const Cell* spec) {
    error::fire(error::kScript, error::script::bad_func_def, {spec});
}

// The check of a type block in a function spec: each entry a datatype!, a typeset! or a
// word!, directly or as the value of a word; a word without a value raises script/no-value.
void check_type_block(const Cell& types) {
    for (uint32_t a = types.w1; a < length_of(types.w2); ++a) {
        const Cell* e = cells_of(types.w2) + a;
        const Cell* v = e;
        Cell w = *e;
        if (cell::type(e) == kTypeWord) {
            if (w.w1 && w.w3 == word::kUnresolved) context::bind_word(w.w1, &w);
            v = context::get_word(&w);
            if (cell::type(v) == kTypeUnset)
                error::fire(error::kScript, error::script::no_value, {e});
        }
        const uint8_t vt = cell::type(v);
        if (vt != kTypeDatatype && vt != kTypeTypeset && vt != kTypeWord)
            error::fire(error::kScript, error::script::invalid_type_spec, {e});
    }
}

// What the walk over a spec gathers, in C++ memory: the walk allocates nothing (its checks
// read word values and raise), so it reads the spec's cells where they are. One layout serves
// every walk, its vectors keeping their room: no walk starts while another runs (a raise ends
// the walk it comes from).
struct Layout {
    std::vector<Cell> calls;   // the call section but its last cell
    std::vector<Cell> entries; // the description of each entry
    std::vector<Cell> locals;
    std::vector<Cell> words; // with validation: every word and refinement, for the duplicates
    Cell return_types = kNone;
    Cell return_place = place_at(kNowhere);
    Cell head = place_at(kNowhere);
    uint32_t local_cells = 0;
    uint32_t flags = 0;

    void clear() {
        calls.clear();
        entries.clear();
        locals.clear();
        words.clear();
        return_types = kNone;
        return_place = place_at(kNowhere);
        head = place_at(kNowhere);
        local_cells = 0;
        flags = 0;
    }
    // The signature block's length.
    uint32_t size() const {
        return static_cast<uint32_t>(calls.size() + 1 + entries.size() + locals.size() + 4);
    }
    // Writes the signature block's cells.
    void write(Cell* out) const {
        auto put = [&out](const std::vector<Cell>& cells) {
            if (cells.empty()) return;
            std::memcpy(static_cast<void*>(out), cells.data(), cells.size() * sizeof(Cell));
            out += cells.size();
        };
        put(calls);
        *out++ = Cell{kTypeInteger, 0, local_cells, 0};
        put(entries);
        put(locals);
        *out++ = return_types;
        *out++ = return_place;
        *out++ = head;
        *out = Cell{kTypeInteger, flags, static_cast<uint32_t>(calls.size() / 2),
                    static_cast<uint32_t>(locals.size())};
    }
};

Layout scratch;

// Reads a spec from its index into `out`. An argument is a word, lit-word or get-word and the
// type block after it; a refinement takes the arguments after it; /local starts the locals
// (each word after it); return: and its type block take no cell of a call; doc strings go
// with the item before them. A spec that is not checked is read as it is: a refinement or a
// set-word after /local ends what a call reads, and the words after it only join the context.
void walk(const Cell* spec, Validation validation, Layout& out) {
    const bool check = validation == Validation::on;
    const Cell* const cells = cells_of(spec->w2);
    const uint32_t end = length_of(spec->w2);
    const uint32_t base = spec->w1;
    auto type_at = [&](uint32_t i) { return i < end ? cell::type(cells + i) : uint8_t{0}; };

    // The place that doc strings go to: the head, return:, an entry (from 0), or nowhere.
    constexpr int64_t kHead = -1, kReturn = -2, kNoPlace = -3;
    int64_t docs_to = kHead;
    auto add_doc = [&](uint32_t at) {
        Cell* p = docs_to == kHead     ? &out.head
                  : docs_to == kReturn ? &out.return_place
                  : docs_to >= 0       ? &out.entries[2 * docs_to + 1]
                                       : nullptr;
        if (!p) return;
        if (p->w3 == 0) {
            p->w2 = at;
            p->w3 = 1;
        } else if (p->w2 + p->w3 == at) {
            ++p->w3;
        }
    };
    auto add_entry = [&](const Cell& call, const Cell& second, const Cell& types, uint32_t at) {
        docs_to = static_cast<int64_t>(out.entries.size() / 2);
        out.calls.push_back(call);
        out.calls.push_back(second);
        out.entries.push_back(types);
        out.entries.push_back(place_at(at - base));
    };

    uint32_t k = base;
    if (k < end && cell::type(cells + k) == kTypeBlock) {
        const Cell attributes = cells[k];
        for (uint32_t a = attributes.w1; a < length_of(attributes.w2); ++a) {
            const Cell* w = cells_of(attributes.w2) + a;
            if (cell::type(w) != kTypeWord) {
                if (check) bad_spec(spec);
                continue;
            }
            if (canonical(w) == symbol::resolve(words::symbol.trace))
                out.flags |= function::kTraceFlag;
            if (canonical(w) == symbol::resolve(words::symbol.no_trace))
                out.flags |= function::kNoTraceFlag;
        }
        out.head.w1 = k - base;
        ++k;
    }
    bool return_seen = false, local_seen = false; // for the checks
    bool in_locals = false, stopped = false;
    int64_t count_at = -1; // the current refinement's count cell in out.calls
    uint32_t refinements = 0;
    while (k < end) {
        const Cell* c = cells + k;
        const uint8_t t = cell::type(c);
        if (stopped) {
            if (is_arg_word(t) || t == kTypeRefinement) out.locals.push_back(*c);
            ++k;
        } else if (is_arg_word(t)) {
            if (check) {
                if (local_seen && t != kTypeWord) bad_spec(spec);
                if (type_at(k + 1) == kTypeString && type_at(k + 2) == kTypeBlock) bad_spec(spec);
                if (return_seen && !local_seen) bad_spec(spec);
                out.words.push_back(*c);
            }
            const uint32_t at = k++;
            Cell types = kNone;
            if (type_at(k) == kTypeBlock) {
                types = cells[k++];
                if (check) check_type_block(types);
            }
            if (in_locals) {
                out.locals.push_back(*c);
                ++out.local_cells;
                docs_to = kNoPlace;
                continue;
            }
            // Until the first call reads the type block, the typeset of an argument that has
            // one is empty.
            Cell ts;
            typeset::make_any_type(&ts);
            if (cell::type(&types) == kTypeBlock) typeset::clear(&ts);
            ts.header |= t == kTypeLitWord ? kLitArg : t == kTypeGetWord ? kGetArg : 0;
            Cell w = *c;
            cell::set_type(&w, kTypeWord);
            if (count_at >= 0) ++out.calls[static_cast<size_t>(count_at)].w2;
            add_entry(ts, w, types, at);
        } else if (t == kTypeSetWord) {
            const bool is_return = canonical(c) == symbol::resolve(words::symbol.return_);
            if (check) {
                if (return_seen || local_seen || !is_return) bad_spec(spec);
                if (type_at(k + 1) != kTypeBlock) bad_spec(spec);
                const uint8_t after = type_at(k + 2);
                if (after != 0 && after != kTypeRefinement && after != kTypeString) bad_spec(spec);
                return_seen = true;
            }
            if (in_locals) {
                stopped = true;
                continue;
            }
            const uint32_t at = k++;
            Cell types = kNone;
            if (type_at(k) == kTypeBlock) types = cells[k++];
            docs_to = kNoPlace;
            if (is_return && out.return_place.w1 == kNowhere) {
                out.return_types = types;
                out.return_place = place_at(at - base);
                docs_to = kReturn;
            }
        } else if (t == kTypeRefinement) {
            const bool local = is_local(c);
            if (check) {
                if (local)
                    local_seen = true;
                else if (return_seen || local_seen)
                    bad_spec(spec);
                const uint8_t next = type_at(k + 1);
                if (next != 0 && !is_arg_word(next) && next != kTypeRefinement &&
                    next != kTypeSetWord && next != kTypeString)
                    bad_spec(spec);
                out.words.push_back(*c);
            }
            if (local) {
                in_locals = true;
                out.locals.push_back(*c);
                out.local_cells = 1;
                docs_to = kNoPlace;
            } else if (in_locals) {
                stopped = true;
                continue;
            } else {
                Cell r = *c;
                r.w3 = ++refinements;
                count_at = static_cast<int64_t>(out.calls.size()) + 1;
                add_entry(r, Cell{kTypeInteger, 0, 0, 0}, kNone, k);
            }
            ++k;
        } else if (t == kTypeString) {
            add_doc(k - base);
            ++k;
        } else {
            if (check) bad_spec(spec);
            docs_to = kNoPlace;
            ++k;
        }
    }
    // Duplicates: the later of two words with one canonical symbol is named.
    for (size_t a = 0; a < out.words.size(); ++a)
        for (size_t b = a + 1; b < out.words.size(); ++b)
            if (canonical(&out.words[a]) == canonical(&out.words[b]))
                error::fire(error::kScript, error::script::dup_vars, {&out.words[b]});
}

// The value of a word in a type block, or null when it has none to offer (not bound, not in
// its context, no values now). Never collects.
const Cell* type_word_value(const Cell* word) {
    if (word->w1 == 0) return nullptr;
    auto index = static_cast<int32_t>(word->w3);
    if (word->w3 == word::kUnresolved) {
        index = context::find_word(word->w1, word->w2, true);
        if (index < 0) return nullptr;
    }
    return context::slot(word->w1, index);
}

// Adds the types of a type block to a typeset: datatypes and typesets, directly or through
// words. Never collects.
void add_types(Cell* typeset, const Cell& types) {
    for (uint32_t k = types.w1; k < length_of(types.w2); ++k) {
        const Cell* t = cells_of(types.w2) + k;
        if (cell::type(t) == kTypeWord) {
            // The word of a datatype that this build does not have yet names no type a
            // value can have: it adds nothing.
            t = type_word_value(t);
            if (!t || cell::type(t) == kTypeUnset) continue;
        }
        if (cell::type(t) == kTypeDatatype || cell::type(t) == kTypeTypeset)
            typeset::add(typeset, t);
        else
            error::fire(error::kScript, error::script::invalid_type_spec, {cells_of(types.w2) + k});
    }
}

// The signature that view() compiles on the spot.
std::vector<Cell> compiled_here;

} // namespace

// --- View ---------------------------------------------------------------------------------------

View::View(const Cell* cells, uint32_t length) : cells_(cells), length_(length) {}

View::View(uint32_t node) : View(cells_of(node), length_of(node)) {}

uint32_t View::required() const {
    uint32_t n = 0;
    while (n < entries() && cell::type(cells_ + 2 * n) == kTypeTypeset) ++n;
    return n;
}

Entry View::entry(uint32_t i) const {
    const Cell* c = cells_ + 2 * i;
    const Cell* d = cells_ + description() + 2 * i;
    Entry e{};
    e.refinement = cell::type(c) == kTypeRefinement;
    e.word = e.refinement ? c[0] : c[1];
    e.kind = e.refinement            ? Kind::normal
             : (c->header & kLitArg) ? Kind::lit
             : (c->header & kGetArg) ? Kind::get
                                     : Kind::normal;
    e.types = e.refinement ? kNone : c[0];
    e.type_block = d[0];
    e.arguments = e.refinement ? c[1].w2 : 0;
    e.place = place(d[1]);
    return e;
}

Cell View::word(uint32_t i) const {
    if (i >= entries()) return local(i - entries());
    const Cell* c = cells_ + 2 * i;
    return cell::type(c) == kTypeRefinement ? c[0] : c[1];
}

uint32_t View::plain_words() const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < entries(); ++i) {
        const Cell* c = cells_ + 2 * i;
        n += cell::type(c) == kTypeTypeset && !(c->header & (kLitArg | kGetArg));
    }
    for (uint32_t i = 0; i < locals(); ++i) {
        const Cell c = local(i);
        n += cell::type(&c) == kTypeWord;
    }
    return n;
}

uint32_t View::optional_cells() const {
    return entries() - required() + local_cells();
}

// --- Compiling ----------------------------------------------------------------------------------

Cell* compile(const Cell* spec, Validation validation) {
    scratch.clear();
    walk(spec, validation, scratch);
    // The cells hold nodes (the words' contexts, the type blocks) that nothing marks until
    // they are in the block: no collection may renumber them before.
    NoCollectScope hold;
    const uint32_t count = scratch.size();
    Cell* block = stack::push(Cell{kTypeBlock, 0, memory::alloc_cells(count), 0});
    memory::Buffer* b = memory::buffer(block->w2);
    scratch.write(b->cells());
    b->tail = b->head + count * sizeof(Cell);
    return block;
}

uint32_t attributes(const Cell* signature) {
    return View(signature->w2).attributes();
}

uint32_t make_context(const Cell* signature, const Cell* spec) {
    GcRoot held(*signature);
    const memory::Buffer* b = memory::buffer(spec->w2);
    const uint32_t slots = b->length() - std::min(spec->w1, b->length());
    const uint32_t words = View(held.cell().w2).words();
    GcRoot context(
        context::create(std::max(slots, words), true, false, nullptr, context::kFunction));
    for (uint32_t i = 0; i < words; ++i) {
        const Cell w = View(held.cell().w2).word(i);
        int32_t added = -1;
        context::find_word_ex(context.node(), w.w2, true, &added);
    }
    return context.node();
}

// --- Reading a function's signature -------------------------------------------------------------

uint32_t ready(const Cell* function) {
    const Cell held = any_function::signature(function);
    if (held.header == kReadyHeader) return held.w2;
    const uint32_t node = held.w2;
    const uint32_t entries = View(node).entries();
    for (uint32_t e = 0; e < entries; ++e) {
        const Cell types = cells_of(node)[2 * entries + 1 + 2 * e];
        if (cell::type(&types) != kTypeBlock) continue;
        Cell ts = cells_of(node)[2 * e];
        typeset::clear(&ts);
        add_types(&ts, types);
        cells_of(node)[2 * e] = ts;
    }
    any_function::signature(function).header = kReadyHeader;
    return node;
}

bool fits(uint32_t signature, uint32_t within) {
    auto types_within = [](const Cell& types, const Cell& allowed) {
        return (types.w1 & ~allowed.w1) == 0 && (types.w2 & ~allowed.w2) == 0 &&
               (types.w3 & ~allowed.w3) == 0;
    };
    // Both call sections end in the local cells' count, an integer!.
    const Cell* a = cells_of(signature);
    const Cell* b = cells_of(within);
    for (; cell::type(a) == kTypeTypeset && cell::type(b) == kTypeTypeset; a += 2, b += 2)
        if (!types_within(*a, *b)) return false;
    while (cell::type(a) == kTypeRefinement && cell::type(b) == kTypeRefinement) {
        const uint32_t n = a[1].w2;
        if (n != b[1].w2) return false;
        for (uint32_t k = 0; k < n; ++k)
            if (!types_within(a[2 + 2 * k], b[2 + 2 * k])) return false;
        a += 2 + 2 * n;
        b += 2 + 2 * n;
    }
    return cell::type(a) == kTypeInteger && cell::type(b) == kTypeInteger;
}

View view(const Cell* function) {
    if (function->w3 != 0) {
        const Cell& held = any_function::signature(function);
        if (cell::type(&held) == kTypeBlock) return View(held.w2);
    }
    // Nothing roots such a value's spec for it: a spec block that is gone reads as empty.
    const memory::Buffer* b = memory::find_buffer(any_function::spec_node(function));
    const Cell spec = any_function::spec(function);
    scratch.clear();
    if (b && b->unit() == sizeof(Cell)) walk(&spec, Validation::off, scratch);
    compiled_here.resize(scratch.size());
    scratch.write(compiled_here.data());
    return View(compiled_here.data(), scratch.size());
}

void push_optional(const Cell* function) {
    const View v = view(function);
    for (uint32_t e = v.required(); e < v.entries(); ++e) {
        if (v.is_refinement(e))
            logic::push(false);
        else
            none::push();
    }
    // Here /local is absent as any refinement is.
    for (uint32_t k = 0; k < v.local_cells(); ++k) {
        if (k == 0)
            logic::push(false);
        else
            none::push();
    }
}

} // namespace signature
