#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/boot.h"
#include "app/init.h"
#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "lexer-fixture.h"
#include "library/library.h"
#include "loading/lexer.h"
#include "loading/zanbin.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/slots.h"
#include "runtime-core/stdio.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "started-runtime.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t k = 0; k < n; ++k) {
        crc ^= data[k];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

Cell* cells(const Cell* block) {
    return memory::buffer(block->w2)->cells();
}
uint32_t length(const Cell* block) {
    return memory::buffer(block->w2)->length();
}

bool plain_word(uint8_t t) {
    return t >= kTypeWord && t <= kTypeRefinement;
}

// The words of a block and of the blocks, parens and paths in it that are missing from the
// global context.
void missing_words(const Cell* block, std::vector<std::string>& missing, int depth = 0) {
    for (uint32_t k = 0; k < length(block); ++k) {
        const Cell c = cells(block)[k];
        const uint8_t t = cell::type(&c);
        if (plain_word(t) && context::find_word(context::global, c.w2, true) < 0)
            missing.emplace_back(symbol::text(c.w2));
        const bool nested =
            t == kTypeBlock || t == kTypeParen || (t >= kTypePath && t <= kTypeGetPath);
        if (nested && depth < 100) missing_words(&c, missing, depth + 1);
    }
}

// A global word's value as the checks of the builtin tables read it: its type and the
// number it carries (a native's or action's slot, a routine's table index).
struct Bound {
    std::string word;
    uint8_t type = kTypeUnset;
    uint32_t number = 0;
};
using GlobalWords = std::map<uint32_t, Bound>; // by canonical symbol

GlobalWords global_words() {
    GlobalWords bound;
    const Cell* entries = context::words(context::global);
    for (uint32_t k = 0; k < context::word_count(context::global); ++k) {
        const Cell* value = context::value_cell(entries[k].w2, context::global);
        if (!value) continue;
        const uint8_t t = cell::type(value);
        const uint32_t number = t == kTypeNative || t == kTypeAction ? value->w1
                                : t == kTypeRoutine ? memory::buffer(value->w3)->cells()[2].w2
                                                    : 0;
        bound.emplace(symbol::resolve(entries[k].w2),
                      Bound{std::string(symbol::text(entries[k].w2)), t, number});
    }
    return bound;
}

// What start-up looked like between decoding the image and running its first statement.
struct BeforeFirstStatement {
    bool collector_off = false;
    bool boot_flag_set = false;
    uint32_t literals = 0;
    uint32_t words_checked = 0;
    std::vector<std::string> missing;
    std::string make_type, integer_type;
    GlobalWords words;
};
BeforeFirstStatement before;
// The global words once every source has run.
GlobalWords after_start_up;

// Start-up, in its two steps, with a look at the runtime in between.
class Boot : public testing::Test {
protected:
    static void SetUpTestSuite() {
        runtime::init();
        boot::load(boot::kImage, boot::kImageSize);
        before.collector_off = collector::state.enabled == 0;
        before.boot_flag_set = root::boot_flag == 1;
        before.literals = boot::literal_count();
        for (uint32_t k = 1; k < before.literals; k += 2) {
            missing_words(boot::literal(k), before.missing);
            before.words_checked += length(boot::literal(k));
        }
        auto type_name = [](const char* name) {
            const Cell* v = context::value_cell(symbol::make(name), context::global);
            return v ? std::string(datatype::name_record(cell::type(v)).name) : "";
        };
        before.make_type = type_name("make");
        before.integer_type = type_name("integer!");
        before.words = global_words();
        boot::run_segments();
        after_start_up = global_words();
        after_full_start_up();
    }
    // The suites after this one start from an empty runtime: nothing may name the old one.
    static void TearDownTestSuite() { release_full_runtime(); }

    static Cell* eval(const char* text) { return eval_text(text); }

    static bool raises(uint32_t category, uint32_t id, const std::function<void()>& body) {
        error::last_raised = error::Raised{};
        const uint32_t code = runtime::catch_level(runtime::kThrowError, body);
        runtime::reset_thrown_code();
        return code == runtime::kThrowError && error::last_raised.category == category &&
               error::last_raised.id == id;
    }
};

} // namespace

// The executable embeds the bytes that the build's zan-bootgen wrote; with the comparison of
// the image files of the builds (scripts/test.sh) this shows that every build embeds the
// same image. The checksum is printed for the record.
TEST_F(Boot, EmbedsTheGeneratedImage) {
    std::ifstream in(ZAN_BOOT_IMAGE_FILE, std::ios::binary);
    ASSERT_TRUE(in) << ZAN_BOOT_IMAGE_FILE;
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Bytes embedded(boot::kImage, boot::kImage + boot::kImageSize);
    EXPECT_TRUE(file == embedded);
    std::printf("boot image: %u bytes, crc32 %08x\n", boot::kImageSize,
                crc32(boot::kImage, boot::kImageSize));
    // The header of the boot image: version 1, compact, compressed, with a symbol table.
    ASSERT_GT(boot::kImageSize, 16u);
    EXPECT_EQ(std::memcmp(boot::kImage, "ZANBIN", 6), 0);
    EXPECT_EQ(boot::kImage[6], 1);
    EXPECT_EQ(boot::kImage[7], 7);
}

TEST_F(Boot, EveryWordExistsBeforeTheFirstStatement) {
    EXPECT_TRUE(before.collector_off);
    EXPECT_TRUE(before.boot_flag_set);
    EXPECT_GT(before.words_checked, 500u);
    EXPECT_TRUE(before.missing.empty()) << before.missing.front();
    // The word-with-value records: the datatype words and make have their values.
    EXPECT_EQ(before.make_type, "action!");
    EXPECT_EQ(before.integer_type, "datatype!");
    // Start-up went on with the collector on and the boot flag clear.
    EXPECT_EQ(collector::state.enabled, 1);
    EXPECT_EQ(root::boot_flag, 0);
}

// Two literal cells a source, its segment number (in order) and its code after the header.
TEST_F(Boot, LiteralCellsHoldEachSourceInOrder) {
    ASSERT_GE(before.literals, 14u);
    ASSERT_EQ(before.literals % 2, 0u);
    int32_t previous = 0;
    for (uint32_t k = 0; k < before.literals; k += 2) {
        ASSERT_EQ(cell::type(boot::literal(k)), kTypeInteger);
        const auto segment = static_cast<int32_t>(boot::literal(k)->w2);
        EXPECT_GE(segment, previous);
        previous = segment;
        ASSERT_EQ(cell::type(boot::literal(k + 1)), kTypeBlock);
    }
    // The first source starts with the natives, after its header.
    const Cell* first = cells(boot::literal(1));
    EXPECT_EQ(cell::type(first), kTypeSetWord);
    EXPECT_EQ(symbol::text(first->w2), "if");
}

// A library function's spec and body (reflect, which spec-of and body-of use) are the blocks
// of its source.
TEST_F(Boot, LibraryFunctionsShowTheirSourceBlocks) {
    uint32_t checked = 0;
    const uint32_t func = symbol::make("func");
    for (uint32_t k = 1; k < before.literals; k += 2) {
        const Cell* code = boot::literal(k);
        for (uint32_t i = 0; i + 3 < length(code); ++i) {
            const Cell* c = cells(code) + i;
            if (cell::type(c) != kTypeSetWord || cell::type(c + 1) != kTypeWord ||
                c[1].w2 != func || cell::type(c + 2) != kTypeBlock ||
                cell::type(c + 3) != kTypeBlock)
                continue;
            // The collector may renumber nodes: the source blocks are read again after
            // anything that allocates.
            const std::string name(symbol::text(c->w2));
            const std::string spec = LexerTest::molded(cells(code)[i + 2], false, true);
            const std::string body = LexerTest::molded(cells(code)[i + 3], false, true);
            Cell* const above = stack::top;
            EXPECT_EQ(
                LexerTest::molded(*eval(("reflect :" + name + " 'spec").c_str()), false, true),
                spec)
                << name;
            EXPECT_EQ(
                LexerTest::molded(*eval(("reflect :" + name + " 'body").c_str()), false, true),
                body)
                << name;
            stack::top = above;
            ++checked;
        }
    }
    EXPECT_GT(checked, 0u);
}

// The switches of system/options/float reach the float printer, full? as well as pretty?
// (full? changes nothing that a script could see).
TEST_F(Boot, FloatOptionsReachThePrinter) {
    eval("system/options/float/full?: true system/options/float/pretty?: false");
    EXPECT_TRUE(float_::full);
    EXPECT_FALSE(float_::pretty);
    eval("system/options/float/full?: none system/options/float/pretty?: 1");
    EXPECT_FALSE(float_::full);
    EXPECT_TRUE(float_::pretty);
}

// Boot mode round trip: word-with-value records set their words and take no cell; a word
// bound to an earlier root's context is bound to it again through its literal number.
TEST_F(Boot, BootModeRoundTrip) {
    Cell* base = stack::top;
    Cell* presets = stack::push_cell();
    block::make_at(presets, 4);
    Cell* roots = stack::push_cell();
    block::make_at(roots, 2);
    // The presets: a word and an integer, a word and the make action (rebuilt by slot).
    Cell w;
    word::make_at(symbol::make("boot-test-preset"), &w);
    block::append_copy(presets, &w);
    Cell number{};
    integer::make_at(&number, 42);
    block::append_copy(presets, &number);
    word::make_at(symbol::make("boot-test-action"), &w);
    block::append_copy(presets, &w);
    const Cell make_value = *context::value_cell(symbol::make("make"), context::global);
    block::append_copy(presets, &make_value);
    // The roots: an object, then a block of two words bound to it.
    Cell* object = eval("make object! [a: 1 b: \"two\"]");
    block::append_copy(roots, object);
    Cell* bound = stack::push_cell();
    block::make_at(bound, 2);
    for (const char* name : {"b", "a"}) {
        const uint32_t s = symbol::make(name);
        const auto index = static_cast<uint32_t>(context::find_word(object->w1, s, true));
        const Cell x{kTypeWord, object->w1, s, index};
        block::append_copy(bound, &x);
    }
    block::append_copy(roots, bound);
    const std::string image = zanbin::encode_boot(presets, roots);
    ASSERT_GT(image.size(), 8u);
    EXPECT_EQ(image[6], 1);

    Cell* target = stack::push_cell();
    block::make_at(target, 4);
    const Cell filler{kTypeNone, 0, 0, 0};
    block::append_copy(target, &filler); // a cell before the image: numbers count after it
    const uint32_t at = zanbin::boot_load(reinterpret_cast<const uint8_t*>(image.data()),
                                          static_cast<uint32_t>(image.size()), target);
    EXPECT_EQ(at, 1u);
    ASSERT_EQ(length(target), 3u);
    ASSERT_EQ(cell::type(cells(target) + 1), kTypeObject);
    EXPECT_NE(cells(target)[1].w1, object->w1);
    // Held on the stack: the collector may renumber its node.
    Cell* again = stack::push(cells(target)[2]);
    ASSERT_EQ(cell::type(again), kTypeBlock);
    for (uint32_t k = 0; k < 2; ++k) EXPECT_EQ(cells(again)[k].w1, cells(target)[1].w1);
    EXPECT_EQ(LexerTest::molded(*eval("boot-test-preset"), false, true), "42");
    EXPECT_EQ(LexerTest::molded(*eval("type? :boot-test-action"), false, true), "#(action!)");
    // The words reach the decoded object's fields.
    Cell* probe = stack::push(*again);
    EXPECT_EQ(interp::eval_block(probe), interp::Status::normal);
    EXPECT_EQ(LexerTest::molded(stack::top[-1], false, true), "1");
    stack::top = base;
}

// A word-with-value record or a word numbered past the literal cells is a malformed record;
// a missing magic or corrupt compressed data ends the process with status 1 and its message.
TEST_F(Boot, RejectsMalformedImages) {
    Cell* base = stack::top;
    Cell* target = stack::push_cell();
    block::make_at(target, 4);
    // A word bound to literal cell 5 of an image that has none: ZANBIN, version 1, flags 5,
    // 1 root, 5 record bytes, 1 symbol at offset 0 ("a"), then the record.
    const Bytes bad_literal = {'Z', 'A', 'N', 'B', 'I', 'N', 1, 5,    1,    4,    1,
                               2,   0,   0,   0,   0,   'a', 0, 0x4F, 0x00, 0x05, 0x00};
    EXPECT_TRUE(raises(error::kScript, error::script::zb_invalid_record, [&] {
        zanbin::boot_load(bad_literal.data(), static_cast<uint32_t>(bad_literal.size()), target);
    }));
    // Word-with-value records must name a word and give it exactly one value.
    const std::vector<Bytes> bad_presets = {
        {0xC4, 0x0F, 0x00, 0xC4, 0x0F, 0x00, 0x81}, // its value another word-with-value
        {0xC4, 0x07, 0x04, 0x61, 0x81},             // a string in place of the word
        {0xC4, 0x81},                               // an integer in place of the word
        {0xC4, 0x0F, 0x00},                         // no value
    };
    for (const Bytes& records : bad_presets) {
        // ZANBIN, version 1, flags 5, no roots, the records' size, one symbol "a".
        const uint8_t head[] = {'Z', 'A', 'N', 'B', 'I', 'N', 1, 5, 0, 0, 1, 2, 0, 0, 0, 0, 'a', 0};
        Bytes image;
        for (const uint8_t b : head) image.push_back(b);
        image[9] = static_cast<uint8_t>(records.size());
        for (const uint8_t b : records) image.push_back(b);
        EXPECT_TRUE(raises(error::kScript, error::script::zb_invalid_record, [&] {
            zanbin::boot_load(image.data(), static_cast<uint32_t>(image.size()), target);
        })) << records.size();
    }
    // The fixed-width encoding is no boot image.
    Bytes fixed = bad_literal;
    fixed[7] = 4;
    EXPECT_TRUE(raises(error::kScript, error::script::zb_invalid_record, [&] {
        zanbin::boot_load(fixed.data(), static_cast<uint32_t>(fixed.size()), target);
    }));
    stack::top = base;
}

// --- The builtin tables and the boot sources ---
//
// The natives' and actions' tables give each slot its entry and its word; the boot sources
// make the native! and action! values from slot numbers and bind them to words. Nothing but
// these tests holds the two together: a slot number written wrongly on either side would
// run one builtin under another's name.

namespace {

// A table row as the checks see it: a slot or index and its word (null: none names it).
struct Row {
    uint32_t number;
    const char* word;
};

std::string in_quotes(std::string_view word) {
    return "\"" + std::string(word) + "\"";
}

std::string described(const Bound& value) {
    const std::string type = datatype::name_record(value.type).name;
    if (value.type == kTypeNative || value.type == kTypeAction)
        return (value.type == kTypeAction ? "an " : "a ") + type + " of slot " +
               std::to_string(value.number);
    return "a value of type " + type;
}

const Bound* bound_to(const GlobalWords& words, const char* word) {
    const auto found = words.find(symbol::resolve(symbol::make(word)));
    return found == words.end() ? nullptr : &found->second;
}

// What disagrees between a table of slots and the values of `type` that the boot sources
// bound: every slot from 1 to `slots` in exactly one row; each row's word bound to a value
// of `type` that carries the row's slot; each word holding such a value named by its slot's
// row. One line a disagreement, naming the word and the slots.
std::vector<std::string> disagreements(const char* kind, uint8_t type, uint32_t slots,
                                       const std::vector<Row>& rows, const GlobalWords& words) {
    std::vector<std::string> found;
    std::map<uint32_t, std::vector<const Row*>> rows_of;
    for (const Row& r : rows) {
        rows_of[r.number].push_back(&r);
        if (r.number < 1 || r.number > slots)
            found.push_back(std::string(kind) + " slot " + std::to_string(r.number) + " (" +
                            (r.word ? r.word : "no word") + ") is outside 1 to " +
                            std::to_string(slots));
    }
    for (uint32_t s = 1; s <= slots; ++s) {
        const auto& in_slot = rows_of[s];
        if (in_slot.size() == 1) continue;
        std::string listed;
        for (const Row* r : in_slot) listed += std::string(" ") + (r->word ? r->word : "-");
        found.push_back(std::string(kind) + " slot " + std::to_string(s) + " has " +
                        std::to_string(in_slot.size()) + " rows, one expected:" + listed);
    }
    for (const Row& r : rows) {
        if (!r.word) continue;
        const Bound* value = bound_to(words, r.word);
        if (!value || value->type != type || value->number != r.number)
            found.push_back(in_quotes(r.word) + ": the table gives " + kind + " slot " +
                            std::to_string(r.number) + ", the boot sources bind " +
                            (value ? described(*value) : "nothing"));
    }
    for (const auto& [symbol, value] : words) {
        if (value.type != type) continue;
        const auto& in_slot = rows_of[value.number];
        if (in_slot.size() > 1) continue; // reported above
        const char* word = in_slot.empty() ? nullptr : in_slot[0]->word;
        if (!word || symbol::resolve(symbol::make(word)) != symbol)
            found.push_back(in_quotes(value.word) + " is bound to " + described(value) +
                            ", which the table gives to " + (word ? in_quotes(word) : "no word"));
    }
    return found;
}

std::string lines(const std::vector<std::string>& found) {
    std::string text;
    for (const std::string& line : found) text += line + "\n";
    return text;
}

} // namespace

TEST_F(Boot, TheNativesTableAndTheBootSourcesAgreeOnEverySlot) {
    std::vector<Row> rows;
    for (const auto& family : natives::families())
        for (const natives::Registration& r : family) rows.push_back({r.slot, r.word});
    EXPECT_EQ(rows.size(), natives::kDefined);
    const auto found =
        disagreements("native", kTypeNative, natives::kDefined, rows, after_start_up);
    EXPECT_TRUE(found.empty()) << lines(found);
}

// The internal slots (eval-path, set-path, compare) have rows without word or entry: no
// word may hold an action! of theirs.
TEST_F(Boot, TheActionsTableAndTheBootSourcesAgreeOnEverySlot) {
    std::vector<Row> rows;
    std::vector<std::string> half_rows;
    for (const actions::Registration& r : actions::registrations()) {
        rows.push_back({r.slot, r.word});
        if ((r.word == nullptr) != (r.entry == nullptr))
            half_rows.push_back(
                "action slot " + std::to_string(r.slot) +
                (r.word ? " has a word and no entry" : " has an entry and no word"));
    }
    EXPECT_EQ(rows.size(), action::kSlotCount);
    EXPECT_TRUE(half_rows.empty()) << lines(half_rows);
    const auto found =
        disagreements("action", kTypeAction, action::kSlotCount, rows, after_start_up);
    EXPECT_TRUE(found.empty()) << lines(found);
}

// Start-up binds each named row of the routine table to a routine! of the row's index. Before
// the first statement the words that hold a routine! are exactly those, each holding its own
// row's routine (a name given to two rows leaves the word of the first holding the second's);
// once every source has run, a word that holds a routine! still holds its own row's.
TEST_F(Boot, EachRoutineWordHoldsTheRoutineOfItsRow) {
    std::vector<Row> table;
    for (const auto& family : runtime::routine_families())
        for (const routines::Routine& r : family)
            table.push_back({static_cast<uint32_t>(table.size()), r.name});
    std::vector<std::string> found;
    uint32_t named = 0;
    for (const Row& r : table) {
        if (!r.word) continue;
        ++named;
        const Bound* value = bound_to(before.words, r.word);
        if (!value || value->type != kTypeRoutine || value->number != r.number)
            found.push_back(in_quotes(r.word) + ": row " + std::to_string(r.number) +
                            ", the word holds " +
                            (!value ? "nothing"
                             : value->type == kTypeRoutine
                                 ? "the routine of row " + std::to_string(value->number)
                                 : described(*value)));
    }
    for (const GlobalWords* words : {&before.words, &after_start_up}) {
        for (const auto& [symbol, value] : *words) {
            if (value.type != kTypeRoutine) continue;
            const char* name = value.number < table.size() ? table[value.number].word : nullptr;
            if (!name || symbol::resolve(symbol::make(name)) != symbol)
                found.push_back(in_quotes(value.word) + " holds the routine of row " +
                                std::to_string(value.number) + ", named " +
                                (name ? in_quotes(name) : "nothing") +
                                (words == &before.words ? " (before the first statement)"
                                                        : " (after start-up)"));
        }
    }
    EXPECT_GT(named, 80u);
    EXPECT_TRUE(found.empty()) << lines(found);
}

#if GTEST_HAS_DEATH_TEST
namespace {

std::string said;
const char* expected_message = "";

// The start-up decoder prints its message on standard output: the child checks it and
// exits 2 when it is not what the test expects.
void load_damaged(const Bytes& image, const char* message) {
    expected_message = message;
    stdio::set_console(nullptr);
    stdio::set_byte_sink([](const char* bytes, size_t n) { said.append(bytes, n); });
    std::atexit([] {
        if (said.rfind(expected_message, 0) != 0) std::_Exit(2);
    });
    boot::load(image.data(), static_cast<uint32_t>(image.size()));
    std::_Exit(3); // not reached: a damaged image ends the process
}

} // namespace

using BootDeathTest = Boot;

TEST_F(BootDeathTest, DamagedImageEndsWithStatus1) {
    Bytes no_magic(boot::kImage, boot::kImage + boot::kImageSize);
    no_magic[0] = 'X';
    EXPECT_EXIT(load_damaged(no_magic, "Error: Not a Zanbin file!"), testing::ExitedWithCode(1),
                "");
    Bytes corrupt(boot::kImage, boot::kImage + boot::kImageSize);
    corrupt[8] ^= 0xFF; // the compressed payload's size
    EXPECT_EXIT(load_damaged(corrupt, "Error: Zanbin compressed data corrupted!"),
                testing::ExitedWithCode(1), "");
    Bytes cut(boot::kImage, boot::kImage + boot::kImageSize / 2);
    EXPECT_EXIT(load_damaged(cut, "Error: Zanbin compressed data corrupted!"),
                testing::ExitedWithCode(1), "");
    const Bytes tiny = {'Z', 'A', 'N'};
    EXPECT_EXIT(load_damaged(tiny, "Error: Not a Zanbin file!"), testing::ExitedWithCode(1), "");
}
#endif
