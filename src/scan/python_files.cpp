#include "scan/python_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "scan/long_path.hpp"
#include "scan/unique_fd.hpp"

namespace vornu {
namespace {

// Never blocks on a fifo or device that took a regular file's place after it was listed;
// the descriptor's own type is checked before anything is read.
constexpr int file_flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// A directory replaced by a link after it was listed must not be followed.
constexpr int subdirectory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct ListedEntry {
    std::string name;
    unsigned char type;
};

struct Frame {
    UniqueDir dir;                    // null once the rest of the listing was read ahead
    std::vector<ListedEntry> listed;  // the rest of the listing, when `dir` was closed early
    std::size_t next_listed = 0;
    std::size_t path_length;          // this directory's path is a prefix of the walk's path
};

bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void visit_if_regular(int fd, const std::function<void(int)>& visit) {
    const UniqueFd file(fd);
    struct stat status;
    if (file && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)) visit(file.get());
}

struct Walk {
    std::string path;
    std::vector<Frame> frames;
    std::size_t first_open = 0;  // frames below this index were closed early
    const std::function<void(int)>& visit;

    void push_directory(int fd) {
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            return;
        }
        frames.push_back(Frame{UniqueDir(dir), {}, 0, path.size()});
    }

    // Makes room for one more open directory: the oldest one's remaining entries are read
    // into memory and its handle is closed.
    void read_ahead_oldest() {
        Frame& oldest = frames[first_open++];
        errno = 0;
        while (const dirent* entry = ::readdir(oldest.dir.get()))
            if (!is_dot_or_dot_dot(entry->d_name))
                oldest.listed.push_back(ListedEntry{entry->d_name, entry->d_type});
        oldest.dir.reset();
    }

    void enter(const char* name, unsigned char type) {
        Frame& parent = frames.back();
        path.resize(parent.path_length);
        if (path.empty() || path.back() != '/') path += '/';
        path += name;
        int parent_fd = parent.dir ? ::dirfd(parent.dir.get()) : -1;

        if (type == DT_UNKNOWN) {
            struct stat status;
            if (!stat_entry(parent_fd, name, path, status, AT_SYMLINK_NOFOLLOW)) return;
            type = IFTODT(status.st_mode);
        }
        if (type == DT_DIR) {
            if (frames.size() - first_open >= max_open_directories) {
                read_ahead_oldest();
                parent_fd = frames.back().dir ? ::dirfd(frames.back().dir.get()) : -1;
            }
            const int fd = open_entry(parent_fd, name, path, subdirectory_flags);
            if (fd >= 0) push_directory(fd);
            return;
        }
        if ((type != DT_REG && type != DT_LNK) || !has_python_extension(name)) return;
        if (type == DT_LNK) {
            // Only a link whose target is a regular file is opened at all.
            struct stat status;
            if (!stat_entry(parent_fd, name, path, status, 0) || !S_ISREG(status.st_mode)) return;
        }
        visit_if_regular(open_entry(parent_fd, name, path, file_flags), visit);
    }

    void run() {
        while (!frames.empty()) {
            Frame& top = frames.back();
            if (top.dir) {
                errno = 0;
                const dirent* entry = ::readdir(top.dir.get());
                if (entry == nullptr) {
                    pop();
                    continue;
                }
                if (!is_dot_or_dot_dot(entry->d_name)) enter(entry->d_name, entry->d_type);
            } else {
                if (top.next_listed == top.listed.size()) {
                    pop();
                    continue;
                }
                const ListedEntry& entry = top.listed[top.next_listed++];
                enter(entry.name.c_str(), entry.type);
            }
        }
    }

    void pop() {
        frames.pop_back();
        if (first_open > frames.size()) first_open = frames.size();
    }
};

}  // namespace

bool has_python_extension(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "py";
}

void for_each_python_file(std::string_view root, const std::function<void(int fd)>& visit) {
    // A C string would end at an embedded NUL and name some other file.
    if (root.empty() || root.find('\0') != std::string_view::npos) return;
    Walk walk{std::string(root), {}, 0, visit};
    int fd;
    {
        // The root is followed if it is a link, and inspected before anything is opened for
        // reading, so a root that names a device is never opened.
        const UniqueFd target(open_long_path(walk.path, O_PATH | O_CLOEXEC));
        struct stat status;
        if (!target || ::fstat(target.get(), &status) != 0) return;
        if (S_ISREG(status.st_mode)) {
            if (has_python_extension(walk.path))
                visit_if_regular(open_long_path(walk.path, file_flags), visit);
            return;
        }
        if (!S_ISDIR(status.st_mode)) return;
        do {
            fd = ::openat(target.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return;
    }
    walk.push_directory(fd);
    walk.run();
}

}  // namespace vornu
