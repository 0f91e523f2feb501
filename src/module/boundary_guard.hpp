// The boundary between the interpreter and the module: no C++ exception crosses it, and
// internal failures become "pyo3_runtime.PanicException".
#pragma once

#include <exception>
#include <string_view>

#include "module/errors.hpp"

namespace vornu::py {

// The class "pyo3_runtime.PanicException", the Python face of an internal failure.
// Created on first need and kept for the rest of the process. Returns a borrowed
// reference, or nullptr with an exception set if the class cannot be created.
PyObject* panic_exception_type();

// The class if it has been created already, else nullptr. An exception can only be of
// this class once the class exists, so checks against it need not create it.
PyObject* panic_exception_type_if_created() noexcept;

// Sets a new "pyo3_runtime.PanicException" carrying `text` as the current exception.
// If that fails in turn, there is no sane way left to report anything to Python, and
// the process is aborted.
void raise_panic_exception(std::string_view text) noexcept;

// Runs `body` (returning a new reference) at an entry point called by the interpreter.
// No C++ exception crosses into the interpreter: a PythonError is set as the current
// exception, any other failure becomes a PanicException, and nullptr is returned.
template <class Body>
PyObject* boundary_guard(Body&& body) noexcept {
    try {
        return body();
    } catch (PythonError& error) {
        std::move(error).restore();
    } catch (const std::exception& failure) {
        raise_panic_exception(failure.what());
    } catch (...) {
        raise_panic_exception("unknown internal failure");
    }
    return nullptr;
}

}  // namespace vornu::py
