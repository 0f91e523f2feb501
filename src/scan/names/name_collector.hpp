// The names of one root as they are found: the ordered set and an index of it by hash.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "scan/names/name_set.hpp"

namespace vornu {

// Most import lines name a module that an earlier line already named, so a name is
// looked up by its hash in an open-addressed index of the set's own strings: one hash and
// one or two comparisons, and no walk down the tree, for a name that is present.
class NameCollector {
public:
    NameCollector() = default;
    explicit NameCollector(NameSet initial);

    bool contains(std::string_view name) const noexcept;
    void insert(std::string_view name);

    // Moves every name of `other` that this set lacks into it; `other` is left empty.
    void absorb(NameCollector& other);

    void clear() noexcept;
    bool empty() const noexcept { return names_.empty(); }
    const NameSet& names() const noexcept { return names_; }

    // The names, in order; the collector is left empty.
    NameSet take() noexcept;

    // Two words that hold every byte of a name of up to 16 bytes, and its ends where it
    // is longer; with the length they tell names apart without a look at their text.
    struct Key {
        std::uint64_t head = 0, tail = 0;
        std::size_t size = 0;
        bool operator==(const Key&) const = default;
    };

private:
    struct Slot {
        Key key;
        std::string_view name;  // a string of the set; no data: a free slot
    };

    std::size_t slot_for(std::string_view name, const Key& key) const noexcept;
    void index(std::string_view name, const Key& key);

    NameSet names_;
    std::vector<Slot> slots_;  // a power of two long, at most half full; empty until needed
    std::size_t mask_ = 0;     // slots_.size() - 1
};

}  // namespace vornu
