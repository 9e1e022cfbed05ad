"""Argument binding of every callable: text signatures, the binding errors with their
exact wording and precedence, and the conversion errors raised before a routine runs."""
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
