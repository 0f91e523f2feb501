#include "scan/names/name_collector.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace vornu {
namespace {

const std::string ident_bytes = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

// Names of 1 to 40 identifier bytes, many of them short enough to meet again.
std::vector<std::string> random_names(std::mt19937& random) {
    std::vector<std::string> names(4000);
    for (std::string& name : names) {
        name.resize(1 + random() % (random() % 4 == 0 ? 40 : 4));
        for (char& c : name) c = ident_bytes[random() % ident_bytes.size()];
    }
    return names;
}

// Longer than 16 bytes, alike in their first and last 8.
std::vector<std::string> shared_ends(std::mt19937&) {
    std::vector<std::string> names;
    char name[32];
    for (int i = 0; i < 4000; ++i) {
        const int length = std::snprintf(name, sizeof name, "headhead_%08d_tailtail", i);
        names.emplace_back(name, static_cast<std::size_t>(length));
    }
    return names;
}

// 16 bytes that differ only in the high byte pairs of their two words.
std::vector<std::string> four_bytes(std::mt19937&) {
    std::vector<std::string> names;
    for (int i = 0; i < 4000; ++i) {
        std::string name = "abcdef??ghijkl??";
        std::size_t digits = static_cast<std::size_t>(i);
        for (int k : {6, 7, 14, 15}) {
            name[k] = ident_bytes[digits % ident_bytes.size()];
            digits /= ident_bytes.size();
        }
        names.push_back(std::move(name));
    }
    return names;
}

// For bases of every length around the word sizes, each base with any byte at any one position.
std::vector<std::string> one_byte_apart(std::mt19937& random) {
    std::vector<std::string> names;
    for (std::size_t length : {1, 3, 4, 7, 8, 9, 15, 16, 17, 23, 24, 25, 40}) {
        std::string base(length, 'x');
        for (char& c : base) c = ident_bytes[random() % ident_bytes.size()];
        for (std::size_t at = 0; at < length; ++at) {
            for (int byte = 0; byte < 256; byte += 1 + static_cast<int>(random() % 4)) {
                names.push_back(base);
                names.back()[at] = static_cast<char>(byte);
            }
        }
    }
    return names;
}

struct Shape {
    const char* name;
    std::vector<std::string> (*make)(std::mt19937&);
};
const Shape shapes[] = {{"random", &random_names},
                        {"shared_ends", &shared_ends},
                        {"four_bytes", &four_bytes},
                        {"one_byte_apart", &one_byte_apart}};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

using Case = std::tuple<Shape, std::size_t>;  // the names, and the collector's probe bound

class NameCollectorAgainstSet : public testing::TestWithParam<Case> {};

// Whatever the names and however short the probe runs allowed (down to none, where every
// name is left to the ordered set), the collector holds exactly what a plain ordered set
// holds, through insertions, absorptions, lookups of present and absent names, a build
// from a set, and take().
TEST_P(NameCollectorAgainstSet, HoldsWhatAnOrderedSetHolds) {
    const auto& [shape, bound] = GetParam();
    std::mt19937 random(11);
    std::vector<std::string> names = shape.make(random);
    std::shuffle(names.begin(), names.end(), random);
    const std::size_t half = names.size() / 2;  // the other half is looked up, never added
    for (std::size_t i = 0; i < half; i += 7) names.push_back(names[random() % half]);  // repeats

    NameCollector collector{{}, bound}, side{{}, bound};
    NameSet expected, side_expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i >= half && i < 2 * half) continue;
        const bool aside = random() % 4 == 0;
        (aside ? side : collector).insert(names[i]);
        (aside ? side_expected : expected).insert(names[i]);
        const std::string& probe = names[random() % names.size()];
        ASSERT_EQ(collector.contains(probe), expected.contains(probe)) << testing::PrintToString(probe);
        if (i % 500 == 0) {
            collector.absorb(side);
            expected.merge(side_expected);
            side_expected.clear();
        }
    }
    collector.absorb(side);
    expected.merge(side_expected);
    EXPECT_TRUE(side.empty());
    EXPECT_EQ(collector.names(), expected);

    NameCollector built{expected, bound};
    for (const std::string& name : names) {
        ASSERT_EQ(collector.contains(name), expected.contains(name)) << testing::PrintToString(name);
        ASSERT_EQ(built.contains(name), expected.contains(name)) << testing::PrintToString(name);
    }
    EXPECT_EQ(collector.take(), expected);
    EXPECT_TRUE(collector.empty());
    EXPECT_FALSE(collector.contains(names.front()));
}

INSTANTIATE_TEST_SUITE_P(Shapes, NameCollectorAgainstSet,
                         testing::Combine(testing::ValuesIn(shapes),
                                          testing::Values(0, 1, 2, NameCollector::default_probe_bound)),
                         [](const testing::TestParamInfo<Case>& param) {
                             return std::string(std::get<0>(param.param).name) + "_bound_" +
                                    std::to_string(std::get<1>(param.param));
                         });

}  // namespace
}  // namespace vornu
