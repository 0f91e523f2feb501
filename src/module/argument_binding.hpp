// Binding of fast-call arguments to a function's parameters, with CPython's messages.
#pragma once

#include <span>
#include <string_view>

#include "module/python.hpp"

namespace vornu::py {

// Static description of a function's parameters, as used for binding and in messages.
struct FunctionDescription {
    std::string_view function_name;
    std::span<const std::string_view> positional_parameter_names;
    std::size_t required_positional_parameters;
};

// Binds fast-call arguments to `slots` (one per positional parameter; each is left
// null or set to a borrowed reference). Throws a PythonError holding a TypeError when
// the arguments do not fit the description. Allocates nothing unless it fails.
void extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* args,
                                Py_ssize_t positional_count, PyObject* keyword_names,
                                std::span<PyObject*> slots);

}  // namespace vornu::py
