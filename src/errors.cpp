// Failure mapping: every C++ exception that reaches an entry point becomes exactly one
// Python exception here, and nowhere else.
#include "errors.hpp"

#include <new>
#include <string>

#include "core/failure.hpp"

namespace orvek::py {

namespace {

constexpr const char* kInternalFaultDoc =
    "A broken internal invariant of orvek_core met at run time: a bug, never a "
    "problem with the caller's input.\n\n"
    "It derives from BaseException, not Exception, so that ordinary `except Exception` "
    "handlers do not swallow it.";

PyObject* internal_fault_class = nullptr;  // created once, kept for the process

// A native message as a str; bytes that are not UTF-8 are replaced, never refused.
PyObject* message_object(const char* text, std::size_t size) noexcept {
    return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), "replace");
}

void set_native_exception(PyObject* type, const char* text) noexcept {
    std::string_view view(text);
    PyObject* message = message_object(view.data(), view.size());
    if (message == nullptr) return;  // the decoding error stays set
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

void set_internal_fault(const char* text) noexcept {
    PyObject* type = internal_fault_type();
    if (type == nullptr) return;  // the reason it could not be created stays set
    set_native_exception(type, text);
}

}  // namespace

PyObject* internal_fault_type() noexcept {
    if (internal_fault_class == nullptr) {
        internal_fault_class = PyErr_NewExceptionWithDoc("orvek_core.InternalFault", kInternalFaultDoc,
                                                         PyExc_BaseException, nullptr);
    }
    return internal_fault_class;
}

PyObject* raise_caught_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred()) set_internal_fault("a failure was reported without an exception");
    } catch (const orvek::Failure& failure) {
        // Exactly OSError(message): one argument, so errno and filename stay None and
        // the interpreter never picks a subclass such as FileNotFoundError.
        set_native_exception(PyExc_OSError, failure.what());
    } catch (const orvek::InternalFault& fault) {
        set_internal_fault(fault.what());
    } catch (const std::bad_alloc&) {
        set_internal_fault("out of memory");
    } catch (const std::exception& error) {
        set_internal_fault(error.what());
    } catch (...) {
        set_internal_fault("unknown internal fault");
    }
    return nullptr;
}

PythonError fail_type(PyObject* object, const char* target) {
    PyObject* type_name = PyType_GetQualName(Py_TYPE(object));
    if (type_name == nullptr) return PythonError{};
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", type_name, target);
    Py_DECREF(type_name);
    return PythonError{};
}

PythonError fail(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    return PythonError{};
}

PythonError argument_failure(const char* name) {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        set_internal_fault("a conversion failed without an exception");
        return PythonError{};
    }
    if (Py_TYPE(raised) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(raised);  // OverflowError, ValueError, ... unchanged
        return PythonError{};
    }
    PyObject* cause = PyException_GetCause(raised);
    PyErr_Format(PyExc_TypeError, "argument '%s': %S", name, raised);
    Py_DECREF(raised);
    if (cause != nullptr) {
        PyObject* prefixed = PyErr_GetRaisedException();
        if (prefixed != nullptr)
            PyException_SetCause(prefixed, cause);  // steals `cause`
        else
            Py_DECREF(cause);
        PyErr_SetRaisedException(prefixed);
    }
    return PythonError{};
}

void creation_failed() {
    PyErr_Clear();
    throw orvek::InternalFault("a Python object could not be created (out of memory)");
}

}  // namespace orvek::py
