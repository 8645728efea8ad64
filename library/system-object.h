// The system object: the root of the language-visible runtime state, bound to the global word
// `system`. Its 19 fields, in order: version build words platform catalog state modules codecs
// schemes ports locale options script standard lexer console view reactivity tools.
//
// Start-up makes here only what the error path reads from the first error on, before any
// library code runs: catalog/errors (catalog.h), standard/error (the prototype of every error!
// value) and state (interpreted? last-error stack-trace source-files callbacks GC, with
// stack-trace 1 and source-files an empty block); and what is made of C++ parts: words (the
// global context as an object), the collector's routines of state/GC and the image codecs of
// system/codecs. The
// library's boot sources fill the rest: library/system.zan the sub-objects and their methods,
// library/options.zan the options. The lookup of fields that the layers below read is
// datatypes/system-fields.h.
#pragma once
#include <span>

#include "datatypes/system-fields.h"
#include "evaluator/evaluator.h"

namespace system_object {

// Builds the system object and binds `system` to it, and points the printers at the fields
// they honour: money at options/money-digits and locale/currencies/list, dates at
// locale/months (each while it is set).
// Needs the word tables and the object!, error! and string! types. May collect.
void init();

// Fills system/codecs: a map with the image codecs (png jpeg bmp gif tiff), each an object
// of title, name, mime-type, suffixes and its encode and decode routines. Needs the lexer,
// the map! and routine! types and the system object. May collect.
void make_codecs();

// Fills system/state/GC: an object of the collector's routines active?, series-cycles and
// nodes-cycles. Needs the routine! type and the system object. May collect.
void make_gc_routines();

// The routine that hands the boot sources the raw command line, bound to the word
// command-line* until library/system.zan has put the text into system/script/args.
std::span<const routines::Routine> table();

} // namespace system_object
