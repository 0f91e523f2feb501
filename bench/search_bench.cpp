// search_bench FILE...: the speed of each search kernel alone, over files already in memory,
// in pieces of whole lines of about 64 KiB as the scan hands them over; no reading, no
// names kept. Prints GB/s per kernel (median of the rounds, kernels interleaved), and names
// the kernels that this processor cannot run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "scan/search/kernel.hpp"

namespace {

std::vector<std::string_view> pieces_of(const std::string& text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.size(), start + 65536);
        if (end < text.size()) end = text.rfind('\n', end - 1) + 1;
        if (end <= start) end = std::min(text.size(), start + 65536);
        pieces.emplace_back(text.data() + start, end - start);
        start = end;
    }
    return pieces;
}

}  // namespace

int main(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!std::filesystem::is_regular_file(argv[i]) || !in) {
            std::fprintf(stderr, "search_bench: %s is not a file that can be read\n", argv[i]);
            return 2;
        }
        text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (text.empty()) {
        std::fprintf(stderr, "usage: %s FILE... (files of Python source, not empty)\n", argv[0]);
        return 2;
    }
    const std::vector<std::string_view> pieces = pieces_of(text);
    std::vector<const vornu::SearchKernel*> kernels;
    for (const vornu::SearchKernel& kernel : vornu::search_kernels()) {
        if (kernel.supported()) kernels.push_back(&kernel);
        else std::printf("%-8s this processor cannot run it\n", std::string(kernel.name).c_str());
    }
    std::vector<std::vector<double>> seconds(kernels.size());
    vornu::Heads heads;
    for (int round = 0; round < 9; ++round) {
        for (std::size_t k = 0; k < kernels.size(); ++k) {
            // Each piece is searched once untimed, which brings it into the cache, as the
            // kernel's copy into the read buffer does in a scan, and once timed.
            double total = 0;
            for (std::string_view piece : pieces) {
                heads.clear();
                kernels[k]->find_imports(piece, heads);
                heads.clear();
                const auto start = std::chrono::steady_clock::now();
                kernels[k]->find_imports(piece, heads);
                total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
            seconds[k].push_back(total);
        }
    }
    for (std::size_t k = 0; k < kernels.size(); ++k) {
        std::sort(seconds[k].begin(), seconds[k].end());
        std::printf("%-8s %6.2f GB/s\n", std::string(kernels[k]->name).c_str(),
                    static_cast<double>(text.size()) / seconds[k][seconds[k].size() / 2] / 1e9);
    }
    return 0;
}
