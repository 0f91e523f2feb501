// vornu-scan: prints the modules that the Python files under the given roots import,
// one per line. With --floor it only reads the same files and prints the byte count;
// with --time it also reports the time of the work itself on standard error.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "scan/fs/read_floor.hpp"
#include "scan/scan.hpp"

int main(int argc, char** argv) {
    bool floor = false;
    bool timed = false;
    std::vector<std::string> roots;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--floor") == 0) floor = true;
        else if (std::strcmp(argv[i], "--time") == 0) timed = true;
        else if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i) roots.emplace_back(argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "usage: %s [--floor] [--time] [--] ROOT...\n", argv[0]);
            return 2;
        } else {
            roots.emplace_back(argv[i]);
        }
    }
    try {
        const auto start = std::chrono::steady_clock::now();
        if (floor) {
            std::uint64_t bytes = 0;
            vornu::ScanScratch scratch;
            for (const std::string& root : roots) bytes += vornu::read_without_scanning(root, scratch);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            std::printf("%llu\n", static_cast<unsigned long long>(bytes));
            if (timed) std::fprintf(stderr, "%.6f\n", took.count());
            return 0;
        }
        const vornu::NameSet names = vornu::scan_roots(roots);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        for (const std::string& name : names) std::printf("%s\n", name.c_str());
        if (timed) std::fprintf(stderr, "%.6f\n", took.count());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vornu-scan: %s\n", failure.what());
        return 1;
    }
    return 0;
}
