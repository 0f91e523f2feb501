// The names of one root as they are found, with a cache in front of the ordered set.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "scan/names/name_set.hpp"

namespace vornu {

// The names of one root as they are found. Most import lines name a module that an earlier
// line already named, so a small cache of recently seen names answers those without a
// search of the ordered set.
struct NameCollector {
    NameCollector() = default;
    explicit NameCollector(NameSet initial) : names(std::move(initial)) {}

    NameSet names;

    bool contains(std::string_view name) {
        std::string_view& slot = recent[slot_of(name)];
        if (same(slot, name)) return true;
        const auto at = names.find(name);
        if (at == names.end()) return false;
        slot = *at;
        return true;
    }

    void insert(std::string_view name) {
        std::string_view& slot = recent[slot_of(name)];
        if (same(slot, name)) return;
        auto at = names.lower_bound(name);
        if (at == names.end() || *at != name) at = names.emplace_hint(at, name);
        slot = *at;  // the node's text stays where it is as long as the set holds it
    }

    // Moves every name of `other` that this set lacks into it; `other` is left empty.
    void absorb(NameCollector& other) {
        names.merge(other.names);
        other.clear();
    }

    void clear() noexcept {
        names.clear();
        recent.fill({});
    }

private:
    // Two words that hold every byte of a name of up to 16 bytes (overlapping where it is
    // shorter), and its ends where it is longer: read with a few loads, not byte by byte.
    struct Words {
        std::uint64_t head, tail;
    };

    static Words words_of(std::string_view name) {
        const char* p = name.data();
        const std::size_t n = name.size();
        if (n >= 8) return {load<8>(p), load<8>(p + n - 8)};
        if (n >= 4) return {load<4>(p), load<4>(p + n - 4)};
        if (n == 0) return {0, 0};
        return {static_cast<unsigned char>(p[0]) | std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8,
                static_cast<unsigned char>(p[n - 1])};
    }

    template <std::size_t N>
    static std::uint64_t load(const char* p) {
        std::conditional_t<N == 8, std::uint64_t, std::uint32_t> word;
        std::memcpy(&word, p, N);
        return word;
    }

    static std::size_t slot_of(std::string_view name) {
        const Words w = words_of(name);
        std::uint64_t hash = (w.head * 0x9E3779B97F4A7C15u) ^ (w.tail + name.size()) * 0xC2B2AE3D27D4EB4Fu;
        hash ^= hash >> 29;
        return hash % 512;
    }

    static bool same(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        const Words x = words_of(a), y = words_of(b);
        if (x.head != y.head || x.tail != y.tail) return false;
        return a.size() <= 16 || std::memcmp(a.data() + 8, b.data() + 8, a.size() - 16) == 0;
    }

    std::array<std::string_view, 512> recent{};
};

}  // namespace vornu
