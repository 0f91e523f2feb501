// The table of search kernels and the choice of one per process.
#include "scan/search/kernel.hpp"

#include <array>
#include <cstdlib>
#include <string>

#include "scan/search/cpu_features.hpp"
#include "scan/search/kernels.hpp"

namespace vornu {
namespace {

bool always() noexcept { return true; }

#if defined(__x86_64__)
bool has_avx2() noexcept { return cpu_features().avx2; }
bool has_avx512() noexcept { return cpu_features().avx512bw; }
#endif

const std::array built_in = {
#if defined(__x86_64__)
    SearchKernel{"avx512", &has_avx512, &find_imports_avx512, &check_piece_avx512},
    SearchKernel{"avx2", &has_avx2, &find_imports_avx2, &check_piece_avx2},
    SearchKernel{"sse2", &always, &find_imports_sse2, &check_piece_sse2},
#endif
    SearchKernel{"scalar", &always, &find_imports_scalar, &check_piece_scalar},
};

// What a failed override says: the value, why, and what would do instead.
std::string override_failure(const char* forced, const char* why, std::span<const SearchKernel> kernels) {
    std::string text = "VORNU_FORCE_KERNEL=\"" + std::string(forced) + "\": " + why + "; this processor runs";
    for (const SearchKernel& kernel : kernels)
        if (kernel.supported()) text.append(" ").append(kernel.name);
    return text;
}

}  // namespace

std::span<const SearchKernel> search_kernels() { return built_in; }

const SearchKernel& choose_search_kernel(const char* forced, std::span<const SearchKernel> kernels) {
    const bool is_forced = forced != nullptr && *forced != '\0';
    for (const SearchKernel& kernel : kernels) {
        if (is_forced && kernel.name != forced) continue;
        if (kernel.supported()) return kernel;
        if (is_forced) throw KernelOverrideError(override_failure(forced, "this processor cannot run that kernel", kernels));
    }
    if (is_forced) throw KernelOverrideError(override_failure(forced, "no search kernel has that name", kernels));
    return kernels.back();
}

const SearchKernel& active_search_kernel() {
    // A throw leaves the choice unmade, so a bad override fails every call, not just the first.
    static const SearchKernel& chosen = choose_search_kernel(std::getenv("VORNU_FORCE_KERNEL"));
    return chosen;
}

}  // namespace vornu
