// The one way the module includes Python.h.
#pragma once

// Every translation unit of the module includes Python.h through here, so the
// Py_ssize_t-clean macro is always defined before the first inclusion.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vornu::py {

// PyObject_CallOneArg, which the limited API of 3.12 (the wheel's stable ABI) lacks, as
// the vectorcall it stands for: the free slot before the argument lets a bound method
// put its `self` there without copying.
inline PyObject* call_one_arg(PyObject* callable, PyObject* argument) {
    PyObject* slots[2] = {nullptr, argument};
    return PyObject_Vectorcall(callable, slots + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

}  // namespace vornu::py
