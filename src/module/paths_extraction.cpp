// The conversion of the `paths` argument into owned UTF-8 roots, and its error wrapping.
#include "module/paths_extraction.hpp"

#include <algorithm>

#include "module/errors.hpp"

namespace vornu::py {
namespace {

// The reported length only sizes the first allocation. A sequence may claim any length
// (or lie), so the reservation is capped; longer sequences just grow while being read.
constexpr Py_ssize_t max_reserved_roots = Py_ssize_t{1} << 16;

[[noreturn]] void cannot_convert(PyObject* object, std::string_view target) {
    throw PythonError::make(PyExc_TypeError, "'" + type_qualname_of(object) + "' object cannot be converted to '" +
                                                 std::string(target) + "'");
}

std::vector<std::string> extract_sequence(PyObject* value) {
    if (PyUnicode_Check(value)) {
        throw PythonError::make(PyExc_TypeError, "Can't extract `str` to `Vec`");
    }
    if (!PySequence_Check(value)) cannot_convert(value, "Sequence");

    std::vector<std::string> roots;
    Py_ssize_t hint = PySequence_Size(value);
    if (hint < 0) {
        // Only a hint: a failing length is dropped (fetching still resumes an internal
        // failure that came back through it).
        (void)PythonError::fetch();
        hint = 0;
    }
    roots.reserve(static_cast<std::size_t>(std::min(hint, max_reserved_roots)));

    StrongRef iterator = owned_or_throw(PyObject_GetIter(value));
    while (StrongRef item{PyIter_Next(iterator.get())}) {
        if (!PyUnicode_Check(item.get())) cannot_convert(item.get(), "PyString");
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);
        if (utf8 == nullptr) throw PythonError::fetch();
        roots.emplace_back(utf8, static_cast<std::size_t>(size));
    }
    if (PyErr_Occurred()) throw PythonError::fetch();
    return roots;
}

// Rewrites a plain TypeError (not a subclass) to say which argument it concerns.
PythonError argument_extraction_error(PythonError error, std::string_view parameter) {
    if (error.type() != PyExc_TypeError) return error;
    PyObject* old = error.exception().get();

    std::string text;
    if (!str_as_utf8(old, text)) {
        PyErr_WriteUnraisable(old);
        text = "<unprintable ";
        StrongRef type_name(PyType_GetName(Py_TYPE(old)));
        Py_ssize_t size = 0;
        const char* utf8 = type_name ? PyUnicode_AsUTF8AndSize(type_name.get(), &size) : nullptr;
        if (utf8 == nullptr) {
            PyErr_Clear();
            text = "<unprintable object>";
        } else {
            text.append(utf8, static_cast<std::size_t>(size)).append(" object>");
        }
    }

    PythonError wrapped =
        PythonError::make(PyExc_TypeError, "argument '" + std::string(parameter) + "': " + text);
    // SetCause steals the reference; a null cause leaves __cause__ None.
    PyException_SetCause(wrapped.exception().get(), PyException_GetCause(old));
    return wrapped;
}

}  // namespace

std::vector<std::string> extract_string_sequence_argument(PyObject* value, std::string_view parameter) {
    try {
        return extract_sequence(value);
    } catch (PythonError& error) {
        throw argument_extraction_error(std::move(error), parameter);
    }
}

}  // namespace vornu::py
