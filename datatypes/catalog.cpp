#include "datatypes/catalog.h"

#include <cstring>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system-fields.h"
#include "datatypes/word.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/runtime.h"

namespace catalog {

namespace {

struct Id {
    const char* word;
    const char* text; // the template as the language writes it
};

struct Category {
    const char* word;
    const char* title;
    const Id* ids;
    uint32_t count;
};

#define ZAN_CATALOG_ID(name, word, text) {word, text},
#define ZAN_CATALOG_IDS(ns, enumerator, word, title, ids)                                          \
    const Id ns##_ids[] = {ids(ZAN_CATALOG_ID){nullptr, nullptr}};
ZAN_ERROR_CATEGORIES(ZAN_CATALOG_IDS)
#undef ZAN_CATALOG_IDS
#undef ZAN_CATALOG_ID

#define ZAN_CATALOG_CATEGORY(ns, enumerator, word, title, ids)                                     \
    {word, title, ns##_ids, sizeof ns##_ids / sizeof(Id) - 1},
const Category kCategories[] = {ZAN_ERROR_CATEGORIES(ZAN_CATALOG_CATEGORY)};
#undef ZAN_CATALOG_CATEGORY

Cell unbound(uint8_t type, std::string_view name) {
    const uint32_t sym = symbol::find_or_make(name.data(), static_cast<uint32_t>(name.size()));
    return Cell{type, 0, sym, word::kUnresolved};
}

// Reads a template: a "string", a [block] of strings and words (:arg1 or arg1), or nothing
// (none). The value is pushed. May collect.
Cell* read_template(std::string_view text) {
    if (text.empty()) return none::push();
    auto read_string = [](std::string_view& t) -> Cell* {
        const size_t end = t.find('"', 1);
        Cell* s = string::load_push(reinterpret_cast<const uint8_t*>(t.data() + 1),
                                    static_cast<uint32_t>(end - 1), string::kUtf8);
        t.remove_prefix(end + 1);
        return s;
    };
    if (text.front() == '"') return read_string(text);
    Cell* block = block::push_new(4);
    text.remove_prefix(1); // [
    for (;;) {
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
        if (text.empty() || text.front() == ']') break;
        if (text.front() == '"') {
            read_string(text);
        } else {
            const bool get = text.front() == ':';
            if (get) text.remove_prefix(1);
            const size_t end = std::min(text.find_first_of(" ]"), text.size());
            *stack::push_cell() = unbound(get ? kTypeGetWord : kTypeWord, text.substr(0, end));
            text.remove_prefix(end);
        }
        block::append_copy(block, stack::top_value());
        stack::pop(1);
    }
    return block;
}

// Sets a field of an object on the data stack to the value on top of the stack, which is
// dropped. May collect.
void set_field(const Cell* object, std::string_view name) {
    GcRoot o(*object);
    const Cell w = unbound(kTypeWord, name);
    context::set_word_value(o.cell().w1, &w, stack::top_value());
    stack::pop(1);
}

} // namespace

Cell* make_errors() {
    Cell* errors = object::make_empty_at(stack::push_cell(), error::kCategoryCount);
    for (const Category& c : kCategories) {
        Cell* category = object::make_empty_at(stack::push_cell(), c.count + 2);
        integer::push(static_cast<int32_t>(&c - kCategories) * 100);
        set_field(category, "code");
        string::load_push(reinterpret_cast<const uint8_t*>(c.title),
                          static_cast<uint32_t>(std::strlen(c.title)), string::kUtf8);
        set_field(category, "type");
        for (uint32_t i = 0; i < c.count; ++i) {
            read_template(c.ids[i].text);
            set_field(category, c.ids[i].word);
        }
        set_field(errors, c.word);
    }
    return errors;
}

const Cell* errors() {
    return system_object::field({system_object::symbol.catalog, system_object::symbol.errors});
}

const Cell* category(uint32_t position) {
    const Cell* all = errors();
    if (!all) return nullptr;
    const Cell* c = context::slot(all->w1, static_cast<int32_t>(position));
    return c && cell::type(c) == kTypeObject ? c : nullptr;
}

int32_t id_position(const Cell* category, const Cell* word) {
    return context::find_word(category->w1, word->w2, true);
}

int32_t category_position(const Cell* word) {
    const Cell* all = errors();
    if (!all) return -1;
    const int32_t at = context::find_word(all->w1, word->w2, true);
    const Cell* c = context::slot(all->w1, at);
    return c && cell::type(c) == kTypeObject ? at : -1;
}

const char* category_name(uint32_t category) {
    return category < error::kCategoryCount ? kCategories[category].word : nullptr;
}

const char* id_name(uint32_t category, uint32_t id) {
    if (category >= error::kCategoryCount || id < 2 || id - 2 >= kCategories[category].count)
        return nullptr;
    return kCategories[category].ids[id - 2].word;
}

} // namespace catalog
