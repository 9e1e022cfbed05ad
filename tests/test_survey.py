"""PySurvey: the fresh record, its 26 read-only attributes, docstrings, repr and the
conversion of the constructor's arguments."""
import pytest

import orvek_core
from orvek_core import PySurvey

# (attribute, value of a fresh PySurvey("a.dzt", "dzt")), in declaration order.
FRESH = [
    ("path", "a.dzt"), ("format", "dzt"), ("num_traces", 0), ("samples_per_trace", 0),
    ("bits_per_sample", 16), ("format_code", 0), ("measurement_system", 0),
    ("sample_interval_ns", 0.0), ("traces_per_second", 0.0), ("traces_per_meter", 0.0),
    ("time_zero_ns", 0.0), ("time_window_ns", 0.0), ("channels", 1), ("header_offset", 0),
    ("trace_data", []), ("trace_positions", []), ("trace_time_zeros", []), ("trace_elevations", []),
    ("src_x_coords", []), ("src_y_coords", []), ("cell_size", 0.0), ("origin_easting", 0.0),
    ("origin_northing", 0.0), ("rotation_deg", 0.0), ("zigzag", False), ("history", []),
]
FIELDS = [name for name, _ in FRESH]

DOCS = {
    "format_code": "Data format code (SEG-Y specific: 1=IBM, 2=int32, 3=int16, 5=IEEE float, 8=int8; "
                   "0=not applicable)",
    "measurement_system": "SEG-Y measurement system (1=meters, 2=feet; 0=not applicable)",
    "trace_data": "Raw trace data bytes (contiguous, for formats with interleaved headers like DT1).\n"
                  "Empty for formats where Python memory-maps directly (DZT).",
    "trace_positions": "Per-trace odometer positions (m), one per trace.",
    "trace_time_zeros": "Per-trace time-zero offsets (ns), one per trace.",
    "trace_elevations": "Per-trace elevations (m), one per trace.",
    "src_x_coords": "Per-trace GPS easting coordinates (SEG-Y scaled src_x), one per trace.",
    "src_y_coords": "Per-trace GPS northing coordinates (SEG-Y scaled src_y), one per trace.",
    "cell_size": "Grid metadata — cell size in meters (magnetometry / grd).",
    "origin_easting": "Grid metadata — origin easting (magnetometry / grd).",
    "origin_northing": "Grid metadata — origin northing (magnetometry / grd).",
    "rotation_deg": "Grid metadata — rotation angle in degrees (magnetometry / grd).",
    "zigzag": "Grid metadata — whether rows alternate direction (magnetometry / grd).",
}


def test_class_docstring_and_signature():
    assert PySurvey.__doc__ == ("A geophysical survey — the core data model.\n\n"
                                "Holds memory-mapped trace data, header metadata, coordinate system,\n"
                                "and an immutable processing history DAG.")
    assert PySurvey.__text_signature__ == "(path, format)"


def test_attributes_in_declaration_order_with_their_docstrings():
    attributes = [name for name, value in vars(PySurvey).items()
                  if type(value).__name__ == "getset_descriptor"]
    assert attributes == FIELDS
    for name in FIELDS:
        assert vars(PySurvey)[name].__doc__ == DOCS.get(name), name


def test_fresh_record_values_and_types():
    survey = PySurvey("a.dzt", "dzt")
    for name, expected in FRESH:
        value = getattr(survey, name)
        assert value == expected, name
        assert type(value) is type(expected), name


@pytest.mark.parametrize("path, format, text", [
    ("a.dzt", "dzt", "PySurvey(format=dzt, traces=0, samples=0, bits=16)"),
    ("", "", "PySurvey(format=, traces=0, samples=0, bits=16)"),
    ("x", "mala_rd7", "PySurvey(format=mala_rd7, traces=0, samples=0, bits=16)"),
    ("x", "ü'\"", "PySurvey(format=ü'\", traces=0, samples=0, bits=16)"),
], ids=["dzt", "empty", "mala", "unquoted"])
def test_repr(path, format, text):
    assert repr(PySurvey(path, format)) == text


def test_keywords_equal_positional():
    by_keyword = PySurvey(path="p", format="f")
    by_position = PySurvey("p", "f")
    assert [getattr(by_keyword, n) for n in FIELDS] == [getattr(by_position, n) for n in FIELDS]
    assert PySurvey(format="f", path="p").path == "p"


def test_texts_keep_non_ascii_and_nul():
    survey = PySurvey("dir/ünï\x00cødé €.dzt", "𝔡zt")
    assert survey.path == "dir/ünï\x00cødé €.dzt"
    assert survey.format == "𝔡zt"


def test_str_subclass_is_taken_as_its_text():
    class Name(str):
        def __str__(self):
            return "other"

    survey = PySurvey(Name("p"), Name("dzt"))
    assert survey.path == "p" and type(survey.path) is str
    assert repr(survey) == "PySurvey(format=dzt, traces=0, samples=0, bits=16)"


@pytest.mark.parametrize("args, message", [
    ((5, "x"), "argument 'path': 'int' object cannot be converted to 'PyString'"),
    (("x", 5), "argument 'format': 'int' object cannot be converted to 'PyString'"),
    ((b"x", "y"), "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    ((None, None), "argument 'path': 'NoneType' object cannot be converted to 'PyString'"),
    (("x", ["dzt"]), "argument 'format': 'list' object cannot be converted to 'PyString'"),
], ids=["int-path", "int-format", "bytes", "none-first", "list"])
def test_constructor_conversion_errors(args, message):
    with pytest.raises(TypeError) as caught:
        PySurvey(*args)
    assert str(caught.value) == message


def test_unpaired_surrogate_is_the_interpreters_encode_error():
    with pytest.raises(UnicodeEncodeError) as caught:
        PySurvey("bad\ud800", "dzt")
    assert "argument" not in str(caught.value)
    assert "surrogates not allowed" in str(caught.value)


@pytest.mark.parametrize("name", FIELDS)
def test_attributes_are_read_only(name):
    survey = PySurvey("p", "dzt")
    before = getattr(survey, name)
    with pytest.raises(AttributeError):
        setattr(survey, name, before)
    with pytest.raises(AttributeError):
        delattr(survey, name)
    assert getattr(survey, name) == before


def test_every_read_builds_a_new_object():
    survey = PySurvey("p" * 40, "dzt")
    for name in ("path", "trace_data", "trace_positions", "history"):
        assert getattr(survey, name) is not getattr(survey, name)
    survey.trace_positions.append(1.0)
    survey.history.append("x")
    assert survey.trace_positions == [] and survey.history == []


def test_record_has_no_instance_dict():
    survey = PySurvey("p", "dzt")
    with pytest.raises(AttributeError):
        survey.extra = 1

