// Conversions between Python objects and native values for the function adapters.
//
// Every converter takes a borrowed argument and the parameter's name. On failure it
// leaves a Python exception set and throws PythonError; a TypeError carries the
// prefix "argument '{name}': ", every other class passes through unchanged. The
// dispatcher catches PythonError (and every native failure) in one place.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "py_ref.hpp"
#include "types/samples.hpp"
#include "types/survey.hpp"

namespace orvek::py {

// A Python exception is already set; unwind to the dispatcher, which returns NULL.
struct PythonError {};

// The bound arguments of one call: one borrowed object per parameter, in signature
// order, omitted optional parameters already replaced by their defaults.
class Args {
public:
    Args(PyObject* const* items, std::size_t size) noexcept : items_(items), size_(size) {}
    PyObject* operator[](std::size_t index) const noexcept { return items_[index]; }
    std::size_t size() const noexcept { return size_; }

private:
    PyObject* const* items_;
    std::size_t size_;
};

// ---- scalars and texts -------------------------------------------------------
// str (or subclass) as UTF-8, not copied: valid while the argument object lives.
std::string_view to_text(PyObject* object, const char* name);
// None gives nothing; otherwise as to_text.
std::optional<std::string_view> to_optional_text(PyObject* object, const char* name);
double to_f64(PyObject* object, const char* name);
float to_f32(PyObject* object, const char* name);  // the 64-bit value rounded to 32 bits
std::uint64_t to_size(PyObject* object, const char* name);
std::int16_t to_i16(PyObject* object, const char* name);
std::uint8_t to_u8(PyObject* object, const char* name);
bool to_bool(PyObject* object, const char* name);

// ---- sequences of floats -----------------------------------------------------
// One buffer-protocol view of an object, released when the guard goes.
class BufferGuard {
public:
    BufferGuard() noexcept = default;
    BufferGuard(BufferGuard&& other) noexcept : view_(other.view_), held_(std::exchange(other.held_, false)) {}
    BufferGuard& operator=(BufferGuard&& other) noexcept {
        if (this != &other) {
            release();
            view_ = other.view_;
            held_ = std::exchange(other.held_, false);
        }
        return *this;
    }
    ~BufferGuard() { release(); }

    // Takes over a view filled by PyObject_GetBuffer.
    void adopt(const Py_buffer& view) noexcept {
        release();
        view_ = view;
        held_ = true;
    }
    void release() noexcept {
        if (held_) PyBuffer_Release(&view_);
        held_ = false;
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// The samples of a sequence argument. Read in place from an exact NumPy array or
// buffer exporter holding 1-D native float data where the element type already
// matches; otherwise converted item by item (each item through float(), then
// rounded to 32 bits for F32Samples). Holds the buffer while it lives.
class F32Samples {
public:
    std::span<const float> span() const noexcept { return span_; }
    std::size_t size() const noexcept { return span_.size(); }


private:
    friend F32Samples to_f32_samples(PyObject*, const char*);
    std::vector<float> owned_;
    BufferGuard buffer_;
    std::span<const float> span_;
};

class F64Samples {
public:
    std::span<const double> span() const noexcept { return span_; }
    std::size_t size() const noexcept { return span_.size(); }


private:
    friend F64Samples to_f64_samples(PyObject*, const char*);
    std::vector<double> owned_;
    BufferGuard buffer_;
    std::span<const double> span_;
};

// The samples as the caller holds them (float32 or float64 buffer in place, or a
// 64-bit copy of a list), for consumers that convert element by element.
class SampleInput {
public:
    SampleView view() const noexcept { return view_; }


private:
    friend SampleInput to_samples(PyObject*, const char*);
    std::vector<double> owned_;
    BufferGuard buffer_;
    SampleView view_;
};

F32Samples to_f32_samples(PyObject* object, const char* name);
F64Samples to_f64_samples(PyObject* object, const char* name);
SampleInput to_samples(PyObject* object, const char* name);
// None gives nothing; otherwise as to_f32_samples.
std::optional<F32Samples> to_optional_f32_samples(PyObject* object, const char* name);

// ---- results -----------------------------------------------------------------
// New objects owned by the caller. A failed creation throws (it becomes InternalFault).
Ref none();
Ref int_from(std::uint64_t value);
Ref float_from(double value);
Ref list_from(std::span<const float> values);   // 32-bit values widened exactly
Ref list_from(std::span<const double> values);

// A new list of `size` floats filled in order, piece by piece, for a result that a
// routine hands over in parts; finish() gives the list once every element is set.
class FloatListWriter {
public:
    explicit FloatListWriter(std::size_t size);
    void append(std::span<const double> values);
    Ref finish() &&;

private:
    Ref list_;
    std::size_t size_;
    std::size_t filled_ = 0;
};

Ref survey_object(Survey&& survey);  // moves the record into a new PySurvey

}  // namespace orvek::py
