// Owned references to Python objects. `Ref` owns one strong reference and releases
// it on every path out; `steal` takes over a new reference, `borrow` adds one.
#pragma once

#include <Python.h>

#include <utility>

namespace orvek::py {

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(const Ref& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller (for returning to the interpreter).
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace orvek::py
