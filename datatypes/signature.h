// Signatures: a function's spec compiled once, into the block that every reader of the spec
// takes instead of walking the spec again: a call gathering its arguments, the context that
// holds the function's words, the frames that callbacks fill, the spec check of native! and
// action! make, and reflection (help, a debugger).
//
// Every function value (native!, action!, function!, routine!, and an op! through the value it
// was made from) keeps its signature in cell 1 of its more block, compiled when the value is
// made. The types that an argument's type block names are read at the first call (a type word
// counts with the value it has then) and written into its typeset; from then on that cell's
// header carries kReady.
//
// The signature block. E is the number of entries (each argument and each refinement, in spec
// order), L the number of cells from /local on.
//   Call section, 2E + 1 cells in frame order; a call reads nothing else:
//     argument    typeset! its accepted types (header kLitArg or kGetArg for a lit- or
//                 get-argument), word! its word
//     refinement  refinement! (word 3 its number, from 1), integer! the count of the argument
//                 entries that follow it
//     integer!    the local cells: /local and each word after it (0 without /local)
//   Description section:
//     per entry   block! the argument's type block as the spec has it (none! without one, and
//                 for a refinement), integer! its place
//     L cells     /local and every word and refinement after it, as the spec has them
//     2 cells     block! the type block of return: (none! without return:), integer! its place
//     1 cell      integer! the place of the spec's head: its attribute block, and the doc
//                 strings before the first entry
//     last cell   integer!: word 1 the attribute flags (function.h), word 2 E, word 3 L
// A place is an integer! cell whose three words are the fields of Place, spec indexes counted
// from the spec's head.
//
// A call's frame holds one cell per entry (a refinement's is its truth value), then the local
// cells; the function's context holds the entries' words, then the L cells' words, in that
// order.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace signature {

// Header flags of an argument's typeset: the argument's kind.
constexpr uint32_t kGetArg = 1u << 20;
constexpr uint32_t kLitArg = 1u << 21;
// Header flag of the more block's cell 1 once the argument types are resolved.
constexpr uint32_t kReady = 1u << 8;
// The header of that cell then: the one test a call makes.
constexpr uint32_t kReadyHeader = kTypeBlock | kReady;
// A spec index that the spec does not have.
constexpr uint32_t kNowhere = 0xFFFFFFFFu;

enum class Kind : uint8_t { normal, lit, get };

// Where an item of the spec stands and the doc strings after it (spec indexes).
struct Place {
    uint32_t at;   // the item; kNowhere when the spec has none
    uint32_t doc;  // its first doc string; kNowhere when none follows it
    uint32_t docs; // how many doc strings follow it there
};

// An argument or a refinement.
struct Entry {
    bool refinement;
    Cell word;          // an argument's word (as a word!); the refinement! (word 3 its number)
    Kind kind;          // of an argument
    Cell types;         // an argument's typeset (its types once resolved)
    Cell type_block;    // an argument's type block as the spec has it; none! without one
    uint32_t arguments; // a refinement: the count of the argument entries that follow it
    Place place;
};

// Reads a signature block. Valid until the next allocation (it reads the block's cells).
class View {
public:
    View(const Cell* cells, uint32_t length);
    // The block of a node.
    explicit View(uint32_t node);

    uint32_t entries() const { return summary().w2; }
    // The arguments before the first refinement.
    uint32_t required() const;
    Entry entry(uint32_t i) const;
    bool is_refinement(uint32_t i) const { return cell::type(cells_ + 2 * i) == kTypeRefinement; }
    // The frame cells after the entries: /local and its words.
    uint32_t local_cells() const { return cells_[2 * entries()].w2; }
    // /local and every word and refinement after it, as the spec has them.
    uint32_t locals() const { return summary().w3; }
    Cell local(uint32_t i) const { return cells_[description() + 2 * entries() + i]; }
    // The words of the function's context, in its order: the entries', then the locals'.
    uint32_t words() const { return entries() + locals(); }
    Cell word(uint32_t i) const;
    // The type block of return: (none! without one) and where return: stands.
    Cell return_types() const { return cells_[length_ - 4]; }
    Place return_place() const { return place(cells_[length_ - 3]); }
    // The attribute block and the doc strings of the spec's head.
    Place head() const { return place(cells_[length_ - 2]); }
    // The attribute flags (function::kTraceFlag, function::kNoTraceFlag).
    uint32_t attributes() const { return summary().w1; }
    // The words of the entries and locals that are plain word! in the spec.
    uint32_t plain_words() const;
    // The cells a frame has after the required arguments.
    uint32_t optional_cells() const;

private:
    const Cell& summary() const { return cells_[length_ - 1]; }
    uint32_t description() const { return 2 * entries() + 1; }
    static Place place(const Cell& c) { return {c.w1, c.w2, c.w3}; }
    const Cell* cells_;
    uint32_t length_;
};

// Whether to check a spec as `func` does. Only function specs are checked: the runtime makes
// natives, actions and routines from specs of its own.
enum class Validation : uint8_t { off, on };

// Compiles a spec block from its index, pushes the signature block and answers it. With
// validation a bad spec raises script/bad-func-def (with the spec), script/dup-vars (with the
// later of two words of one canonical symbol), script/no-value or script/invalid-type-spec
// (with the type block's entry). May collect.
Cell* compile(const Cell* spec, Validation validation);

// The attribute flags of a signature (a block cell).
uint32_t attributes(const Cell* signature);

// A context for the words of a signature (a block cell), its values on the data stack, with
// room for the words of `spec` (the block it was compiled from). May collect.
uint32_t make_context(const Cell* signature, const Cell* spec);

// The signature of a function value with its argument types resolved: the types that its
// arguments' type blocks name now (a word whose value is unset, or that is not bound, adds
// none; a value that is not a datatype! or typeset! raises script/invalid-type-spec with the
// type block's entry). Allocates nothing.
uint32_t ready(const Cell* function);

// Whether a native's or action's entry gets from a signature what it gets from the one it was
// written for (`within`): the same arguments and refinements in the same order, each accepting
// no type that its counterpart refuses; names and doc strings may differ. Both with their types
// resolved. Never collects.
bool fits(uint32_t signature, uint32_t within);

// A function value's signature as it is (its types resolved or not): the block its more block
// keeps; for a function value without a more block (one made by hand from a spec, in C++), its
// spec compiled on the spot into a buffer of this module's, valid until the next such compile
// (a spec block that is gone reads as empty). Allocates nothing.
View view(const Cell* function);

// Pushes the frame cells after the required arguments that a callback gives a function (sort's
// comparator, an object's change handlers, the lexer's trace function) absent: false for a
// refinement (/local too), none for the others (their count is view().optional_cells()).
// Allocates nothing.
void push_optional(const Cell* function);

} // namespace signature
