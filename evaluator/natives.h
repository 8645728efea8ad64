// The natives table: the machine entries of the native! values by slot number.
//
// A native entry reads its arguments from the current frame's cells (argument i in cell i
// from the arguments base, which is also the result slot) and receives one integer per
// refinement of its spec, in spec order: -1 when the refinement is absent, otherwise the
// frame position of the refinement's first argument cell (an absent refinement's argument
// cells hold none). It leaves its result in the frame's first cell and answers the status
// that break, continue, return and exit travel as (interpreter.h). The entry type, the
// refinement readers and the output of values are declared in evaluator.h.
//
// Slot numbers are part of the saved form of native! values and never change. Each family of
// natives lives in a file of its own that ends with its registration.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "datatypes/native.h"
#include "evaluator/evaluator.h"
#include "evaluator/interpreter.h"
#include "runtime-core/cell.h"

namespace natives {

constexpr uint32_t kSlots = native::kSlots;     // addressable slots
constexpr uint32_t kDefined = native::kDefined; // slots that hold a native

enum Slot : uint32_t {
    kIf = 1,
    kUnless,
    kEither,
    kAny,
    kAll,
    kWhile,
    kUntil,
    kLoop,
    kRepeat,
    kForever,
    kForeach,
    kForall,
    kRemoveEach,
    kFunc,
    kFunction,
    kDoes,
    kHas,
    kSwitch,
    kCase,
    kDo,
    kGet,
    kSet,
    kPrint,
    kPrin,
    kEqualQ,
    kNotEqualQ,
    kStrictEqualQ,
    kLesserQ,
    kGreaterQ,
    kLesserOrEqualQ,
    kGreaterOrEqualQ,
    kSameQ,
    kNot,
    kTypeQ,
    kReduce,
    kCompose,
    kStats,
    kBind,
    kIn,
    kParse,
    kUnion,
    kIntersect,
    kUnique,
    kDifference,
    kExclude,
    kComplementQ,
    kDehex,
    kEnhex,
    kNegativeQ,
    kPositiveQ,
    kMax,
    kMin,
    kShift,
    kToHex,
    kSine,
    kCosine,
    kTangent,
    kArcsine,
    kArccosine,
    kArctangent,
    kArctangent2,
    kNaNQ,
    kLog2,
    kLog10,
    kLogE,
    kExp,
    kSquareRoot,
    kConstruct,
    kValueQ,
    kTry,
    kUppercase,
    kLowercase,
    kAsPair,
    kAsPoint2D,
    kAsPoint3D,
    kAsMoney,
    kBreak,
    kContinue,
    kExit,
    kReturn,
    kThrow,
    kCatch,
    kExtend,
    kDebase,
    kToLocalFile,
    kWait,
    kChecksum,
    kUnset,
    kNewLine,
    kNewLineQ,
    kEnbase,
    kContextQ,
    kSetEnv,
    kGetEnv,
    kListEnv,
    kNow,
    kSignQ,
    kAs,
    kCall,
    kZeroQ,
    kSizeQ,
    kBrowse,
    kCompress,
    kDecompress,
    kRecycle,
    kTranscode,
    kApply,
};
static_assert(kApply == kDefined);

// One native of a family: its slot, the word that the boot sources bind to a native! of that
// slot, and its entry. Each family's file ends with its rows, one per native; start-up puts
// each entry in its slot. The unit tests check the rows against the boot image: every slot
// from 1 to kDefined in exactly one row, and each row's word bound to a native! of its slot.
struct Registration {
    Slot slot;
    const char* word;
    Entry entry;
};

// Fills every defined slot with an entry that raises internal/not-done, then puts each
// family's entries in their slots, and makes the scratch block.
void init();
// The entry of a slot from 1 to 107.
Entry entry(uint32_t slot);

// A 32-cell work block kept in the root block for natives that need one.
extern Cell* scratch;

// Evaluates each expression of a block (from its index) and pushes a new block of the
// values. May collect and run user code.
interp::Status reduce_block(const Cell* block);

// Makes the method words of checksum once (tcp md5 sha1 crc32 adler32 sha256 sha384 sha512
// hash, in this order). May collect.
void init_checksum_words();

// The families' registrations (one file each, at its end).
std::span<const Registration> control_family();
std::span<const Registration> compare_family();
std::span<const Registration> math_family();
std::span<const Registration> eval_family();
std::span<const Registration> series_family();
std::span<const Registration> system_family();
std::span<const Registration> checksum_family();
std::span<const Registration> compress_family();
// Every family's registrations, parse's included, in the order start-up puts them in.
std::span<const std::span<const Registration>> families();

// Turns the memory manager's failures into language errors (natives-system.cpp).
void install_memory_fault_hook();

} // namespace natives
