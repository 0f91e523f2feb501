// Fetching and making Python exceptions, and resuming a PanicException that came back.
#include "module/errors.hpp"

#include <cstdio>

#include "module/boundary_guard.hpp"

namespace vornu::py {
namespace {

// An internal failure that an earlier call turned into a PanicException came back to
// us through Python code (e.g. a callback of the argument). It is resumed as an
// internal failure rather than handled like an ordinary Python error.
[[noreturn]] void resume_internal_failure(StrongRef exception) {
    std::string text;
    if (!str_as_utf8(exception.get(), text)) {
        PyErr_Clear();
        text = "Unwrapped panic from Python code";
    }
    std::fputs("--- vornu_core is resuming an internal failure after fetching a PanicException from Python. ---\n"
               "Python stack trace below:\n",
               stderr);
    std::fflush(stderr);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    throw InternalFailure(text);
}

}  // namespace

PythonError PythonError::fetch() {
    StrongRef exception(PyErr_GetRaisedException());
    if (!exception) {
        return make(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    PyObject* panic_type = panic_exception_type_if_created();
    if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_type) {
        resume_internal_failure(std::move(exception));
    }
    return PythonError(std::move(exception));
}

PythonError PythonError::make(PyObject* type, const std::string& message) {
    StrongRef text = owned_or_throw(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    return PythonError(owned_or_throw(call_one_arg(type, text.get())));
}

bool str_as_utf8(PyObject* object, std::string& out) {
    StrongRef text(PyObject_Str(object));
    if (!text) return false;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) return false;
    out.assign(utf8, static_cast<std::size_t>(size));
    return true;
}

std::string type_qualname_of(PyObject* object) {
    StrongRef name(PyType_GetQualName(Py_TYPE(object)));
    if (name) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return std::string(utf8, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

}  // namespace vornu::py
