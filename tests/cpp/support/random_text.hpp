// Random texts strung together from pieces that matter to the scan (keywords, names, every
// kind of space and line end, characters outside ASCII), for tests that compare readings.
#pragma once

#include <random>
#include <string>
#include <vector>

// Fewer than `most` pieces, each drawn from `pieces`.
inline std::string random_text(std::mt19937& random, const std::vector<std::string>& pieces, unsigned most) {
    std::string text;
    const auto count = random() % most;
    for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    return text;
}
