// The open directories of a depth-first walk, at most a fixed number of them at once.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scan/fs/unique_fd.hpp"

namespace vornu {

// At most this many directories of one walk are open at once, however deep the tree.
inline constexpr std::size_t max_open_directories = 10;

// Directory listings, one buffer for each directory that may be open at once, reused from
// walk to walk by the same scanning frame: a walk allocates nothing per directory.
struct ListingBuffers {
    static constexpr std::size_t size = 16 * 1024;
    ListingBuffers();
    ~ListingBuffers();
    unsigned char* slot(std::size_t index);

private:
    std::unique_ptr<unsigned char[]> slots_[max_open_directories];
};

// One entry of a listing ("." and ".." never come). `name` stays valid until the stack's
// next call, but for make_room, which leaves the top directory's entries where they are.
struct ListedEntry {
    const char* name;
    unsigned char type;  // a DT_* value; DT_UNKNOWN where the file system does not say
};

class DirectoryStack {
public:
    explicit DirectoryStack(ListingBuffers& buffers) noexcept : buffers_(buffers) {}

    bool empty() const noexcept { return frames_.empty(); }
    std::size_t open_count() const noexcept { return frames_.size() - first_open_; }

    // The top directory's descriptor, or -1 once its listing was read ahead and it closed.
    int top_fd() const noexcept { return frames_.back().dir.get(); }
    // What the walk remembers with the top directory (the length of its path).
    std::size_t top_path_length() const noexcept { return frames_.back().path_length; }

    void push(UniqueFd dir, std::size_t path_length);
    void pop() noexcept;

    // The top directory's next entry, or nothing at the end of its listing. An error while
    // listing ends the listing.
    std::optional<ListedEntry> next();

    // Before a directory is pushed: if as many are open as may be, the oldest open one's
    // remaining entries are read into memory and its descriptor is closed.
    void make_room();

private:
    struct SavedEntry {
        std::string name;
        unsigned char type;
    };
    struct Frame {
        UniqueFd dir;                    // closed once the rest of the listing was read ahead
        std::size_t listed_at = 0;       // unread part of the listing buffer
        std::size_t listed_end = 0;
        std::vector<SavedEntry> saved;   // the rest of the listing, once `dir` closed early
        std::size_t next_saved = 0;
        std::size_t path_length = 0;
    };

    std::optional<ListedEntry> next_listed(std::size_t index);

    ListingBuffers& buffers_;
    std::vector<Frame> frames_;
    std::size_t first_open_ = 0;  // frames below this index were closed early
};

}  // namespace vornu
