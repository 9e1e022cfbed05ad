// Argument binding: one description per callable (function, method or constructor)
// and one binder that fills the parameters from positional and keyword arguments and
// words every binding error.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>

#include "convert.hpp"

namespace orvek::py {

inline constexpr std::size_t kMaxParameters = 10;

// How a callable takes its arguments. Every parameter may be given by position or by
// keyword; the first `required` must be given, the others take their default. A
// default is written as Python source ("None", "False", "30", "0.01"): the same text
// appears in the text signature and is turned into the value of an omitted argument.
struct Signature {
    const char* name;   // "parse_dzt", "add_step", "__new__"
    const char* owner;  // the class of a method ("PySurvey"), nullptr for a function
    std::array<const char*, kMaxParameters> parameters;
    std::size_t count;  // number of parameters
    std::size_t required;
    std::array<const char*, kMaxParameters> defaults;  // for parameters required..count-1

    // "parse_dzt()" or "PySurvey.add_step()": the callable as binding errors name it.
    std::string display_name() const;
    // "parse_dt1(path, hd_content=None)\n--\n\n" (methods: "add_step($self, name, ...)"),
    // followed by `doc`.
    std::string text_signature(const char* doc = "") const;
};

// Builds a Signature from a parameter list and the defaults of its trailing optional
// parameters, so that a table row reads like the Python signature.
consteval Signature signature(const char* name, const char* owner,
                              std::initializer_list<const char*> parameters,
                              std::initializer_list<const char*> defaults) {
    Signature s{name, owner, {}, parameters.size(), parameters.size() - defaults.size(), {}};
    if (parameters.size() > kMaxParameters || defaults.size() > parameters.size()) {
        throw "a signature has too many parameters or defaults";  // rejected at compile time
    }
    std::size_t i = 0;
    for (const char* parameter : parameters) s.parameters[i++] = parameter;
    i = 0;
    for (const char* value : defaults) s.defaults[i++] = value;
    return s;
}

// The arguments of one call, bound to the parameters in signature order. Given
// arguments are borrowed from the call; defaults are owned here.
class BoundArguments {
public:
    Args args() const noexcept { return Args(items_.data(), count_); }
    PyObject* operator[](std::size_t index) const noexcept { return items_[index]; }

private:
    friend class Binder;
    std::array<PyObject*, kMaxParameters> items_{};
    std::array<Ref, kMaxParameters> defaults_;
    std::size_t count_ = 0;
};

// Binds a vectorcall (METH_FASTCALL | METH_KEYWORDS): `nargs` positional arguments in
// `args`, their keyword names in `kwnames` (or null) with values following them.
// Throws PythonError with the binding error set.
void bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          BoundArguments& bound);
// Binds a classic call (tp_new): a tuple of positional arguments and a dict (or null).
void bind(const Signature& signature, PyObject* args, PyObject* kwargs, BoundArguments& bound);

}  // namespace orvek::py
