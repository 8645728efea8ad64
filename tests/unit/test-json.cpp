#include <gtest/gtest.h>

#include "fuzz/fuzz-text-codec.h"
#include "runtime-core/data-stack.h"
#include "started-runtime.h"
#include "tests/unit/fuzz-corpus.h"

namespace {

// The whole runtime with the language-level sources and the fuzz targets' checking functions.
class TextCodecs : public testing::Test {
protected:
    static void SetUpTestSuite() {
        runtime::init();
        boot::run();
        after_full_start_up();
        fuzz_text_codec::define_checkers();
    }
    static void TearDownTestSuite() { release_full_runtime(); }
};

// Every file of the JSON and CSV fuzzing corpora (the seeds and each input that ever went
// wrong) passes the fuzz targets' checks: a value or a refusal, and the round trips hold.
TEST_F(TextCodecs, FuzzCorporaReplay) {
    int files = 0;
    for (const auto& [path, data] : fuzz_corpus::files("json")) {
        EXPECT_TRUE(fuzz_text_codec::check(
            "fuzz-json", reinterpret_cast<const uint8_t*>(data.data()), data.size(), 0))
            << path;
        ++files;
    }
    for (const auto& [path, data] : fuzz_corpus::files("csv")) {
        if (data.empty()) continue;
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
        EXPECT_TRUE(fuzz_text_codec::check("fuzz-csv", bytes + 1, data.size() - 1, bytes[0]))
            << path;
        ++files;
    }
    EXPECT_GT(files, 20);
}

} // namespace
