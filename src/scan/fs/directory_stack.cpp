// Listing directories with getdents64 into reused buffers, and reading ahead the oldest.
#include "scan/fs/directory_stack.hpp"

#include <dirent.h>

#include "scan/fs/system_calls.hpp"

namespace vornu {
namespace {

bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

ListingBuffers::ListingBuffers() = default;
ListingBuffers::~ListingBuffers() = default;

unsigned char* ListingBuffers::slot(std::size_t index) {
    std::unique_ptr<unsigned char[]>& buffer = slots_[index % max_open_directories];
    if (!buffer) buffer = std::make_unique_for_overwrite<unsigned char[]>(size);
    return buffer.get();
}

void DirectoryStack::push(UniqueFd dir, std::size_t path_length) {
    Frame frame;
    frame.dir = std::move(dir);
    frame.path_length = path_length;
    frames_.push_back(std::move(frame));
}

void DirectoryStack::pop() noexcept {
    frames_.pop_back();
    if (first_open_ > frames_.size()) first_open_ = frames_.size();
}

// Open frames are the top of the stack, at most `max_open_directories` of them, so a
// frame's index picks a buffer that no other open frame uses.
std::optional<ListedEntry> DirectoryStack::next_listed(std::size_t index) {
    Frame& frame = frames_[index];
    unsigned char* buffer = buffers_.slot(index);
    for (;;) {
        if (frame.listed_at == frame.listed_end) {
            const long n = sys::getdents64(frame.dir.get(), buffer, ListingBuffers::size);
            if (n <= 0) return std::nullopt;
            frame.listed_at = 0;
            frame.listed_end = static_cast<std::size_t>(n);
        }
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + frame.listed_at);
        frame.listed_at += entry->d_reclen;
        if (!is_dot_or_dot_dot(entry->d_name)) return ListedEntry{entry->d_name, entry->d_type};
    }
}

std::optional<ListedEntry> DirectoryStack::next() {
    const std::size_t top = frames_.size() - 1;
    Frame& frame = frames_[top];
    if (frame.dir) return next_listed(top);
    if (frame.next_saved == frame.saved.size()) return std::nullopt;
    const SavedEntry& entry = frame.saved[frame.next_saved++];
    return ListedEntry{entry.name.c_str(), entry.type};
}

void DirectoryStack::make_room() {
    if (open_count() < max_open_directories) return;
    const std::size_t oldest = first_open_++;
    while (const std::optional<ListedEntry> entry = next_listed(oldest))
        frames_[oldest].saved.push_back(SavedEntry{entry->name, entry->type});
    frames_[oldest].dir.reset();
}

}  // namespace vornu
