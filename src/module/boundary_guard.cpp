// The PanicException class and the raising of it at the module boundary.
#include "module/boundary_guard.hpp"

#include <cstdio>
#include <cstdlib>

namespace vornu::py {
namespace {

constexpr const char* panic_exception_name = "pyo3_runtime.PanicException";

constexpr const char* panic_exception_doc =
    "\n"
    "The exception raised when the compiled code of the vornu_core extension, called from "
    "Python, fails.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Process-wide and never released: the class must outlive every exception made from it,
// and releasing it at exit would touch an interpreter that is already gone. Guarded by
// the interpreter lock.
PyObject* panic_type = nullptr;

[[noreturn]] void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

PyObject* panic_exception_type() {
    if (panic_type == nullptr) {
        PyObject* created = PyErr_NewExceptionWithDoc(panic_exception_name, panic_exception_doc,
                                                      PyExc_BaseException, nullptr);
        if (created == nullptr) return nullptr;
        // Creating the class may have run Python code that made it already.
        if (panic_type == nullptr) {
            panic_type = created;
        } else {
            Py_DECREF(created);
        }
    }
    return panic_type;
}

PyObject* panic_exception_type_if_created() noexcept { return panic_type; }

void raise_panic_exception(std::string_view text) noexcept {
    // Whatever is pending belongs to the failure being reported and would only be
    // mistaken for a failure of the reporting itself.
    PyErr_Clear();
    try {
        PyObject* type = panic_exception_type();
        if (type == nullptr) abort_at_boundary();
        StrongRef message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
        if (!message) abort_at_boundary();
        StrongRef instance(call_one_arg(type, message.get()));
        if (!instance) abort_at_boundary();
        PyErr_SetRaisedException(instance.release());
    } catch (...) {
        abort_at_boundary();
    }
}

}  // namespace vornu::py
