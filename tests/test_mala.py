"""parse_mala: RAD header text, RD3/RD7 sample copy, zero padding and failures."""
import os
import resource

import numpy as np
import pytest

import orvek_core

METADATA = "Invalid .rad metadata: SAMPLES or LAST TRACE is zero"
RAD_512_10 = "SAMPLES=512\nLAST TRACE=10\n"


def make_data(tmp_path, size, name="line.rd3"):
    """A data file of `size` bytes counting 0, 1, ... 250, 0, 1, ... (251 is prime, so
    an offset mistake shows)."""
    path = tmp_path / name
    path.write_bytes(bytes(i % 251 for i in range(size)))
    return str(path)


def expected_bytes(file_size, expected_size):
    data = bytes(i % 251 for i in range(min(file_size, expected_size)))
    return data + bytes(expected_size - len(data))


def raises_os_error(message, call, *args, **kwargs):
    with pytest.raises(OSError) as info:
        call(*args, **kwargs)
    assert type(info.value) is OSError
    assert info.value.args == (message,)

EMPTY_LISTS = (
    "trace_positions", "trace_time_zeros", "trace_elevations", "src_x_coords", "src_y_coords", "history"
)


# ---- main paths ----------------------------------------------------------------


@pytest.mark.parametrize(
    "is_rd7, file_size, expected_size",
    [
        (False, 10_240, 10_240),
        (False, 4_000, 10_240),
        (False, 0, 10_240),
        (False, 20_000, 10_240),
        (True, 20_480, 20_480),
        (True, 4_001, 20_480),
    ],
    ids=["rd3-exact", "rd3-short-padded", "rd3-empty", "rd3-long-cut", "rd7-exact", "rd7-short-odd"],
)
def test_trace_data_is_file_prefix_padded_with_zeros(tmp_path, is_rd7, file_size, expected_size):
    path = make_data(tmp_path, file_size)
    survey = orvek_core.parse_mala(path, RAD_512_10, is_rd7)
    assert bytes(survey.trace_data) == expected_bytes(file_size, expected_size)
    assert survey.bits_per_sample == (32 if is_rd7 else 16)
    assert survey.format == ("mala_rd7" if is_rd7 else "mala_rd3")


def test_record_fields(tmp_path):
    path = make_data(tmp_path, 64)
    rad = "SAMPLES=8\nLAST TRACE=4\nCHANNELS=2\nTIMEWINDOW=100\nINTERVAL=0.05\nUNITS=metres\nFREQUENCY=250\n"
    survey = orvek_core.parse_mala(path=path, rad_content=rad, is_rd7=False)
    assert survey.path == path
    assert (survey.num_traces, survey.samples_per_trace, survey.channels) == (4, 8, 2)
    assert survey.time_window_ns == 100.0
    assert survey.sample_interval_ns == 12.5
    assert bytes(survey.trace_data) == expected_bytes(64, 64)
    # everything else keeps the values of a fresh record
    assert survey.header_offset == 0 and survey.format_code == 0 and survey.measurement_system == 0
    assert survey.traces_per_meter == 0.0 and survey.traces_per_second == 0.0 and survey.time_zero_ns == 0.0
    assert survey.cell_size == 0.0 and survey.origin_easting == 0.0 and survey.rotation_deg == 0.0
    assert survey.zigzag is False
    for name in EMPTY_LISTS:
        assert getattr(survey, name) == [], name
    assert repr(survey) == "PySurvey(format=mala_rd3, traces=4, samples=8, bits=16)"


def test_is_rd7_defaults_to_false_and_takes_numpy_bools(tmp_path):
    path = make_data(tmp_path, 0)
    assert orvek_core.parse_mala(path, RAD_512_10).format == "mala_rd3"
    assert orvek_core.parse_mala(path, RAD_512_10, np.True_).format == "mala_rd7"
    assert orvek_core.parse_mala(path, RAD_512_10, np.False_).format == "mala_rd3"


# ---- the RAD text ----------------------------------------------------------------

# (RAD text, samples per trace read, or None when the call fails with the metadata
# message). Each text also needs a trace count, which most give as LAST TRACE:3.
SEPARATOR_CASES = [
    ("equals", "SAMPLES=512\nLAST TRACE=3", 512),
    ("colons", "SAMPLES:512\nLAST TRACE:3", 512),
    ("blank", "SAMPLES 512\nLAST TRACE:3", 512),
    ("tab", "SAMPLES\t512\nLAST TRACE:3", 512),
    ("unicode-blank", "SAMPLES\u3000512\nLAST TRACE:3", 512),
    ("spaced-equals", "SAMPLES = 512\nLAST TRACE = 3", 512),
    ("spaced-colon", "SAMPLES : 512\nLAST TRACE : 3", 512),
    ("last-trace-on-blank-line", "SAMPLES=512\nLAST TRACE 3", None),
    ("last-trace-two-blanks", "SAMPLES=512\nLAST  TRACE=3", None),
    # "=" wins over ":" and ":" over white space: the second SAMPLES line names another
    # key and leaves 512 alone; split anywhere else it would reset SAMPLES to 0.
    ("equals-before-colon", "SAMPLES=512\nSAMPLES:7=1\nLAST TRACE:3", 512),
    ("equals-before-blank", "SAMPLES=512\nSAMPLES 7=1\nLAST TRACE:3", 512),
    ("colon-before-blank", "SAMPLES=512\nSAMPLES 7:1\nLAST TRACE:3", 512),
    ("no-separator", "SAMPLES512\nLAST TRACE:3", None),
    ("lower-case", "samples=512\nlast trace=3", 512),
    ("mixed-case", "Samples:512\nLast Trace:3", 512),
    ("long-s-capitalises", "\u017fAMPLES=512\nLAST TRACE=3", 512),
    ("crlf", "SAMPLES=512\r\nLAST TRACE=3\r\n", 512),
    ("no-final-newline", "LAST TRACE=3\nSAMPLES=512", 512),
    ("indented", "  \tSAMPLES=512  \n LAST TRACE=3", 512),
    ("hash-comment", "#SAMPLES=512\nLAST TRACE=3", None),
    ("indented-hash-comment", "SAMPLES=512\n  # SAMPLES=0\nLAST TRACE=3", 512),
    ("semicolon-is-no-comment", ";SAMPLES=512\nLAST TRACE=3", None),
    ("later-line-wins", "SAMPLES=512\nSAMPLES=256\nLAST TRACE=3", 256),
    ("later-bad-value-resets", "SAMPLES=512\nSAMPLES=abc\nLAST TRACE=3", None),
    ("plus-sign", "SAMPLES=+512\nLAST TRACE=3", 512),
    ("leading-zeros", "SAMPLES=000512\nLAST TRACE=3", 512),
    ("minus-sign", "SAMPLES=-512\nLAST TRACE=3", None),
    ("decimal-point", "SAMPLES=512.0\nLAST TRACE=3", None),
    ("too-large-for-64-bits", "SAMPLES=18446744073709551616\nLAST TRACE=3", None),
    ("zero", "SAMPLES=0\nLAST TRACE=3", None),
    ("no-last-trace", "SAMPLES=512", None),
    ("empty", "", None),
]


@pytest.mark.parametrize(
    "rad, samples", [c[1:] for c in SEPARATOR_CASES], ids=[c[0] for c in SEPARATOR_CASES]
)
def test_rad_lines(tmp_path, rad, samples):
    path = make_data(tmp_path, 16)
    if samples is None:
        raises_os_error(METADATA, orvek_core.parse_mala, path, rad)
    else:
        survey = orvek_core.parse_mala(path, rad)
        assert (survey.samples_per_trace, survey.num_traces) == (samples, 3)
        assert len(survey.trace_data) == samples * 3 * 2


@pytest.mark.parametrize(
    "line, channels",
    [("", 1), ("CHANNELS=0", 1), ("CHANNELS=1", 1), ("CHANNELS=2", 2), ("CHANNELS:65535", 65535),
     ("CHANNELS=70000", 1), ("CHANNELS=two", 1), ("CHANNELS=4\nCHANNELS=x", 1)],
    ids=["missing", "zero", "one", "two", "max-16-bit", "too-wide", "not-a-number", "reset-by-bad-line"],
)
def test_channels(tmp_path, line, channels):
    survey = orvek_core.parse_mala(make_data(tmp_path, 0), RAD_512_10 + line)
    assert survey.channels == channels


@pytest.mark.parametrize(
    "line, time_window, interval",
    [("TIMEWINDOW=100", 100.0, 0.1953125), ("", 0.0, 0.0), ("TIMEWINDOW=abc", 0.0, 0.0),
     ("TIMEWINDOW: 51.2", np.float32(51.2), np.float32(51.2) / np.float32(512)),
     ("timewindow=1e39", float("inf"), float("inf"))],
    ids=["100-ns", "missing", "not-a-number", "rounded-to-32-bits", "overflows-to-inf"],
)
def test_time_window_and_sample_interval(tmp_path, line, time_window, interval):
    survey = orvek_core.parse_mala(make_data(tmp_path, 0), RAD_512_10 + line)
    assert survey.time_window_ns == time_window
    assert survey.sample_interval_ns == interval


# ---- failures --------------------------------------------------------------------


def test_metadata_is_checked_before_the_data_file(tmp_path):
    missing = str(tmp_path / "missing.rd3")
    raises_os_error(METADATA, orvek_core.parse_mala, missing, "SAMPLES=0\nLAST TRACE=10")


@pytest.mark.parametrize(
    "name, message",
    [("missing.rd3", "No such file or directory (os error 2)"), (".", "Is a directory (os error 21)"),
     ("a\0b.rd3", "file name contained an unexpected NUL byte")],
    ids=["missing", "directory", "nul-in-path"],
)
def test_data_file_failures(tmp_path, name, message):
    raises_os_error(message, orvek_core.parse_mala, os.path.join(tmp_path, name), RAD_512_10)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
def test_unreadable_data_file(tmp_path):
    path = make_data(tmp_path, 8)
    os.chmod(path, 0)
    raises_os_error("Permission denied (os error 13)", orvek_core.parse_mala, path, RAD_512_10)


@pytest.mark.parametrize(
    "args, message",
    [((5, RAD_512_10), "argument 'path': 'int' object cannot be converted to 'PyString'"),
     (("x.rd3", b"SAMPLES=1"), "argument 'rad_content': 'bytes' object cannot be converted to 'PyString'"),
     (("x.rd3", RAD_512_10, 1), "argument 'is_rd7': 'int' object cannot be converted to 'PyBool'"),
     (("x.rd3", RAD_512_10, None), "argument 'is_rd7': 'NoneType' object cannot be converted to 'PyBool'")],
    ids=["path-int", "rad-bytes", "is_rd7-int", "is_rd7-none"],
)
def test_argument_types(args, message):
    with pytest.raises(TypeError) as info:
        orvek_core.parse_mala(*args)
    assert str(info.value) == message


# ---- hostile geometry ------------------------------------------------------------


def test_size_that_does_not_fit_64_bits_is_refused(tmp_path):
    path = make_data(tmp_path, 8)
    with pytest.raises(OSError) as info:
        orvek_core.parse_mala(path, f"SAMPLES={2**62}\nLAST TRACE=2", True)
    assert type(info.value) is OSError
    assert info.value.args[0].startswith("Invalid .rad metadata:")


def test_size_that_cannot_be_allocated_is_refused(tmp_path):
    path = make_data(tmp_path, 8)
    with pytest.raises(OSError) as info:
        orvek_core.parse_mala(path, f"SAMPLES={2**60}\nLAST TRACE=2", True)  # 2**63 bytes
    assert info.value.args == (f"cannot allocate {2**63} bytes",)


def test_padding_costs_address_space_not_memory(tmp_path):
    """A 1 GiB claim over an 8-byte file: the record has its full size, yet the peak
    resident size of the process does not grow by anything near it."""
    path = make_data(tmp_path, 8)
    before_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    survey = orvek_core.parse_mala(path, f"SAMPLES={2**19}\nLAST TRACE={2**10}")
    after_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert (survey.samples_per_trace, survey.num_traces) == (2**19, 2**10)
    assert after_kib - before_kib < 64 * 1024
    del survey
