// The names of one root as they are found, with a cache in front of the ordered set.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
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
    // A few bytes and the length tell most module names apart; a name that shares its slot
    // with another only costs a search of the set.
    static std::size_t slot_of(std::string_view name) {
        const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])); };
        const std::size_t n = name.size();
        const std::uint32_t hash = static_cast<std::uint32_t>(n) * 0x9E3779B1u ^ byte(0) * 0x85EBCA77u ^
                                   byte(n / 2) * 0xC2B2AE3Du ^ byte(n - 1) * 0x27D4EB2Fu;
        return (hash ^ hash >> 15) % 512;
    }

    // Names are short: a plain loop beats a call of memcmp.
    static bool same(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) return false;
        return true;
    }

    std::array<std::string_view, 512> recent{};
};

}  // namespace vornu
