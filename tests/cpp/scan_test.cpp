#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/read_floor.hpp"
#include "scan/fs/tree_walk.hpp"
#include "scan/fs/unique_fd.hpp"
#include "scan/scan.hpp"
#include "support/temp_tree.hpp"

namespace {

using vornu::NameSet;
using vornu::scan_root;

std::size_t open_descriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count - 1;  // the listing's own descriptor
}

TEST(ScanRoot, RootsThatNameNothingGiveNothing) {
    TempTree tree;
    tree.mkdir("empty");
    tree.write("other.txt", "import os\n");
    tree.symlink("missing.py", "dangling.py");
    tree.symlink("missing-dir", "dangling-dir");
    const std::vector<std::string> roots = {
        "", tree.path("does-not-exist"), tree.path("empty"), tree.path("other.txt"),
        tree.path("dangling.py"), tree.path("dangling-dir"), "/dev/null", "/dev/zero"};
    for (const std::string& root : roots) EXPECT_EQ(scan_root(root), NameSet{}) << root;
}

TEST(ScanRoot, AFileRootIsReadWhenItsExtensionIsPy) {
    TempTree tree;
    tree.write("mod.py", "import os\n");
    tree.write("mod.pyw", "import os\n");
    EXPECT_EQ(scan_root(tree.path("mod.py")), NameSet{"os"});
    EXPECT_EQ(scan_root(tree.path("mod.pyw")), NameSet{});
    tree.symlink("mod.py", "link.py");
    EXPECT_EQ(scan_root(tree.path("link.py")), NameSet{"os"});
}

TEST(ScanRoot, OnlyFilesWithTheExactExtensionPyAreRead) {
    const std::vector<std::pair<std::string, bool>> names = {
        {"mod.py", true},   {"a.b.py", true},   {"..py", true},     {".hidden.py", true},
        {"mod.PY", false},  {"mod.pyw", false}, {"mod.pyi", false}, {"mod.py~", false},
        {".py", false},     {"py", false},      {"mod.", false},    {"mod.p", false},
        {"mod.py.txt", false}, {"\xFF\xFE.py", true}, {"caf\xC3\xA9.py", true}};
    for (const auto& [name, read] : names) {
        TempTree tree;
        tree.write(name, "import found\n");
        EXPECT_EQ(scan_root(tree.path()), read ? NameSet{"found"} : NameSet{}) << name;
        EXPECT_EQ(vornu::has_python_extension("dir/" + name), read) << name;
    }
}

TEST(ScanRoot, WalksEveryDirectoryIncludingHiddenAndCacheDirectories) {
    TempTree tree;
    tree.write("a.py", "import top\n");
    tree.write(".git/hooks/h.py", "import in_git\n");
    tree.write("__pycache__/c.py", "import in_cache\n");
    tree.write(".venv/lib/site-packages/pkg/m.py", "import in_venv\n");
    tree.write("x/y/z/deep.py", "from deep.er import thing\n");
    tree.write("x/notes.txt", "import not_python\n");
    tree.mkdir("dir.py");
    EXPECT_EQ(scan_root(tree.path()),
              (NameSet{"deep", "in_cache", "in_git", "in_venv", "top"}));
    EXPECT_EQ(scan_root(tree.path() + "/"), scan_root(tree.path()));
}

TEST(ScanRoot, SymbolicLinks) {
    TempTree tree;
    tree.write("real/inner.py", "import inner\n");
    tree.write("target.txt", "import via_link\n");
    tree.write("root/own.py", "import own\n");
    tree.symlink("../target.txt", "root/link.py");            // link to a file: read
    tree.symlink("../real", "root/dirlink");                  // link to a directory: not descended
    tree.symlink("..", "root/cycle");                         // a cycle ends normally
    tree.symlink("../nowhere.py", "root/dangling.py");
    tree.symlink("../real", "root/dirlink.py");               // a directory is no file
    EXPECT_EQ(scan_root(tree.path("root")), (NameSet{"own", "via_link"}));

    tree.symlink("real", "rootlink");                         // a root link is followed
    EXPECT_EQ(scan_root(tree.path("rootlink")), NameSet{"inner"});
}

TEST(ScanRoot, FilesThatAreNotRegularAreNeverOpened) {
    TempTree tree;
    tree.write("ok.py", "import ok\n");
    ASSERT_EQ(::mkfifo(tree.path("fifo.py").c_str(), 0600), 0);
    tree.symlink("fifo.py", "fifolink.py");
    tree.symlink("/dev/zero", "zero.py");  // reading it would never end
    tree.symlink("/dev/tty", "tty.py");
    const std::string socket_path = tree.path("sock.py");
    vornu::UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    socket_path.copy(address.sun_path, socket_path.size());
    ASSERT_EQ(::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(scan_root(tree.path()), NameSet{"ok"});
    EXPECT_EQ(scan_root(tree.path("fifo.py")), NameSet{});
}

TEST(ScanRoot, EmbeddedNulNamesNoFile) {
    TempTree tree;
    tree.write("a.py", "import a\n");
    const std::string root = tree.path("a.py");
    EXPECT_EQ(scan_root(root), NameSet{"a"});
    EXPECT_EQ(scan_root(root + std::string("\0ignored", 8)), NameSet{});
    EXPECT_EQ(scan_root(tree.path() + std::string("\0", 1)), NameSet{});
}

TEST(ScanRoot, ARelativeRootIsTakenFromTheCurrentDirectory) {
    TempTree tree;
    tree.write("pkg/m.py", "import rel\n");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(tree.path());
    EXPECT_EQ(scan_root("pkg"), NameSet{"rel"});
    EXPECT_EQ(scan_root("./pkg/m.py"), NameSet{"rel"});
    EXPECT_EQ(scan_root("~"), NameSet{});  // no tilde expansion
    std::filesystem::current_path(before);
}

TEST(ScanRoot, ADeepTreeIsWalkedWithFewDirectoriesOpen) {
    TempTree tree;
    // 10,000 levels: far beyond PATH_MAX, and deep enough to overflow any per-level
    // recursion on a 2 MiB stack.
    constexpr int depth = 10000;
    std::string relative;
    {
        vornu::UniqueFd dir(::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY));
        for (int level = 0; level < depth; ++level) {
            ASSERT_EQ(::mkdirat(dir.get(), "d", 0700), 0);
            if (level % 1000 == 0) {
                vornu::UniqueFd file(::openat(dir.get(), "side.py", O_WRONLY | O_CREAT, 0600));
                const std::string text = "import level" + std::to_string(level) + "\n";
                ASSERT_EQ(::write(file.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
                ASSERT_EQ(::mkdirat(dir.get(), "sibling", 0700), 0);  // opened after its parent closed
                vornu::UniqueFd sibling(::openat(dir.get(), "sibling", O_RDONLY | O_DIRECTORY));
                vornu::UniqueFd inner(::openat(sibling.get(), "s.py", O_WRONLY | O_CREAT, 0600));
                const std::string more = "import sibling" + std::to_string(level) + "\n";
                ASSERT_EQ(::write(inner.get(), more.data(), more.size()), static_cast<ssize_t>(more.size()));
            }
            dir.reset(::openat(dir.get(), "d", O_RDONLY | O_DIRECTORY));
            ASSERT_TRUE(dir);
        }
        vornu::UniqueFd file(::openat(dir.get(), "bottom.py", O_WRONLY | O_CREAT, 0600));
        ASSERT_EQ(::write(file.get(), "import bottom\n", 14), 14);
    }
    NameSet expected = {"bottom"};
    for (int level = 0; level < depth; level += 1000) {
        expected.insert("level" + std::to_string(level));
        expected.insert("sibling" + std::to_string(level));
    }
    const std::size_t baseline = open_descriptors();
    std::size_t most_open = 0;
    NameSet names;
    vornu::ListingBuffers listings;
    vornu::for_each_python_file(tree.path(), listings, [&](int, std::uint64_t) {
        most_open = std::max(most_open, open_descriptors() - baseline);
    });
    EXPECT_EQ(scan_root(tree.path()), expected);
    // The directory handles plus the file being read.
    EXPECT_LE(most_open, vornu::max_open_directories + 1);

    // rm removes a tree of any depth; the standard library's removal stops at PATH_MAX.
    EXPECT_EQ(std::system(("rm -rf '" + tree.path() + "'").c_str()), 0);
}

TEST(ScanRoot, UnreadableDirectoriesAndFilesAreSkipped) {
    TempTree tree;
    tree.write("open/a.py", "import visible\n");
    tree.write("closed/b.py", "import hidden_dir\n");
    tree.write("c.py", "import hidden_file\n");
    ::chmod(tree.path("closed").c_str(), 0);
    ::chmod(tree.path("c.py").c_str(), 0);
    NameSet expected = {"visible"};
    if (::geteuid() == 0) expected = {"hidden_dir", "hidden_file", "visible"};  // root reads anyway
    EXPECT_EQ(scan_root(tree.path()), expected);
    ::chmod(tree.path("closed").c_str(), 0700);
}

TEST(ScanRoot, ALowOpenFileLimitDropsWhatCannotBeOpenedWithoutFailing) {
    TempTree tree;
    std::string nested = "n";
    for (int level = 0; level < 30; ++level) {
        tree.write(nested + "/m.py", "import n" + std::to_string(level) + "\n");
        nested += "/n";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Leave room for only a few more descriptors than are open now.
        const rlimit limit{static_cast<rlim_t>(open_descriptors() + 4), static_cast<rlim_t>(open_descriptors() + 4)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        const NameSet names = scan_root(tree.path());
        ::_exit(names.empty() || names.size() > 30 ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ScanRoot, ALargeFileStreamsThroughBoundedMemory) {
    TempTree tree;
    const std::string path = tree.write("huge.py", "import first\n");
    // Sparse: 192 MiB of NUL bytes (valid UTF-8, one endless line) cost no disk; memory
    // must stay far below the file's size.
    constexpr off_t size = off_t{192} << 20;
    {
        vornu::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::pwrite(fd.get(), "\nimport last\n", 13, size - 13), 13);
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(scan_root(path), (NameSet{"first", "last"}));
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "kilobytes";
}

TEST(ScanRoot, TheFloorReadsExactlyTheFilesThatTheScanReads) {
    TempTree tree;
    tree.write("a.py", "import a\n");
    tree.write("sub/b.py", std::string(100000, '#'));
    tree.write("sub/c.txt", "not read");
    tree.symlink("../a.py", "sub/link.py");
    vornu::ScanScratch scratch;
    for (const vornu::Floor floor : {vornu::Floor::plain, vornu::Floor::lean})
        EXPECT_EQ(vornu::read_without_scanning(tree.path(), scratch, floor), 9u + 100000u + 9u);
}

TEST(ScanRoot, NamesAreHeldOnceAndSorted) {
    TempTree tree;
    for (int i = 0; i < 50; ++i)
        tree.write(std::to_string(i) + ".py", "import zeta\nimport Alpha\nimport _under\nimport alpha\nimport zeta\n");
    EXPECT_EQ(scan_root(tree.path()), (NameSet{"Alpha", "_under", "alpha", "zeta"}));
    const NameSet names = scan_root(tree.path());
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()),
              (std::vector<std::string>{"Alpha", "_under", "alpha", "zeta"}));
}

}  // namespace
