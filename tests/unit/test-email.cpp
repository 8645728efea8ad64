#include <gtest/gtest.h>

#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

class Email : public Types2Test {
protected:
    std::string path_get(const char* address, const char* field) {
        Cell e = text(kTypeEmail, address);
        GcRoot held(e);
        GcRoot word(unbound(kTypeWord, sym(field)));
        Cell* got = email::eval_path(&held.cell(), &word.cell(), nullptr, {.get = true});
        EXPECT_EQ(cell::type(got), kTypeString);
        return utf8_of(*got);
    }
    std::string path_set(const char* address, const char* field, const char* value) {
        GcRoot held(text(kTypeEmail, address));
        GcRoot word(unbound(kTypeWord, sym(field)));
        GcRoot v(text(kTypeString, value));
        email::eval_path(&held.cell(), &word.cell(), &v.cell(), {});
        return utf8_of(held.cell());
    }
};

TEST_F(Email, UserAndHost) {
    struct Case {
        const char* address;
        const char* user;
        const char* host;
    } cases[] = {
        {"joe@example.com", "joe", "example.com"},
        {"nobody", "nobody", ""},
        {"@host", "", "host"},
        {"a@b@c", "a", "b@c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(path_get(c.address, "user"), c.user) << c.address;
        EXPECT_EQ(path_get(c.address, "host"), c.host) << c.address;
    }
}

TEST_F(Email, SettingAFieldChangesThatPartOnly) {
    EXPECT_EQ(path_set("joe@example.com", "user", "ann"), "ann@example.com");
    EXPECT_EQ(path_set("joseph@example.com", "user", "ann"), "ann@example.com");
    EXPECT_EQ(path_set("joe@example.com", "host", "zan.org"), "joe@zan.org");
    EXPECT_EQ(path_set("nobody", "user", "ann"), "ann");
}

TEST_F(Email, FormMoldAndOtherElements) {
    GcRoot held(text(kTypeEmail, "joe@example.com")); // forming allocates: keep it current
    EXPECT_EQ(mold_of(held.cell()), "joe@example.com");
    EXPECT_EQ(form_of(held.cell()), "joe@example.com");
    GcRoot other(unbound(kTypeWord, sym("domain")));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path, [&] {
        email::eval_path(&held.cell(), &other.cell(), nullptr, {.get = true});
    }));
    Cell two = int_value(2);
    Cell* c = email::eval_path(&held.cell(), &two, nullptr, {.get = true});
    EXPECT_EQ(cell::type(c), kTypeChar);
    EXPECT_EQ(c->w2, static_cast<uint32_t>('o'));
}

} // namespace
