// Filling the line buffer, finding its whole lines, and carrying a cut line.
#include "scan/fs/line_buffer.hpp"

#include <string.h>

#include <algorithm>
#include <cstring>

#include "scan/fs/system_calls.hpp"

namespace vornu {
namespace {

// What the scan carries of a cut line is a few bytes that stand for its decided start (a
// keyword, a name's stand-in) and a few of a cut keyword or character: far less than this,
// so the buffer keeps its first size. It would grow for a longer carry all the same.
constexpr std::size_t carry_room = 4096;

}  // namespace

void LineBuffer::reserve_behind_carried() {
    const std::size_t needed = std::max(carried_, carry_room) + chunk_;
    if (capacity_ >= needed) return;
    // Geometrically, so that a carry that kept growing would be copied a few times in all.
    const std::size_t capacity = capacity_ == 0 ? needed : std::max(needed, 2 * capacity_);
    auto grown = std::make_unique_for_overwrite<unsigned char[]>(capacity);
    if (carried_ != 0) std::memcpy(grown.get(), buffer_.get(), carried_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
}

void LineBuffer::start(std::uint64_t size) noexcept {
    carried_ = length_ = 0;
    left_ = size == 0 ? UINT64_MAX : size;
    read_ = filled_from_ = 0;
}

LineBuffer::Fill LineBuffer::fill(int fd) {
    reserve_behind_carried();
    length_ = carried_;
    filled_from_ = read_;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_, left_));
    const std::size_t limit = carried_ + wanted;
    while (length_ < limit) {
        const long n = sys::read(fd, buffer_.get() + length_, limit - length_);
        if (n < 0) return Fill::error;
        if (n == 0) return Fill::end;
        length_ += static_cast<std::size_t>(n);
        read_ += static_cast<std::uint64_t>(n);
    }
    if (left_ != UINT64_MAX) left_ -= wanted;
    return left_ == 0 ? Fill::end : Fill::more;
}

std::size_t LineBuffer::whole_length() const noexcept {
    const void* last_feed = ::memrchr(buffer_.get() + carried_, '\n', length_ - carried_);
    return last_feed ? static_cast<std::size_t>(static_cast<const unsigned char*>(last_feed) - buffer_.get()) + 1 : 0;
}

void LineBuffer::carry(std::string_view prefix, std::size_t from) {
    const std::size_t rest = length_ - from;
    if (from != prefix.size()) std::memmove(buffer_.get() + prefix.size(), buffer_.get() + from, rest);
    if (!prefix.empty()) std::memcpy(buffer_.get(), prefix.data(), prefix.size());
    carried_ = prefix.size() + rest;
}

void LineBuffer::clear() noexcept {
    carried_ = length_ = 0;
    if (capacity_ > carry_room + chunk_) {
        buffer_.reset();
        capacity_ = 0;
    }
}

}  // namespace vornu
