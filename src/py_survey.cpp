// PySurvey and PyProcessingStep: type objects, attributes, methods and the borrow
// state that turns re-entrant misuse into an orderly RuntimeError.
#include "py_survey.hpp"

#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "binder.hpp"
#include "convert.hpp"
#include "core/failure.hpp"
#include "errors.hpp"
#include "types/survey.hpp"

namespace orvek::py {

namespace {

// Free, read by `state` readers (> 0), or held by one writer (-1).
class BorrowFlag {
public:
    bool writing() const noexcept { return state_ < 0; }
    bool free() const noexcept { return state_ == 0; }

private:
    friend class ReadBorrow;
    friend class WriteBorrow;
    std::int64_t state_ = 0;
};

class ReadBorrow {
public:
    explicit ReadBorrow(BorrowFlag& flag) : flag_(flag) {
        if (flag.writing()) throw fail(PyExc_RuntimeError, "Already mutably borrowed");
        ++flag_.state_;
    }
    ~ReadBorrow() { --flag_.state_; }
    ReadBorrow(const ReadBorrow&) = delete;
    ReadBorrow& operator=(const ReadBorrow&) = delete;

private:
    BorrowFlag& flag_;
};

class WriteBorrow {
public:
    explicit WriteBorrow(BorrowFlag& flag) : flag_(flag) {
        if (!flag.free()) throw fail(PyExc_RuntimeError, "Already borrowed");
        flag_.state_ = -1;
    }
    ~WriteBorrow() { flag_.state_ = 0; }
    WriteBorrow(const WriteBorrow&) = delete;
    WriteBorrow& operator=(const WriteBorrow&) = delete;

private:
    BorrowFlag& flag_;
};

struct SurveyObject {
    PyObject ob_base;
    Survey survey;
    BorrowFlag borrow;
};

struct StepObject {
    PyObject ob_base;
    ProcessingStep step;
    BorrowFlag borrow;
};

SurveyObject& as_survey(PyObject* self) {
    return *reinterpret_cast<SurveyObject*>(self);
}
StepObject& as_step(PyObject* self) {
    return *reinterpret_cast<StepObject*>(self);
}

PyObject* survey_class = nullptr;  // created once, kept for the process
PyObject* step_class = nullptr;

// A fresh instance of `type` with its payload constructed from `value`.
template <class Object, class Value>
Ref instance_of(PyObject* type, std::type_identity_t<Value>&& value, Value Object::*member) {
    auto alloc =
        reinterpret_cast<allocfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
    PyObject* self = alloc(reinterpret_cast<PyTypeObject*>(type), 0);
    if (self == nullptr) creation_failed();
    Object* object = reinterpret_cast<Object*>(self);
    new (&(object->*member)) Value(std::move(value));
    new (&object->borrow) BorrowFlag();
    return Ref::steal(self);
}

template <class Object, class Value>
void destroy_instance(PyObject* self, Value Object::*member) {
    PyTypeObject* type = Py_TYPE(self);
    Object* object = reinterpret_cast<Object*>(self);
    (object->*member).~Value();
    auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_memory(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

// ---- value conversions shared by the attributes --------------------------------

Ref text_object(const std::string& text) {
    // Texts come from str arguments or fixed names, so they are valid UTF-8; any other
    // byte would be replaced rather than fail the read.
    return created(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

Ref small_int(long value) {
    return created(PyLong_FromLong(value));
}

Ref byte_list(const ByteBuffer& bytes) {
    Ref list = created(PyList_New(static_cast<Py_ssize_t>(bytes.size())));
    const std::uint8_t* data = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        PyObject* item = PyLong_FromLong(data[i]);
        if (item == nullptr) creation_failed();
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals `item`
    }
    return list;
}

Ref step_object(ProcessingStep step) {
    PyObject* type = step_type();
    if (type == nullptr) creation_failed();
    return instance_of<StepObject>(type, std::move(step), &StepObject::step);
}

Ref history_list(const std::vector<ProcessingStep>& history) {
    Ref list = created(PyList_New(static_cast<Py_ssize_t>(history.size())));
    for (std::size_t i = 0; i < history.size(); ++i) {
        Ref step = step_object(history[i]);  // a copy: the stored step stays out of reach
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), step.release());
    }
    return list;
}

// ---- PySurvey -------------------------------------------------------------------

constexpr const char* kSurveyDoc =
    "PySurvey(path, format)\n--\n\n"
    "A geophysical survey \xE2\x80\x94 the core data model.\n\n"
    "Holds memory-mapped trace data, header metadata, coordinate system,\n"
    "and an immutable processing history DAG.";

constexpr Signature kSurveyNew = signature("__new__", "PySurvey", {"path", "format"}, {});
constexpr Signature kAddStep = signature("add_step", "PySurvey", {"name", "parameters"}, {});
constexpr Signature kGetHistory = signature("get_history", "PySurvey", {}, {});

// One read-only attribute per record field, in declaration order.
struct SurveyField {
    const char* name;
    const char* doc;  // nullptr: no docstring
    Ref (*read)(const Survey&);
};

const SurveyField kSurveyFields[] = {
    {"path", nullptr, [](const Survey& s) { return text_object(s.path); }},
    {"format", nullptr, [](const Survey& s) { return text_object(s.format); }},
    {"num_traces", nullptr, [](const Survey& s) { return int_from(s.num_traces); }},
    {"samples_per_trace", nullptr, [](const Survey& s) { return int_from(s.samples_per_trace); }},
    {"bits_per_sample", nullptr, [](const Survey& s) { return small_int(s.bits_per_sample); }},
    {"format_code",
     "Data format code (SEG-Y specific: 1=IBM, 2=int32, 3=int16, 5=IEEE float, 8=int8; 0=not applicable)",
     [](const Survey& s) { return small_int(s.format_code); }},
    {"measurement_system", "SEG-Y measurement system (1=meters, 2=feet; 0=not applicable)",
     [](const Survey& s) { return small_int(s.measurement_system); }},
    {"sample_interval_ns", nullptr, [](const Survey& s) { return float_from(s.sample_interval_ns); }},
    {"traces_per_second", nullptr, [](const Survey& s) { return float_from(s.traces_per_second); }},
    {"traces_per_meter", nullptr, [](const Survey& s) { return float_from(s.traces_per_meter); }},
    {"time_zero_ns", nullptr, [](const Survey& s) { return float_from(s.time_zero_ns); }},
    {"time_window_ns", nullptr, [](const Survey& s) { return float_from(s.time_window_ns); }},
    {"channels", nullptr, [](const Survey& s) { return small_int(s.channels); }},
    {"header_offset", nullptr, [](const Survey& s) { return int_from(s.header_offset); }},
    {"trace_data",
     "Raw trace data bytes (contiguous, for formats with interleaved headers like DT1).\n"
     "Empty for formats where Python memory-maps directly (DZT).",
     [](const Survey& s) { return byte_list(s.trace_data); }},
    {"trace_positions", "Per-trace odometer positions (m), one per trace.",
     [](const Survey& s) { return list_from(std::span<const float>(s.trace_positions)); }},
    {"trace_time_zeros", "Per-trace time-zero offsets (ns), one per trace.",
     [](const Survey& s) { return list_from(std::span<const float>(s.trace_time_zeros)); }},
    {"trace_elevations", "Per-trace elevations (m), one per trace.",
     [](const Survey& s) { return list_from(std::span<const float>(s.trace_elevations)); }},
    {"src_x_coords", "Per-trace GPS easting coordinates (SEG-Y scaled src_x), one per trace.",
     [](const Survey& s) { return list_from(std::span<const float>(s.src_x_coords)); }},
    {"src_y_coords", "Per-trace GPS northing coordinates (SEG-Y scaled src_y), one per trace.",
     [](const Survey& s) { return list_from(std::span<const float>(s.src_y_coords)); }},
    {"cell_size", "Grid metadata \xE2\x80\x94 cell size in meters (magnetometry / grd).",
     [](const Survey& s) { return float_from(s.cell_size); }},
    {"origin_easting", "Grid metadata \xE2\x80\x94 origin easting (magnetometry / grd).",
     [](const Survey& s) { return float_from(s.origin_easting); }},
    {"origin_northing", "Grid metadata \xE2\x80\x94 origin northing (magnetometry / grd).",
     [](const Survey& s) { return float_from(s.origin_northing); }},
    {"rotation_deg", "Grid metadata \xE2\x80\x94 rotation angle in degrees (magnetometry / grd).",
     [](const Survey& s) { return float_from(s.rotation_deg); }},
    {"zigzag", "Grid metadata \xE2\x80\x94 whether rows alternate direction (magnetometry / grd).",
     [](const Survey& s) { return Ref::borrow(s.zigzag ? Py_True : Py_False); }},
    {"history", nullptr, [](const Survey& s) { return history_list(s.history); }},
};
constexpr std::size_t kSurveyFieldCount = std::size(kSurveyFields);

// The receiver of a PySurvey method.
SurveyObject& receiver(PyObject* self) {
    PyObject* type = survey_type();
    if (type == nullptr) throw PythonError{};
    if (!PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(type))) throw fail_type(self, "PySurvey");
    return as_survey(self);
}

PyObject* survey_get(PyObject* self, void* closure) {
    return guarded([&] {
        const auto& field = *static_cast<const SurveyField*>(closure);
        SurveyObject& object = as_survey(self);
        ReadBorrow borrow(object.borrow);
        return field.read(object.survey).release();
    });
}

PyObject* survey_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        BoundArguments bound;
        bind(kSurveyNew, args, kwargs, bound);
        Survey survey;
        survey.path = to_text(bound[0], "path");
        survey.format = to_text(bound[1], "format");
        return instance_of<SurveyObject>(reinterpret_cast<PyObject*>(type), std::move(survey),
                                         &SurveyObject::survey)
            .release();
    });
}

void survey_dealloc(PyObject* self) {
    destroy_instance(self, &SurveyObject::survey);
}

PyObject* survey_repr_slot(PyObject* self) {
    return guarded([&] {
        SurveyObject& object = as_survey(self);
        ReadBorrow borrow(object.borrow);
        return text_object(survey_repr(object.survey)).release();
    });
}

PyObject* survey_add_step(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArguments bound;
        bind(kAddStep, args, nargs, kwnames, bound);
        SurveyObject& object = receiver(self);
        WriteBorrow borrow(object.borrow);
        std::string name(to_text(bound[0], "name"));
        std::string parameters(to_text(bound[1], "parameters"));
        object.survey.history.push_back(make_processing_step(std::move(name), std::move(parameters)));
        return none().release();
    });
}

PyObject* survey_get_history(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        BoundArguments bound;
        bind(kGetHistory, args, nargs, kwnames, bound);
        SurveyObject& object = receiver(self);
        ReadBorrow borrow(object.borrow);
        return history_list(object.survey.history).release();
    });
}

PyObject* create_survey_type() {
    static const std::string add_step_doc =
        kAddStep.text_signature("Append a processing step to the audit trail.");
    static const std::string get_history_doc =
        kGetHistory.text_signature("Return the processing history as a list of dicts.");
    static PyMethodDef methods[] = {
        {"add_step", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(survey_add_step)),
         METH_FASTCALL | METH_KEYWORDS, add_step_doc.c_str()},
        {"get_history", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(survey_get_history)),
         METH_FASTCALL | METH_KEYWORDS, get_history_doc.c_str()},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyGetSetDef getset[kSurveyFieldCount + 1] = {};
    for (std::size_t i = 0; i < kSurveyFieldCount; ++i) {
        getset[i] = PyGetSetDef{kSurveyFields[i].name, survey_get, nullptr, kSurveyFields[i].doc,
                                const_cast<SurveyField*>(&kSurveyFields[i])};
    }
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(kSurveyDoc)},
        {Py_tp_new, reinterpret_cast<void*>(survey_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(survey_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(survey_repr_slot)},
        {Py_tp_methods, methods},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    static PyType_Spec spec = {"orvek_core.PySurvey", static_cast<int>(sizeof(SurveyObject)), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    return PyType_FromSpec(&spec);
}

// ---- PyProcessingStep ------------------------------------------------------------

constexpr const char* kStepDoc = "A single processing step in the audit trail.";

struct StepTextField {
    const char* name;
    std::string ProcessingStep::*member;
};

const StepTextField kStepName{"name", &ProcessingStep::name};
const StepTextField kStepParameters{"parameters", &ProcessingStep::parameters};
const StepTextField kStepSoftwareVersion{"software_version", &ProcessingStep::software_version};

void refuse_delete(PyObject* value) {
    if (value == nullptr) throw fail(PyExc_AttributeError, "can't delete attribute");
}

PyObject* step_get_text(PyObject* self, void* closure) {
    return guarded([&] {
        const auto& field = *static_cast<const StepTextField*>(closure);
        StepObject& object = as_step(self);
        ReadBorrow borrow(object.borrow);
        return text_object(object.step.*field.member).release();
    });
}

int step_set_text(PyObject* self, PyObject* value, void* closure) {
    return guarded_status([&] {
        const auto& field = *static_cast<const StepTextField*>(closure);
        refuse_delete(value);
        std::string text(to_text(value, field.name));
        StepObject& object = as_step(self);
        WriteBorrow borrow(object.borrow);
        (object.step.*field.member).swap(text);
    });
}

PyObject* step_get_timestamp(PyObject* self, void*) {
    return guarded([&] {
        StepObject& object = as_step(self);
        ReadBorrow borrow(object.borrow);
        return float_from(object.step.timestamp).release();
    });
}

int step_set_timestamp(PyObject* self, PyObject* value, void*) {
    return guarded_status([&] {
        refuse_delete(value);
        const double timestamp = to_f64(value, "timestamp");  // may run the value's __float__
        StepObject& object = as_step(self);
        WriteBorrow borrow(object.borrow);
        object.step.timestamp = timestamp;
    });
}

PyObject* step_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined for PyProcessingStep");
    return nullptr;
}

void step_dealloc(PyObject* self) {
    destroy_instance(self, &StepObject::step);
}

PyObject* create_step_type() {
    static PyGetSetDef getset[] = {
        {"name", step_get_text, step_set_text, nullptr, const_cast<StepTextField*>(&kStepName)},
        {"parameters", step_get_text, step_set_text, nullptr, const_cast<StepTextField*>(&kStepParameters)},
        {"timestamp", step_get_timestamp, step_set_timestamp, nullptr, nullptr},
        {"software_version", step_get_text, step_set_text, nullptr,
         const_cast<StepTextField*>(&kStepSoftwareVersion)},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(kStepDoc)},
        {Py_tp_new, reinterpret_cast<void*>(step_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(step_dealloc)},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    static PyType_Spec spec = {"orvek_core.PyProcessingStep", static_cast<int>(sizeof(StepObject)), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    return PyType_FromSpec(&spec);
}

}  // namespace

PyObject* survey_type() noexcept {
    if (survey_class == nullptr) survey_class = guarded(create_survey_type);
    return survey_class;
}

PyObject* step_type() noexcept {
    if (step_class == nullptr) step_class = guarded(create_step_type);
    return step_class;
}

Ref survey_object(Survey&& survey) {
    PyObject* type = survey_type();
    if (type == nullptr) creation_failed();
    return instance_of<SurveyObject>(type, std::move(survey), &SurveyObject::survey);
}

}  // namespace orvek::py
