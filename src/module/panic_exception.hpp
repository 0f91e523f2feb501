#pragma once

#include "module/python.hpp"

namespace vornu::py {

// The class "pyo3_runtime.PanicException", the Python face of an internal failure.
// Created on first need and kept for the rest of the process. Returns a borrowed
// reference, or nullptr with an exception set if the class cannot be created.
PyObject* panic_exception_type();

// The class if it has been created already, else nullptr. An exception can only be of
// this class once the class exists, so checks against it need not create it.
PyObject* panic_exception_type_if_created() noexcept;

}  // namespace vornu::py
