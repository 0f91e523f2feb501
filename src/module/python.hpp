// The one way the module includes Python.h.
#pragma once

// Every translation unit of the module includes Python.h through here, so the
// Py_ssize_t-clean macro is always defined before the first inclusion.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
