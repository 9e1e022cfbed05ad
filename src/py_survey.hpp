// The two classes of the module: PySurvey (the survey record) and PyProcessingStep
// (one entry of its processing history).
#pragma once

#include <Python.h>

namespace orvek::py {

// The class objects, created from their specifications on first use and kept for the
// life of the process. Borrowed references, or nullptr with an exception set.
PyObject* survey_type() noexcept;
PyObject* step_type() noexcept;

}  // namespace orvek::py
