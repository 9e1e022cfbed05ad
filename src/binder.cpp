// Argument binding for every callable of the module: positional and keyword arguments
// onto parameters, defaults for the omitted ones, and the exact binding errors.
#include "binder.hpp"

#include <charconv>
#include <cstring>

#include "core/failure.hpp"
#include "errors.hpp"

namespace orvek::py {

std::string Signature::display_name() const {
    std::string text;
    if (owner != nullptr) {
        text += owner;
        text += '.';
    }
    text += name;
    text += "()";
    return text;
}

std::string Signature::text_signature(const char* doc) const {
    std::string text = name;
    text += '(';
    if (owner != nullptr) text += count == 0 ? "$self" : "$self, ";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += ", ";
        text += parameters[i];
        if (i >= required) {
            text += '=';
            text += defaults[i - required];
        }
    }
    text += ")\n--\n\n";
    text += doc;
    return text;
}

namespace {

// The value of a default written as Python source: None, True, False, an integer or
// a decimal float (read without regard to the C locale).
Ref default_value(const char* source) {
    if (std::strcmp(source, "None") == 0) return Ref::borrow(Py_None);
    if (std::strcmp(source, "False") == 0) return Ref::borrow(Py_False);
    if (std::strcmp(source, "True") == 0) return Ref::borrow(Py_True);
    const char* end = source + std::strlen(source);
    if (std::strpbrk(source, ".eE") != nullptr) {
        double value = 0.0;
        auto [stop, error] = std::from_chars(source, end, value);
        if (error != std::errc() || stop != end) throw orvek::InternalFault("malformed float default");
        return created(PyFloat_FromDouble(value));
    }
    long long value = 0;
    auto [stop, error] = std::from_chars(source, end, value);
    if (error != std::errc() || stop != end) throw orvek::InternalFault("malformed integer default");
    return created(PyLong_FromLongLong(value));
}

PythonError too_many_positional(const Signature& signature, std::size_t given) {
    const std::string f = signature.display_name();
    const char* verb = given == 1 ? "was" : "were";
    if (signature.required == signature.count) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zu %s given", f.c_str(),
                     signature.count, given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zu %s given",
                     f.c_str(), signature.required, signature.count, given, verb);
    }
    return PythonError{};
}

PythonError missing_required(const Signature& signature, const std::array<PyObject*, kMaxParameters>& items) {
    std::size_t missing[kMaxParameters];
    std::size_t k = 0;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (items[i] == nullptr) missing[k++] = i;
    }
    // 'a'; 'a' and 'b'; 'a', 'b', and 'c'
    std::string names;
    for (std::size_t j = 0; j < k; ++j) {
        if (j > 0) names += k == 2 ? " and " : (j + 1 == k ? ", and " : ", ");
        names += '\'';
        names += signature.parameters[missing[j]];
        names += '\'';
    }
    const std::string f = signature.display_name();
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", f.c_str(), k,
                 k == 1 ? "" : "s", names.c_str());
    return PythonError{};
}

}  // namespace

class Binder {
public:
    Binder(const Signature& signature, BoundArguments& bound) : signature_(signature), bound_(bound) {
        bound_.count_ = signature.count;
    }

    void positional(PyObject* const* args, std::size_t nargs) {
        if (nargs > signature_.count) throw too_many_positional(signature_, nargs);
        for (std::size_t i = 0; i < nargs; ++i) bound_.items_[i] = args[i];
    }

    void keyword(PyObject* name, PyObject* value) {
        if (!PyUnicode_Check(name)) {
            const std::string f = signature_.display_name();
            PyErr_Format(PyExc_TypeError, "%s keywords must be strings", f.c_str());
            throw PythonError{};
        }
        for (std::size_t i = 0; i < signature_.count; ++i) {
            if (PyUnicode_CompareWithASCIIString(name, signature_.parameters[i]) != 0) continue;
            if (bound_.items_[i] != nullptr) {
                const std::string f = signature_.display_name();
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", f.c_str(), name);
                throw PythonError{};
            }
            bound_.items_[i] = value;
            return;
        }
        const std::string f = signature_.display_name();
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", f.c_str(), name);
        throw PythonError{};
    }

    void finish() {
        for (std::size_t i = 0; i < signature_.required; ++i) {
            if (bound_.items_[i] == nullptr) throw missing_required(signature_, bound_.items_);
        }
        for (std::size_t i = signature_.required; i < signature_.count; ++i) {
            if (bound_.items_[i] != nullptr) continue;
            bound_.defaults_[i] = default_value(signature_.defaults[i - signature_.required]);
            bound_.items_[i] = bound_.defaults_[i].get();
        }
    }

private:
    const Signature& signature_;
    BoundArguments& bound_;
};

void bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          BoundArguments& bound) {
    Binder binder(signature, bound);
    binder.positional(args, static_cast<std::size_t>(nargs));
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_Size(kwnames);
        if (count < 0) throw PythonError{};
        for (Py_ssize_t i = 0; i < count; ++i) {
            binder.keyword(PyTuple_GetItem(kwnames, i), args[nargs + i]);
        }
    }
    binder.finish();
}

void bind(const Signature& signature, PyObject* args, PyObject* kwargs, BoundArguments& bound) {
    Binder binder(signature, bound);
    const Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
    if (nargs < 0) throw PythonError{};
    if (static_cast<std::size_t>(nargs) > signature.count) {
        throw too_many_positional(signature, static_cast<std::size_t>(nargs));
    }
    PyObject* positional[kMaxParameters];
    for (Py_ssize_t i = 0; i < nargs; ++i) positional[i] = PyTuple_GetItem(args, i);
    binder.positional(positional, static_cast<std::size_t>(nargs));
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) binder.keyword(name, value);
    }
    binder.finish();
}

}  // namespace orvek::py
