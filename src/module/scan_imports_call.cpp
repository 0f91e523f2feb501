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

// The interpreter's pending signal handlers, run from inside the scan on the thread that
// made the call (the interpreter runs them on its main thread only). The exception that a
// handler raises ends the call, and is what the call raises, unchanged.
struct SignalHandlers {
    StrongRef raised;

    static bool run(void* context) noexcept {
        if (PyErr_CheckSignals() == 0) return false;
        static_cast<SignalHandlers*>(context)->raised = StrongRef(PyErr_GetRaisedException());
        return true;
    }
};

NameSet scan_roots_interruptibly(std::span<const std::string> roots) {
    SignalHandlers handlers;
    CallStop stop;
    stop.hook = {&SignalHandlers::run, &handlers};
    try {
        return vornu::scan_roots(roots, &stop);
    } catch (...) {
        // Whatever else went wrong meanwhile, the call was told to stop: that is its outcome.
        if (handlers.raised) throw PythonError(std::move(handlers.raised));
        throw;
    }
}

StrongRef scan_imports(PyObject* const* args, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, parameter_names.size()> slots{};
    extract_arguments_fastcall(scan_imports_description, args, positional_count, keyword_names, slots);

    NameSet names;
    {
        const std::vector<std::string> roots = extract_string_sequence_argument(slots[0], parameter_names[0]);
        // The interpreter lock stays held on purpose: callers rely on calls never
        // overlapping, and the workers never touch Python objects anyway. Only a signal
        // handler that the call runs may let other threads in, as any Python code may.
        names = scan_roots_interruptibly(roots);
    }
    return names_to_list(std::move(names));
}

}  // namespace

PyObject* scan_imports_trampoline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t positional_count,
                                  PyObject* keyword_names) noexcept {
    return boundary_guard([&] { return scan_imports(args, positional_count, keyword_names).release(); });
}

}  // namespace vornu::py
