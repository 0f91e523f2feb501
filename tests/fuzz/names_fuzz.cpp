// The name collector against a plain ordered set, driven by arbitrary names: insertions into
// two collectors, lookups, absorptions, take() and a build from a set, at probe bounds from
// none (every name left to the ordered set) to the default.
//
// Input: [0] the probe bound (0 to 3, or the default from 4 up), then operations. Each
// operation is one byte, its high 3 bits the kind and its low 5 bits a name length (31: the
// length is the next byte), followed by the name's bytes where the kind takes a name:
//   0, 1  insert the name into the first collector    2  insert it into the second
//   3     look the name up in both                     4  the first absorbs the second
//   5     take() the first and build it anew from the set
//   6     insert the last name with one byte changed (the next two bytes: where, and to what)
//   7     insert the name followed by each number below the next byte, and each of these
//         followed by "_tailtail": many names that share their ends (while the first
//         collector holds fewer than 1024 names)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "scan/names/name_collector.hpp"

namespace {

struct Input {
    const std::uint8_t* at;
    const std::uint8_t* end;

    bool empty() const { return at == end; }
    std::uint8_t byte() { return at == end ? 0 : *at++; }
    std::string_view text(std::size_t length) {
        length = std::min<std::size_t>(length, static_cast<std::size_t>(end - at));
        const std::string_view taken(reinterpret_cast<const char*>(at), length);
        at += length;
        return taken;
    }
};

struct Pair {
    vornu::NameCollector collector;
    vornu::NameSet expected;

    void insert(std::string_view name) {
        collector.insert(name);
        expected.emplace(name);
    }
    void check(std::string_view name) const {
        fuzz::check(collector.contains(name) == expected.contains(name), "contains() differs from the ordered set");
    }
    void check_all() const {
        fuzz::check(collector.names() == expected, "the names differ from the ordered set");
        for (const std::string& name : expected) check(name);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input{data, data + size};
    const std::uint8_t bound_choice = input.byte();
    const std::size_t bound = bound_choice < 4 ? bound_choice : vornu::NameCollector::default_probe_bound;
    Pair first{vornu::NameCollector{{}, bound}, {}}, second{vornu::NameCollector{{}, bound}, {}};
    std::string last;
    // Operations that touch every name (take() and the build, many insertions) spend a budget,
    // so that no input takes long.
    for (std::size_t budget = 1 << 16; !input.empty() && budget > first.expected.size(); --budget) {
        const std::uint8_t op = input.byte();
        std::size_t length = op & 0x1F;
        if (length == 0x1F) length = input.byte();
        switch (op >> 5) {
            case 0: case 1: first.insert(last = input.text(length)); break;
            case 2: second.insert(last = input.text(length)); break;
            case 3:
                last = input.text(length);
                first.check(last);
                second.check(last);
                break;
            case 4:
                first.collector.absorb(second.collector);
                first.expected.merge(second.expected);
                second.expected.clear();
                fuzz::check(second.collector.empty(), "absorb() left names behind");
                break;
            case 5: {
                vornu::NameSet taken = first.collector.take();
                fuzz::check(taken == first.expected, "take() differs from the ordered set");
                fuzz::check(first.collector.empty(), "take() left names behind");
                first.collector = vornu::NameCollector{std::move(taken), bound};
                budget -= first.expected.size();
                break;
            }
            case 6: {
                const std::uint8_t where = input.byte(), to = input.byte();
                if (!last.empty()) last[where % last.size()] = static_cast<char>(to);
                first.insert(last);
                break;
            }
            default: {
                last = input.text(length);
                const unsigned n = input.byte();
                for (unsigned i = 0; i < n && budget > 2 && first.expected.size() < 1024; ++i, budget -= 2) {
                    first.insert(last + std::to_string(i));
                    first.insert(last + std::to_string(i) + "_tailtail");
                }
            }
        }
    }
    first.check_all();
    second.check_all();
    return 0;
}
