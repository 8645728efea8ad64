// handle!: an opaque operating-system or backend handle with a class that says what it is
// (type id 46, parent integer!). Scripts only pass handles around; the GUI backend and the OS
// services make them and read them back.
//
// Cell: type id 46; word 1 the class (0 none, 1 null, 2 fd, 3 monitor, 4 window, 5 font,
// 6 rich-text); word 2 the handle value (32 bits); word 3 is -1.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace handle {

enum Class : uint32_t {
    kNone = 0,
    kNull = 1,
    kFd = 2,
    kMonitor = 3,
    kWindow = 4,
    kFont = 5,
    kRichText = 6,
};

// Constructors from the value and the class. make_at writes the whole header (no flags).
Cell* make_at(Cell* cell, uint32_t value, uint32_t class_);
// The running native's result slot becomes the handle.
Cell* box(uint32_t value, uint32_t class_);
Cell* push(uint32_t value, uint32_t class_);
// push with class 0.
Cell* push_value(uint32_t value);
// Appends at a block's tail. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, uint32_t value, uint32_t class_);

// The name of a class ("null" ... "rich-text"); an unknown class has none (null).
const char* class_name(uint32_t class_);

// form: the value as eight hexadecimal digits and "h" (00001A2Bh).
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
// mold: with /all "#[handle! " the form text, the class name when there is one, and "]";
// without /all the text "handle!".
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Another type is unequal (1); handles compare their values as signed integers, whatever
// their classes and the code.
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers handle! (type 46, parent integer!).
void register_actions();

} // namespace handle
