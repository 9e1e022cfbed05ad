"""Argument binding of every callable: text signatures, the binding errors with their
exact wording and precedence, the conversion errors raised before a routine runs, and
how a sequence argument is read, whatever kind of sequence it is."""
import collections

import numpy as np
import pytest

import orvek_core
from orvek_core import PySurvey

SIGNATURES = {
    "parse_dzt": "(path)",
    "parse_dt1": "(path, hd_content=None)",
    "parse_dzg": "(path)",
    "parse_magnetometry": "(dat_path, grd_path)",
    "parse_segy": "(path)",
    "parse_mala": "(path, rad_content, is_rd7=False)",
    "write_segy": "(path, traces, n_traces, n_samples, sample_interval_ns, description, format_code, "
                  "trace_x_coords=None, trace_y_coords=None, measurement_system=1)",
    "apply_dewow": "(data, window_size)",
    "apply_bandpass": "(data, sample_rate, low_cut, high_cut)",
    "apply_sec_gain": "(data, sample_rate, alpha)",
    "apply_agc": "(data, window_size)",
    "apply_kirchhoff_migration": "(data, velocity_m_ns=0.1, sample_interval_ns=0.1, trace_spacing_m=0.05, "
                                 "aperture_traces=30)",
    "apply_spike_deconv": "(data, n_traces, n_samples, operator_length=32, pre_whitening=0.01)",
    "apply_gapped_deconv": "(data, n_traces, n_samples, operator_length=32, gap=1, pre_whitening=0.01)",
}


@pytest.mark.parametrize("name", SIGNATURES)
def test_function_text_signature_and_no_docstring(name):
    function = getattr(orvek_core, name)
    assert function.__text_signature__ == SIGNATURES[name]
    assert function.__doc__ is None


def test_method_and_class_signatures():
    assert PySurvey.__text_signature__ == "(path, format)"
    assert PySurvey.add_step.__text_signature__ == "($self, name, parameters)"
    assert PySurvey.add_step.__doc__ == "Append a processing step to the audit trail."
    assert PySurvey.get_history.__text_signature__ == "($self)"
    assert PySurvey.get_history.__doc__ == "Return the processing history as a list of dicts."


survey = PySurvey("p", "dzt")
f = orvek_core

# (call, expected TypeError message). Every case fails while binding, before any
# conversion or routine runs.
BINDING_ERRORS = [
    ("missing-one", lambda: f.parse_dzt(), "parse_dzt() missing 1 required positional argument: 'path'"),
    ("missing-two", lambda: f.parse_magnetometry(),
     "parse_magnetometry() missing 2 required positional arguments: 'dat_path' and 'grd_path'"),
    ("missing-second", lambda: f.parse_magnetometry("a"),
     "parse_magnetometry() missing 1 required positional argument: 'grd_path'"),
    ("missing-three", lambda: f.apply_bandpass([1.0]),
     "apply_bandpass() missing 3 required positional arguments: 'sample_rate', 'low_cut', and 'high_cut'"),
    ("missing-seven", lambda: f.write_segy(),
     "write_segy() missing 7 required positional arguments: 'path', 'traces', 'n_traces', 'n_samples', "
     "'sample_interval_ns', 'description', and 'format_code'"),
    ("missing-after-keyword", lambda: f.apply_sec_gain(alpha=1.0),
     "apply_sec_gain() missing 2 required positional arguments: 'data' and 'sample_rate'"),
    ("too-many-one-was", lambda: f.parse_dzt("a", "b"), "parse_dzt() takes 1 positional arguments but 2 were given"),
    ("too-many-range", lambda: f.parse_dt1("a", None, 3),
     "parse_dt1() takes from 1 to 2 positional arguments but 3 were given"),
    ("too-many-eleven", lambda: f.write_segy(*range(11)),
     "write_segy() takes from 7 to 10 positional arguments but 11 were given"),
    ("unexpected-keyword", lambda: f.parse_dzt(path="x", p=1),
     "parse_dzt() got an unexpected keyword argument 'p'"),
    ("multiple-values", lambda: f.parse_dzt("a", path="b"),
     "parse_dzt() got multiple values for argument 'path'"),
    # precedence: too many positional arguments, then keywords in the order given, then missing
    ("too-many-before-keyword", lambda: f.parse_dzt("a", "b", q=1),
     "parse_dzt() takes 1 positional arguments but 2 were given"),
    ("unexpected-before-missing", lambda: f.parse_magnetometry(q=1),
     "parse_magnetometry() got an unexpected keyword argument 'q'"),
    ("first-bad-keyword-wins", lambda: f.apply_agc([1.0], data=2, zz=3),
     "apply_agc() got multiple values for argument 'data'"),
    ("constructor-missing", lambda: PySurvey("a"),
     "PySurvey.__new__() missing 1 required positional argument: 'format'"),
    ("constructor-missing-both", lambda: PySurvey(),
     "PySurvey.__new__() missing 2 required positional arguments: 'path' and 'format'"),
    ("constructor-too-many", lambda: PySurvey("a", "b", "c"),
     "PySurvey.__new__() takes 2 positional arguments but 3 were given"),
    ("constructor-unexpected", lambda: PySurvey("a", "b", path2="c"),
     "PySurvey.__new__() got an unexpected keyword argument 'path2'"),
    ("constructor-multiple", lambda: PySurvey("a", "b", format="c"),
     "PySurvey.__new__() got multiple values for argument 'format'"),
    ("add-step-missing", lambda: survey.add_step("a"),
     "PySurvey.add_step() missing 1 required positional argument: 'parameters'"),
    ("add-step-too-many", lambda: survey.add_step("a", "b", "c"),
     "PySurvey.add_step() takes 2 positional arguments but 3 were given"),
    ("add-step-unexpected", lambda: survey.add_step("a", "b", when=1),
     "PySurvey.add_step() got an unexpected keyword argument 'when'"),
    ("get-history-one-was", lambda: survey.get_history(1),
     "PySurvey.get_history() takes 0 positional arguments but 1 was given"),
    ("get-history-keyword", lambda: survey.get_history(x=1),
     "PySurvey.get_history() got an unexpected keyword argument 'x'"),
    ("non-ascii-keyword", lambda: f.parse_dzt(päth="x"), "parse_dzt() got an unexpected keyword argument 'päth'"),
]


@pytest.mark.parametrize("call, message", [case[1:] for case in BINDING_ERRORS],
                         ids=[case[0] for case in BINDING_ERRORS])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert str(caught.value) == message


def test_failed_binding_changes_nothing():
    record = PySurvey("p", "dzt")
    for call in (lambda: record.add_step("a"), lambda: record.add_step("a", "b", "c"),
                 lambda: record.add_step(name="a", parameters="b", extra=1)):
        with pytest.raises(TypeError):
            call()
    assert record.get_history() == []


# ---- sequence arguments ----------------------------------------------------------------

# Two readers of a sequence argument: a filter reads 32-bit samples, the deconvolution
# 64-bit ones. Equal outputs mean equal samples (n: how many samples the caller expects).
READERS = {
    "f32": lambda data, n: f.apply_dewow(data, 4),
    "f64": lambda data, n: f.apply_spike_deconv(data, 1, n, 3),
}


class Number:
    """Converts through __float__, running `action` first."""

    def __init__(self, value, action=None):
        self.value, self.action = value, action

    def __float__(self):
        if self.action is not None:
            self.action()
        return self.value


class Index:
    def __index__(self):
        return 7


class FloatWithOwnFloat(float):
    def __float__(self):  # never consulted: a float subclass converts by its value
        return 0.0


class Items:
    """A sequence that is no list: __getitem__, and a __len__ that may lie or fail."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if self.length is None:
            raise RuntimeError("no length")
        return self.length

    def __getitem__(self, index):
        return self.items[index]


class Backwards(list):
    def __iter__(self):
        return iter(self[::-1])  # slicing gives a plain list


ITEMS = [1.5, -2, np.float32(0.25), Number(3.75), Index(), FloatWithOwnFloat(9.5), 1e30, -0.0, 2**70]
PLAIN = [1.5, -2.0, 0.25, 3.75, 7.0, 9.5, 1e30, -0.0, float(2**70)]
KINDS = {
    "list": list(ITEMS),
    "tuple": tuple(ITEMS),
    "length-true": Items(ITEMS, len(ITEMS)),
    "length-too-large": Items(ITEMS, 10**15),
    "length-too-small": Items(ITEMS, 0),
    "length-fails": Items(ITEMS, None),
    "deque": collections.deque(ITEMS),
    "object-array": np.array(ITEMS, dtype=object),
}


@pytest.mark.parametrize("reader", READERS.values(), ids=READERS.keys())
@pytest.mark.parametrize("data", KINDS.values(), ids=KINDS.keys())
def test_every_kind_of_sequence_gives_the_same_samples(reader, data):
    assert reader(data, len(PLAIN)) == reader(PLAIN, len(PLAIN))


def shrinking():
    data = [1.0, None, 3.0, 4.0]
    data[1] = Number(5.0, lambda: data.__delitem__(slice(2, None)))
    return data


def emptied():  # the converting item loses its last reference from the list
    data = [1.0, None, 3.0]
    data[1] = Number(5.0, data.clear)
    return data


def growing():
    data = [1.0, None, 3.0]
    data[1] = Number(5.0, lambda: data.extend([7.0, Number(8.0)]))
    return data


def replaced():  # the items after the converting one change under it
    data = [1.0, None, 3.0, 4.0]
    data[1] = Number(5.0, lambda: data.__setitem__(slice(2, None), [-1.0, Number(-2.0), -3.0]))
    return data


@pytest.mark.parametrize("reader", READERS.values(), ids=READERS.keys())
@pytest.mark.parametrize("build", [shrinking, emptied, growing, replaced], ids=lambda build: build.__name__)
def test_a_list_changed_by_a_conversion_is_read_as_its_iteration_reads_it(reader, build):
    expected = [float(item) for item in build()]  # what iterating the list gives
    assert reader(build(), len(expected)) == reader(expected, len(expected))


@pytest.mark.parametrize("reader", READERS.values(), ids=READERS.keys())
def test_a_list_subclass_is_read_through_its_own_iteration(reader):
    assert reader(Backwards([1.0, 2.0, 3.0, 4.0]), 4) == reader([4.0, 3.0, 2.0, 1.0], 4)


@pytest.mark.parametrize("reader", READERS.values(), ids=READERS.keys())
@pytest.mark.parametrize("kind", [list, tuple], ids=["list", "tuple"])
def test_an_item_that_is_no_number_fails_with_the_interpreters_error(reader, kind):
    with pytest.raises(TypeError, match=r"^argument 'data': .*\bstr\b"):  # the interpreter's wording
        reader(kind([1.0, 2.0, "3"]), 3)
