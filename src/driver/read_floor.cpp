// The files of a root read through the scan's buffer, their bytes left unlooked at.
#include "driver/read_floor.hpp"

namespace vornu {

std::uint64_t read_without_scanning(std::string_view root, ScanScratch& scratch, Floor floor) {
    std::uint64_t total = 0;
    for_each_python_file(root, scratch.listings, [&](int fd, std::uint64_t size) {
        scratch.lines.start(floor == Floor::lean ? size : 0);
        LineBuffer::Fill fill;
        do {
            fill = scratch.lines.fill(fd);
            total += scratch.lines.text().size();
        } while (fill == LineBuffer::Fill::more);
        scratch.lines.clear();
    });
    return total;
}

}  // namespace vornu
