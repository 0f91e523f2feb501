// The owner of one file descriptor.
#pragma once

#include "scan/fs/system_calls.hpp"

namespace vornu {

// Owner of a file descriptor; -1 means none.
struct UniqueFd {
    int fd = -1;

    UniqueFd() = default;
    explicit UniqueFd(int owned) : fd(owned) {}
    UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    explicit operator bool() const { return fd >= 0; }
    int get() const { return fd; }
    int release() {
        const int owned = fd;
        fd = -1;
        return owned;
    }
    void reset(int replacement = -1) {
        if (fd >= 0) sys::close(fd);
        fd = replacement;
    }
};

}  // namespace vornu
