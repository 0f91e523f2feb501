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
        if (slot == name) return true;
        const auto at = names.find(name);
        if (at == names.end()) return false;
        slot = *at;
        return true;
    }

    void insert(std::string_view name) {
        std::string_view& slot = recent[slot_of(name)];
        if (slot == name) return;
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
    static std::size_t slot_of(std::string_view name) {
        std::uint32_t hash = 2166136261u;  // FNV-1a
        for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        return hash % 512;
    }

    std::array<std::string_view, 512> recent{};
};

}  // namespace vornu
