// Module entry: the function table, the owning-interpreter rule and the registration
// of the two classes and the fourteen functions.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "binder.hpp"
#include "core/failure.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "py_survey.hpp"

namespace orvek::py {
namespace {

// One row per exported function, in registration order. Adding a function is adding
// a row: the binder reads the signature, the adapter converts and runs the routine.
struct FunctionRow {
    Signature signature;
    Ref (*adapter)(const Args&);
};

constexpr FunctionRow kFunctions[] = {
    {signature("parse_dzt", nullptr, {"path"}, {}), call_parse_dzt},
    {signature("parse_dt1", nullptr, {"path", "hd_content"}, {"None"}), call_parse_dt1},
    {signature("parse_dzg", nullptr, {"path"}, {}), call_parse_dzg},
    {signature("parse_magnetometry", nullptr, {"dat_path", "grd_path"}, {}), call_parse_magnetometry},
    {signature("parse_segy", nullptr, {"path"}, {}), call_parse_segy},
    {signature("parse_mala", nullptr, {"path", "rad_content", "is_rd7"}, {"False"}), call_parse_mala},
    {signature("write_segy", nullptr,
               {"path", "traces", "n_traces", "n_samples", "sample_interval_ns", "description", "format_code",
                "trace_x_coords", "trace_y_coords", "measurement_system"},
               {"None", "None", "1"}),
     call_write_segy},
    {signature("apply_dewow", nullptr, {"data", "window_size"}, {}), call_apply_dewow},
    {signature("apply_bandpass", nullptr, {"data", "sample_rate", "low_cut", "high_cut"}, {}),
     call_apply_bandpass},
    {signature("apply_sec_gain", nullptr, {"data", "sample_rate", "alpha"}, {}), call_apply_sec_gain},
    {signature("apply_agc", nullptr, {"data", "window_size"}, {}), call_apply_agc},
    {signature("apply_kirchhoff_migration", nullptr,
               {"data", "velocity_m_ns", "sample_interval_ns", "trace_spacing_m", "aperture_traces"},
               {"0.1", "0.1", "0.05", "30"}),
     call_apply_kirchhoff_migration},
    {signature("apply_spike_deconv", nullptr,
               {"data", "n_traces", "n_samples", "operator_length", "pre_whitening"}, {"32", "0.01"}),
     call_apply_spike_deconv},
    {signature("apply_gapped_deconv", nullptr,
               {"data", "n_traces", "n_samples", "operator_length", "gap", "pre_whitening"},
               {"32", "1", "0.01"}),
     call_apply_gapped_deconv},
};
constexpr std::size_t kFunctionCount = std::size(kFunctions);

// Every exported call: bind, run the adapter (which converts and calls the routine),
// and hand back its new reference; every failure becomes one Python exception.
PyObject* call_function(const FunctionRow& row, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArguments bound;
        bind(row.signature, args, nargs, kwnames, bound);
        Ref result = row.adapter(bound.args());
        if (!result) {
            if (PyErr_Occurred()) throw PythonError{};
            throw orvek::InternalFault(std::string(row.signature.name) + " returned no result");
        }
        return result.release();
    });
}

template <std::size_t I>
PyObject* function_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_function(kFunctions[I], args, nargs, kwnames);
}

// The method definitions must outlive the function objects: built once, never freed.
template <std::size_t... I>
PyMethodDef* function_definitions(std::index_sequence<I...>) {
    static const std::array<std::string, kFunctionCount> docs = {kFunctions[I].signature.text_signature()...};
    static std::array<PyMethodDef, kFunctionCount> definitions = {
        PyMethodDef{kFunctions[I].signature.name,
                    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function_entry<I>)),
                    METH_FASTCALL | METH_KEYWORDS, docs[I].c_str()}...};
    return definitions.data();
}

constexpr const char* kSubinterpreterMessage =
    "orvek_core does not support sub-interpreters: it can be imported by one interpreter per process only";

std::atomic<std::int64_t> owning_interpreter{-1};  // unset until the first import
PyObject* module_object = nullptr;                 // kept for the life of the process

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "orvek_core",
    "ORVEK core Python module.",
    0,  // not -1: a repeated import calls the entry point again, which returns the kept module
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Sets the module attribute and appends the name to __all__ (created on first use).
// A failure here fails the import with the interpreter's own exception.
void add_name(PyObject* module, const char* name, PyObject* value) {
    if (PyModule_AddObjectRef(module, name, value) < 0) throw PythonError{};
    PyObject* dict = checked(PyModule_GetDict(module));     // borrowed
    PyObject* all = PyDict_GetItemString(dict, "__all__");  // borrowed
    if (all == nullptr) {
        Ref list = Ref::steal(checked(PyList_New(0)));
        if (PyDict_SetItemString(dict, "__all__", list.get()) < 0) throw PythonError{};
        all = list.get();
    }
    Ref text = Ref::steal(checked(PyUnicode_FromString(name)));
    if (PyList_Append(all, text.get()) < 0) throw PythonError{};
}

PyObject* create_module() {
    Ref module = Ref::steal(checked(PyModule_Create(&module_definition)));
    add_name(module.get(), "PySurvey", checked(survey_type()));
    add_name(module.get(), "PyProcessingStep", checked(step_type()));
    Ref module_name = Ref::steal(checked(PyModule_GetNameObject(module.get())));
    PyMethodDef* definitions = function_definitions(std::make_index_sequence<kFunctionCount>());
    for (std::size_t i = 0; i < kFunctionCount; ++i) {
        Ref function =
            Ref::steal(checked(PyCFunction_NewEx(&definitions[i], module.get(), module_name.get())));
        add_name(module.get(), definitions[i].ml_name, function.get());
    }
    return module.release();
}

PyObject* initialise() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current < 0) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        throw PythonError{};
    }
    std::int64_t owner = -1;
    if (!owning_interpreter.compare_exchange_strong(owner, current) && owner != current) {
        throw fail(PyExc_ImportError, kSubinterpreterMessage);
    }
    if (module_object == nullptr) module_object = create_module();  // a failure leaves it unset
    return Py_NewRef(module_object);
}

}  // namespace
}  // namespace orvek::py

PyMODINIT_FUNC PyInit_orvek_core() {
    return orvek::py::guarded(orvek::py::initialise);
}
