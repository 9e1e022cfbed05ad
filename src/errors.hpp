// The one place where failures become Python exceptions: the dispatcher's guard, the
// InternalFault class and small helpers that set an exception and return the value to
// throw, so that a failing path reads `throw fail_type(...)`.
#pragma once

#include <Python.h>

#include "convert.hpp"

namespace orvek::py {

// The module's exception for a broken internal invariant: a direct BaseException
// subclass, created once on first use and kept for the life of the process.
// Returns a borrowed reference, or nullptr with an exception set.
PyObject* internal_fault_type() noexcept;

// Sets the Python exception for the exception in flight. Call only from inside a
// catch block: PythonError keeps the exception already set, orvek::Failure becomes
// exactly OSError(message), orvek::InternalFault and every other C++ exception
// become InternalFault. Always returns nullptr.
PyObject* raise_caught_exception() noexcept;

// Runs `body` (which returns a new reference) and turns every exception into a Python
// exception: the shape of every entry point that the interpreter calls.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return raise_caught_exception();
    }
}

// As `guarded` for slots that report success as 0 and failure as -1 (setters).
template <class Body>
int guarded_status(Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        raise_caught_exception();
        return -1;
    }
}

// Sets TypeError "'{type}' object cannot be converted to '{target}'" for `object`.
PythonError fail_type(PyObject* object, const char* target);
// Sets `type` with a fixed message.
PythonError fail(PyObject* type, const char* message);

// The exception now set came from converting parameter `name`: an exact TypeError is
// replaced by one whose message carries the prefix "argument '{name}': ", every other
// class passes through unchanged.
PythonError argument_failure(const char* name);

// A Python object could not be created (the interpreter is out of memory): the
// pending exception is dropped and the call ends with InternalFault.
[[noreturn]] void creation_failed();

// Throws PythonError when `object` is null (the interpreter has set an exception).
inline PyObject* checked(PyObject* object) {
    if (object == nullptr) throw PythonError{};
    return object;
}

// A newly created object, or InternalFault when the interpreter could not create it.
inline Ref created(PyObject* object) {
    if (object == nullptr) creation_failed();
    return Ref::steal(object);
}

}  // namespace orvek::py
