// The search kernels, for tests parameterised over them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/search/kernel.hpp"

// Every kernel built in, for tests that skip, visibly, those that this processor cannot run.
inline std::vector<const vornu::SearchKernel*> built_in_kernels() {
    std::vector<const vornu::SearchKernel*> found;
    for (const vornu::SearchKernel& kernel : vornu::search_kernels()) found.push_back(&kernel);
    return found;
}

inline std::vector<const vornu::SearchKernel*> supported_kernels() {
    std::vector<const vornu::SearchKernel*> found;
    for (const vornu::SearchKernel& kernel : vornu::search_kernels())
        if (kernel.supported()) found.push_back(&kernel);
    return found;
}

inline std::string kernel_name(const testing::TestParamInfo<const vornu::SearchKernel*>& kernel) {
    return std::string(kernel.param->name);
}
