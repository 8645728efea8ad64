// Positions of the language errors in the error catalogue: a category's position gives its
// code base (position x 100), an id's position in its category object (`code` 0, `type` 1,
// the first error 2) is what raise sites pass. The order is part of the contract.
#pragma once
#include <cstdint>

namespace error {

enum Category : uint32_t {
    kThrow = 0,
    kNote = 1,
    kSyntax = 2,
    kScript = 3,
    kMath = 4,
    kAccess = 5,
    kReserved1 = 6,
    kReserved2 = 7,
    kUser = 8,
    kInternal = 9,
};

namespace throw_ {
enum : uint32_t {
    break_ = 2,
    return_ = 3,
    throw_ = 4,
    continue_ = 5,
    while_cond = 6,
};
} // namespace throw_

namespace note {
enum : uint32_t {
    no_load = 2,
};
} // namespace note

namespace syntax {
enum : uint32_t {
    invalid = 2,
    missing = 3,
    no_header = 4,
    no_zs_header = 5,
    bad_header = 6,
    malconstruct = 7,
    bad_char = 8,
};
} // namespace syntax

namespace script {
enum : uint32_t {
    no_value = 2,
    need_value = 3,
    not_defined = 4,
    not_in_context = 5,
    no_arg = 6,
    expect_arg = 7,
    expect_val = 8,
    expect_type = 9,
    cannot_use = 10,
    invalid_arg = 11,
    invalid_type = 12,
    invalid_type_spec = 13,
    invalid_key_type = 14,
    invalid_op = 15,
    no_op_arg = 16,
    bad_op_spec = 17,
    invalid_data = 18,
    invalid_part = 19,
    not_same_type = 20,
    not_same_class = 21,
    not_related = 22,
    bad_func_def = 23,
    bad_func_arg = 24,
    bad_func_extern = 25,
    no_refine = 26,
    bad_refines = 27,
    bad_refine = 28,
    dup_refine = 29,
    word_first = 30,
    empty_path = 31,
    unset_path = 32,
    invalid_path = 33,
    invalid_path_set = 34,
    invalid_path_get = 35,
    bad_path_type = 36,
    bad_path_type2 = 37,
    bad_path_set = 38,
    bad_field_set = 39,
    dup_vars = 40,
    past_end = 41,
    missing_arg = 42,
    out_of_range = 43,
    invalid_chars = 44,
    invalid_compare = 45,
    wrong_type = 46,
    invalid_refine_arg = 47,
    type_limit = 48,
    size_limit = 49,
    no_return = 50,
    throw_usage = 51,
    locked_word = 52,
    protected_ = 53,
    bad_bad = 54,
    bad_make_arg = 55,
    bad_to_arg = 56,
    invalid_months = 57,
    invalid_spec_field = 58,
    missing_spec_field = 59,
    move_bad = 60,
    too_long = 61,
    invalid_char = 62,
    bad_loop_series = 63,
    wrong_denom = 64,
    bad_denom = 65,
    invalid_obj_evt = 66,
    parse_rule = 67,
    parse_end = 68,
    parse_invalid_ref = 69,
    parse_block = 70,
    parse_unsupported = 71,
    parse_infinite = 72,
    parse_stack = 73,
    parse_keep = 74,
    parse_into_bad = 75,
    parse_into_type = 76,
    draw_invalid = 77,
    draw_infinite = 78,
    invalid_data_facet = 79,
    face_type = 80,
    not_window = 81,
    bad_window = 82,
    not_linked = 83,
    not_event_type = 84,
    invalid_facet_type = 85,
    vid_invalid_syntax = 86,
    rtd_invalid_syntax = 87,
    rtd_no_match = 88,
    react_bad_func = 89,
    react_not_enough = 90,
    react_no_match = 91,
    react_bad_obj = 92,
    react_gctx = 93,
    lib_invalid_arg = 94,
    zb_invalid_record = 95,
};
} // namespace script

namespace math {
enum : uint32_t {
    zero_divide = 2,
    overflow = 3,
    positive = 4,
};
} // namespace math

namespace access {
enum : uint32_t {
    cannot_open = 2,
    cannot_close = 3,
    invalid_utf8 = 4,
    not_open = 5,
    no_connect = 6,
    no_scheme = 7,
    unknown_scheme = 8,
    invalid_spec = 9,
    invalid_port = 10,
    invalid_actor = 11,
    no_port_action = 12,
    no_create = 13,
    no_codec = 14,
    bad_media = 15,
    invalid_cmd = 16,
};
} // namespace access

namespace user {
enum : uint32_t {
    message = 2,
};
} // namespace user

namespace internal {
enum : uint32_t {
    bad_path = 2,
    not_here = 3,
    no_memory = 4,
    wrong_mem = 5,
    stack_overflow = 6,
    limit_hit = 7,
    too_deep = 8,
    no_cycle = 9,
    feature_na = 10,
    not_done = 11,
    invalid_error = 12,
    routines = 13,
    zan_system = 14,
    deprecated = 15,
};
} // namespace internal

} // namespace error
