// The table of search kernels and the choice of one per process.
#include "scan/search/kernel.hpp"

#include <array>
#include <cstdlib>

#include "scan/search/cpu_features.hpp"
#include "scan/search/kernels.hpp"

namespace vornu {
namespace {

bool always() noexcept { return true; }

#if defined(__x86_64__)
bool has_avx2() noexcept { return cpu_features().avx2; }
bool has_avx512() noexcept { return cpu_features().avx512bw; }
#endif

const std::array kernels = {
#if defined(__x86_64__)
    SearchKernel{"avx512", &has_avx512, &find_imports_avx512, &check_piece_avx512},
    SearchKernel{"avx2", &has_avx2, &find_imports_avx2, &check_piece_avx2},
    SearchKernel{"sse2", &always, &find_imports_sse2, &check_piece_sse2},
#endif
    SearchKernel{"scalar", &always, &find_imports_scalar, &check_piece_scalar},
};

}  // namespace

std::span<const SearchKernel> search_kernels() { return kernels; }

const SearchKernel& choose_search_kernel(const char* forced) {
    if (forced != nullptr) {
        for (const SearchKernel& kernel : kernels)
            if (kernel.name == forced && kernel.supported()) return kernel;
    }
    for (const SearchKernel& kernel : kernels)
        if (kernel.supported()) return kernel;
    return kernels.back();
}

const SearchKernel& active_search_kernel() {
    static const SearchKernel& chosen = choose_search_kernel(std::getenv("VORNU_FORCE_KERNEL"));
    return chosen;
}

}  // namespace vornu
