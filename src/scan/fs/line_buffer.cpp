// Filling the line buffer, finding its whole lines, and carrying a cut line.
#include "scan/fs/line_buffer.hpp"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "scan/fs/system_calls.hpp"

namespace vornu {
namespace {

// What the scan carries of a cut line is a few bytes that stand for its decided start (a
// keyword, a name's stand-in) and a few of a cut keyword or character: far less than this,
// so the buffer keeps its first size. It would grow for a longer carry all the same.
constexpr std::size_t carry_room = 4096;
constexpr std::size_t read_alignment = 64;

// Room in front of the reads for `carried` bytes.
std::size_t gap_for(std::size_t carried) {
    return std::max(carry_room, (carried + read_alignment - 1) / read_alignment * read_alignment);
}

}  // namespace

// Makes room for `gap` bytes before the reads and a chunk after, keeping the carried bytes.
void LineBuffer::reserve(std::size_t gap) {
    if (gap == gap_ && capacity_ >= gap + chunk_) return;
    const unsigned char* carried = base_ + gap_ - carried_;
    if (capacity_ < gap + chunk_) {
        // Geometrically, so that a carry that kept growing would be copied a few times in all.
        const std::size_t capacity = std::max(gap + chunk_, capacity_ == 0 ? 0 : 2 * capacity_);
        auto grown = std::make_unique_for_overwrite<unsigned char[]>(capacity + read_alignment - 1);
        auto* base = reinterpret_cast<unsigned char*>(
            (reinterpret_cast<std::uintptr_t>(grown.get()) + read_alignment - 1) & ~(read_alignment - 1));
        if (carried_ != 0) std::memcpy(base + gap - carried_, carried, carried_);
        buffer_ = std::move(grown);
        base_ = base;
        capacity_ = capacity;
    } else if (carried_ != 0) {
        std::memmove(base_ + gap - carried_, carried, carried_);
    }
    gap_ = gap;
}

void LineBuffer::start(std::uint64_t size) noexcept {
    carried_ = length_ = 0;
    left_ = size == 0 ? UINT64_MAX : size;
    read_ = filled_from_ = 0;
}

LineBuffer::Fill LineBuffer::fill(int fd) {
    reserve(std::max(gap_, gap_for(carried_)));
    length_ = carried_;
    filled_from_ = read_;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_, left_));
    unsigned char* const text = base_ + gap_ - carried_;
    const std::size_t limit = carried_ + wanted;
    while (length_ < limit) {
        const long n = sys::read(fd, text + length_, limit - length_);
        if (n < 0) return Fill::error;
        if (n == 0) return Fill::end;
        length_ += static_cast<std::size_t>(n);
        read_ += static_cast<std::uint64_t>(n);
    }
    if (left_ != UINT64_MAX) left_ -= wanted;
    return left_ == 0 ? Fill::end : Fill::more;
}

std::size_t LineBuffer::whole_length() const noexcept {
    const unsigned char* const text = base_ + gap_ - carried_;
    const void* last_feed = ::memrchr(base_ + gap_, '\n', length_ - carried_);
    return last_feed ? static_cast<std::size_t>(static_cast<const unsigned char*>(last_feed) - text) + 1 : 0;
}

void LineBuffer::carry(std::string_view prefix, std::size_t from) {
    const std::size_t rest = length_ - from;
    const unsigned char* const text = base_ + gap_ - carried_;
    // The kept bytes end where the next read will begin; a carry too long for the gap moves
    // the reads further in, and they stay aligned.
    const std::size_t carried = prefix.size() + rest;
    const std::size_t gap = std::max(gap_, gap_for(carried));
    if (gap + chunk_ > capacity_) {
        // Rare enough (the scan's own carries are a few bytes) to go through a copy aside.
        const std::string kept = std::string(prefix).append(reinterpret_cast<const char*>(text) + from, rest);
        carried_ = length_ = 0;
        reserve(gap);
        std::memcpy(base_ + gap - carried, kept.data(), carried);
        carried_ = length_ = carried;
        return;
    }
    unsigned char* const kept = base_ + gap - carried;
    std::memmove(kept + prefix.size(), text + from, rest);
    if (!prefix.empty()) std::memcpy(kept, prefix.data(), prefix.size());
    carried_ = length_ = carried;
    gap_ = gap;
}

void LineBuffer::clear() noexcept {
    carried_ = length_ = 0;
    if (capacity_ > carry_room + chunk_) {
        buffer_.reset();
        base_ = nullptr;
        capacity_ = gap_ = 0;
    }
}

}  // namespace vornu
