// The owner of one strong reference to a Python object.
#pragma once

#include <utility>

#include "module/python.hpp"

namespace vornu::py {

// Owns one strong reference. Must only be created, moved and destroyed by a thread
// that holds the interpreter lock.
class StrongRef {
public:
    StrongRef() noexcept = default;
    // Takes over a new reference (or nullptr).
    explicit StrongRef(PyObject* owned) noexcept : ptr_(owned) {}

    static StrongRef borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return StrongRef(borrowed);
    }

    StrongRef(const StrongRef&) = delete;
    StrongRef& operator=(const StrongRef&) = delete;
    StrongRef(StrongRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    StrongRef& operator=(StrongRef&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~StrongRef() { Py_XDECREF(ptr_); }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // Hands the reference to the caller, e.g. as a return value to the interpreter.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

    // A second reference to the same object.
    StrongRef clone() const noexcept { return borrow(ptr_); }

private:
    PyObject* ptr_ = nullptr;
};

}  // namespace vornu::py
