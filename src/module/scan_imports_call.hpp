// The entry point that the interpreter calls for scan_imports(paths).
#pragma once

#include "module/python.hpp"

namespace vornu::py {

// The entry point of scan_imports(paths), for METH_FASTCALL | METH_KEYWORDS.
PyObject* scan_imports_trampoline(PyObject* module, PyObject* const* args, Py_ssize_t positional_count,
                                  PyObject* keyword_names) noexcept;

}  // namespace vornu::py
