// The conversion of the `paths` argument into the list of roots.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "module/python.hpp"

namespace vornu::py {

// The value bound to `parameter` as a list of owned UTF-8 strings: a sequence (not a
// str) of str. Throws a PythonError on failure, with plain TypeErrors rewritten to
// name the parameter.
std::vector<std::string> extract_string_sequence_argument(PyObject* value, std::string_view parameter);

}  // namespace vornu::py
