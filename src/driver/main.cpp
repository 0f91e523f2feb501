// vornu-scan: prints the modules that the Python files under the given roots import,
// one per line. With --floor or --lean-floor it only reads the same files (to their end,
// or up to the size they were opened with), on the same pool divided the same way, and
// prints the byte count; with --time it also reports the time of the work itself on
// standard error, and with --kernel the search kernel in use. --kernels lists every
// kernel built in, each with "supported" or "unsupported" on this processor. A
// VORNU_FORCE_KERNEL that cannot be obeyed ends it at once with status 2.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "driver/read_floor.hpp"
#include "scan/parallel/global_pool.hpp"
#include "scan/parallel/parallel_scan.hpp"
#include "scan/scan.hpp"
#include "scan/search/kernel.hpp"

namespace {

std::atomic<std::uint64_t> floor_bytes{0};

template <vornu::Floor floor>
void read_root(std::string_view root, vornu::ScanScratch& scratch, vornu::NameCollector&) {
    floor_bytes += vornu::read_without_scanning(root, scratch, floor);
}

struct Options {
    std::optional<vornu::Floor> floor;
    bool timed = false;
    bool kernel = false;
    bool kernels = false;
    std::vector<std::string> roots;
};

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--floor") == 0) options.floor = vornu::Floor::plain;
        else if (std::strcmp(argv[i], "--lean-floor") == 0) options.floor = vornu::Floor::lean;
        else if (std::strcmp(argv[i], "--time") == 0) options.timed = true;
        else if (std::strcmp(argv[i], "--kernel") == 0) options.kernel = true;
        else if (std::strcmp(argv[i], "--kernels") == 0) options.kernels = true;
        else if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i) options.roots.emplace_back(argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return std::nullopt;
        } else {
            options.roots.emplace_back(argv[i]);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: %s [--floor | --lean-floor] [--time] [--kernel] [--kernels] [--] ROOT...\n",
                     argv[0]);
        return 2;
    }
    if (options->kernels) {
        for (const vornu::SearchKernel& kernel : vornu::search_kernels())
            std::printf("%s %s\n", std::string(kernel.name).c_str(), kernel.supported() ? "supported" : "unsupported");
        return 0;
    }
    try {
        const vornu::SearchKernel& kernel = vornu::active_search_kernel();
        if (options->kernel) std::fprintf(stderr, "kernel: %s\n", std::string(kernel.name).c_str());
    } catch (const vornu::KernelOverrideError& failure) {
        std::fprintf(stderr, "vornu-scan: %s\n", failure.what());
        return 2;
    }
    try {
        const auto start = std::chrono::steady_clock::now();
        if (options->floor) {
            const vornu::ScanOne read = *options->floor == vornu::Floor::lean ? &read_root<vornu::Floor::lean>
                                                                              : &read_root<vornu::Floor::plain>;
            vornu::scan_roots_with(options->roots, read, vornu::global_worker_pool());
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            std::printf("%llu\n", static_cast<unsigned long long>(floor_bytes.load()));
            if (options->timed) std::fprintf(stderr, "%.6f\n", took.count());
            return 0;
        }
        const vornu::NameSet names = vornu::scan_roots(options->roots);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        for (const std::string& name : names) std::printf("%s\n", name.c_str());
        if (options->timed) std::fprintf(stderr, "%.6f\n", took.count());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vornu-scan: %s\n", failure.what());
        return 1;
    }
    return 0;
}
