// The two kinds of failure that travel up to the module boundary: a Python exception, and
// an internal failure that reaches Python as "pyo3_runtime.PanicException".
#pragma once

#include <stdexcept>
#include <string>

#include "module/strong_ref.hpp"

namespace vornu::py {

// A failure that is not a Python exception. It reaches Python only at the boundary
// guard, as a "pyo3_runtime.PanicException" carrying what().
class InternalFailure : public std::runtime_error {
public:
    explicit InternalFailure(const std::string& text) : std::runtime_error(text) {}
};

// A Python exception travelling up to the boundary guard as a C++ exception. It owns
// the exception object, so the interpreter's error indicator stays clear while C++
// unwinds (destructors may run Python code, which must not see a pending error).
//
// Deliberately not derived from std::exception: everything that is a std::exception
// is an internal failure, this is not.
class PythonError {
public:
    explicit PythonError(StrongRef exception) noexcept : exception_(std::move(exception)) {}

    // Takes the interpreter's pending exception. When none is set (an API reported a
    // failure without raising), a SystemError stands in for it. A
    // "pyo3_runtime.PanicException" is not taken as an ordinary error: the internal
    // failure it stands for is resumed, i.e. this throws InternalFailure instead.
    static PythonError fetch();

    // A new exception of `type` with `message` as its only argument.
    static PythonError make(PyObject* type, const std::string& message);

    const StrongRef& exception() const noexcept { return exception_; }
    PyObject* type() const noexcept { return reinterpret_cast<PyObject*>(Py_TYPE(exception_.get())); }

    // Makes the exception the interpreter's current one.
    void restore() && noexcept { PyErr_SetRaisedException(exception_.release()); }

private:
    StrongRef exception_;
};

// Throws the pending exception if `result` is null, otherwise takes ownership of it.
inline StrongRef owned_or_throw(PyObject* result) {
    if (result == nullptr) throw PythonError::fetch();
    return StrongRef(result);
}

// Stores str() of `object` as UTF-8 in `out`. Returns false, with the interpreter's
// error indicator set, when str() or the encoding fails.
bool str_as_utf8(PyObject* object, std::string& out);

// The qualified name of the type of `object`, or "<failed to extract type name>".
std::string type_qualname_of(PyObject* object);

}  // namespace vornu::py
