// The error catalogue: every language error by category and id, with its message template.
//
// This table is the one source of both halves of the catalogue: the positions that raise
// sites pass (error::script::no_value ...) are generated from it here, and start-up builds
// `system/catalog/errors` from it (datatypes/catalog.h), so the two cannot drift apart.
//
// A category's position gives its code base (position x 100). Inside a category object the
// fields are `code` (position 0), `type` (its title, position 1), then one field per id: an
// id's position is what raise sites pass, and its code is the base + position - 2.
//
// Each id row is E(C++ name, word, template). The template is written as the language writes
// it: a "string", a [block] of strings and the words :arg1 :arg2 :arg3 (or arg1 ...), or
// nothing ("") for an id without a template.
#pragma once
#include <cstdint>

// clang-format off
#define ZAN_ERRORS_THROW(E)                                                                        \
    E(break_, "break", R"~("no loop to break")~")                                                    \
    E(return_, "return", R"~("return or exit not in function")~")                                    \
    E(throw_, "throw", R"~(["no catch for throw:" :arg1])~")                                         \
    E(continue_, "continue", R"~("no loop to continue")~")                                           \
    E(while_cond, "while-cond", R"~("BREAK/CONTINUE cannot be used in WHILE condition block")~")

#define ZAN_ERRORS_NOTE(E)                                                                         \
    E(no_load, "no-load", R"~(["cannot load: " :arg1])~")

#define ZAN_ERRORS_SYNTAX(E)                                                                       \
    E(invalid, "invalid", R"~([:arg1 "invalid" :arg2 "at" :arg3])~")                                 \
    E(missing, "missing", R"~([:arg1 "missing" :arg2 "at" :arg3])~")                                 \
    E(no_header, "no-header", R"~(["script is missing a Zan header:" :arg1])~")                      \
    E(no_zs_header, "no-zs-header", R"~(["script is missing a Zan/System header:" :arg1])~")         \
    E(bad_header, "bad-header", R"~(["script header is not valid:" :arg1])~")                        \
    E(malconstruct, "malconstruct", R"~([:arg1 "invalid construction spec at" :arg2])~")             \
    E(bad_char, "bad-char", R"~([:arg1 "invalid character at" :arg2])~")

#define ZAN_ERRORS_SCRIPT(E)                                                                       \
    E(no_value, "no-value", R"~([:arg1 "has no value"])~")                                           \
    E(need_value, "need-value", R"~([:arg1 "needs a value"])~")                                      \
    E(not_defined, "not-defined", R"~([:arg1 "word is not bound to a context"])~")                   \
    E(not_in_context, "not-in-context", R"~(["context for" :arg1 "is not available"])~")             \
    E(no_arg, "no-arg", R"~([:arg1 "is missing its" :arg2 "argument"])~")                            \
    E(expect_arg, "expect-arg", R"~([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])~")    \
    E(expect_val, "expect-val", R"~(["expected" :arg1 "not" :arg2])~")                               \
    E(expect_type, "expect-type", R"~([:arg1 :arg2 "field must be of type" :arg3])~")                \
    E(cannot_use, "cannot-use", R"~(["cannot use" :arg1 "on" :arg2 "value"])~")                     \
    E(invalid_arg, "invalid-arg", R"~(["invalid argument:" :arg1])~")                                \
    E(invalid_type, "invalid-type", R"~([:arg1 "type is not allowed here"])~")                       \
    E(invalid_type_spec, "invalid-type-spec", R"~(["invalid type specifier:" :arg1])~")              \
    E(invalid_key_type, "invalid-key-type", R"~(["invalid key type:" :arg1])~")                      \
    E(invalid_op, "invalid-op", R"~(["invalid operator:" :arg1])~")                                  \
    E(no_op_arg, "no-op-arg", R"~([:arg1 "operator is missing an argument"])~")                      \
    E(bad_op_spec, "bad-op-spec",                                                                  \
      R"~("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")~") \
    E(invalid_data, "invalid-data", R"~(["data not in correct format:" :arg1])~")                    \
    E(invalid_part, "invalid-part", R"~(["invalid /part count:" :arg1])~")                           \
    E(not_same_type, "not-same-type", R"~("values must be of the same type")~")                      \
    E(not_same_class, "not-same-class", R"~(["cannot coerce" :arg1 "to" :arg2])~")                   \
    E(not_related, "not-related", R"~(["incompatible argument for" :arg1 "of" :arg2])~")             \
    E(bad_func_def, "bad-func-def", R"~(["invalid function definition:" :arg1])~")                   \
    E(bad_func_arg, "bad-func-arg", R"~(["function argument" :arg1 "is not valid"])~")               \
    E(bad_func_extern, "bad-func-extern", R"~(["invalid /extern value:" :arg1])~")                   \
    E(no_refine, "no-refine", R"~([:arg1 "has no refinement called" :arg2])~")                       \
    E(bad_refines, "bad-refines", R"~("incompatible or invalid refinements")~")                      \
    E(bad_refine, "bad-refine", R"~(["invalid refinement value:" :arg1])~")                          \
    E(dup_refine, "dup-refine", R"~(["duplicate refinement usage in:" :arg1])~")                     \
    E(word_first, "word-first", R"~(["path must start with a word:" :arg1])~")                       \
    E(empty_path, "empty-path", R"~("cannot evaluate an empty path value")~")                        \
    E(unset_path, "unset-path", R"~([:arg2 "is unset in path" :arg1])~")                             \
    E(invalid_path, "invalid-path", R"~(["cannot access" :arg2 "in path" :arg1])~")                  \
    E(invalid_path_set, "invalid-path-set", R"~(["unsupported type in" :arg1 "set-path"])~")         \
    E(invalid_path_get, "invalid-path-get", R"~(["unsupported type in" :arg1 "get-path"])~")         \
    E(bad_path_type, "bad-path-type",                                                              \
      R"~([:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed"])~")                   \
    E(bad_path_type2, "bad-path-type2", R"~(["path element >" :arg1 "< does not apply to" :arg2 "type"])~") \
    E(bad_path_set, "bad-path-set", R"~(["cannot set" :arg2 "in path" :arg1])~")                     \
    E(bad_field_set, "bad-field-set", R"~(["cannot set" :arg1 "field to" :arg2 "datatype"])~")       \
    E(dup_vars, "dup-vars", R"~(["duplicate variable specified:" :arg1])~")                          \
    E(past_end, "past-end", R"~("out of range or past end")~")                                       \
    E(missing_arg, "missing-arg", R"~("missing a required argument or refinement")~")                \
    E(out_of_range, "out-of-range", R"~(["value out of range:" :arg1])~")                            \
    E(invalid_chars, "invalid-chars", R"~("contains invalid characters")~")                          \
    E(invalid_compare, "invalid-compare", R"~(["cannot compare" :arg1 "with" :arg2])~")              \
    E(wrong_type, "wrong-type", R"~(["datatype assertion failed for:" :arg1])~")                     \
    E(invalid_refine_arg, "invalid-refine-arg", R"~(["invalid" :arg1 "argument:" :arg2])~")          \
    E(type_limit, "type-limit", R"~([:arg1 "overflow/underflow"])~")                                 \
    E(size_limit, "size-limit", R"~(["maximum limit reached:" :arg1])~")                             \
    E(no_return, "no-return", R"~("block did not return a value")~")                                 \
    E(throw_usage, "throw-usage", R"~("invalid use of a thrown error value")~")                      \
    E(locked_word, "locked-word", R"~(["protected word - cannot modify:" :arg1])~")                  \
    E(protected_, "protected", R"~("protected value or series - cannot modify")~")                   \
    E(bad_bad, "bad-bad", R"~([:arg1 "error:" :arg2])~")                                             \
    E(bad_make_arg, "bad-make-arg", R"~(["cannot MAKE" :arg1 "from:" :arg2])~")                      \
    E(bad_to_arg, "bad-to-arg", R"~(["cannot MAKE/TO" :arg1 "from:" :arg2])~")                       \
    E(invalid_months, "invalid-months", R"~("invalid system/locale/month list")~")                   \
    E(invalid_spec_field, "invalid-spec-field", R"~(["invalid" :arg1 "field in spec block"])~")      \
    E(missing_spec_field, "missing-spec-field", R"~([:arg1 "not found in spec block"])~")            \
    E(move_bad, "move-bad", R"~(["Cannot MOVE elements from" :arg1 "to" :arg2])~")                   \
    E(too_long, "too-long", R"~("Content too long")~")                                               \
    E(invalid_char, "invalid-char", R"~(["Invalid char! value:" :arg1])~")                           \
    E(bad_loop_series, "bad-loop-series", R"~(["Loop series changed to invalid value:" :arg1])~")    \
    E(wrong_denom, "wrong-denom", R"~([:arg1 "not same denomination as" :arg2])~")                   \
    E(bad_denom, "bad-denom", R"~(["invalid denomination:" :arg1])~")                                \
    E(invalid_obj_evt, "invalid-obj-evt", R"~(["invalid object event handler:" :arg1])~")            \
    E(parse_rule, "parse-rule", R"~(["PARSE - invalid rule or usage of rule:" :arg1])~")             \
    E(parse_end, "parse-end", R"~(["PARSE - unexpected end of rule after:" :arg1])~")                \
    E(parse_invalid_ref, "parse-invalid-ref",                                                      \
      R"~(["PARSE - get-word refers to a different series!" :arg1])~")                               \
    E(parse_block, "parse-block", R"~(["PARSE - input must be of any-block! type:" :arg1])~")        \
    E(parse_unsupported, "parse-unsupported",                                                      \
      R"~("PARSE - matching by datatype not supported for any-string! input")~")                     \
    E(parse_infinite, "parse-infinite", R"~(["PARSE - infinite recursion at rule: [" :arg1 "]"])~")  \
    E(parse_stack, "parse-stack", R"~("PARSE - stack limit reached")~")                              \
    E(parse_keep, "parse-keep", R"~("PARSE - KEEP is used without a wrapping COLLECT")~")            \
    E(parse_into_bad, "parse-into-bad", R"~("PARSE - COLLECT INTO/AFTER invalid series! argument")~") \
    E(parse_into_type, "parse-into-type",                                                          \
      R"~("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")~")                  \
    E(draw_invalid, "draw-invalid", R"~(["DRAW - invalid input at:" :arg1])~")                       \
    E(draw_infinite, "draw-infinite", R"~(["DRAW - infinite recursion at:" :arg1])~")                \
    E(invalid_data_facet, "invalid-data-facet", R"~(["invalid DATA facet content" :arg1])~")         \
    E(face_type, "face-type", R"~(["VIEW - invalid face type:" :arg1])~")                            \
    E(not_window, "not-window", R"~("VIEW - expected a window root face")~")                         \
    E(bad_window, "bad-window", R"~("VIEW - a window face cannot be nested in another window")~")    \
    E(not_linked, "not-linked", R"~("VIEW - face not linked to a window")~")                         \
    E(not_event_type, "not-event-type", R"~(["VIEW - not a valid event type" :arg1])~")              \
    E(invalid_facet_type, "invalid-facet-type", R"~(["VIEW - invalid rate value:" :arg1])~")         \
    E(vid_invalid_syntax, "vid-invalid-syntax", R"~(["VID - invalid syntax at:" :arg1])~")           \
    E(rtd_invalid_syntax, "rtd-invalid-syntax", R"~(["RTD - invalid syntax at:" :arg1])~")           \
    E(rtd_no_match, "rtd-no-match", R"~(["RTD - opening/closing tag not matching for:" :arg1])~")    \
    E(react_bad_func, "react-bad-func", R"~("REACT - /LINK option requires a function! as argument")~") \
    E(react_not_enough, "react-not-enough",                                                        \
      R"~("REACT - reactive functions must accept at least 2 arguments")~")                          \
    E(react_no_match, "react-no-match",                                                            \
      R"~("REACT - objects block length must match reaction function arg count")~")                  \
    E(react_bad_obj, "react-bad-obj", R"~("REACT - target can only contain object values")~")       \
    E(react_gctx, "react-gctx", R"~(["REACT - word" :arg1 "is not a reactor's field"])~")            \
    E(lib_invalid_arg, "lib-invalid-arg", R"~(["LIBZAN - invalid argument for" :arg1])~")            \
    E(zb_invalid_record, "zb-invalid-record", R"~(["ZANBIN - invalid record at index" :arg1])~")

#define ZAN_ERRORS_MATH(E)                                                                         \
    E(zero_divide, "zero-divide", R"~("attempt to divide by zero")~")                                \
    E(overflow, "overflow", R"~("math or number overflow")~")                                        \
    E(positive, "positive", R"~("positive number required")~")

#define ZAN_ERRORS_ACCESS(E)                                                                       \
    E(cannot_open, "cannot-open", R"~(["cannot open:" :arg1])~")                                     \
    E(cannot_close, "cannot-close", R"~(["cannot close:" :arg1])~")                                  \
    E(invalid_utf8, "invalid-utf8", R"~(["invalid UTF-8 encoding:" :arg1])~")                        \
    E(not_open, "not-open", R"~(["port is not open:" :arg1])~")                                      \
    E(no_connect, "no-connect", R"~(["cannot connect:" :arg1 "reason: timeout"])~")                  \
    E(no_scheme, "no-scheme", R"~(["missing port scheme:" :arg1])~")                                 \
    E(unknown_scheme, "unknown-scheme", R"~(["scheme is unknown:" :arg1])~")                         \
    E(invalid_spec, "invalid-spec", R"~(["invalid spec or options:" :arg1])~")                       \
    E(invalid_port, "invalid-port", R"~(["invalid port object (invalid field values)"])~")           \
    E(invalid_actor, "invalid-actor", R"~(["invalid port actor (must be handle or object)"])~")      \
    E(no_port_action, "no-port-action", R"~("port action not supported")~")                          \
    E(no_create, "no-create", R"~(["cannot create:" :arg1])~")                                       \
    E(no_codec, "no-codec", R"~(["cannot decode or encode (no codec):" :arg1])~")                    \
    E(bad_media, "bad-media", R"~(["bad media data (corrupt image, sound, video)"])~")               \
    E(invalid_cmd, "invalid-cmd", R"~(["invalid port command:" :arg1])~")

#define ZAN_ERRORS_RESERVED1(E)
#define ZAN_ERRORS_RESERVED2(E)

// The user error carries its whole text in arg1.
#define ZAN_ERRORS_USER(E)                                                                         \
    E(message, "message", R"~([:arg1])~")

#define ZAN_ERRORS_INTERNAL(E)                                                                     \
    E(bad_path, "bad-path", R"~(["bad path:" arg1])~")                                               \
    E(not_here, "not-here", R"~([arg1 "not supported on your system"])~")                            \
    E(no_memory, "no-memory", R"~("not enough memory")~")                                            \
    E(wrong_mem, "wrong-mem", R"~("failed to release memory")~")                                     \
    E(stack_overflow, "stack-overflow", R"~("stack overflow")~")                                     \
    E(limit_hit, "limit-hit", R"~(["internal limit reached:" :arg1])~")                              \
    E(too_deep, "too-deep", R"~("block or paren series is too deep to process")~")                  \
    E(no_cycle, "no-cycle", R"~("circular reference not allowed")~")                                 \
    E(feature_na, "feature-na", R"~("feature not available")~")                                     \
    E(not_done, "not-done", R"~("reserved for future use (or not yet implemented)")~")              \
    E(invalid_error, "invalid-error", R"~(["invalid error object field value:" :arg1])~")            \
    E(routines, "routines", R"~("routines require compilation, from OS shell: `zan -r <script.zan>`")~") \
    E(zan_system, "zan-system", R"~("contains Zan/System code which requires compilation")~")        \
    E(deprecated, "deprecated", R"~([:arg1 "is DEPRECATED, please use" :arg2 "instead"])~")

// C(C++ namespace, enumerator, word, title, id list): the categories in catalogue order.
#define ZAN_ERROR_CATEGORIES(C)                                                                    \
    C(throw_, kThrow, "throw", "Throw Error", ZAN_ERRORS_THROW)                                    \
    C(note, kNote, "note", "note", ZAN_ERRORS_NOTE)                                                \
    C(syntax, kSyntax, "syntax", "Syntax Error", ZAN_ERRORS_SYNTAX)                                \
    C(script, kScript, "script", "Script Error", ZAN_ERRORS_SCRIPT)                                \
    C(math, kMath, "math", "Math Error", ZAN_ERRORS_MATH)                                          \
    C(access, kAccess, "access", "Access Error", ZAN_ERRORS_ACCESS)                                \
    C(reserved1, kReserved1, "reserved1", "Reserved1 Error", ZAN_ERRORS_RESERVED1)                 \
    C(reserved2, kReserved2, "reserved2", "Reserved2 Error", ZAN_ERRORS_RESERVED2)                 \
    C(user, kUser, "user", "User Error", ZAN_ERRORS_USER)                                          \
    C(internal, kInternal, "internal", "Internal Error", ZAN_ERRORS_INTERNAL)
// clang-format on

namespace error {

#define ZAN_ERROR_CATEGORY_ENUM(ns, enumerator, word, title, ids) enumerator,
enum Category : uint32_t { ZAN_ERROR_CATEGORIES(ZAN_ERROR_CATEGORY_ENUM) kCategoryCount };
#undef ZAN_ERROR_CATEGORY_ENUM

// One namespace per category: its ids by position (the first is 2), and kEnd one past the
// last.
#define ZAN_ERROR_ID_ENUM(name, word, text) name,
#define ZAN_ERROR_CATEGORY_IDS(ns, enumerator, word, title, ids)                                   \
    namespace ns {                                                                                 \
    enum : uint32_t { kBeforeFirst = 1, ids(ZAN_ERROR_ID_ENUM) kEnd };                              \
    }
ZAN_ERROR_CATEGORIES(ZAN_ERROR_CATEGORY_IDS)
#undef ZAN_ERROR_CATEGORY_IDS
#undef ZAN_ERROR_ID_ENUM

} // namespace error
