// The name set turned into the Python list that a call returns.
#include "module/result_list.hpp"

#include "module/errors.hpp"

namespace vornu::py {
namespace {

[[noreturn]] void api_call_failed() {
    PyErr_Print();
    throw InternalFailure("Python API call failed");
}

}  // namespace

StrongRef names_to_list(NameSet&& names) {
    StrongRef list(PyList_New(static_cast<Py_ssize_t>(names.size())));
    if (!list) api_call_failed();
    Py_ssize_t index = 0;
    for (auto it = names.begin(); it != names.end(); it = names.erase(it)) {
        PyObject* item = PyUnicode_FromStringAndSize(it->data(), static_cast<Py_ssize_t>(it->size()));
        if (item == nullptr) api_call_failed();
        // Steals `item`; cannot fail on a fresh list of this size.
        PyList_SetItem(list.get(), index++, item);
    }
    return list;
}

}  // namespace vornu::py
