// One call of scan_imports(paths), from the interpreter into the scan and back.
#include "module/scan_imports_call.hpp"

#include <array>
#include <span>
#include <string_view>

#include "module/argument_binding.hpp"
#include "module/boundary_guard.hpp"
#include "module/paths_extraction.hpp"
#include "module/result_list.hpp"
#include "scan/scan.hpp"

namespace vornu::py {
namespace {

constexpr std::array<std::string_view, 1> parameter_names{"paths"};

constexpr FunctionDescription scan_imports_description{
    .function_name = "scan_imports",
    .positional_parameter_names = parameter_names,
    .required_positional_parameters = 1,
};

StrongRef scan_imports(PyObject* const* args, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, parameter_names.size()> slots{};
    extract_arguments_fastcall(scan_imports_description, args, positional_count, keyword_names, slots);

    NameSet names;
    {
        const std::vector<std::string> roots = extract_string_sequence_argument(slots[0], parameter_names[0]);
        // The interpreter lock stays held on purpose: callers rely on calls never
        // overlapping, and the workers never touch Python objects anyway.
        names = vornu::scan_roots(std::span<const std::string>(roots));
    }
    return names_to_list(std::move(names));
}

}  // namespace

PyObject* scan_imports_trampoline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t positional_count,
                                  PyObject* keyword_names) noexcept {
    return boundary_guard([&] { return scan_imports(args, positional_count, keyword_names).release(); });
}

}  // namespace vornu::py
