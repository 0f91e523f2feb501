// The iterative walk of one root with a bounded number of open directories.
#include "scan/fs/tree_walk.hpp"

#include <dirent.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scan/fs/long_path.hpp"
#include "scan/fs/system_calls.hpp"
#include "scan/fs/unique_fd.hpp"

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
    UniqueFd dir;                     // closed once the rest of the listing was read ahead
    std::size_t listed_at = 0;        // unread part of the listing buffer: [listed_at, listed_end)
    std::size_t listed_end = 0;
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
    if (file && sys::fstat(file.get(), status) && S_ISREG(status.st_mode)) visit(file.get());
}

struct Walk {
    std::string path;
    std::vector<Frame> frames;
    std::size_t first_open = 0;  // frames below this index were closed early
    const std::function<void(int)>& visit;
    ListingBuffers& buffers;

    // Open frames are the top of the stack, at most `max_open_directories` of them, so a
    // frame's index picks a buffer that no other open frame uses.
    unsigned char* buffer_of(std::size_t index) { return buffers.slot(index); }

    // The next entry of an open directory, or null at the end of its listing or at an error,
    // which ends the listing too.
    const dirent64* next_entry(std::size_t index) {
        Frame& frame = frames[index];
        unsigned char* buffer = buffer_of(index);
        if (frame.listed_at == frame.listed_end) {
            const long n = sys::getdents64(frame.dir.get(), buffer, ListingBuffers::size);
            if (n <= 0) return nullptr;
            frame.listed_at = 0;
            frame.listed_end = static_cast<std::size_t>(n);
        }
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + frame.listed_at);
        frame.listed_at += entry->d_reclen;
        return entry;
    }

    void push_directory(int fd) {
        frames.push_back(Frame{UniqueFd(fd), 0, 0, {}, 0, path.size()});
    }

    // Makes room for one more open directory: the oldest one's remaining entries are read
    // into memory and its handle is closed.
    void read_ahead_oldest() {
        const std::size_t oldest = first_open++;
        while (const dirent64* entry = next_entry(oldest))
            if (!is_dot_or_dot_dot(entry->d_name))
                frames[oldest].listed.push_back(ListedEntry{entry->d_name, entry->d_type});
        frames[oldest].dir.reset();
    }

    void enter(const char* name, unsigned char type) {
        Frame& parent = frames.back();
        path.resize(parent.path_length);
        if (path.empty() || path.back() != '/') path += '/';
        path += name;
        int parent_fd = parent.dir.get();

        if (type == DT_UNKNOWN) {
            struct stat status;
            if (!stat_entry(parent_fd, name, path, status, AT_SYMLINK_NOFOLLOW)) return;
            type = IFTODT(status.st_mode);
        }
        if (type == DT_DIR) {
            if (frames.size() - first_open >= max_open_directories) {
                read_ahead_oldest();
                parent_fd = frames.back().dir.get();
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
            const std::size_t top = frames.size() - 1;
            Frame& frame = frames[top];
            if (frame.dir) {
                // The entry stays in the listing buffer, which no deeper directory uses
                // before this entry is done with.
                const dirent64* entry = next_entry(top);
                if (entry == nullptr) {
                    pop();
                    continue;
                }
                if (!is_dot_or_dot_dot(entry->d_name)) enter(entry->d_name, entry->d_type);
            } else {
                if (frame.next_listed == frame.listed.size()) {
                    pop();
                    continue;
                }
                const ListedEntry& entry = frame.listed[frame.next_listed++];
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

ListingBuffers::ListingBuffers() = default;
ListingBuffers::~ListingBuffers() = default;

unsigned char* ListingBuffers::slot(std::size_t index) {
    std::unique_ptr<unsigned char[]>& buffer = slots[index % max_open_directories];
    if (!buffer) buffer = std::make_unique_for_overwrite<unsigned char[]>(size);
    return buffer.get();
}

void for_each_python_file(std::string_view root, ListingBuffers& listings,
                          const std::function<void(int fd)>& visit) {
    // A C string would end at an embedded NUL and name some other file.
    if (root.empty() || root.find('\0') != std::string_view::npos) return;
    Walk walk{std::string(root), {}, 0, visit, listings};
    int fd;
    {
        // The root is followed if it is a link, and inspected before anything is opened for
        // reading, so a root that names a device is never opened.
        const UniqueFd target(open_long_path(walk.path, O_PATH | O_CLOEXEC));
        struct stat status;
        if (!target || !sys::fstat(target.get(), status)) return;
        if (S_ISREG(status.st_mode)) {
            if (has_python_extension(walk.path))
                visit_if_regular(open_long_path(walk.path, file_flags), visit);
            return;
        }
        if (!S_ISDIR(status.st_mode)) return;
        fd = sys::open_at(target.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
    }
    walk.push_directory(fd);
    walk.run();
}

}  // namespace vornu
