// The walk of one root: what is descended into, what is opened, and the root itself.
#include "scan/fs/tree_walk.hpp"

#include <dirent.h>

#include "scan/fs/long_path.hpp"
#include "scan/fs/system_calls.hpp"

namespace vornu {
namespace {

// Never blocks on a fifo or device that took a regular file's place after it was listed;
// the descriptor's own type is checked before anything is read.
constexpr int file_flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// A directory replaced by a link after it was listed must not be followed.
constexpr int subdirectory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void visit_if_regular(int fd, const VisitFile& visit) {
    const UniqueFd file(fd);
    struct stat status;
    if (file && sys::fstat(file.get(), status) && S_ISREG(status.st_mode))
        visit(file.get(), static_cast<std::uint64_t>(status.st_size));
}

struct Walk {
    std::string path;  // of the entry at hand; each open directory's path is a prefix of it
    DirectoryStack stack;
    const VisitFile& visit;
    const std::function<void()>& every_few_entries;
    unsigned entries = 0;

    // Rewrites the walk's path to name the entry `name` of the top directory, and returns it.
    // Only directories and the entries of a directory whose descriptor was closed need it.
    const std::string& set_path_to_entry(const char* name) {
        path.resize(stack.top_path_length());
        if (path.empty() || path.back() != '/') path += '/';
        path += name;
        return path;
    }

    void enter(const char* name, unsigned char listed_type) {
        // Regular files and links that cannot be Python files are settled by the listing.
        if ((listed_type == DT_REG || listed_type == DT_LNK) && !has_python_extension(name)) return;
        const int dir_fd = stack.top_fd();
        const std::string& entry_path = dir_fd >= 0 && listed_type != DT_DIR ? path : set_path_to_entry(name);
        const unsigned char type = entry_type(dir_fd, name, entry_path, listed_type);
        if (type == DT_DIR) {
            // A directory's path is the prefix of its entries' paths, so it must be set even
            // where the entry was looked at through its descriptor.
            if (listed_type != DT_DIR && dir_fd >= 0) set_path_to_entry(name);
            stack.make_room();
            const int fd = open_entry(stack.top_fd(), name, path, subdirectory_flags);
            if (fd >= 0) stack.push(UniqueFd(fd), path.size());
            return;
        }
        if ((type != DT_REG && type != DT_LNK) || !has_python_extension(name)) return;
        if (type == DT_LNK) {
            // Only a link whose target is a regular file is opened at all.
            struct stat status;
            if (!stat_entry(dir_fd, name, entry_path, status, 0) || !S_ISREG(status.st_mode)) return;
        }
        visit_if_regular(open_entry(dir_fd, name, entry_path, file_flags), visit);
    }

    void run() {
        while (!stack.empty()) {
            // The entry's name stays where the listing put it: no deeper directory uses
            // that place before the entry is done with.
            if (const std::optional<ListedEntry> entry = stack.next()) {
                if (++entries % 256 == 0 && every_few_entries) every_few_entries();
                enter(entry->name, entry->type);
            } else {
                stack.pop();
            }
        }
    }
};

// The root's directory, opened for listing; or, where the root is a Python file, nothing,
// once the file has been visited. The root is followed if it is a link, and inspected
// before anything is opened for reading, so a root that names a device is never opened.
UniqueFd open_root(const std::string& root, const VisitFile& visit) {
    const UniqueFd target(open_long_path(root, O_PATH | O_CLOEXEC));
    struct stat status;
    if (!target || !sys::fstat(target.get(), status)) return {};
    if (S_ISREG(status.st_mode)) {
        if (has_python_extension(root)) visit_if_regular(open_long_path(root, file_flags), visit);
        return {};
    }
    if (!S_ISDIR(status.st_mode)) return {};
    return UniqueFd(sys::open_at(target.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace

// "py" holds no full stop, so a name that ends in ".py" has it as its extension unless that
// full stop is the name's first character.
bool has_python_extension(std::string_view path) {
    const std::size_t n = path.size();
    return n > 3 && path.ends_with(".py") && path[n - 4] != '/';
}

unsigned char entry_type(int dir_fd, const char* name, const std::string& path, unsigned char listed_type) {
    if (listed_type != DT_UNKNOWN) return listed_type;
    struct stat status;
    if (!stat_entry(dir_fd, name, path, status, AT_SYMLINK_NOFOLLOW)) return DT_UNKNOWN;
    return IFTODT(status.st_mode);
}

void for_each_python_file(std::string_view root, ListingBuffers& listings, const VisitFile& visit,
                          const std::function<void()>& every_few_entries) {
    // A C string would end at an embedded NUL and name some other file.
    if (root.empty() || root.find('\0') != std::string_view::npos) return;
    Walk walk{std::string(root), DirectoryStack(listings), visit, every_few_entries};
    UniqueFd dir = open_root(walk.path, visit);
    if (!dir) return;
    walk.stack.push(std::move(dir), walk.path.size());
    walk.run();
}

}  // namespace vornu
