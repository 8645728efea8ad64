#include "lexer-fixture.h"

TEST_F(LexerTest, LoadsCoreValuesAndMoldsThemBack) {
    EXPECT_EQ(reload("a b: 'c :d /e #f 12 -3 \"x y\" [1 (2)] a/b/c"),
              "a b: 'c :d /e #f 12 -3 \"x y\" [1 (2)] a/b/c");
}
