// Comparison and logic natives: the comparison operators' functions, same?, not and type?.
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/logic.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"

namespace natives {

namespace {

using interp::Status;

template <int32_t Op> Status compare(const int32_t*) {
    Cell* a = stack::arguments;
    logic::make_at(a, actions::compare(a, a + 1, Op));
    return Status::normal;
}

Status not_(const int32_t*) {
    logic::make_at(stack::arguments, !logic::value_true(stack::arguments));
    return Status::normal;
}

Status type_q(const int32_t* refs) {
    struct {
        bool word;
    } options{ref_on(refs, 0)};
    const uint8_t t = cell::type(stack::arguments);
    if (options.word)
        stack::set_last(*datatype::name_record(t).word);
    else
        datatype::make_at(stack::arguments, t);
    return Status::normal;
}

namespace op = action::op;

const Registration kFamily[] = {
    {kEqualQ, "equal?", compare<op::equal>},
    {kNotEqualQ, "not-equal?", compare<op::not_equal>},
    {kStrictEqualQ, "strict-equal?", compare<op::strict_equal>},
    {kLesserQ, "lesser?", compare<op::lesser>},
    {kGreaterQ, "greater?", compare<op::greater>},
    {kLesserOrEqualQ, "lesser-or-equal?", compare<op::lesser_or_equal>},
    {kGreaterOrEqualQ, "greater-or-equal?", compare<op::greater_or_equal>},
    {kSameQ, "same?", compare<op::same>},
    {kNot, "not", not_},
    {kTypeQ, "type?", type_q},
};

} // namespace

std::span<const Registration> compare_family() {
    return kFamily;
}

} // namespace natives
