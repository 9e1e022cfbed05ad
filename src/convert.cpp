// Argument and result conversions between Python objects and native values.
#include "convert.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "core/failure.hpp"
#include "errors.hpp"

namespace orvek::py {

// ---- scalars and texts -------------------------------------------------------

std::string_view to_text(PyObject* object, const char* name) {
    if (!PyUnicode_Check(object)) {
        fail_type(object, "PyString");
        throw argument_failure(name);
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);  // unpaired surrogates: UnicodeEncodeError
    if (data == nullptr) throw argument_failure(name);
    return {data, static_cast<std::size_t>(size)};
}

std::optional<std::string_view> to_optional_text(PyObject* object, const char* name) {
    if (object == Py_None) return std::nullopt;
    return to_text(object, name);
}

double to_f64(PyObject* object, const char* name) {
    const double value = PyFloat_AsDouble(object);  // float, int, __float__, __index__
    if (value == -1.0 && PyErr_Occurred()) throw argument_failure(name);
    return value;
}

float to_f32(PyObject* object, const char* name) {
    return static_cast<float>(to_f64(object, name));
}

std::uint64_t to_size(PyObject* object, const char* name) {
    Ref index;
    if (!PyLong_Check(object)) {
        index = Ref::steal(PyNumber_Index(object));
        if (!index) throw argument_failure(name);
        object = index.get();
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);  // negative: OverflowError
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw argument_failure(name);
    return value;
}

namespace {

// An integer through __index__, read as a signed 64-bit value, then narrowed.
template <class Narrow>
Narrow to_small_integer(PyObject* object, const char* name) {
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) throw argument_failure(name);
    if (value < std::numeric_limits<Narrow>::min() || value > std::numeric_limits<Narrow>::max()) {
        throw fail(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<Narrow>(value);
}

// Whether the type of `object` is exactly `module`.`name` (no subclass), found by
// name so that the module never imports NumPy itself.
bool is_exact_type(PyObject* object, const char* module, const char* name) {
    PyTypeObject* type = Py_TYPE(object);
    Ref type_name = Ref::steal(PyType_GetName(type));
    if (!type_name) creation_failed();
    if (PyUnicode_CompareWithASCIIString(type_name.get(), name) != 0) return false;
    Ref module_name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module_name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(module_name.get()) &&
           PyUnicode_CompareWithASCIIString(module_name.get(), module) == 0;
}

}  // namespace

std::int16_t to_i16(PyObject* object, const char* name) {
    return to_small_integer<std::int16_t>(object, name);
}
std::uint8_t to_u8(PyObject* object, const char* name) {
    return to_small_integer<std::uint8_t>(object, name);
}

bool to_bool(PyObject* object, const char* name) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    if (is_exact_type(object, "numpy", "bool_") || is_exact_type(object, "numpy", "bool")) {
        const int truth = PyObject_IsTrue(object);
        if (truth < 0) throw argument_failure(name);
        return truth != 0;
    }
    fail_type(object, "PyBool");
    throw argument_failure(name);
}

// ---- sequences of floats -----------------------------------------------------

namespace {

// A held Py_buffer of one-dimensional native float data from an exact exporter.
struct FloatBuffer {
    Py_buffer view{};
    bool held = false;
    SampleView::Type type = SampleView::Type::f64;
    std::size_t size = 0;

    FloatBuffer() = default;
    FloatBuffer(const FloatBuffer&) = delete;
    FloatBuffer& operator=(const FloatBuffer&) = delete;
    ~FloatBuffer() { release(); }
    void release() noexcept {
        if (held) PyBuffer_Release(&view);
        held = false;
    }

    // Contiguous, and aligned for element type T: can be read in place as T.
    template <class T>
    bool in_place_as() const noexcept {
        return sizeof(T) == static_cast<std::size_t>(view.itemsize) &&
               (type == SampleView::Type::f64) == std::is_same_v<T, double> &&
               view.strides[0] == view.itemsize &&
               reinterpret_cast<std::uintptr_t>(view.buf) % alignof(T) == 0;
    }

    // Element i widened to 64 bits, wherever the strides put it.
    double at(std::size_t i) const noexcept {
        const char* p = static_cast<const char*>(view.buf) + static_cast<Py_ssize_t>(i) * view.strides[0];
        if (type == SampleView::Type::f32) {
            float value;
            std::memcpy(&value, p, sizeof value);
            return value;
        }
        double value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
};

// The element type of a struct-module format, if it is a native-order float32 or
// float64: "d", "@d", "=d" and, on a little-endian machine, "<d".
bool native_float_format(const char* format, Py_ssize_t itemsize, SampleView::Type& type) {
    if (format == nullptr) return false;
    if (*format == '@' || *format == '=' || (std::endian::native == std::endian::little && *format == '<')) {
        ++format;
    }
    if (format[0] == 'd' && format[1] == '\0' && itemsize == 8) {
        type = SampleView::Type::f64;
        return true;
    }
    if (format[0] == 'f' && format[1] == '\0' && itemsize == 4) {
        type = SampleView::Type::f32;
        return true;
    }
    return false;
}

// Opens the fast path: an exact numpy.ndarray, array.array or memoryview (never a
// subclass, whose iteration could differ from its buffer) exporting one-dimensional
// native float32 or float64 data. Anything else leaves `buffer` unheld.
void open_float_buffer(PyObject* object, FloatBuffer& buffer) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyList_Type || type == &PyTuple_Type) return;
    if (type != &PyMemoryView_Type && !is_exact_type(object, "numpy", "ndarray") &&
        !is_exact_type(object, "array", "array")) {
        return;
    }
    if (PyObject_GetBuffer(object, &buffer.view, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();  // an object array, say: the item path decides
        return;
    }
    buffer.held = true;
    if (buffer.view.ndim != 1 || buffer.view.suboffsets != nullptr || buffer.view.shape == nullptr ||
        buffer.view.strides == nullptr ||
        !native_float_format(buffer.view.format, buffer.view.itemsize, buffer.type)) {
        buffer.release();
        return;
    }
    buffer.size = static_cast<std::size_t>(buffer.view.shape[0]);
}

// One item through float(), held by the caller while its __float__ or __index__ runs.
inline double item_value(PyObject* item, const char* name) {
    const double value = PyFloat_AsDouble(item);
    if (value == -1.0 && PyErr_Occurred()) throw argument_failure(name);
    return value;
}

// An exact list or tuple, read by index the way its own iterator reads it: the step
// stops as soon as the index reaches the current length, so a list that some item's
// __float__ shrinks or extends is followed exactly as iteration would follow it. An
// exact float runs no Python code while it converts (nothing can change the sequence,
// so its own reference suffices and the length stays as read); any other item is held
// while it converts, and the length is read again afterwards.
template <class T, Py_ssize_t (*length_of)(PyObject*), PyObject* (*item_at)(PyObject*, Py_ssize_t)>
void collect_indexed(PyObject* sequence, const char* name, std::vector<T>& out) {
    const Ref held = Ref::borrow(sequence);
    Py_ssize_t length = length_of(sequence);
    out.reserve(static_cast<std::size_t>(length));  // the items already exist: the length is real
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyObject* item = item_at(sequence, i);
        if (PyFloat_CheckExact(item)) {
            out.push_back(static_cast<T>(PyFloat_AsDouble(item)));  // cannot fail
            continue;
        }
        const Ref strong = Ref::borrow(item);
        out.push_back(static_cast<T>(item_value(strong.get(), name)));
        length = length_of(sequence);
    }
}

// The item path: any object that passes the sequence check, iterated with a strong
// reference to each item while it converts (its __float__ may change the sequence).
template <class T>
void collect_items(PyObject* object, const char* name, std::vector<T>& out) {
    if (PyUnicode_Check(object)) {
        fail(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw argument_failure(name);
    }
    if (!PySequence_Check(object)) {
        fail_type(object, "Sequence");
        throw argument_failure(name);
    }
    if (PyList_CheckExact(object)) {
        collect_indexed<T, PyList_Size, PyList_GetItem>(object, name, out);
        return;
    }
    if (PyTuple_CheckExact(object)) {
        collect_indexed<T, PyTuple_Size, PyTuple_GetItem>(object, name, out);
        return;
    }
    // The reported length is only a hint: capped, so that a lying __len__ costs nothing.
    constexpr Py_ssize_t kMaxHint = Py_ssize_t{1} << 20;
    const Py_ssize_t hint = PySequence_Size(object);
    if (hint < 0) PyErr_Clear();
    out.reserve(static_cast<std::size_t>(std::clamp<Py_ssize_t>(hint, 0, kMaxHint)));
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) throw argument_failure(name);
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        out.push_back(static_cast<T>(item_value(item.get(), name)));
    }
    if (PyErr_Occurred()) throw argument_failure(name);
}

template <class T>
void copy_buffer(const FloatBuffer& buffer, std::vector<T>& out) {
    out.resize(buffer.size);
    for (std::size_t i = 0; i < buffer.size; ++i) out[i] = static_cast<T>(buffer.at(i));
}

}  // namespace

F32Samples to_f32_samples(PyObject* object, const char* name) {
    F32Samples samples;
    FloatBuffer buffer;
    open_float_buffer(object, buffer);
    if (buffer.held && buffer.in_place_as<float>()) {
        samples.span_ = {static_cast<const float*>(buffer.view.buf), buffer.size};
        samples.buffer_.adopt(buffer.view);
        buffer.held = false;
        return samples;
    }
    if (buffer.held) {
        copy_buffer(buffer, samples.owned_);
    } else {
        collect_items(object, name, samples.owned_);
    }
    samples.span_ = samples.owned_;
    return samples;
}

F64Samples to_f64_samples(PyObject* object, const char* name) {
    F64Samples samples;
    FloatBuffer buffer;
    open_float_buffer(object, buffer);
    if (buffer.held && buffer.in_place_as<double>()) {
        samples.span_ = {static_cast<const double*>(buffer.view.buf), buffer.size};
        samples.buffer_.adopt(buffer.view);
        buffer.held = false;
        return samples;
    }
    if (buffer.held) {
        copy_buffer(buffer, samples.owned_);
    } else {
        collect_items(object, name, samples.owned_);
    }
    samples.span_ = samples.owned_;
    return samples;
}

SampleInput to_samples(PyObject* object, const char* name) {
    SampleInput input;
    FloatBuffer buffer;
    open_float_buffer(object, buffer);
    if (buffer.held &&
        (buffer.type == SampleView::Type::f32 ? buffer.in_place_as<float>() : buffer.in_place_as<double>())) {
        input.view_ = SampleView{buffer.type, buffer.view.buf, buffer.size};
        input.buffer_.adopt(buffer.view);
        buffer.held = false;
        return input;
    }
    if (buffer.held) {
        copy_buffer(buffer, input.owned_);
    } else {
        collect_items(object, name, input.owned_);
    }
    input.view_ = SampleView{SampleView::Type::f64, input.owned_.data(), input.owned_.size()};
    return input;
}

std::optional<F32Samples> to_optional_f32_samples(PyObject* object, const char* name) {
    if (object == Py_None) return std::nullopt;
    return to_f32_samples(object, name);
}

// ---- results -----------------------------------------------------------------

Ref none() {
    return Ref::borrow(Py_None);
}

Ref int_from(std::uint64_t value) {
    return created(PyLong_FromUnsignedLongLong(value));
}

Ref float_from(double value) {
    return created(PyFloat_FromDouble(value));
}

namespace {

// Sets list[offset + i] to a new float of values[i], widened exactly.
template <class T>
void set_floats(PyObject* list, std::size_t offset, std::span<const T> values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(static_cast<double>(values[i]));
        if (item == nullptr) creation_failed();
        PyList_SetItem(list, static_cast<Py_ssize_t>(offset + i), item);  // steals `item`
    }
}

template <class T>
Ref float_list(std::span<const T> values) {
    Ref list = created(PyList_New(static_cast<Py_ssize_t>(values.size())));
    set_floats(list.get(), 0, values);
    return list;
}

}  // namespace

Ref list_from(std::span<const float> values) {
    return float_list(values);
}
Ref list_from(std::span<const double> values) {
    return float_list(values);
}

FloatListWriter::FloatListWriter(std::size_t size)
    : list_(created(PyList_New(static_cast<Py_ssize_t>(size)))), size_(size) {}

void FloatListWriter::append(std::span<const double> values) {
    if (values.size() > size_ - filled_) throw InternalFault("more floats than the list was made for");
    set_floats(list_.get(), filled_, values);
    filled_ += values.size();
}

Ref FloatListWriter::finish() && {
    // A list with unset elements must never reach Python code.
    if (filled_ != size_) throw InternalFault("fewer floats than the list was made for");
    return std::move(list_);
}

}  // namespace orvek::py
