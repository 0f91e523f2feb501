// The bytes of one file as it is read in pieces: the lines that have come whole, and the
// line that the last read cut, carried in front of what the next read brings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vornu {

class LineBuffer {
public:
    // Small enough that the buffer stays clear of the allocator's separately mapped blocks,
    // which reads into were measured to make markedly slower; large enough that a file of
    // tens of MB costs few system calls.
    static constexpr std::size_t default_chunk = 64 * 1024;

    explicit LineBuffer(std::size_t chunk = default_chunk) noexcept : chunk_(chunk) {}

    enum class Fill { more, end, error };

    // Starts a file that had `size` bytes when it was opened (0 when that is not known, as
    // for the files of /proc): reading stops once that many have come, so a small file
    // costs one read, not a second one that only finds the end. A file that grows while it
    // is read is read up to the size it had.
    void start(std::uint64_t size) noexcept;

    // Reads until a whole chunk has come after the carried bytes (`more`), or the file
    // ends (`end`). On `error` the file cannot be read to its end.
    Fill fill(int fd);

    // The carried bytes, then what the last fill brought.
    std::string_view text() const noexcept {
        return {reinterpret_cast<const char*>(buffer_.get()), length_};
    }
    std::size_t carried() const noexcept { return carried_; }

    // Where in the file the byte at `at` of `text` was read, for a byte that the last fill
    // brought (`at` not below `carried`). The file is read from its start.
    std::uint64_t file_offset(std::size_t at) const noexcept { return filled_from_ + (at - carried_); }

    // The length of the whole lines at the start of `text`: up to its last line feed. The
    // carried bytes are part of one cut line, so only the new bytes are looked at.
    std::size_t whole_length() const noexcept;

    // Makes `prefix`, then the bytes of `text` from `from` to its end, what the next fill
    // is read behind. `prefix` must not point into the buffer.
    void carry(std::string_view prefix, std::size_t from);

    // Forgets the file, and gives back a buffer that a long carry made grow.
    void clear() noexcept;

    std::size_t capacity() const noexcept { return capacity_; }
    std::size_t chunk() const noexcept { return chunk_; }

private:
    void reserve_behind_carried();

    std::size_t chunk_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t carried_ = 0;
    std::size_t length_ = 0;
    std::uint64_t left_ = 0;  // bytes still to come of the size the file was opened with
    std::uint64_t read_ = 0;         // bytes of the file read so far
    std::uint64_t filled_from_ = 0;  // the file offset of the last fill's first byte
};

}  // namespace vornu
