#include "evaluator/parse.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"
#include "loading/lexer.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace parse {

using interp::Status;
using memory::Buffer;

namespace {

// The two work stacks: block! cells in the root block, so their addresses never change and
// the collector marks (and forwards) what they hold.
Cell* rule_stack = nullptr;
Cell* input_stack = nullptr;
// The callback's `end` event (the other event words are the runtime's).
const Cell* end_event = nullptr;

enum class Keyword : uint8_t {
    not_keyword,
    bar,
    skip,
    end,
    none,
    opt,
    any,
    some,
    while_,
    to,
    thru,
    copy,
    set,
    not_,
    ahead,
    into,
    quote,
    fail,
    break_,
    reject,
    if_,
    case_,
    collect,
    keep,
    insert,
    change,
    remove,
};

// Canonical symbol of each keyword.
std::unordered_map<uint32_t, Keyword> keywords;

// Codes of the tag cell that ends every rule stack frame: the keywords that wait for the
// result of the rule after them, then the two frame kinds that are not commands.
enum Code : int32_t {
    kRepeat = -1,
    kTo = -2,
    kThru = -3,
    kCopy = -4,
    kSet = -5,
    kNot = -6,
    kInto = -7,
    kRemove = -9,
    kWhile = -11,
    kCollect = -12,
    kKeep = -13,
    kAhead = -16,
    kChange = -17,
    kChangeOnly = -18,
    kBlockFrame = -100,
    kCallFrame = -101,
};

// Frame sizes in cells.
constexpr uint32_t kBlockCells = 3;
constexpr uint32_t kCommandCells = 4;
constexpr uint32_t kCallCells = 2;

// Flags of a keep command and kinds of a collect command (tag word 2).
constexpr uint32_t kKeepPick = 1;
constexpr uint32_t kKeepCopy = 2;
enum Collect : uint32_t { kCollectPlain = 0, kCollectSet, kCollectInto, kCollectAfter };

constexpr uint32_t kNoFrame = 0xFFFFFFFF;

inline Cell triple(int64_t a, int64_t b, int64_t c) {
    return Cell{kTypeTriple, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                static_cast<uint32_t>(c)};
}
inline int32_t as_int(uint32_t w) {
    return static_cast<int32_t>(w);
}

inline Buffer* stack_buffer(const Cell* stack) {
    return memory::buffer(stack->w2);
}
inline Cell* stack_at(const Cell* stack, uint32_t i) {
    return stack_buffer(stack)->cells() + i;
}
inline uint32_t stack_length(const Cell* stack) {
    return stack_buffer(stack)->length();
}
// May collect; the value is kept rooted while the stack grows.
void stack_push(const Cell* stack, const Cell& value) {
    Buffer* b = stack_buffer(stack);
    if (!b->full()) {
        *reinterpret_cast<Cell*>(b->at_tail()) = value;
        b->tail += sizeof(Cell);
        return;
    }
    GcRoot held(value);
    *memory::alloc_tail_cell(b) = held.cell();
}
void stack_cut(const Cell* stack, uint32_t length) {
    Buffer* b = stack_buffer(stack);
    if (b->length() > length) b->tail = b->head + length * static_cast<uint32_t>(sizeof(Cell));
}

inline bool is_block_input(uint8_t t) {
    return series::is_any_block(t);
}
inline bool is_text(uint8_t t) {
    return series::is_any_string(t);
}

// The keyword of each symbol id as written, filled as words are met: 0 not looked up yet,
// else the keyword plus 1.
std::vector<uint8_t> keyword_cache;

// The keyword a word names, or not_keyword.
Keyword keyword_of(const Cell* word) {
    const uint32_t id = word->w2;
    if (id < keyword_cache.size() && keyword_cache[id] != 0)
        return static_cast<Keyword>(keyword_cache[id] - 1);
    const auto found = keywords.find(symbol::resolve(id));
    const Keyword k = found == keywords.end() ? Keyword::not_keyword : found->second;
    if (id >= keyword_cache.size()) keyword_cache.resize(id + 1024, 0);
    keyword_cache[id] = static_cast<uint8_t>(static_cast<uint8_t>(k) + 1);
    return k;
}
bool is_keyword(const Cell* value, Keyword k) {
    return cell::type(value) == kTypeWord && keyword_of(value) == k;
}
bool is_symbol(const Cell* value, uint32_t symbol) {
    return cell::type(value) == kTypeWord && symbol::resolve(value->w2) == symbol::resolve(symbol);
}

// One element of a series as a value: a block's cell, a text's char!, a binary's integer!.
Cell unit_value(const Cell* series, uint32_t index) {
    Buffer* b = memory::buffer(series::node(series));
    const uint8_t t = cell::type(series);
    if (series::is_any_block(t)) return b->cells()[index];
    Cell out{};
    if (t == kTypeBinary) {
        integer::make_at(&out, b->at_head()[index]);
        return out;
    }
    series::char_at(&out, string::get_char(b->at_head() + index * b->unit(), b->unit()));
    return out;
}

// Thrown inside the engine: a paren ended in break, continue, return or exit; or the
// callback asked to stop.
struct Unwind {
    Status status;
};
struct Stop {};

// Caches the context index of a word of the rules in the word itself, so that the words
// set from it (set-words, copy, set, collect set) find their slot at once. Never collects.
void resolve_in_place(Cell* word) {
    if (word->w3 != word::kUnresolved || word->w1 == 0) return;
    const int32_t index = context::find_word(word->w1, word->w2, true);
    if (index >= 0) word->w3 = static_cast<uint32_t>(index);
}

// The value of a word used in the rules; unset raises script/no-value.
Cell word_value(Cell* word) {
    const Cell* v = interp::value_of(word);
    if (cell::type(v) == kTypeUnset) error::fire(error::kScript, error::script::no_value, {word});
    return *v;
}

// The engine for one parse call.
class Engine {
public:
    Engine(const Options& options, const Cell* callback)
        : case_sensitive_(options.case_), callback_(callback) {}

    Status run(const Cell* input, const Cell* rules, int64_t part, Cell* result);

private:
    enum class Step { fetch, result };

    // --- State ---------------------------------------------------------------------------
    uint32_t rs_base_ = 0;      // rule stack length at entry
    uint32_t is_base_ = 0;      // input stack length at entry
    uint32_t bf_ = kNoFrame;    // index of the current block frame
    uint32_t rpos_ = 0;         // rule position in the current block
    uint32_t pos_ = 0;          // input position (units from the head)
    uint32_t in_slot_ = 0;      // input stack index of the current input
    uint32_t base_slot_ = 0;    // ... of the input parse was given
    int32_t collect_slot_ = -1; // input stack index of the innermost collect target
    bool collect_into_ = false; // that target takes values at its position
    int64_t part_end_ = -1;     // /part: where the given input ends (-1: its tail)
    bool case_sensitive_;
    bool match_ = true;
    Step step_ = Step::fetch;
    uint32_t user_runs_ = 0; // parens evaluated so far (user code may change anything)
    const Cell* callback_;
    bool collected_ = false; // an outermost plain collect finished
    GcRoot collected_block_{Cell{kTypeNone, 0, 0, 0}};

    // --- Stacks ---------------------------------------------------------------------------
    Cell* rs(uint32_t i) const { return stack_at(rule_stack, i); }
    uint32_t rs_length() const { return stack_length(rule_stack); }
    Cell* is(uint32_t i) const { return stack_at(input_stack, i); }
    uint32_t is_length() const { return stack_length(input_stack); }
    Cell* top_tag() const { return rs(rs_length() - 1); }
    void check_limit() const {
        if (rs_length() >= kStackLimit || is_length() >= kStackLimit) {
            stack_cut(rule_stack, rs_base_);
            stack_cut(input_stack, is_base_);
            error::fire(error::kScript, error::script::parse_stack);
        }
    }

    // --- Input ------------------------------------------------------------------------------
    Cell* input() const { return is(in_slot_); }
    uint8_t input_type() const { return cell::type(input()); }
    uint32_t input_length() const { return memory::buffer(input()->w2)->length(); }
    uint32_t end() const {
        const uint32_t n = input_length();
        if (in_slot_ == base_slot_ && part_end_ >= 0 && part_end_ < n)
            return static_cast<uint32_t>(part_end_);
        return n;
    }
    void clamp_position() {
        const uint32_t n = input_length();
        if (pos_ > n) pos_ = n;
    }
    // The input series at a position, as a value.
    Cell input_at(uint32_t at) const {
        Cell c = *input();
        c.w1 = at;
        return c;
    }
    // An edit of the input changed its length by `delta` at a position: the /part end of
    // the given input follows it.
    void edited(int64_t delta) {
        if (in_slot_ == base_slot_ && part_end_ >= 0)
            part_end_ = std::max<int64_t>(0, part_end_ + delta);
    }

    // --- Rules ------------------------------------------------------------------------------
    Buffer* rules() const { return memory::buffer(rs(bf_)->w2); }
    uint32_t rules_length() const { return rules()->length(); }
    bool has(uint32_t offset) const { return rpos_ + offset < rules_length(); }
    Cell* peek(uint32_t offset) const { return rules()->cells() + rpos_ + offset; }
    // The value after a keyword, which must be there.
    Cell* operand(const Cell& keyword) {
        if (!has(0)) error::fire(error::kScript, error::script::parse_end, {&keyword});
        return peek(0);
    }

    // --- Frames -----------------------------------------------------------------------------
    void push_block(const Cell& block);
    void pop_block();
    void push_command(int32_t code, int64_t min, int64_t max, const Cell& arg, uint32_t flags);
    void pop_command() {
        trace(words::word.pop);
        stack_cut(rule_stack, rs_length() - kCommandCells);
    }

    // --- Steps --------------------------------------------------------------------------------
    void fetch();
    void keyword(Keyword k, const Cell& word);
    void rule(const Cell& value, bool from_word);
    void counts(const Cell& first);
    bool result();
    void command_result();
    void unwind_to_repetition(bool broke);
    void finish_repeat(bool round_matched, bool broke);
    void end_into(bool success);
    void end_collect();

    // --- Matching -----------------------------------------------------------------------------
    int32_t match_at(const Cell& value, uint32_t at);
    int32_t match_value(const Cell& value) {
        const int32_t n = match_at(value, pos_);
        trace(words::word.match, n >= 0);
        return n;
    }
    bool simple(const Cell& value) const;
    bool resolve_simple(const Cell* at, Cell& value) const;
    bool fast_repeat(int64_t min, int64_t max);
    bool quick_fail(const Cell& block);
    bool fast_search(bool thru);
    int32_t scan_typed(const Cell& types, uint32_t at);
    bool position_word(const Cell* word, uint32_t& at);

    // --- Actions on the input and the targets -----------------------------------------------
    Cell copy_span(uint32_t from, uint32_t to);
    void assign(const Cell& word, const Cell& value);
    Cell eval_paren(const Cell& paren);
    Cell change_value(const Cell& source);
    void edit(uint32_t from, uint32_t count, const Cell* value, bool only, bool insert);
    void remove_span(uint32_t from, uint32_t to);
    bool only_option(const Cell& keyword);
    void put_value(const Cell& keyword, uint32_t from, uint32_t count, bool only, bool insert);
    void keep_value(const Cell& value, bool pick);
    void keep_span(uint32_t from, uint32_t to, uint32_t flags);
    void append_collected(const Cell& value);
    void check_target(const Cell& target);

    // --- Callback ---------------------------------------------------------------------------
    void trace(const Cell* event, bool matched = true, int64_t rule_index = -1) {
        if (callback_) call_back(event, matched, rule_index);
    }
    void call_back(const Cell* event, bool matched, int64_t rule_index);

    // The copy that copy has just made: keep copy, whose result comes next, keeps it as it
    // is instead of copying again.
    GcRoot last_copy_{Cell{kTypeNone, 0, 0, 0}};
    bool fresh_copy_ = false;

    // Runs of a simple value from `at` on, at most `max` (-1: no limit): the count, and the
    // position after them in `at`. Answers false when the value needs match_at.
    bool run_of(const Cell& value, uint32_t& at, int64_t max, int64_t& count);
};

// --- Frames ------------------------------------------------------------------------------------

void Engine::push_block(const Cell& block) {
    check_limit();
    if (bf_ != kNoFrame) rs(bf_ + 1)->w1 = rpos_;
    const uint32_t frame = rs_length();
    const uint32_t length = input_length();
    Cell b = block;
    b.header = kTypeBlock;
    stack_push(rule_stack, b);
    stack_push(rule_stack, triple(b.w1, pos_, length));
    stack_push(rule_stack, triple(kBlockFrame, bf_, case_sensitive_ ? 1 : 0));
    bf_ = frame;
    rpos_ = series::index(&block);
    trace(words::word.push);
}

void Engine::pop_block() {
    trace(words::word.pop, match_);
    const Cell tag = *rs(bf_ + 2);
    const Cell entry = *rs(bf_ + 1);
    if (!match_) {
        pos_ = entry.w2;
        clamp_position();
    }
    case_sensitive_ = (tag.w3 & 1) != 0;
    stack_cut(rule_stack, bf_);
    bf_ = tag.w2;
    if (bf_ != kNoFrame) rpos_ = rs(bf_ + 1)->w1;
}

void Engine::push_command(int32_t code, int64_t min, int64_t max, const Cell& arg, uint32_t flags) {
    check_limit();
    const uint32_t length = input_length();
    GcRoot a(arg);
    stack_push(rule_stack, triple(min, max, 1));
    stack_push(rule_stack, triple(pos_, length, rpos_));
    stack_push(rule_stack, a.cell());
    stack_push(rule_stack, triple(code, flags, pos_));
    trace(words::word.push);
}

// --- The callback --------------------------------------------------------------------------------

void Engine::call_back(const Cell* event, bool matched, int64_t rule_index) {
    Cell* const mark = stack::top;
    Cell* args = stack::push(*event);
    logic::push(matched);
    Cell rule_at = bf_ != kNoFrame ? *rs(bf_) : Cell{kTypeNone, 0, 0, 0};
    if (bf_ != kNoFrame) rule_at.w1 = static_cast<uint32_t>(rule_index >= 0 ? rule_index : rpos_);
    stack::push(rule_at);
    stack::push(input_at(pos_));
    // The callback sees a copy of this call's part of the rule stack: whatever it does to
    // that block, the engine's own frames stay as they are.
    Cell* stack_value = stack::push(*rule_stack);
    stack_value->w1 = rs_base_;
    *stack_value = *block::copy_series(stack_value, false, false);
    stack::top = stack_value + 1;
    interp::CallbackTracing traced(interp::kParseCallback);
    const Cell answer = interp::call_values(callback_, args, 5);
    stack::top = mark;
    clamp_position();
    if (event != end_event && !logic::value_true(&answer)) throw Stop{};
}

// --- Matching ------------------------------------------------------------------------------------

// Units of the text or binary value `value` matches at `at`, or -1.
int32_t Engine::match_at(const Cell& value, uint32_t at) {
    const uint8_t in = input_type();
    const uint8_t t = cell::type(&value);
    const uint32_t stop = end();
    if (is_block_input(in)) {
        if (at >= stop) return -1;
        Cell item = memory::buffer(input()->w2)->cells()[at];
        switch (t) {
        case kTypeDatatype:
            return cell::type(&item) == value.w1 ? 1 : -1;
        case kTypeTypeset:
            return typeset::contains(&value, cell::type(&item)) ? 1 : -1;
        default: {
            int32_t op = case_sensitive_ ? action::op::strict_equal : action::op::equal;
            if (t == kTypeLitWord || t == kTypeLitPath)
                op = case_sensitive_ ? action::op::parse_case : action::op::parse;
            Cell rule_value = value;
            return actions::compare_values(&item, &rule_value, op) == 0 ? 1 : -1;
        }
        }
    }
    if (t == kTypeDatatype || t == kTypeTypeset) {
        if (in == kTypeBinary) return scan_typed(value, at);
        error::fire(error::kScript, error::script::parse_unsupported);
    }
    const Cell here = input_at(at);
    if (in == kTypeBinary) {
        Buffer* b = memory::buffer(here.w2);
        switch (t) {
        case kTypeChar:
            return at < stop && b->at_head()[at] == value.w2 ? 1 : -1;
        case kTypeBitset:
            return at < stop && binary::byte_in_bitset(&here, &value) ? 1 : -1;
        case kTypeBinary: {
            const uint32_t n = series::total_units(&value) - series::clamped_index(&value);
            return at + n <= stop && binary::string_like(&here, &value) ? static_cast<int32_t>(n)
                                                                        : -1;
        }
        default:
            if (!is_text(t)) return -1;
            const uint32_t n = static_cast<uint32_t>(string::utf8_from_index(&value).size());
            return at + n <= stop && binary::string_like(&here, &value) ? static_cast<int32_t>(n)
                                                                        : -1;
        }
    }
    // Text input.
    const int32_t op = case_sensitive_ ? string::kStrictEqual : string::kEqual;
    switch (t) {
    case kTypeChar:
        return at < stop && string::match_value(&here, &value, op) ? 1 : -1;
    case kTypeBitset:
        return at < stop && string::char_in_bitset(&here, &value) ? 1 : -1;
    default: {
        if (!is_text(t)) return -1;
        const uint32_t n = string::length_from_head(&value) - series::clamped_index(&value) +
                           (t == kTypeTag ? 2 : 0);
        return at + n <= stop && string::match_value(&here, &value, op) ? static_cast<int32_t>(n)
                                                                        : -1;
    }
    }
}

// A datatype or typeset rule on binary input: the lexer scans the token at the position;
// its bytes match when its type is the one asked for.
int32_t Engine::scan_typed(const Cell& types, uint32_t at) {
    const uint32_t stop = end();
    if (at >= stop) return -1;
    uint32_t consumed = 0;
    uint8_t type = 0;
    {
        // Nothing moves while the lexer reads straight from the input's buffer.
        NoGcScope pinned;
        Cell* const mark = stack::top;
        Cell* dst = stack::push(Cell{kTypeNone, 0, 0, 0});
        lexer::ScanMode mode;
        mode.one = true;
        mode.load = false;
        const uint8_t* bytes = memory::buffer(input()->w2)->at_head() + at;
        type = lexer::scan(dst, bytes, stop - at, mode, &consumed, nullptr, nullptr, nullptr);
        stack::top = mark;
    }
    if (type == 0 || type == kTypeError || consumed == 0) return -1;
    const bool fits =
        cell::type(&types) == kTypeDatatype ? types.w1 == type : typeset::contains(&types, type);
    return fits ? static_cast<int32_t>(std::min(consumed, stop - at)) : -1;
}

// A value that matches one item without a frame: no block, paren, count, position word or
// keyword.
bool Engine::simple(const Cell& value) const {
    switch (cell::type(&value)) {
    case kTypeBlock:
    case kTypeParen:
    case kTypeInteger:
    case kTypeSetWord:
    case kTypeGetWord:
    case kTypePath:
    case kTypeSetPath:
    case kTypeGetPath:
    case kTypeWord:
        return false;
    default:
        return true;
    }
}

// The rule value at `at` (a word stands for its value) when it is simple.
bool Engine::resolve_simple(const Cell* at, Cell& value) const {
    value = *at;
    if (cell::type(at) == kTypeWord) {
        if (keyword_of(at) != Keyword::not_keyword) return false;
        const Cell* v = interp::value_of(const_cast<Cell*>(at));
        if (cell::type(v) == kTypeUnset) return false;
        value = *v;
        // A word's value that is a word is matched literally.
        if (cell::type(&value) == kTypeWord) return true;
    }
    return simple(value);
}

// Repetition of a simple rule, without frames. Answers false when the rule is not simple.
bool Engine::fast_repeat(int64_t min, int64_t max) {
    if (callback_) return false;
    Cell* operand = peek(0);
    Cell value = *operand;
    bool literal_word = false;
    if (cell::type(operand) == kTypeWord) {
        if (keyword_of(operand) != Keyword::not_keyword) return false;
        value = word_value(operand);
        // A word's value that is a word is matched literally.
        literal_word = cell::type(&value) == kTypeWord;
    }
    if (quick_fail(value)) {
        // Not even one round matches.
        ++rpos_;
        match_ = min == 0;
        step_ = Step::result;
        return true;
    }
    if (!literal_word && !simple(value)) return false;
    ++rpos_;
    const uint32_t start = pos_;
    int64_t count = 0;
    bool success = false;
    uint32_t at = pos_;
    if (run_of(value, at, max, count)) {
        match_ = count >= min;
        pos_ = match_ ? at : start;
        step_ = Step::result;
        return true;
    }
    for (;;) {
        if (max >= 0 && count >= max) {
            success = true;
            break;
        }
        const int32_t n = match_at(value, pos_);
        if (n < 0) {
            success = count >= min;
            break;
        }
        ++count;
        if (n == 0) {
            // A round that matches nothing would match the same way every time.
            success = true;
            break;
        }
        pos_ += static_cast<uint32_t>(n);
    }
    match_ = success;
    if (!success) pos_ = start;
    step_ = Step::result;
    return true;
}

bool Engine::run_of(const Cell& value, uint32_t& at, int64_t max, int64_t& count) {
    const uint8_t in = input_type();
    if (is_block_input(in) || cell::type(&value) != kTypeBitset) return false;
    Buffer* b = memory::buffer(input()->w2);
    Buffer* bits = memory::buffer(value.w2);
    const uint32_t unit = b->unit();
    const uint8_t* head = b->at_head();
    uint32_t stop = end();
    if (max >= 0 && at + max < stop) stop = at + static_cast<uint32_t>(max);
    const uint32_t from = at;
    if (unit == 1) {
        while (at < stop && bitset::has(bits, head[at])) ++at;
    } else {
        while (at < stop && bitset::has(bits, string::get_char(head + at * unit, unit))) ++at;
    }
    count = at - from;
    return true;
}

// Whether a sub-rule block fails at the input position without being entered: it has no
// alternatives and its first value is a simple rule that does not match there.
bool Engine::quick_fail(const Cell& block) {
    if (callback_ || cell::type(&block) != kTypeBlock) return false;
    Buffer* b = memory::buffer(series::node(&block));
    const uint32_t n = b->length();
    const uint32_t first = series::index(&block);
    // Only short blocks are searched for alternatives.
    if (first >= n || n - first > 16) return false;
    for (uint32_t i = first; i < n; ++i) {
        const Cell* v = b->cells() + i;
        if (cell::type(v) == kTypeWord && keyword_of(v) == Keyword::bar) return false;
    }
    Cell value;
    if (!resolve_simple(b->cells() + first, value)) return false;
    return match_at(value, pos_) < 0;
}

// to and thru over a simple rule: the search without frames.
bool Engine::fast_search(bool thru) {
    if (callback_) return false;
    Cell value;
    if (!resolve_simple(peek(0), value)) return false;
    ++rpos_;
    const uint32_t stop = end();
    const uint8_t in = input_type();
    const uint8_t t = cell::type(&value);
    Buffer* b = memory::buffer(input()->w2);
    // One character (a char! or a text of one) without case variants, in a text of one byte
    // a character: memchr finds it.
    uint32_t cp = 0xFFFFFFFF;
    if (t == kTypeChar) {
        cp = value.w2;
    } else if (is_text(t) && t != kTypeTag &&
               string::length_from_head(&value) == series::clamped_index(&value) + 1) {
        cp = string::char_at(&value, series::clamped_index(&value));
    }
    if (in != kTypeBinary && !is_block_input(in) && b->unit() == 1 && cp < 256 &&
        (case_sensitive_ || (case_::to_upper(cp) == cp && case_::fold_wide(cp, false) == cp))) {
        const uint8_t* head = b->at_head();
        const void* hit =
            pos_ < stop ? std::memchr(head + pos_, static_cast<int>(cp), stop - pos_) : nullptr;
        match_ = hit != nullptr;
        if (hit) {
            const uint32_t at = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - head);
            pos_ = thru ? at + 1 : at;
        }
        step_ = Step::result;
        return true;
    }
    if (!is_block_input(in) && t == kTypeBitset) {
        Buffer* bits = memory::buffer(value.w2);
        const uint32_t unit = b->unit();
        const uint8_t* head = b->at_head();
        uint32_t at = pos_;
        if (unit == 1) {
            while (at < stop && !bitset::has(bits, head[at])) ++at;
        } else {
            while (at < stop && !bitset::has(bits, string::get_char(head + at * unit, unit))) ++at;
        }
        match_ = at < stop;
        if (match_) pos_ = thru ? at + 1 : at;
        step_ = Step::result;
        return true;
    }
    // A text of two or more characters in a text: find's search, which compares at the
    // places where the first character stands instead of at every place.
    if (!is_block_input(in) && in != kTypeBinary && is_text(t) && t != kTypeTag &&
        string::length_from_head(&value) > series::clamped_index(&value)) {
        const int64_t at = string::find_text(input(), pos_, stop, &value, case_sensitive_);
        match_ = at >= 0;
        if (match_) {
            const uint32_t n = string::length_from_head(&value) - series::clamped_index(&value);
            pos_ = static_cast<uint32_t>(at) + (thru ? n : 0);
        }
        step_ = Step::result;
        return true;
    }
    match_ = false;
    for (uint32_t at = pos_; at <= stop; ++at) {
        const int32_t n = match_at(value, at);
        if (n >= 0) {
            pos_ = thru ? at + static_cast<uint32_t>(n) : at;
            match_ = true;
            break;
        }
    }
    step_ = Step::result;
    return true;
}

// A get-word, or a word whose value is a position in the current input: `at` receives the
// position. A get-word whose value is not one raises parse-invalid-ref.
bool Engine::position_word(const Cell* word, uint32_t& at) {
    const uint8_t t = cell::type(word);
    if (t != kTypeGetWord && !(t == kTypeWord && keyword_of(word) == Keyword::not_keyword))
        return false;
    Cell w = *word;
    const Cell* v = interp::value_of(&w);
    const Cell* in = input();
    if (cell::type(v) != cell::type(in) || v->w2 != in->w2) {
        if (t == kTypeGetWord)
            error::fire(error::kScript, error::script::parse_invalid_ref, {word});
        return false;
    }
    at = std::min(series::clamped_index(v), input_length());
    return true;
}

// --- Actions on the input and the targets --------------------------------------------------------

// A copy of the input from `from` to `to`. May collect.
Cell Engine::copy_span(uint32_t from, uint32_t to) {
    const Cell in = *input();
    const uint32_t node = series::copy_part(in.w2, from, to > from ? to - from : 0);
    return Cell{cell::type(&in), 0, node, 0};
}

// Sets a word. May collect and run user code (an object's change handler).
void Engine::assign(const Cell& word, const Cell& value) {
    Cell* const mark = stack::top;
    Cell* w = stack::push(word);
    Cell* v = stack::push(value);
    context::set_word(w, v);
    stack::top = mark;
}

// Evaluates a paren and answers its value. Runs user code.
Cell Engine::eval_paren(const Cell& paren) {
    Cell* const mark = stack::top;
    Cell* p = stack::push(paren);
    const Status s = interp::eval_block(p);
    if (s != Status::normal) {
        stack::top = mark;
        throw Unwind{s};
    }
    GcRoot value(stack::top[-1]);
    stack::top = mark;
    ++user_runs_;
    clamp_position();
    trace(words::word.paren);
    return value.cell();
}

// The value that insert and change put in: a paren evaluated, a word's value; a path is not
// one.
Cell Engine::change_value(const Cell& source) {
    switch (cell::type(&source)) {
    case kTypeParen:
        return eval_paren(source);
    case kTypeWord: {
        Cell w = source;
        return word_value(&w);
    }
    case kTypePath:
    case kTypeSetPath:
    case kTypeGetPath:
    case kTypeLitPath:
        error::fire(error::kScript, error::script::parse_rule, {&source});
    default:
        return source;
    }
}

// Changes `count` units of the input at `from` to the value (insert: puts it in before
// `from`); the input then continues after the new part. May collect and run user code.
void Engine::edit(uint32_t from, uint32_t count, const Cell* value, bool only, bool insert) {
    Cell* const mark = stack::top;
    Cell* series = stack::push(input_at(from));
    Cell* v = stack::push(*value);
    const uint32_t before = input_length();
    if (insert)
        actions::call<action::slot::insert>(series, v, {.only = only});
    else
        actions::call<action::slot::change>(series, v,
                                            {.part = static_cast<int32_t>(count), .only = only});
    stack::top = mark;
    const int64_t delta = static_cast<int64_t>(input_length()) - before;
    edited(delta);
    pos_ = static_cast<uint32_t>(std::max<int64_t>(0, from + count + delta));
    clamp_position();
}

// Removes the input from `from` to `to`; the input continues at `from`. May collect and run
// user code (the owner's change handler).
void Engine::remove_span(uint32_t from, uint32_t to) {
    if (to > from) {
        Cell* const mark = stack::top;
        Cell* series = stack::push(input_at(from));
        Cell* part = integer::push(static_cast<int32_t>(to - from));
        const uint32_t before = input_length();
        actions::call<action::slot::remove>(series, part, nullptr);
        stack::top = mark;
        edited(static_cast<int64_t>(input_length()) - before);
    }
    pos_ = from;
    clamp_position();
}

// The `only` after insert or change (skipped when there); an operand must follow either way.
bool Engine::only_option(const Cell& keyword) {
    operand(keyword);
    if (!is_symbol(peek(0), words::symbol.only)) return false;
    ++rpos_;
    operand(keyword);
    return true;
}

// insert and change with their value in the rules (the next rule value): `count` units at
// `from` become the value. May collect and run user code.
void Engine::put_value(const Cell& keyword, uint32_t from, uint32_t count, bool only, bool insert) {
    const Cell source = *operand(keyword);
    ++rpos_;
    GcRoot held(change_value(source));
    edit(from, count, &held.cell(), only, insert);
}

// Adds a value to the innermost collect target. May collect.
void Engine::append_collected(const Cell& value) {
    Cell* const mark = stack::top;
    Cell* target = stack::push(*is(static_cast<uint32_t>(collect_slot_)));
    Cell* v = stack::push(value);
    if (collect_into_ && cell::type(target) != kTypeBinary) {
        const uint32_t before = memory::buffer(series::node(target))->length();
        actions::call<action::slot::insert>(target, v, {.only = true});
        const uint32_t added = memory::buffer(series::node(target))->length() - before;
        is(static_cast<uint32_t>(collect_slot_))->w1 =
            series::clamped_index(is(static_cast<uint32_t>(collect_slot_))) + added;
    } else {
        actions::call<action::slot::append>(target, v, {.only = true, .append = true});
    }
    stack::top = mark;
}

// keep of a value: as it is, or with pick each element of a series separately.
void Engine::keep_value(const Cell& value, bool pick) {
    if (!pick || !series::is_series(cell::type(&value)) || cell::type(&value) == kTypeVector ||
        cell::type(&value) == kTypeImage) {
        append_collected(value);
        return;
    }
    GcRoot held(value);
    for (uint32_t i = series::clamped_index(&held.cell());
         i < memory::buffer(held.cell().w2)->length(); ++i)
        append_collected(unit_value(&held.cell(), i));
}

// keep of what the input matched from `from` to `to`: one unit as a value, more as one
// copied series (always a copy with keep copy), each unit with pick.
void Engine::keep_span(uint32_t from, uint32_t to, uint32_t flags) {
    if (flags & kKeepPick) {
        for (uint32_t i = from; i < to && i < input_length(); ++i)
            append_collected(unit_value(input(), i));
        return;
    }
    if (to == from + 1 && !(flags & kKeepCopy)) {
        append_collected(unit_value(input(), from));
        return;
    }
    if ((flags & kKeepCopy) && fresh_copy_) {
        append_collected(last_copy_.cell());
        return;
    }
    GcRoot copy(copy_span(from, to));
    append_collected(copy.cell());
}

// A collect into/after target must be a series other than the input, of a kind the input's
// values can go into.
void Engine::check_target(const Cell& target) {
    const uint8_t t = cell::type(&target);
    const uint8_t in = input_type();
    if (series::is_series(t) && (target.w2 == is(base_slot_)->w2 || target.w2 == input()->w2))
        error::fire(error::kScript, error::script::parse_into_bad);
    if (!series::is_series(t) || t == kTypeVector || t == kTypeImage ||
        (t == kTypeBinary && in != kTypeBinary) || (is_text(t) && is_block_input(in)))
        error::fire(error::kScript, error::script::parse_into_type);
}

// --- Steps
// ------------------------------------------------------------------------------------------

void Engine::fetch() {
    if (rpos_ >= rules_length()) {
        match_ = true;
        pop_block();
        step_ = Step::result;
        return;
    }
    const uint32_t at = rpos_++;
    trace(words::word.fetch, match_, at);
    Cell* here = rules()->cells() + at;
    if (cell::type(here) == kTypeSetWord) resolve_in_place(here);
    const Cell value = *here;
    if (cell::type(&value) == kTypeWord) {
        const Keyword k = keyword_of(&value);
        if (k != Keyword::not_keyword) {
            keyword(k, value);
            return;
        }
        const Cell v = word_value(here);
        rule(v, true);
        return;
    }
    rule(value, false);
}

// A rule value: literal in the rules, or a word's value (`from_word`).
void Engine::rule(const Cell& value, bool from_word) {
    step_ = Step::result;
    switch (cell::type(&value)) {
    case kTypeBlock:
        if (quick_fail(value)) {
            match_ = false;
            return;
        }
        push_block(value);
        step_ = Step::fetch;
        return;
    case kTypeInteger:
        counts(value);
        return;
    case kTypeParen:
        if (from_word) break;
        eval_paren(value);
        match_ = true;
        return;
    case kTypeSetWord:
        if (from_word) break;
        assign(value, input_at(pos_));
        match_ = true;
        return;
    case kTypeGetWord: {
        if (from_word) break;
        uint32_t at = 0;
        position_word(&value, at);
        pos_ = at;
        match_ = true;
        return;
    }
    case kTypePath:
    case kTypeSetPath:
    case kTypeGetPath:
        if (from_word) break;
        error::fire(error::kScript, error::script::parse_rule, {&value});
    default:
        break;
    }
    const int32_t n = match_value(value);
    if (n >= 0) pos_ += static_cast<uint32_t>(n);
    match_ = n >= 0;
}

// An integer, or a word (not a keyword) whose value is one.
bool is_count(const Cell* v) {
    if (cell::type(v) == kTypeInteger) return true;
    if (cell::type(v) != kTypeWord || keyword_of(v) != Keyword::not_keyword) return false;
    return cell::type(interp::value_of(const_cast<Cell*>(v))) == kTypeInteger;
}

// The extent in values of the rule at rpos_ + offset: keywords with their arguments, counts
// and the rule they apply to. Used to skip a rule repeated zero times.
uint32_t rule_extent(const Cell* cells, uint32_t length, uint32_t at) {
    uint32_t i = at;
    // Values still to take as whole rules.
    uint32_t pending = 1;
    while (pending > 0 && i < length) {
        const Cell* v = cells + i++;
        --pending;
        if (is_count(v)) {
            if (i < length && is_count(cells + i)) ++i;
            ++pending;
            continue;
        }
        if (cell::type(v) != kTypeWord) continue;
        switch (keyword_of(v)) {
        case Keyword::opt:
        case Keyword::any:
        case Keyword::some:
        case Keyword::while_:
        case Keyword::to:
        case Keyword::thru:
        case Keyword::not_:
        case Keyword::ahead:
        case Keyword::into:
        case Keyword::remove:
            ++pending;
            break;
        case Keyword::copy:
        case Keyword::set:
            ++i;
            ++pending;
            break;
        case Keyword::quote:
        case Keyword::if_:
        case Keyword::case_:
            ++i;
            break;
        case Keyword::keep:
            if (i < length && is_symbol(cells + i, words::symbol.pick)) ++i;
            ++pending;
            break;
        case Keyword::collect:
            if (i + 1 < length && cell::type(cells + i) == kTypeWord &&
                cell::type(cells + i + 1) == kTypeWord &&
                (is_symbol(cells + i, words::symbol.set) ||
                 is_symbol(cells + i, words::symbol.into) ||
                 is_symbol(cells + i, words::symbol.after)))
                i += 2;
            ++pending;
            break;
        case Keyword::insert:
            if (i < length && is_symbol(cells + i, words::symbol.only)) ++i;
            if (i < length && cell::type(cells + i) == kTypeGetWord) ++i;
            ++i;
            break;
        case Keyword::change:
            if (i < length && is_symbol(cells + i, words::symbol.only)) ++i;
            ++i; // the rule or the position
            ++i; // the value
            break;
        default:
            break;
        }
    }
    return std::min(i, length) - at;
}

// n rule, n m rule (each count an integer or a word holding one).
void Engine::counts(const Cell& first) {
    const int32_t n = integer::get(&first);
    if (n < 0) error::fire(error::kScript, error::script::out_of_range, {&first});
    int64_t m = n;
    if (has(0)) {
        Cell* next = peek(0);
        Cell second{};
        if (cell::type(next) == kTypeInteger) {
            second = *next;
        } else if (cell::type(next) == kTypeWord && keyword_of(next) == Keyword::not_keyword) {
            const Cell* v = interp::value_of(next);
            if (cell::type(v) == kTypeInteger) second = *v;
        }
        if (cell::type(&second) == kTypeInteger) {
            m = integer::get(&second);
            if (m < 0) error::fire(error::kScript, error::script::out_of_range, {&second});
            ++rpos_;
        }
    }
    if (!has(0) || n > m) error::fire(error::kScript, error::script::parse_rule, {&first});
    if (m == 0) {
        rpos_ += rule_extent(rules()->cells(), rules_length(), rpos_);
        match_ = true;
        step_ = Step::result;
        return;
    }
    if (fast_repeat(n, m)) return;
    push_command(kRepeat, n, m, Cell{kTypeTriple, user_runs_, 0, 0}, 0);
    step_ = Step::fetch;
}

void Engine::keyword(Keyword k, const Cell& word) {
    step_ = Step::result;
    switch (k) {
    case Keyword::not_keyword:
        return;
    case Keyword::bar:
        // The alternative before it matched: the block succeeds.
        if (!has(0)) error::fire(error::kScript, error::script::parse_end, {&word});
        match_ = true;
        pop_block();
        return;
    case Keyword::skip: {
        const bool ok = pos_ < end();
        trace(words::word.match, ok);
        if (ok) ++pos_;
        match_ = ok;
        return;
    }
    case Keyword::end:
        match_ = pos_ >= end();
        trace(words::word.match, match_);
        return;
    case Keyword::none:
        match_ = true;
        return;
    case Keyword::fail:
        match_ = false;
        return;
    case Keyword::opt:
    case Keyword::any:
    case Keyword::some:
    case Keyword::while_: {
        operand(word);
        const int64_t min = k == Keyword::some ? 1 : 0;
        const int64_t max = k == Keyword::opt ? 1 : -1;
        if (fast_repeat(min, max)) return;
        push_command(k == Keyword::while_ ? kWhile : kRepeat, min, max,
                     Cell{kTypeTriple, user_runs_, 0, 0}, 0);
        step_ = Step::fetch;
        return;
    }
    case Keyword::to:
    case Keyword::thru: {
        const Cell* target = operand(word);
        if (is_keyword(target, Keyword::end)) {
            ++rpos_;
            pos_ = end();
            match_ = true;
            return;
        }
        if (fast_search(k == Keyword::thru)) return;
        push_command(k == Keyword::to ? kTo : kThru, 0, 0, Cell{kTypeNone, 0, 0, 0}, 0);
        step_ = Step::fetch;
        return;
    }
    case Keyword::copy:
    case Keyword::set: {
        Cell* target_at = operand(word);
        if (cell::type(target_at) == kTypeWord) resolve_in_place(target_at);
        const Cell target = *target_at;
        if (cell::type(&target) != kTypeWord || !has(1))
            error::fire(error::kScript, error::script::parse_end, {&word});
        ++rpos_;
        push_command(k == Keyword::copy ? kCopy : kSet, 0, 0, target, 0);
        step_ = Step::fetch;
        return;
    }
    case Keyword::not_:
    case Keyword::ahead:
        operand(word);
        push_command(k == Keyword::not_ ? kNot : kAhead, 0, 0, Cell{kTypeNone, 0, 0, 0}, 0);
        step_ = Step::fetch;
        return;
    case Keyword::into: {
        Cell* sub = operand(word);
        bool block_operand = cell::type(sub) == kTypeBlock;
        if (cell::type(sub) == kTypeWord && keyword_of(sub) == Keyword::not_keyword)
            block_operand = cell::type(interp::value_of(sub)) == kTypeBlock;
        if (!block_operand) error::fire(error::kScript, error::script::parse_end, {&word});
        if (!is_block_input(input_type())) {
            Cell type{};
            datatype::make_at(&type, input_type());
            error::fire(error::kScript, error::script::parse_block, {&type});
        }
        Cell item{};
        if (pos_ < end()) item = memory::buffer(input()->w2)->cells()[pos_];
        const uint8_t t = cell::type(&item);
        if (pos_ >= end() || !series::is_series(t) || t == kTypeVector || t == kTypeImage) {
            ++rpos_;
            match_ = false;
            trace(words::word.match, false);
            return;
        }
        GcRoot inner(item);
        push_command(kInto, in_slot_, is_length(), Cell{kTypeNone, 0, 0, 0}, 0);
        check_limit();
        stack_push(input_stack, inner.cell());
        item = inner.cell();
        in_slot_ = is_length() - 1;
        pos_ = std::min(series::clamped_index(&item), input_length());
        step_ = Step::fetch;
        return;
    }
    case Keyword::quote: {
        const Cell value = *operand(word);
        ++rpos_;
        const int32_t n = match_value(value);
        if (n >= 0) pos_ += static_cast<uint32_t>(n);
        match_ = n >= 0;
        return;
    }
    case Keyword::break_:
    case Keyword::reject:
        unwind_to_repetition(k == Keyword::break_);
        return;
    case Keyword::if_: {
        const Cell paren = *operand(word);
        if (cell::type(&paren) != kTypeParen)
            error::fire(error::kScript, error::script::parse_end, {&word});
        ++rpos_;
        const Cell value = eval_paren(paren);
        match_ = logic::value_true(&value);
        return;
    }
    case Keyword::case_: {
        Cell flag = *operand(word);
        if (cell::type(&flag) != kTypeWord)
            error::fire(error::kScript, error::script::parse_end, {&word});
        ++rpos_;
        const Cell v = *interp::value_of(&flag);
        case_sensitive_ = logic::value_true(&v);
        match_ = true;
        return;
    }
    case Keyword::collect: {
        operand(word);
        Collect kind = kCollectPlain;
        Cell target_word{kTypeNone, 0, 0, 0};
        const Cell option = *peek(0);
        if (has(1) && cell::type(peek(1)) == kTypeWord) {
            if (is_symbol(&option, words::symbol.set))
                kind = kCollectSet;
            else if (is_symbol(&option, words::symbol.into))
                kind = kCollectInto;
            else if (is_symbol(&option, words::symbol.after))
                kind = kCollectAfter;
        }
        if (kind != kCollectPlain) {
            target_word = *peek(1);
            rpos_ += 2;
            operand(word);
        }
        GcRoot target{Cell{kTypeNone, 0, 0, 0}};
        if (kind == kCollectInto || kind == kCollectAfter) {
            target.set_cell(word_value(&target_word));
            check_target(target.cell());
        }
        push_command(kCollect, collect_slot_, collect_into_ ? 1 : 0, target_word, kind);
        check_limit();
        if (kind == kCollectInto || kind == kCollectAfter) {
            stack_push(input_stack, target.cell());
        } else {
            Cell* const mark = stack::top;
            Cell* block = block::push_new(8);
            stack_push(input_stack, *block);
            stack::top = mark;
        }
        collect_slot_ = static_cast<int32_t>(is_length() - 1);
        collect_into_ = kind == kCollectInto;
        step_ = Step::fetch;
        return;
    }
    case Keyword::keep: {
        if (collect_slot_ < 0) error::fire(error::kScript, error::script::parse_keep);
        operand(word);
        uint32_t flags = 0;
        if (is_symbol(peek(0), words::symbol.pick)) {
            flags |= kKeepPick;
            ++rpos_;
            operand(word);
        }
        const Cell next = *peek(0);
        if (cell::type(&next) == kTypeParen) {
            ++rpos_;
            const Cell value = eval_paren(next);
            keep_value(value, (flags & kKeepPick) != 0);
            match_ = true;
            return;
        }
        if (is_keyword(&next, Keyword::copy)) flags |= kKeepCopy;
        push_command(kKeep, 0, 0, Cell{kTypeNone, 0, 0, 0}, flags);
        step_ = Step::fetch;
        return;
    }
    case Keyword::insert: {
        const bool only = only_option(word);
        uint32_t at = pos_;
        if (has(1) && position_word(peek(0), at)) ++rpos_;
        put_value(word, at, 0, only, true);
        match_ = true;
        return;
    }
    case Keyword::change: {
        const bool only = only_option(word);
        uint32_t from = 0;
        if (position_word(peek(0), from)) {
            ++rpos_;
            const uint32_t lo = std::min(from, pos_), hi = std::max(from, pos_);
            put_value(word, lo, hi - lo, only, false);
            match_ = true;
            return;
        }
        // The value after the rule must be there.
        if (rpos_ + rule_extent(rules()->cells(), rules_length(), rpos_) >= rules_length())
            error::fire(error::kScript, error::script::parse_end, {&word});
        push_command(only ? kChangeOnly : kChange, 0, 0, Cell{kTypeNone, 0, 0, 0}, 0);
        step_ = Step::fetch;
        return;
    }
    case Keyword::remove: {
        operand(word);
        uint32_t from = 0;
        if (position_word(peek(0), from)) {
            ++rpos_;
            remove_span(std::min(from, pos_), std::max(from, pos_));
            match_ = true;
            return;
        }
        push_command(kRemove, 0, 0, Cell{kTypeNone, 0, 0, 0}, 0);
        step_ = Step::fetch;
        return;
    }
    }
}

// break and reject: leave the rule blocks and commands up to the innermost repetition and end
// it as after a matching (break) or failed (reject) round. Without one, the whole parse ends:
// break as if the rules had run out, reject failing.
void Engine::unwind_to_repetition(bool broke) {
    for (;;) {
        const Cell tag = *top_tag();
        const int32_t code = as_int(tag.w1);
        if (code == kCallFrame) {
            match_ = broke;
            step_ = Step::result;
            return;
        }
        if (code == kBlockFrame) {
            const bool saved = match_;
            match_ = true;
            pop_block();
            match_ = saved;
            continue;
        }
        if (code == kRepeat || code == kWhile) {
            finish_repeat(broke, true);
            return;
        }
        if (code == kInto) {
            match_ = broke;
            end_into(false);
            if (broke) pos_ = std::min(tag.w3 + 1, input_length());
            continue;
        }
        if (code == kCollect) {
            match_ = false;
            end_collect();
            continue;
        }
        pop_command();
    }
}

// Ends the repetition on top of the rule stack (or starts its next round).
void Engine::finish_repeat(bool round_matched, bool broke) {
    const uint32_t f = rs_length() - kCommandCells;
    const Cell counts = *rs(f);
    const Cell round = *rs(f + 1);
    const Cell runs = *rs(f + 2);
    const Cell tag = *rs(f + 3);
    const int64_t min = as_int(counts.w1), max = as_int(counts.w2), count = as_int(counts.w3);
    bool success;
    if (round_matched) {
        const uint32_t length = input_length();
        bool progress = pos_ > round.w1 || length < round.w2;
        if (as_int(tag.w1) == kWhile) progress = progress || runs.w1 != user_runs_;
        if (!broke && progress && (max < 0 || count < max)) {
            rs(f)->w3 = static_cast<uint32_t>(count + 1);
            *rs(f + 1) = triple(pos_, length, round.w3);
            rs(f + 2)->w1 = user_runs_;
            rpos_ = round.w3;
            trace(words::word.iterate);
            step_ = Step::fetch;
            return;
        }
        // A round that made no progress would match the same way again up to the maximum.
        success = max < 0 || count >= max || !progress;
    } else {
        pos_ = round.w1;
        clamp_position();
        success = min == 0 || count - 1 >= min;
    }
    match_ = success;
    if (!success) {
        pos_ = tag.w3;
        clamp_position();
    }
    pop_command();
    step_ = Step::result;
}

// into is done: the inner series leaves the input stack.
void Engine::end_into(bool success) {
    const uint32_t f = rs_length() - kCommandCells;
    const Cell counts = *rs(f);
    const Cell tag = *rs(f + 3);
    stack_cut(input_stack, counts.w2);
    in_slot_ = counts.w1;
    pos_ = tag.w3 + (success ? 1 : 0);
    clamp_position();
    match_ = success;
    pop_command();
}

// collect is done: its block goes to the word (set), into the enclosing collect, or becomes
// parse's result; into and after already put the values in place.
void Engine::end_collect() {
    const uint32_t f = rs_length() - kCommandCells;
    const Cell counts = *rs(f);
    GcRoot word(*rs(f + 2));
    const Cell tag = *rs(f + 3);
    GcRoot target(*is(static_cast<uint32_t>(collect_slot_)));
    stack_cut(input_stack, static_cast<uint32_t>(collect_slot_));
    collect_slot_ = as_int(counts.w1);
    collect_into_ = counts.w2 != 0;
    pop_command();
    if (!match_) {
        pos_ = tag.w3;
        clamp_position();
        return;
    }
    switch (tag.w2) {
    case kCollectPlain:
        if (collect_slot_ >= 0) {
            append_collected(target.cell());
        } else {
            collected_block_.set_cell(target.cell());
            collected_ = true;
        }
        break;
    case kCollectSet:
        assign(word.cell(), target.cell());
        break;
    default:
        break;
    }
}

// The result of a rule reaches the frame below it. Answers false when that is the call
// frame: the rules are done.
bool Engine::result() {
    const Cell tag = *top_tag();
    const int32_t code = as_int(tag.w1);
    if (code == kCallFrame) return false;
    if (code == kBlockFrame) {
        if (match_) {
            step_ = Step::fetch;
            return true;
        }
        // The next alternative, from the input position of the block's entry.
        Buffer* b = rules();
        const uint32_t n = b->length();
        for (uint32_t i = rpos_; i < n; ++i) {
            const Cell* v = b->cells() + i;
            if (cell::type(v) == kTypeWord && keyword_of(v) == Keyword::bar) {
                if (i + 1 >= n) error::fire(error::kScript, error::script::parse_end, {v});
                pos_ = rs(bf_ + 1)->w2;
                clamp_position();
                rpos_ = i + 1;
                step_ = Step::fetch;
                return true;
            }
        }
        pop_block();
        return true;
    }
    command_result();
    return true;
}

void Engine::command_result() {
    const uint32_t f = rs_length() - kCommandCells;
    const Cell tag = *rs(f + 3);
    const int32_t code = as_int(tag.w1);
    const uint32_t start = std::min(tag.w3, input_length());
    const bool after_copy = fresh_copy_;
    fresh_copy_ = false;
    step_ = Step::result;
    switch (code) {
    case kRepeat:
    case kWhile:
        finish_repeat(match_, false);
        return;
    case kTo:
    case kThru: {
        const uint32_t attempt = rs(f + 1)->w1;
        if (match_) {
            if (code == kTo) pos_ = attempt;
            break;
        }
        if (attempt + 1 <= end()) {
            pos_ = attempt + 1;
            *rs(f + 1) = triple(pos_, input_length(), rs(f + 1)->w3);
            rpos_ = rs(f + 1)->w3;
            step_ = Step::fetch;
            return;
        }
        pos_ = start;
        break;
    }
    case kCopy:
    case kSet:
        if (match_) {
            Cell value{kTypeNone, 0, 0, 0};
            if (code == kCopy) {
                value = copy_span(start, pos_);
                last_copy_.set_cell(value);
            } else if (pos_ > start)
                value = unit_value(input(), start);
            GcRoot held(value);
            // Read after the copy, which may have moved the word's context.
            assign(*rs(f + 2), held.cell());
            fresh_copy_ = code == kCopy;
        } else {
            pos_ = start;
        }
        break;
    case kNot:
        match_ = !match_;
        pos_ = start;
        break;
    case kAhead:
        pos_ = start;
        break;
    case kInto:
        end_into(match_ && pos_ >= end());
        return;
    case kRemove:
        if (match_)
            remove_span(start, pos_);
        else
            pos_ = start;
        break;
    case kCollect:
        end_collect();
        return;
    case kKeep:
        if (match_) {
            fresh_copy_ = after_copy;
            keep_span(start, pos_, tag.w2);
            fresh_copy_ = false;
        } else
            pos_ = start;
        break;
    case kChange:
    case kChangeOnly: {
        if (!match_) {
            pos_ = start;
            if (has(0)) ++rpos_;
            break;
        }
        const Cell change = Cell{kTypeWord, 0, words::word.change->w2, word::kUnresolved};
        put_value(change, start, pos_ - start, code == kChangeOnly, false);
        break;
    }
    default:
        break;
    }
    pop_command();
}

Status Engine::run(const Cell* input_series, const Cell* rule_block, int64_t part, Cell* out) {
    rs_base_ = stack_length(rule_stack);
    is_base_ = stack_length(input_stack);
    check_limit();
    stack_push(rule_stack, triple(rs_base_, is_base_, 0));
    stack_push(rule_stack, triple(kCallFrame, 0, 0));
    stack_push(input_stack, *input_series);
    in_slot_ = base_slot_ = is_base_;
    pos_ = std::min(series::clamped_index(input_series), input_length());
    if (part >= 0) part_end_ = pos_ + part;
    bool answer = false;
    try {
        // The callback may stop parse at the first event already.
        push_block(*rule_block);
        for (;;) {
            if (step_ == Step::fetch) {
                fetch();
            } else if (!result()) {
                break;
            }
        }
        answer = match_ && pos_ >= end();
        trace(end_event, answer);
    } catch (const Stop&) {
        answer = match_;
    } catch (const Unwind& unwind) {
        return unwind.status;
    }
    if (collected_)
        *out = collected_block_.cell();
    else
        logic::make_at(out, answer);
    return Status::normal;
}

// Cuts both work stacks back to their lengths at entry, however the call ends.
class StackGuard {
public:
    StackGuard() : rules_(stack_length(rule_stack)), inputs_(stack_length(input_stack)) {}
    ~StackGuard() {
        stack_cut(rule_stack, rules_);
        stack_cut(input_stack, inputs_);
    }
    StackGuard(const StackGuard&) = delete;
    StackGuard& operator=(const StackGuard&) = delete;

private:
    uint32_t rules_;
    uint32_t inputs_;
};

} // namespace

void init() {
    root::BootScope boot;
    rule_stack = root::alloc_tail();
    block::make_at(rule_stack, 100);
    input_stack = root::alloc_tail();
    block::make_at(input_stack, 8);
    end_event = word::make_global("end");
    const words::Symbols& s = words::symbol;
    keywords = {
        {s.bar, Keyword::bar},         {s.skip, Keyword::skip},     {s.end, Keyword::end},
        {s.none, Keyword::none},       {s.opt, Keyword::opt},       {s.any, Keyword::any},
        {s.some, Keyword::some},       {s.while_, Keyword::while_}, {s.to, Keyword::to},
        {s.thru, Keyword::thru},       {s.copy, Keyword::copy},     {s.set, Keyword::set},
        {s.not_, Keyword::not_},       {s.ahead, Keyword::ahead},   {s.into, Keyword::into},
        {s.quote, Keyword::quote},     {s.fail, Keyword::fail},     {s.break_, Keyword::break_},
        {s.reject, Keyword::reject},   {s.if_, Keyword::if_},       {s.case_, Keyword::case_},
        {s.collect, Keyword::collect}, {s.keep, Keyword::keep},     {s.insert, Keyword::insert},
        {s.remove, Keyword::remove},
    };
    keywords[symbol::resolve(words::word.change->w2)] = Keyword::change;
    std::unordered_map<uint32_t, Keyword> canonical;
    for (const auto& [symbol, k] : keywords) canonical[symbol::resolve(symbol)] = k;
    keywords = std::move(canonical);
    keyword_cache.clear();
}

Status process(const Cell* input, const Cell* rules, const Options& options, Cell* result) {
    StackGuard guard;
    Engine engine(options, options.callback);
    return engine.run(input, rules, options.part, result);
}

Status native(const int32_t* refs) {
    Cell* input = stack::arguments;
    Cell* rules = stack::arguments + 1;
    Options options;
    options.case_ = natives::ref_on(refs, 0);
    if (const Cell* part = natives::ref_arg(refs, 1)) {
        int64_t length = 0;
        switch (cell::type(part)) {
        case kTypeInteger:
            length = integer::get(part);
            break;
        case kTypeFloat:
            length = static_cast<int64_t>(float_::get(part));
            break;
        default:
            if (cell::type(part) != cell::type(input) || part->w2 != input->w2)
                series::invalid_refine(refinements::refinement.part, part);
            length = static_cast<int64_t>(series::clamped_index(part)) -
                     static_cast<int64_t>(series::clamped_index(input));
        }
        options.part = std::max<int64_t>(0, length);
    }
    options.callback = natives::ref_arg(refs, 2);
    Cell* result = stack::push(Cell{kTypeNone, 0, 0, 0});
    const Status s = process(input, rules, options, result);
    if (s == Status::normal) stack::set_last(*result);
    return s;
}

uint32_t rule_stack_length() {
    return rule_stack ? stack_length(rule_stack) : 0;
}
uint32_t input_stack_length() {
    return input_stack ? stack_length(input_stack) : 0;
}

} // namespace parse
