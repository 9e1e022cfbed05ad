"""Processing history: add_step, get_history and the history attribute, and the
PyProcessingStep copies with their read/write attributes."""
import time

import numpy as np
import pytest

from orvek_core import PyProcessingStep, PySurvey


def one_step(name="dewow", parameters='{"window": 10}'):
    survey = PySurvey("p", "dzt")
    survey.add_step(name, parameters)
    return survey, survey.get_history()[0]


def test_fresh_record_has_empty_history():
    survey = PySurvey("p", "dzt")
    assert survey.get_history() == [] and survey.history == []


def test_add_step_records_name_parameters_version_and_time():
    survey = PySurvey("p", "dzt")
    before = time.time()
    assert survey.add_step("dewow", '{"window": 10}') is None
    after = time.time()
    (step,) = survey.get_history()
    assert type(step) is PyProcessingStep
    assert step.name == "dewow"
    assert step.parameters == '{"window": 10}'
    assert step.software_version == "0.2.0"
    assert type(step.timestamp) is float
    assert before - 1.0 <= step.timestamp <= after + 1.0


def test_steps_in_call_order_and_history_attribute_matches():
    survey = PySurvey("p", "dzt")
    survey.add_step("dewow", "a")
    survey.add_step(name="bandpass", parameters="b")
    survey.add_step("", "")
    history = survey.get_history()
    assert [(s.name, s.parameters) for s in history] == [("dewow", "a"), ("bandpass", "b"), ("", "")]
    assert history[0].timestamp <= history[1].timestamp <= history[2].timestamp
    attribute = survey.history
    assert [(s.name, s.parameters, s.timestamp, s.software_version) for s in attribute] == \
           [(s.name, s.parameters, s.timestamp, s.software_version) for s in history]


def test_texts_are_stored_verbatim():
    text = 'ünï\x00cødé {"a": [1, 2]} \n\t 𝔡'
    _, step = one_step(text, text)
    assert step.name == text and step.parameters == text


@pytest.mark.parametrize("args, kwargs, error, message", [
    (("a", 5), {}, TypeError, "argument 'parameters': 'int' object cannot be converted to 'PyString'"),
    ((None, "b"), {}, TypeError, "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
    ((b"a", 5), {}, TypeError, "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
    (("a",), {}, TypeError, "PySurvey.add_step() missing 1 required positional argument: 'parameters'"),
    ((), {"parameters": "b"}, TypeError, "PySurvey.add_step() missing 1 required positional argument: 'name'"),
    (("a", "\udc80"), {}, UnicodeEncodeError, None),
], ids=["int-parameters", "none-name", "bytes-name-first", "missing-parameters", "missing-name", "surrogate"])
def test_failed_add_step_appends_nothing(args, kwargs, error, message):
    survey = PySurvey("p", "dzt")
    survey.add_step("kept", "1")
    with pytest.raises(error) as caught:
        survey.add_step(*args, **kwargs)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value) == message
    assert [s.name for s in survey.get_history()] == ["kept"]


def test_steps_handed_out_are_copies():
    survey, step = one_step()
    stored = step.timestamp
    step.timestamp = 7
    step.name = "changed"
    assert step.timestamp == 7.0 and type(step.timestamp) is float
    fresh = survey.get_history()[0]
    assert fresh.timestamp == stored and fresh.name == "dewow"
    assert survey.get_history()[0] is not survey.get_history()[0]


def test_no_constructor():
    for args in ((), ("a", "b")):
        with pytest.raises(TypeError) as caught:
            PyProcessingStep(*args)
        assert str(caught.value) == "No constructor defined for PyProcessingStep"
    assert PyProcessingStep.__doc__ == "A single processing step in the audit trail."


def test_step_attributes_in_order():
    attributes = [name for name, value in vars(PyProcessingStep).items()
                  if type(value).__name__ == "getset_descriptor"]
    assert attributes == ["name", "parameters", "timestamp", "software_version"]


class Floaty:
    def __float__(self):
        return 2.5


class Indexy:
    def __index__(self):
        return 3


@pytest.mark.parametrize("value, expected", [
    (7, 7.0), (1.5, 1.5), (True, 1.0), (np.float32(0.1), 0.10000000149011612), (np.int64(4), 4.0),
    (Floaty(), 2.5), (Indexy(), 3.0), (2**53 + 1, 9007199254740992.0),
], ids=["int", "float", "bool", "numpy-float32", "numpy-int64", "__float__", "__index__", "big-int"])
def test_timestamp_accepts_what_float_accepts(value, expected):
    _, step = one_step()
    step.timestamp = value
    assert step.timestamp == expected and type(step.timestamp) is float


@pytest.mark.parametrize("attribute", ["name", "parameters", "software_version"])
def test_text_attributes_write(attribute):
    _, step = one_step()
    setattr(step, attribute, "new ü")
    assert getattr(step, attribute) == "new ü"
    with pytest.raises(TypeError) as caught:
        setattr(step, attribute, 5)
    assert str(caught.value) == f"argument '{attribute}': 'int' object cannot be converted to 'PyString'"
    with pytest.raises(UnicodeEncodeError):
        setattr(step, attribute, "\ud800")
    assert getattr(step, attribute) == "new ü"


class FloatRaises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


@pytest.mark.parametrize("value, error, message", [
    ("1.0", TypeError, "argument 'timestamp': must be real number, not str"),
    (None, TypeError, "argument 'timestamp': must be real number, not NoneType"),
    (FloatRaises(TypeError("nope")), TypeError, "argument 'timestamp': nope"),
    (FloatRaises(ValueError("bad")), ValueError, "bad"),
    (FloatRaises(OverflowError("big")), OverflowError, "big"),
    (2**1024, OverflowError, "int too large to convert to float"),
], ids=["str", "none", "user-typeerror", "user-valueerror", "user-overflow", "huge-int"])
def test_timestamp_write_errors(value, error, message):
    _, step = one_step()
    before = step.timestamp
    with pytest.raises(error) as caught:
        step.timestamp = value
    assert type(caught.value) is error
    assert str(caught.value) == message
    assert step.timestamp == before


@pytest.mark.parametrize("attribute", ["name", "parameters", "timestamp", "software_version"])
def test_attributes_cannot_be_deleted(attribute):
    _, step = one_step()
    before = getattr(step, attribute)
    with pytest.raises(AttributeError) as caught:
        delattr(step, attribute)
    assert str(caught.value) == "can't delete attribute"
    assert getattr(step, attribute) == before


def test_reentrant_float_during_timestamp_write():
    _, step = one_step()

    class ReadsStep:
        def __float__(self):
            return float(len(step.name))  # reads the step while its write is pending

    step.timestamp = ReadsStep()
    assert step.timestamp == 5.0


def test_long_history():
    survey = PySurvey("p", "dzt")
    for i in range(1000):
        survey.add_step(f"s{i}", str(i))
    history = survey.history
    assert len(history) == 1000
    assert [s.parameters for s in history[::250]] == ["0", "250", "500", "750"]
