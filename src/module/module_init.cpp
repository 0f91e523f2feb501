// Creation of the module object: single-phase initialisation, one module per process,
// bound to the first interpreter that imports it.
#include <atomic>
#include <cstdint>
#include <string>

#include "module/boundary_guard.hpp"
#include "module/scan_imports_call.hpp"

namespace vornu::py {
namespace {

static_assert(PYTHON_API_VERSION == 1013, "the module is built against C API version 1013");

constexpr const char* subinterpreter_refusal =
    "vornu_core modules do not yet support subinterpreters, see "
    "https://github.com/vornu-dev/vornu_core/issues/1";

struct ModuleDef {
    void (*initializer)(PyObject* module);
    PyModuleDef definition;
    // The interpreter that owns the module; -1 until the first initialisation claims it.
    std::atomic<std::int64_t> interpreter_id;
    // Strong reference, deliberately never released: the module lives until the process
    // ends, and a re-import after removal from sys.modules must find the same object.
    PyObject* cached_module;
};

void register_scan_imports(PyObject* module);

ModuleDef vornu_core_def{
    .initializer = register_scan_imports,
    .definition =
        {
            .m_base = PyModuleDef_HEAD_INIT,
            .m_name = "vornu_core",
            .m_doc = "",
            .m_size = 0,
            .m_methods = nullptr,
            .m_slots = nullptr,
            .m_traverse = nullptr,
            .m_clear = nullptr,
            .m_free = nullptr,
        },
    .interpreter_id = -1,
    .cached_module = nullptr,
};

// Attribute names made once and kept for the process (interned, never released).
PyObject* interned(PyObject*& slot, std::string_view text) {
    if (slot == nullptr) {
        PyObject* name = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
        if (name == nullptr) throw PythonError::fetch();
        PyUnicode_InternInPlace(&name);
        slot = name;
    }
    return slot;
}

PyObject* name_attribute() {
    static PyObject* slot = nullptr;
    return interned(slot, "__name__");
}

PyObject* all_attribute() {
    static PyObject* slot = nullptr;
    return interned(slot, "__all__");
}

// The module's __all__ list, created (empty) if the module has none yet.
StrongRef all_list(PyObject* module) {
    StrongRef all(PyObject_GetAttr(module, all_attribute()));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError::fetch();
        PyErr_Clear();
        all = owned_or_throw(PyList_New(0));
        if (PyObject_SetAttr(module, all_attribute(), all.get()) < 0) throw PythonError::fetch();
        return all;
    }
    if (!PyList_Check(all.get())) {
        throw PythonError::make(PyExc_TypeError,
                                "'" + type_qualname_of(all.get()) + "' object cannot be converted to 'PyList'");
    }
    return all;
}

std::string describe_pending_error() {
    StrongRef exception(PyErr_GetRaisedException());
    if (!exception) return "no Python exception was set";
    std::string text = type_qualname_of(exception.get());
    std::string message;
    if (str_as_utf8(exception.get(), message)) {
        text.append(": ").append(message);
    } else {
        PyErr_Clear();
    }
    return text;
}

void register_scan_imports(PyObject* module) {
    StrongRef module_name = owned_or_throw(PyModule_GetNameObject(module));

    // The function object refers to its method record for the rest of the process, so
    // the record is never freed.
    auto* method = new PyMethodDef{
        "scan_imports",
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&scan_imports_trampoline)),
        METH_FASTCALL | METH_KEYWORDS,
        "scan_imports(paths)\n--\n\n",
    };
    StrongRef function(PyCMethod_New(method, module, module_name.get(), nullptr));
    module_name = StrongRef();
    if (!function) throw PythonError::fetch();

    StrongRef function_name = owned_or_throw(PyObject_GetAttr(function.get(), name_attribute()));
    StrongRef all = all_list(module);
    if (PyList_Append(all.get(), function_name.get()) < 0) {
        throw InternalFailure("could not append __name__ to __all__: " + describe_pending_error());
    }
    if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0) throw PythonError::fetch();
}

StrongRef make_module(ModuleDef& def) {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) throw PythonError::fetch();

    // The claim is never undone: a first initialisation that fails later still binds
    // the module to this interpreter.
    std::int64_t expected = -1;
    if (!def.interpreter_id.compare_exchange_strong(expected, id, std::memory_order_seq_cst) && expected != id) {
        throw PythonError::make(PyExc_ImportError, subinterpreter_refusal);
    }

    if (def.cached_module != nullptr) return StrongRef::borrow(def.cached_module);

    StrongRef module = owned_or_throw(PyModule_Create2(&def.definition, PYTHON_API_VERSION));
    def.initializer(module.get());

    // Module creation can give up the interpreter lock, so another initialisation may
    // have filled the cache meanwhile; the first one stored wins.
    if (def.cached_module == nullptr) def.cached_module = module.release();
    return StrongRef::borrow(def.cached_module);
}

}  // namespace
}  // namespace vornu::py

extern "C" PyMODINIT_FUNC PyInit_vornu_core() {
    return vornu::py::boundary_guard([] { return vornu::py::make_module(vornu::py::vornu_core_def).release(); });
}
