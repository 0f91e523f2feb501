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

std::size_t hash_of(const Key& key) {
    const std::uint64_t hash = (key.head * 0x9E3779B97F4A7C15u) ^ ((key.tail + key.size) * 0xC2B2AE3D27D4EB4Fu);
    return static_cast<std::size_t>(hash ^ (hash >> 29));
}

// Equal keys are equal names up to 16 bytes; longer ones must agree in their middle too.
bool same(const Key& a, std::string_view a_name, const Key& b, std::string_view b_name) {
    return a == b && (a.size <= 16 || std::memcmp(a_name.data() + 8, b_name.data() + 8, a.size - 16) == 0);
}

constexpr std::size_t first_slots = 256;

}  // namespace

NameCollector::NameCollector(NameSet initial) : names_(std::move(initial)) {
    for (const std::string& name : names_) index(name, key_of(name));
}

std::size_t NameCollector::slot_for(std::string_view name, const Key& key) const noexcept {
    for (std::size_t at = hash_of(key) & mask_;; at = (at + 1) & mask_) {
        const Slot& slot = slots_[at];
        if (slot.name.data() == nullptr || same(slot.key, slot.name, key, name)) return at;
    }
}

void NameCollector::index(std::string_view name, const Key& key) {
    if (2 * (names_.size() + 1) > slots_.size()) {
        std::vector<Slot> old(std::max(first_slots, 2 * slots_.size()));
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& slot : old)
            if (slot.name.data() != nullptr) slots_[slot_for(slot.name, slot.key)] = slot;
    }
    slots_[slot_for(name, key)] = Slot{key, name};
}

bool NameCollector::contains(std::string_view name) const noexcept {
    return !slots_.empty() && slots_[slot_for(name, key_of(name))].name.data() != nullptr;
}

void NameCollector::insert(std::string_view name) {
    const Key key = key_of(name);
    if (!slots_.empty() && slots_[slot_for(name, key)].name.data() != nullptr) return;
    // The set's node keeps its string where it is for as long as the set holds it.
    const std::string& kept = *names_.emplace(name).first;
    index(kept, key);
}

void NameCollector::absorb(NameCollector& other) {
    for (auto it = other.names_.begin(); it != other.names_.end();) {
        const auto next = std::next(it);
        if (!contains(*it)) {
            const std::string& kept = *names_.insert(other.names_.extract(it)).position;
            index(kept, key_of(kept));
        }
        it = next;
    }
    other.clear();
}

void NameCollector::clear() noexcept {
    names_.clear();
    slots_.clear();
    mask_ = 0;
}

NameSet NameCollector::take() noexcept {
    slots_.clear();
    mask_ = 0;
    NameSet taken = std::move(names_);
    names_.clear();
    return taken;
}

}  // namespace vornu
