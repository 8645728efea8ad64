#include <string>

#include "block-fixture.h"
#include "datatypes/function.h"
#include "runtime-core/error-ids.h"

namespace {

class Function : public BlockTest {
protected:
    void SetUp() override {
        BlockTest::SetUp();
        function::register_actions();
    }
    // A spec of n argument words among entries that are not counted.
    static Cell* spec_of(int n) {
        std::string text = "\"doc\" ";
        for (int i = 0; i < n; ++i) text += "a" + std::to_string(i) + " [integer!] ";
        return load(text + "/ref \"more doc\"");
    }
};

// The arity lives in five header bits next to the cell-arguments flag: 31 words fit, a
// longer spec is refused instead of wrapping.
TEST_F(Function, RoutineArityFitsItsFiveBitsOrIsRefused) {
    for (int n : {0, 3, 31, 32, 40}) {
        SCOPED_TRACE(n);
        Cell* spec = spec_of(n);
        if (n <= static_cast<int>(routine::kMaxArity)) {
            Cell* r = routine::build(spec, nullptr, 7, 11, true);
            EXPECT_EQ(cell::type(r), kTypeRoutine);
            EXPECT_EQ(routine::get_arity(r), static_cast<uint32_t>(n));
            EXPECT_TRUE(r->header & routine::kCellArgsFlag);
            EXPECT_EQ(block::cell_at(stack::push(Cell{kTypeBlock, 0, r->w3, 0}), 2)->w2, 7u);
        } else {
            EXPECT_TRUE(raises(error::kScript, error::script::bad_func_def,
                               [&] { routine::build(spec, nullptr, 7, 11, false); }));
        }
    }
}

} // namespace
