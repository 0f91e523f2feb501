// The hash index in front of a root's name set.
#include "scan/names/name_collector.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

namespace vornu {
namespace {

template <std::size_t N>
std::uint64_t load(const char* p) {
    std::conditional_t<N == 8, std::uint64_t, std::uint32_t> word;
    std::memcpy(&word, p, N);
    return word;
}

using Key = NameCollector::Key;

// Every byte of a name of up to 16 bytes (the two words overlap where it is shorter), read
// with a few loads rather than a loop over the bytes.
Key key_of(std::string_view name) {
    const char* p = name.data();
    const std::size_t n = name.size();
    if (n >= 8) return {load<8>(p), load<8>(p + n - 8), n};
    if (n >= 4) return {load<4>(p), load<4>(p + n - 4), n};
    if (n == 0) return {};
    return {static_cast<unsigned char>(p[0]) | std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8,
            static_cast<unsigned char>(p[n - 1]), n};
}

// The address of a static object differs from process to process (the loader places the
// code at a random address), costs nothing to read, and cannot be known from the files
// being read: names cannot be made to collide in advance.
const char seed_anchor = 0;
std::uint64_t seed() { return reinterpret_cast<std::uintptr_t>(&seed_anchor); }

__extension__ using Wide = unsigned __int128;

// The full 128-bit product, folded: every bit of either factor reaches every bit of the
// result, the high bytes of a word included.
std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

constexpr std::uint64_t k0 = 0xA0761D6478BD642Fu, k1 = 0xE7037ED1A0B428DBu, k2 = 0x8EBC6AF09C88C6E3u;

// A longer name's middle, in words (the last one overlapping the one before); out of line,
// since most names are short.
[[gnu::noinline]] std::uint64_t hash_middle(std::uint64_t state, std::string_view name) {
    const std::size_t n = name.size();
    for (std::size_t at = 8; at + 8 < n; at += 8) state = mix(state ^ load<8>(name.data() + std::min(at, n - 16)), k0);
    return state;
}

// The seed goes into every product, so no word of a name can cancel what came before it
// (a factor of zero) without knowledge of the seed.
std::uint64_t hash_of(const Key& key, std::string_view name) {
    std::uint64_t state = seed();
    if (name.size() > 16) state = hash_middle(state, name);
    return mix(key.head ^ state ^ k1, key.tail ^ state ^ k2 ^ key.size);
}

// Equal keys are equal names up to 16 bytes; longer ones must agree in their middle too.
bool same(const Key& a, const char* a_text, const Key& b, const char* b_text) {
    return a == b && (a.size <= 16 || std::memcmp(a_text + 8, b_text + 8, a.size - 16) == 0);
}

constexpr std::size_t first_slots = 256;

}  // namespace

NameCollector::NameCollector(NameSet initial, std::size_t probe_bound)
    : names_(std::move(initial)), probe_bound_(probe_bound) {
    if (!names_.empty()) rebuild(std::max(first_slots, std::bit_ceil(2 * names_.size())));
}

// The slot that holds `name`, else the first free one of its run, else `beyond_bound`.
// Inlined into its two callers: a lookup of a name already there, which most import lines
// are, then costs one call.
[[gnu::always_inline]] inline std::size_t NameCollector::slot_for(std::string_view name, const Key& key,
                                                                  std::uint64_t hash) const noexcept {
    std::size_t at = hash & mask_;
    for (std::size_t step = 0; step < probe_bound_; ++step, at = (at + 1) & mask_) {
        const Slot& slot = slots_[at];
        if (slot.text == nullptr || (slot.hash == hash && same(slot.key, slot.text, key, name.data()))) return at;
    }
    return beyond_bound;
}

bool NameCollector::has(std::string_view name, const Key& key, std::uint64_t hash) const noexcept {
    if (slots_.empty()) return false;
    const std::size_t at = slot_for(name, key, hash);
    // A name is left out of the index only when every slot within the bound of its place
    // was taken, and slots are freed only all at once: a run that ends at a free slot
    // within the bound leaves no doubt.
    if (at == beyond_bound) return unindexed_ != 0 && names_.contains(name);
    return slots_[at].text != nullptr;
}

void NameCollector::place(const Slot& slot) {
    const std::size_t at = slot_for({slot.text, slot.key.size}, slot.key, slot.hash);
    if (at == beyond_bound) {
        ++unindexed_;
    } else {
        slots_[at] = slot;
    }
}

// A new, empty index of `slot_count` slots.
void NameCollector::reset_slots(std::size_t slot_count) {
    slots_.assign(slot_count, Slot{});
    mask_ = slot_count - 1;
    unindexed_ = 0;
}

// Every name of the set indexed anew, so that one that was left out before may find room.
void NameCollector::rebuild(std::size_t slot_count) {
    reset_slots(slot_count);
    for (const std::string& name : names_) {
        const Key key = key_of(name);
        place(Slot{key, hash_of(key, name), name.data()});
    }
}

// `name` has just joined the set.
void NameCollector::index(std::string_view name, const Key& key, std::uint64_t hash) {
    if (2 * names_.size() > slots_.size()) {
        const std::size_t slot_count = std::max(first_slots, 2 * slots_.size());
        // A left-out name is known only to the set: the index is made again from it.
        if (unindexed_ != 0) return rebuild(slot_count);
        std::vector<Slot> old;
        old.swap(slots_);
        reset_slots(slot_count);
        for (const Slot& slot : old)
            if (slot.text != nullptr) place(slot);
    }
    place(Slot{key, hash, name.data()});
}

bool NameCollector::contains(std::string_view name) const noexcept {
    const Key key = key_of(name);
    return has(name, key, hash_of(key, name));
}

template <class Name>
void NameCollector::add(Name&& name) {
    const std::string_view view = name;
    const Key key = key_of(view);
    const std::uint64_t hash = hash_of(key, view);
    if (has(view, key, hash)) return;
    // The set's node keeps its string where it is for as long as the set holds it.
    const std::string& kept = *names_.emplace(std::forward<Name>(name)).first;
    index(kept, key, hash);
}

void NameCollector::insert(std::string_view name) { add(name); }
void NameCollector::insert(std::string&& name) { add(std::move(name)); }

void NameCollector::absorb(NameCollector& other) {
    for (auto it = other.names_.begin(); it != other.names_.end();) {
        const auto next = std::next(it);
        const Key key = key_of(*it);
        const std::uint64_t hash = hash_of(key, *it);
        if (!has(*it, key, hash)) {
            const std::string& kept = *names_.insert(other.names_.extract(it)).position;
            index(kept, key, hash);
        }
        it = next;
    }
    other.clear();
}

void NameCollector::clear() noexcept {
    names_.clear();
    slots_.clear();
    mask_ = 0;
    unindexed_ = 0;
}

NameSet NameCollector::take() noexcept {
    NameSet taken = std::move(names_);
    clear();
    return taken;
}

}  // namespace vornu
