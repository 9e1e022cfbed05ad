// NumPy's C API table, loaded lazily, and the array operations of the migration call.
#include "numpy_api.hpp"

#include "convert.hpp"
#include "errors.hpp"

// The API table stays private to this file. The built module must work with NumPy 1.x
// at run time, so only functions that NumPy 1.22 already exports are used.
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

namespace orvek::py {
namespace {

// True once NumPy's table is loaded; false while NumPy has not been imported by anyone.
bool numpy_available() {
    if (PyArray_API != nullptr) return true;
    Ref name = Ref::steal(PyUnicode_FromString("numpy"));
    if (!name) throw PythonError{};
    Ref numpy = Ref::steal(PyImport_GetModule(name.get()));
    if (!numpy) {
        if (PyErr_Occurred()) throw PythonError{};
        return false;
    }
    // NumPy is loaded, so this imports nothing new: it fetches the capsule from
    // numpy._core._multiarray_umath (2.x) or numpy.core._multiarray_umath (1.x) and
    // checks the ABI and feature versions.
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        throw PythonError{};
    }
    return true;
}

}  // namespace

std::optional<dsp::ProfileView> profile_view(PyObject* object) {
    if (!numpy_available() || !PyArray_Check(object)) return std::nullopt;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != 2) return std::nullopt;
    PyArray_Descr* float64 = PyArray_DescrFromType(NPY_DOUBLE);
    if (float64 == nullptr) throw PythonError{};
    const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(array), float64);
    Py_DECREF(float64);
    if (!equivalent) return std::nullopt;
    const npy_intp* dims = PyArray_DIMS(array);
    const npy_intp* strides = PyArray_STRIDES(array);
    return dsp::ProfileView{static_cast<const unsigned char*>(PyArray_DATA(array)),
                            static_cast<std::size_t>(dims[0]), static_cast<std::size_t>(dims[1]),
                            static_cast<std::ptrdiff_t>(strides[0]), static_cast<std::ptrdiff_t>(strides[1])};
}

Ref new_zeroed_profile(std::size_t n_traces, std::size_t n_samples, double*& data) {
    if (!numpy_available()) {  // only reached after an array was accepted
        PyErr_SetString(PyExc_RuntimeError, "NumPy is not loaded");
        throw PythonError{};
    }
    npy_intp dims[2] = {static_cast<npy_intp>(n_traces), static_cast<npy_intp>(n_samples)};
    // PyArray_Zeros takes over the descriptor's reference, also when it fails; NumPy
    // allocates the zeroed buffer with its own allocator and frees it with the array.
    Ref array = created(PyArray_Zeros(2, dims, PyArray_DescrFromType(NPY_DOUBLE), 0));
    data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
    return array;
}

}  // namespace orvek::py
