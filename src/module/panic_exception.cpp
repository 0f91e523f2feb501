#include "module/panic_exception.hpp"

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

}  // namespace vornu::py
