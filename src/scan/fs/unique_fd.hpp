// The owner of one file descriptor.
#pragma once

#include <utility>

#include "scan/fs/system_calls.hpp"

namespace vornu {

// Owns one file descriptor, closed when the owner goes; -1 means none. The descriptor is
// read with get() and handed over only with release(), so nothing can overwrite it
// behind the owner's back and leak or double-close it.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int owned) noexcept : fd_(owned) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    explicit operator bool() const noexcept { return fd_ >= 0; }
    int get() const noexcept { return fd_; }
    [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int replacement = -1) noexcept {
        if (fd_ >= 0) sys::close(fd_);
        fd_ = replacement;
    }

private:
    int fd_ = -1;
};

}  // namespace vornu
