// The names of one root as they are found: the ordered set and an index of it by hash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/names/name_set.hpp"

namespace vornu {

// Most import lines name a module that an earlier line already named, so a name is
// looked up by its hash in an open-addressed index of the set's own strings: one hash and
// one or two comparisons, and no walk down the tree, for a name that is present.
//
// The names come from files that anyone may write, so no set of names may make the index
// slow: every byte of a name enters its hash, which is seeded anew in each process, and a
// lookup looks at no more than `probe_bound` slots. A name whose slot would lie further
// from its hash's place is left out of the index, and a lookup that reaches the bound
// asks the ordered set instead, in logarithmic time.
class NameCollector {
public:
    static constexpr std::size_t default_probe_bound = 32;

    NameCollector() = default;
    explicit NameCollector(NameSet initial, std::size_t probe_bound = default_probe_bound);

    bool contains(std::string_view name) const noexcept;
    void insert(std::string_view name);
    // The same for a name whose string the set may keep: a long name costs its size once.
    void insert(std::string&& name);

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
        std::uint64_t hash = 0;
        const char* text = nullptr;  // a string of the set; null: a free slot
    };
    static constexpr std::size_t beyond_bound = SIZE_MAX;

    std::size_t slot_for(std::string_view name, const Key& key, std::uint64_t hash) const noexcept;
    bool has(std::string_view name, const Key& key, std::uint64_t hash) const noexcept;
    void place(const Slot& slot);
    void reset_slots(std::size_t slot_count);
    void rebuild(std::size_t slot_count);
    void index(std::string_view name, const Key& key, std::uint64_t hash);
    template <class Name>
    void add(Name&& name);

    NameSet names_;
    std::vector<Slot> slots_;  // a power of two long, at most half full; empty until needed
    std::size_t mask_ = 0;     // slots_.size() - 1
    std::size_t probe_bound_ = default_probe_bound;
    std::size_t unindexed_ = 0;  // names of the set that the index leaves out
};

}  // namespace vornu
