// The search kernels that this processor runs, for tests parameterised over them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/search/kernel.hpp"

inline std::vector<const vornu::SearchKernel*> supported_kernels() {
    std::vector<const vornu::SearchKernel*> found;
    for (const vornu::SearchKernel& kernel : vornu::search_kernels())
        if (kernel.supported()) found.push_back(&kernel);
    return found;
}

inline std::string kernel_name(const testing::TestParamInfo<const vornu::SearchKernel*>& kernel) {
    return std::string(kernel.param->name);
}
