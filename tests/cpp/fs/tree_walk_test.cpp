#include "scan/fs/tree_walk.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "scan/fs/long_path.hpp"
#include "support/temp_tree.hpp"

namespace vornu {
namespace {

// Twelve directories, each listed a little before the next is opened, so that the oldest
// is read ahead while it still has entries to give, whatever order the listing comes in.
TEST(DirectoryStack, ReadsAheadTheOldestAndLosesNoEntry) {
    TempTree tree;
    constexpr int depth = 12, files = 6;
    std::map<int, std::set<std::string>> expected, seen;
    for (int d = 0; d < depth; ++d)
        for (int f = 0; f < files; ++f) {
            tree.write("d" + std::to_string(d) + "/f" + std::to_string(f), "");
            expected[d].insert("f" + std::to_string(f));
        }
    ListingBuffers buffers;
    DirectoryStack stack(buffers);
    for (int d = 0; d < depth; ++d) {
        stack.make_room();
        EXPECT_LT(stack.open_count(), max_open_directories);
        stack.push(UniqueFd(::open(tree.path("d" + std::to_string(d)).c_str(), O_RDONLY | O_DIRECTORY)),
                   static_cast<std::size_t>(d));
        for (int taken = 0; taken < 2; ++taken) seen[d].insert(stack.next()->name);
    }
    EXPECT_EQ(stack.open_count(), max_open_directories);
    for (int d = depth - 1; d >= 0; --d) {
        EXPECT_EQ(stack.top_path_length(), static_cast<std::size_t>(d));
        EXPECT_EQ(stack.top_fd() >= 0, d >= depth - static_cast<int>(max_open_directories)) << d;
        while (const auto entry = stack.next()) EXPECT_TRUE(seen[d].insert(entry->name).second) << entry->name;
        stack.pop();
    }
    EXPECT_TRUE(stack.empty());
    EXPECT_EQ(seen, expected);
}

// A file system that does not give entry types leaves the walk to look at each entry, by
// its directory where that is open and by its whole path where it is not, however long.
TEST(EntryType, UnknownTypesAreLookedUpByDirectoryOrByPath) {
    TempTree tree;
    // Made a level at a time, relative to the level above: no path call takes a path this long.
    std::string dir_path = tree.path() + "/";
    UniqueFd dir(::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY));
    for (int level = 0; level < 24; ++level) {
        const std::string name(200, static_cast<char>('a' + level));
        ASSERT_EQ(::mkdirat(dir.get(), name.c_str(), 0700), 0);
        dir.reset(::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY));
        dir_path += name + "/";
    }
    ASSERT_GT(dir_path.size(), static_cast<std::size_t>(PATH_MAX));
    ::close(::openat(dir.get(), "file.py", O_WRONLY | O_CREAT, 0600));
    ASSERT_EQ(::mkdirat(dir.get(), "dir", 0700), 0);
    ASSERT_EQ(::symlinkat("file.py", dir.get(), "link.py"), 0);
    ASSERT_TRUE(dir);
    const std::map<std::string, unsigned char> types = {
        {"file.py", DT_REG}, {"dir", DT_DIR}, {"link.py", DT_LNK}, {"missing", DT_UNKNOWN}};
    for (const auto& [name, type] : types) {
        const std::string path = dir_path + name;
        EXPECT_EQ(entry_type(dir.get(), name.c_str(), path, DT_UNKNOWN), type) << name;
        EXPECT_EQ(entry_type(-1, name.c_str(), path, DT_UNKNOWN), type) << name;
        EXPECT_EQ(entry_type(-1, name.c_str(), path, DT_FIFO), DT_FIFO) << "a listed type is taken as it is";
    }
    EXPECT_EQ(open_long_path(std::string(PATH_MAX + 10, 'n'), O_RDONLY), -ENAMETOOLONG);
    EXPECT_EQ(open_long_path(dir_path + "missing/x.py", O_RDONLY), -ENOENT);
    EXPECT_EQ(std::system(("rm -rf '" + tree.path() + "'").c_str()), 0);
}

// A walk through many entries that are no Python files still gives its caller the word now
// and then, so that a call over a large tree without sources can be stopped; what the
// caller throws ends the walk.
TEST(ForEachPythonFile, GivesTheCallerTheWordEvenWhereNoFileIsPython) {
    TempTree tree;
    for (int d = 0; d < 40; ++d)
        for (int f = 0; f < 40; ++f) tree.write("d" + std::to_string(d) + "/f" + std::to_string(f) + ".txt", "");
    ListingBuffers buffers;
    int asked = 0;
    for_each_python_file(tree.path(), buffers, [](int, std::uint64_t) {}, [&] { ++asked; });
    EXPECT_GE(asked, 1600 / 256);
    int entries_after_throw = 0;
    EXPECT_THROW(for_each_python_file(tree.path(), buffers, [](int, std::uint64_t) {},
                                      [&] { throw std::runtime_error(std::to_string(entries_after_throw++)); }),
                 std::runtime_error);
    EXPECT_EQ(entries_after_throw, 1);
}

}  // namespace
}  // namespace vornu
