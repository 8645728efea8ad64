#include "runtime-core/externals.h"

#include <exception>

#include "runtime-core/heap.h"
#include "runtime-core/runtime.h"

namespace externals {

Table table;

namespace {

void chain_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i) {
        table.rows[i].kind = kFreeRow;
        table.rows[i].value = 0;
        table.rows[i].next = i + 1 < to ? static_cast<int32_t>(i + 1) : -1;
    }
}

void release(const Row& row) {
    uint32_t kind = row.kind & kKindMask;
    if (kind >= 1 && kind <= table.kind_count && table.kinds[kind - 1].release)
        table.kinds[kind - 1].release(row.value);
}

bool live(int32_t row) {
    return row >= 0 && static_cast<uint32_t>(row) < table.capacity &&
           table.rows[row].kind != kFreeRow;
}

// Takes a row off the live list; false when it is not on it.
bool unlink(int32_t row) {
    for (int32_t* link = &table.live_head; *link != -1; link = &table.rows[*link].next) {
        if (*link == row) {
            *link = table.rows[row].next;
            return true;
        }
    }
    return false;
}

void push_free(int32_t row) {
    table.rows[row].kind = kFreeRow;
    table.rows[row].value = 0;
    table.rows[row].next = table.free_head;
    table.free_head = row;
}

} // namespace

void init() {
    memory::free(table.kinds);
    memory::free(table.rows);
    table = Table{};
    table.kinds = static_cast<Kind*>(memory::alloc_zeroed(kMaxKinds * sizeof(Kind)));
    table.rows = static_cast<Row*>(memory::alloc(kInitialRows * sizeof(Row)));
    table.capacity = kInitialRows;
    chain_free(0, kInitialRows);
    table.free_head = 0;
}

uint32_t register_kind(const char* name, Release release) {
    if (table.kind_count == kMaxKinds)
        runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    table.kinds[table.kind_count++] = Kind{name, release};
    return table.kind_count;
}

int32_t alloc(uintptr_t value, uint32_t kind) {
    if (table.free_head == -1 || table.rows[table.free_head].next == -1) {
        uint32_t old = table.capacity;
        table.rows = static_cast<Row*>(memory::realloc(table.rows, 2 * old * sizeof(Row)));
        table.capacity = 2 * old;
        chain_free(old, 2 * old);
        if (table.free_head == -1)
            table.free_head = static_cast<int32_t>(old);
        else
            table.rows[table.free_head].next = static_cast<int32_t>(old);
    }
    int32_t row = table.free_head;
    table.free_head = table.rows[row].next;
    table.rows[row].kind = kind & kKindMask;
    table.rows[row].value = value;
    table.rows[row].next = table.live_head;
    table.live_head = row;
    return row;
}

void set(int32_t row, uintptr_t value) {
    if (!live(row)) return;
    if (table.rows[row].value != value) release(table.rows[row]);
    table.rows[row].value = value;
}

int32_t free(int32_t row, bool release_value) {
    if (!live(row) || !unlink(row)) return -1;
    if (release_value) release(table.rows[row]);
    push_free(row);
    return -1;
}

int32_t mark(int32_t row, uintptr_t value) {
    if (!live(row)) return 0;
    Row& r = table.rows[row];
    int32_t fresh = (r.kind & kMarkBit) ? 0 : 1;
    r.kind |= kMarkBit;
    if (value != 0) r.value = value;
    return fresh;
}

void for_each(uint32_t kind, void (*callback)(uintptr_t value)) {
    for (int32_t row = table.live_head; row != -1;) {
        int32_t next = table.rows[row].next;
        if ((table.rows[row].kind & kKindMask) == kind) callback(table.rows[row].value);
        row = next;
    }
}

void sweep() {
    // By index: a release callback may itself take or free rows. A callback that raises an
    // error does not stop the sweep: every row is still released or unmarked, and the first
    // error goes on once the sweep is done.
    std::exception_ptr failure;
    int32_t prev = -1;
    int32_t row = table.live_head;
    while (row != -1) {
        int32_t next = table.rows[row].next;
        if (table.rows[row].kind & kMarkBit) {
            table.rows[row].kind &= ~kMarkBit;
            prev = row;
        } else {
            Row dead = table.rows[row];
            if (prev == -1)
                table.live_head = next;
            else
                table.rows[prev].next = next;
            push_free(row);
            try {
                release(dead);
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        }
        row = next;
    }
    if (failure) std::rethrow_exception(failure);
}

void clear_marks() {
    for (int32_t row = table.live_head; row != -1; row = table.rows[row].next)
        table.rows[row].kind &= ~kMarkBit;
}

} // namespace externals
