#include "module/boundary_guard.hpp"

#include <cstdio>
#include <cstdlib>

#include "module/panic_exception.hpp"

namespace vornu::py {
namespace {

[[noreturn]] void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

void raise_panic_exception(std::string_view text) noexcept {
    // Whatever is pending belongs to the failure being reported and would only be
    // mistaken for a failure of the reporting itself.
    PyErr_Clear();
    try {
        PyObject* type = panic_exception_type();
        if (type == nullptr) abort_at_boundary();
        StrongRef message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
        if (!message) abort_at_boundary();
        StrongRef instance(PyObject_CallOneArg(type, message.get()));
        if (!instance) abort_at_boundary();
        PyErr_SetRaisedException(instance.release());
    } catch (...) {
        abort_at_boundary();
    }
}

}  // namespace vornu::py
