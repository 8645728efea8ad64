// Test runner: fatal reports go to standard error (never a dialog), and the runtime's
// standard handles are in place as after start-up.
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime-core/process.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    _putenv("ZAN_ERROR_BOX=stderr");
#else
    setenv("ZAN_ERROR_BOX", "stderr", 1);
#endif
    process::get_std_handles();
    testing::InitGoogleTest(&argc, argv);
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    return RUN_ALL_TESTS();
}
