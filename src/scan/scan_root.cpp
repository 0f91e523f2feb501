#include "scan/scan_root.hpp"

#include "scan/python_file.hpp"
#include "scan/python_files.hpp"

namespace vornu {

NameSet scan_root(std::string_view root) {
    NameCollector names;
    FileScratch& scratch = thread_scratch();
    for_each_python_file(root, [&](int fd) { scan_python_file(fd, names, scratch); });
    return std::move(names.names);
}

}  // namespace vornu
