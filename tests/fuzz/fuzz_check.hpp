// What every fuzz target shares: the kernels to try, and how a disagreement is reported.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "scan/search/kernel.hpp"

namespace fuzz {

// Every kernel built into the library that this processor can run. The first call says
// on standard error which kernels are fuzzed and which this processor cannot run.
inline const std::vector<const vornu::SearchKernel*>& supported_kernels() {
    static const std::vector<const vornu::SearchKernel*> kernels = [] {
        std::vector<const vornu::SearchKernel*> found;
        std::string fuzzed, skipped;
        for (const vornu::SearchKernel& kernel : vornu::search_kernels()) {
            if (kernel.supported()) found.push_back(&kernel);
            (kernel.supported() ? fuzzed : skipped).append(" ").append(kernel.name);
        }
        std::fprintf(stderr, "search kernels fuzzed:%s; skipped, as this processor cannot run them:%s\n",
                     fuzzed.c_str(), skipped.empty() ? " none" : skipped.c_str());
        return found;
    }();
    return kernels;
}

// Reports a broken property and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "\n== fuzz finding: %.*s", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) std::fprintf(stderr, " (%.*s)", static_cast<int>(detail.size()), detail.data());
    std::fprintf(stderr, "\n");
    std::abort();
}

inline void check(bool holds, std::string_view what, std::string_view detail = {}) {
    if (!holds) fail(what, detail);
}

}  // namespace fuzz
