#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>

#include "datatypes/binary.h"
#include "os/io.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

using Io = Types2Test;

TEST_F(Io, FolderPathsByTheirText) {
    const struct {
        std::u32string path;
        bool folder;
    } cases[] = {
        {U"a/", true},   {U"a\\", true},  {U".", true},     {U"..", true},   {U"a/.", true},
        {U"a/..", true}, {U"a", false},   {U"a.", false},   {U"...", false}, {U"a/...", false},
        {U"", false},    {U"a.b", false}, {U"x/.a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(io::dir_q(c.path), c.folder) << std::string(c.path.begin(), c.path.end());
}

// A folder is made, listed (sub-folders with a trailing slash, never . or ..), dated and
// removed; a folder that is not empty is not removed.
TEST_F(Io, Folders) {
    GcRoot dir(text(kTypeFile, "io-unit.tmp/"));
    GcRoot inner(text(kTypeFile, "io-unit.tmp/sub/"));
    GcRoot name(text(kTypeFile, "io-unit.tmp/a.txt"));
    io::delete_path(&name.cell());
    io::delete_path(&inner.cell());
    io::delete_path(&dir.cell());
    ASSERT_TRUE(io::make_dir(&dir.cell()));
    EXPECT_FALSE(io::make_dir(&dir.cell()));
    ASSERT_TRUE(io::make_dir(&inner.cell()));
    GcRoot data(text(kTypeString, "x"));
    EXPECT_EQ(io::write_file(&name.cell(), &data.cell(), -1, -1, false, false), 1);

    Cell* listing = io::read_path(&dir.cell(), -1, -1, false, false);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < static_cast<uint32_t>(block::length_from_index(listing)); ++i) {
        const Cell* e = block::cell_at(listing, i);
        EXPECT_EQ(cell::type(e), kTypeFile);
        names.push_back(utf8_of(*e));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/"}));
    stack::top = listing;

    EXPECT_EQ(cell::type(io::query(&inner.cell())), kTypeDate);
    GcRoot not_a_folder(text(kTypeFile, "io-unit.tmp/a.txt/"));
    EXPECT_EQ(cell::type(io::query(&not_a_folder.cell())), kTypeNone);
    EXPECT_FALSE(io::delete_path(&dir.cell()));
    EXPECT_TRUE(io::delete_path(&name.cell()));
    EXPECT_TRUE(io::delete_path(&inner.cell()));
    EXPECT_TRUE(io::delete_path(&dir.cell()));
    EXPECT_TRUE(raises(error::kAccess, error::access::cannot_open,
                       [&] { io::read_path(&dir.cell(), -1, -1, false, false); }));
}

#ifndef _WIN32
// Files that report no size (as the kernel's) are read whole, in steps.
TEST_F(Io, FileWithoutAReportedSize) {
    GcRoot path(text(kTypeFile, "/proc/self/status"));
    Cell* content = io::read_path(&path.cell(), -1, -1, false, false);
    EXPECT_NE(utf8_of(*content).find("Name:"), std::string::npos);
    Cell* part = io::read_path(&path.cell(), 5, -1, false, false);
    EXPECT_EQ(utf8_of(*part), "Name:");
}

// A device that reports no size and never ends (/dev/zero) is read up to the part only,
// after its seek; it used to be read whole before the part was cut, which never finished
// within what a series holds.
TEST_F(Io, EndlessDeviceReadUpToThePart) {
    GcRoot path(text(kTypeFile, "/dev/zero"));
    const struct {
        int32_t part, seek;
        uint32_t size;
    } cases[] = {{10, -1, 10}, {3, 100000, 3}, {0, -1, 0}, {70000, 5, 70000}};
    for (const auto& c : cases) {
        Cell* got = io::read_path(&path.cell(), c.part, c.seek, true, false);
        ASSERT_EQ(cell::type(got), kTypeBinary);
        EXPECT_EQ(binary::zs_length(got), c.size) << c.part << " " << c.seek;
        stack::top = got;
    }
}

// A file above what a series can index (a sparse one here) is refused with a clear error,
// not cut or misread; its part below the limit still reads.
TEST_F(Io, FileTooLargeForASeries) {
    const char* name = "io-unit-large.tmp";
    FILE* f = std::fopen(name, "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(ftruncate(fileno(f), int64_t{5} << 30), 0);
    std::fclose(f);
    GcRoot path(text(kTypeFile, name));
    EXPECT_TRUE(raises(error::kScript, error::script::too_long,
                       [&] { io::read_path(&path.cell(), -1, -1, true, false); }));
    Cell* part = io::read_path(&path.cell(), 4, 0x7FFFFFF0, true, false);
    EXPECT_EQ(cell::type(part), kTypeBinary);
    std::remove(name);
}
#endif

} // namespace
