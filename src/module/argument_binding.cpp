// Fast-call argument binding and its TypeError messages.
#include "module/argument_binding.hpp"

#include <algorithm>
#include <string>

#include "module/errors.hpp"

namespace vornu::py {
namespace {

std::string display_name(const FunctionDescription& description) {
    return std::string(description.function_name) + "()";
}

[[noreturn]] void fail(const std::string& message) { throw PythonError::make(PyExc_TypeError, message); }

[[noreturn]] void too_many_positional(const FunctionDescription& description, Py_ssize_t given) {
    fail(display_name(description) + " takes " +
         std::to_string(description.positional_parameter_names.size()) +
         " positional arguments but " + std::to_string(given) + " were given");
}

[[noreturn]] void multiple_values(const FunctionDescription& description, std::string_view parameter) {
    fail(display_name(description) + " got multiple values for argument '" + std::string(parameter) + "'");
}

[[noreturn]] void unexpected_keyword(const FunctionDescription& description, PyObject* keyword) {
    // The keyword's own text may not be encodable (e.g. a lone surrogate); the message
    // keeps it exactly by being assembled as a Python str.
    StrongRef text = owned_or_throw(PyObject_Str(keyword));
    std::string prefix = display_name(description) + " got an unexpected keyword argument '";
    StrongRef message = owned_or_throw(PyUnicode_FromFormat("%s%U'", prefix.c_str(), text.get()));
    throw PythonError(owned_or_throw(call_one_arg(PyExc_TypeError, message.get())));
}

[[noreturn]] void missing_positional(const FunctionDescription& description, std::span<PyObject*> slots) {
    std::string names;
    std::size_t missing = 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < description.required_positional_parameters; ++i) {
        if (slots[i] == nullptr) ++total;
    }
    for (std::size_t i = 0; i < description.required_positional_parameters; ++i) {
        if (slots[i] != nullptr) continue;
        ++missing;
        if (missing > 1) names.append(missing == total ? (total > 2 ? ", and " : " and ") : ", ");
        names.append("'").append(description.positional_parameter_names[i]).append("'");
    }
    fail(display_name(description) + " missing " + std::to_string(total) + " required positional " +
         (total == 1 ? "argument" : "arguments") + ": " + names);
}

}  // namespace

void extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* args,
                                Py_ssize_t positional_count, PyObject* keyword_names,
                                std::span<PyObject*> slots) {
    const auto& names = description.positional_parameter_names;
    const std::size_t given = static_cast<std::size_t>(positional_count);
    const std::size_t copied = std::min(given, names.size());
    for (std::size_t i = 0; i < copied; ++i) slots[i] = args[i];
    if (given > names.size()) too_many_positional(description, positional_count);

    if (keyword_names != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_Size(keyword_names);
        PyObject* const* keyword_values = args + positional_count;
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* keyword = PyTuple_GetItem(keyword_names, k);
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
            if (utf8 == nullptr) {
                PyErr_Clear();
                unexpected_keyword(description, keyword);
            }
            const std::string_view text(utf8, static_cast<std::size_t>(size));
            const auto match = std::find(names.begin(), names.end(), text);
            if (match == names.end()) unexpected_keyword(description, keyword);
            const std::size_t index = static_cast<std::size_t>(match - names.begin());
            if (slots[index] != nullptr) multiple_values(description, names[index]);
            slots[index] = keyword_values[k];
        }
    }

    for (std::size_t i = 0; i < description.required_positional_parameters; ++i) {
        if (slots[i] == nullptr) missing_positional(description, slots);
    }
}

}  // namespace vornu::py
