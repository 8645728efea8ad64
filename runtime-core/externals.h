// The external-resource table: operating-system resources (bitmaps, fonts, COM objects) that
// values hold. A value keeps the index of its row; the collector marks the rows that live
// values reach, and after marking sweep() releases every unmarked row through the release
// callback of its kind. Kinds are registered at start-up by the modules that own them.
#pragma once
#include <cstdint>

namespace externals {

// Releases a resource; called with the row's value.
using Release = void (*)(uintptr_t value);

struct Kind {
    const char* name;
    Release release; // null: nothing to release
};

struct Row {
    uint32_t kind;   // kind number in bits 0-7, kMarkBit; exactly kFreeRow when free
    uintptr_t value; // the resource; 0 in a free row
    int32_t next;    // next row of the live or the free list; -1 at the end
};

constexpr uint32_t kKindMask = 0xFF;
constexpr uint32_t kMarkBit = 0x80000000;
constexpr uint32_t kFreeRow = 0x40000000;
constexpr uint32_t kMaxKinds = 20;
constexpr uint32_t kInitialRows = 1000;

struct Table {
    Kind* kinds = nullptr;
    uint32_t kind_count = 0;
    Row* rows = nullptr;
    uint32_t capacity = 0;
    int32_t live_head = -1;
    int32_t free_head = -1;
};

extern Table table;

// Room for 20 kinds and 1000 rows, all rows on the free list in order. Calling it again
// starts over with an empty table.
void init();
// Appends a kind; the result is its number (1 for the first). More than 20 is a fault.
uint32_t register_kind(const char* name, Release release);
// Takes a row for `value` of `kind`. When the row taken would be the last free one, the
// table first doubles, so a free row always remains.
int32_t alloc(uintptr_t value, uint32_t kind);
// Stores a new value; a different old value is released first.
void set(int32_t row, uintptr_t value);
// Frees a live row (releasing its value first when `release`). Returns -1, the index that
// values store to say that they hold no row.
int32_t free(int32_t row, bool release);
// Marks a row for the collector and, when value is not 0, stores it as the row's value.
// Answers 1 when the mark is new. Rows out of range or free answer 0.
int32_t mark(int32_t row, uintptr_t value);
// Calls `callback` with the value of every live row of `kind`.
void for_each(uint32_t kind, void (*callback)(uintptr_t value));
// Collector: releases and frees every unmarked live row, clears the marks of the others.
// A release callback that raises an error does not stop it; the first error is raised again
// at its end.
void sweep();
// Collector: clears the mark of every row (a cycle that did not reach its sweep).
void clear_marks();

} // namespace externals
