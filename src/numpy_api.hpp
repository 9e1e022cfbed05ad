// NumPy's C API, taken on first use from the "_ARRAY_API" capsule of NumPy's multiarray
// module (NumPy 1.x and 2.x). Importing orvek_core never imports NumPy: while NumPy is
// not in sys.modules, no object can be one of its arrays, and nothing here imports it.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>

#include "dsp/migration.hpp"
#include "py_ref.hpp"

namespace orvek::py {

// The name under which argument errors name the profile array type.
inline constexpr const char* kProfileTypeName = "ndarray[float64, 2-D]";

// A read-only view of `object` when it is a NumPy array (or subclass) with exactly two
// dimensions and an element type that NumPy deems equivalent to native float64;
// nothing otherwise (no exception set). The view lives as long as the array keeps its
// buffer and shape. Throws PythonError when NumPy is loaded but its C API cannot be had.
std::optional<dsp::ProfileView> profile_view(PyObject* object);

// A new C-ordered float64 array of shape (n_traces, n_samples), zero-filled and owned
// by NumPy, with `data` pointing to its first element. Throws PythonError on failure.
Ref new_zeroed_profile(std::size_t n_traces, std::size_t n_samples, double*& data);

}  // namespace orvek::py
