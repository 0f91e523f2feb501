// The hash index in front of a root's name set.
#include "scan/names/name_collector.hpp"

#include <cstring>
#include <type_traits>

namespace vornu {
namespace {

template <std::size_t N>
std::uint64_t load(const char* p) {
    std::conditional_t<N == 8, std::uint64_t, std::uint32_t> word;
    std::memcpy(&word, p, N);
    return word;
}

// Two words that hold every byte of a name of up to 16 bytes (overlapping where it is
// shorter), and its ends where it is longer: a few loads, not a loop over the bytes.
struct Words {
    std::uint64_t head, tail;
};

Words words_of(std::string_view name) {
    const char* p = name.data();
    const std::size_t n = name.size();
    if (n >= 8) return {load<8>(p), load<8>(p + n - 8)};
    if (n >= 4) return {load<4>(p), load<4>(p + n - 4)};
    if (n == 0) return {0, 0};
    return {static_cast<unsigned char>(p[0]) | std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8,
            static_cast<unsigned char>(p[n - 1])};
}

std::uint64_t hash_of(std::string_view name) {
    const Words w = words_of(name);
    std::uint64_t hash = (w.head * 0x9E3779B97F4A7C15u) ^ ((w.tail + name.size()) * 0xC2B2AE3D27D4EB4Fu);
    return hash ^ (hash >> 29);
}

bool same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const Words x = words_of(a), y = words_of(b);
    if (x.head != y.head || x.tail != y.tail) return false;
    return a.size() <= 16 || std::memcmp(a.data() + 8, b.data() + 8, a.size() - 16) == 0;
}

constexpr std::size_t first_slots = 256;

}  // namespace

NameCollector::NameCollector(NameSet initial) : names_(std::move(initial)) {
    for (const std::string& name : names_) index(name, hash_of(name));
}

std::size_t NameCollector::slot_for(std::string_view name, std::uint64_t hash) const noexcept {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.name.data() == nullptr || (slot.hash == hash && same(slot.name, name))) return at;
    }
}

void NameCollector::index(std::string_view name, std::uint64_t hash) {
    if (2 * (names_.size() + 1) > slots_.size()) {
        std::vector<Slot> old(std::max(first_slots, 2 * slots_.size()));
        old.swap(slots_);
        for (const Slot& slot : old)
            if (slot.name.data() != nullptr) slots_[slot_for(slot.name, slot.hash)] = slot;
    }
    slots_[slot_for(name, hash)] = Slot{hash, name};
}

bool NameCollector::contains(std::string_view name) const noexcept {
    if (slots_.empty()) return false;
    return slots_[slot_for(name, hash_of(name))].name.data() != nullptr;
}

void NameCollector::insert(std::string_view name) {
    const std::uint64_t hash = hash_of(name);
    if (!slots_.empty() && slots_[slot_for(name, hash)].name.data() != nullptr) return;
    // The set's node keeps its string where it is for as long as the set holds it.
    const std::string& kept = *names_.emplace(name).first;
    index(kept, hash);
}

void NameCollector::absorb(NameCollector& other) {
    for (auto it = other.names_.begin(); it != other.names_.end();) {
        const auto next = std::next(it);
        if (!contains(*it)) {
            const std::string& kept = *names_.insert(other.names_.extract(it)).position;
            index(kept, hash_of(kept));
        }
        it = next;
    }
    other.clear();
}

void NameCollector::clear() noexcept {
    names_.clear();
    slots_.clear();
}

NameSet NameCollector::take() noexcept {
    slots_.clear();
    NameSet taken = std::move(names_);
    names_.clear();
    return taken;
}

}  // namespace vornu
