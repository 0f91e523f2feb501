#pragma once

#include <stdexcept>
#include <string>

namespace vornu::py {

// A failure that is not a Python exception. It reaches Python only at the boundary
// guard, as a "pyo3_runtime.PanicException" carrying what().
class InternalFailure : public std::runtime_error {
public:
    explicit InternalFailure(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace vornu::py
