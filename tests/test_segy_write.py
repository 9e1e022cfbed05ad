"""write_segy: file layout, header words, sample and text encodings, and failures.

Every expectation is a byte pattern read straight from the file with `struct`.
"""
import os
import struct

import numpy as np
import pytest

import orvek_core

NAN = float("nan")
INF = float("inf")


def write(path, traces, n_traces, n_samples, *, interval=1000.0, description="", format_code=5, **kwargs):
    orvek_core.write_segy(str(path), traces, n_traces, n_samples, interval, description, format_code, **kwargs)
    return path.read_bytes()


@pytest.fixture
def out(tmp_path):
    return tmp_path / "out.sgy"


def word16(data, offset):
    return struct.unpack_from(">h", data, offset)[0]


def word32(data, offset):
    return struct.unpack_from(">i", data, offset)[0]


def trace_header(data, k, n_samples, width=4):
    start = 3600 + k * (240 + n_samples * width)
    return data[start:start + 240]


# ---- layout ------------------------------------------------------------------------

@pytest.mark.parametrize("traces, n_traces, n_samples, format_code, size", [
    ([], 0, 0, 5, 3600),
    ([1.0] * 9, 0, 3, 5, 3600),
    ([], 3, 0, 5, 3600 + 3 * 240),
    ([1.0] * 6, 2, 3, 5, 4104),
    ([1.0] * 6, 2, 3, 3, 4092),
    ([1.0] * 8, 2, 3, 1, 4092),
    ([1.0] * 65535, 1, 65535, 5, 3600 + 240 + 4 * 65535),
], ids=["nothing", "no-traces", "no-samples", "ieee", "int16", "code-1-is-int16", "65535-samples"])
def test_file_size(out, traces, n_traces, n_samples, format_code, size):
    assert len(write(out, traces, n_traces, n_samples, format_code=format_code)) == size


def expected_binary_header(*, interval, samples, fmt, measurement=1):
    block = bytearray(400)
    struct.pack_into(">i", block, 4, 1)
    for offset, value in ((12, 1), (16, interval), (20, samples), (24, fmt), (54, measurement), (302, 1)):
        struct.pack_into(">h", block, offset, value)
    block[300:302] = b"\x01\x00"
    return bytes(block)


def expected_trace_header(*, seq, samples, interval, x=0, y=0, scalar=0):
    block = bytearray(240)
    struct.pack_into(">i", block, 0, seq)
    struct.pack_into(">hii", block, 70, scalar, x, y)
    struct.pack_into(">hh", block, 114, samples, interval)
    return bytes(block)


@pytest.mark.parametrize("format_code, written", [(5, 5), (3, 3), (1, 3), (2, 3), (8, 3), (0, 3), (-1, 3)])
def test_headers_byte_for_byte(out, format_code, written):
    data = write(out, [0.0] * 6, 2, 3, interval=250000.0, format_code=format_code, measurement_system=2,
                 trace_x_coords=[10.9, -0.7], trace_y_coords=[0.0, 5.0])
    width = 4 if written == 5 else 2
    assert data[3200:3600] == expected_binary_header(interval=250, samples=3, fmt=written, measurement=2)
    assert trace_header(data, 0, 3, width) == expected_trace_header(seq=1, samples=3, interval=250, x=10, scalar=1)
    assert trace_header(data, 1, 3, width) == expected_trace_header(seq=2, samples=3, interval=250, y=5, scalar=1)


def test_measurement_system_defaults_to_metres(out):
    assert word16(write(out, [], 0, 0), 3254) == 1


@pytest.mark.parametrize("interval, word", [
    (100.0, 0), (500.0, 1), (1500.0, 2), (250000.0, 250), (4.0e7, 32767), (-500.0, -1), (-4.0e7, -32768),
    (NAN, 0), (INF, 32767), (-INF, -32768), (1499.9999999, 2), (2**200, 32767),
], ids=["100", "half-up", "1500", "250000", "clamp-high", "half-down", "clamp-low", "nan", "inf", "-inf",
        "rounded-to-32-bits-first", "beyond-float32"])
def test_interval_word(out, interval, word):
    data = write(out, [0.0], 1, 1, interval=interval)
    assert (word16(data, 3216), word16(data, 3600 + 116)) == (word, word)


@pytest.mark.parametrize("n_samples, word", [(65535, -1), (40000, -25536), (32767, 32767)])
def test_sample_count_is_16_bits_unsigned(out, n_samples, word):
    data = write(out, np.zeros(n_samples, np.float32), 1, n_samples, format_code=3)
    assert (word16(data, 3220), word16(data, 3600 + 114)) == (word, word)
    assert len(data) == 3600 + 240 + 2 * n_samples


@pytest.mark.parametrize("n_traces", [0, 1])
def test_more_samples_than_the_header_can_say_is_refused(out, n_traces):
    # The low 16 bits of 70000 would describe 4464-sample traces: a file that every
    # reader misreads. Refused before anything is written; an existing file stays.
    out.write_bytes(b"keep")
    with pytest.raises(OSError) as error:
        orvek_core.write_segy(str(out), np.zeros(70000 * n_traces), n_traces, 70000, 1000.0, "d", 5)
    assert type(error.value) is OSError and error.value.errno is None
    assert str(error.value) == ("SEG-Y cannot hold 70000 samples per trace: its sample-count fields "
                                "are 16 bits wide (at most 65535)")
    assert out.read_bytes() == b"keep"


# ---- coordinates -------------------------------------------------------------------

@pytest.mark.parametrize("x, y, expected", [
    ([10.9, -0.7], None, [(10, 0, 1), (0, 0, 0), (0, 0, 0)]),
    (None, [-3.5, 0.0, 7.0], [(0, -3, 1), (0, 0, 0), (0, 7, 1)]),
    ([NAN, 3e9, -3e9], [INF, -INF, NAN], [(0, 2147483647, 1), (2147483647, -2147483648, 1),
                                          (-2147483648, 0, 1)]),
    ([1.0, 2.0, 3.0, 4.0, 5.0], [], [(1, 0, 1), (2, 0, 1), (3, 0, 1)]),
    ([16777217.0, 0.0, 0.0], None, [(16777216, 0, 1), (0, 0, 0), (0, 0, 0)]),
], ids=["x-only", "y-only", "nan-and-clamps", "surplus-ignored", "rounded-to-32-bits"])
def test_coordinates(out, x, y, expected):
    data = write(out, [0.0] * 3, 3, 1, trace_x_coords=x, trace_y_coords=y)
    found = []
    for k in range(3):
        header = trace_header(data, k, 1)
        scalar, xi, yi = struct.unpack_from(">hii", header, 70)
        found.append((xi, yi, scalar))
    assert found == expected


# ---- samples -----------------------------------------------------------------------

@pytest.mark.parametrize("value, encoded", [
    (1.0, "3f800000"), (-2.0, "c0000000"), (0.1, "3dcccccd"), (-0.0, "80000000"), (INF, "7f800000"),
    (-INF, "ff800000"), (NAN, "7fc00000"), (1e40, "7f800000"), (1e-50, "00000000"),
    (1.0 + 2.0**-24, "3f800000"), (1.0 + 3 * 2.0**-24, "3f800002"), (2.0**-149, "00000001"),
], ids=["one", "minus-two", "tenth", "negative-zero", "inf", "-inf", "nan", "overflow", "underflow",
        "tie-to-even-down", "tie-to-even-up", "subnormal"])
def test_ieee_sample_encoding(out, value, encoded):
    assert write(out, [value], 1, 1)[3840:].hex() == encoded


@pytest.mark.parametrize("value, encoded", [
    (1.0, "0001"), (-1.5, "ffff"), (1.9, "0001"), (-1.9, "ffff"), (40000.0, "7fff"), (-40000.0, "8000"),
    (NAN, "8000"), (INF, "7fff"), (-INF, "8000"), (32767.9, "7fff"), (-32768.9, "8000"), (-0.7, "0000"),
    (12345.0, "3039"),
], ids=["one", "minus-1.5", "1.9", "minus-1.9", "clamp-high", "clamp-low", "nan", "inf", "-inf",
        "just-below-top", "just-below-bottom", "minus-0.7", "12345"])
def test_int16_sample_encoding(out, value, encoded):
    assert write(out, [value], 1, 1, format_code=3)[3840:].hex() == encoded


SAMPLES = [1.0, -2.5, 1e10, NAN, 0.1, -0.0]
SAMPLE_INPUTS = {
    "list": lambda: list(SAMPLES),
    "tuple": lambda: tuple(SAMPLES),
    "float64-array": lambda: np.array(SAMPLES),
    "float32-array": lambda: np.array(SAMPLES, np.float32),
    "strided-array": lambda: np.repeat(np.array(SAMPLES), 2)[::2],
    "int-list": lambda: [1, -2, 10**10, 0, 0, 0],
}


@pytest.mark.parametrize("format_code", [5, 3])
@pytest.mark.parametrize("kind", SAMPLE_INPUTS)
def test_sample_inputs_write_the_same_bytes(out, kind, format_code):
    traces = SAMPLE_INPUTS[kind]()
    data = write(out, traces, 2, 3, format_code=format_code)
    values = np.array([float(v) for v in traces])
    if format_code == 5:
        expected = values.astype(">f4").tobytes()
    else:
        with np.errstate(invalid="ignore"):
            expected = np.trunc(np.nan_to_num(values, nan=-32768.0).clip(-32768, 32767)).astype(">i2").tobytes()
    width = 4 if format_code == 5 else 2
    stride = 240 + 3 * width
    assert data[3600 + 240:3600 + stride] + data[3600 + stride + 240:] == expected


def test_traces_are_trace_major_and_surplus_values_ignored(out):
    data = write(out, [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 99.0], 2, 3)
    assert data[3840:3852] == struct.pack(">3f", 1, 2, 3)
    assert data[4092:4104] == struct.pack(">3f", 4, 5, 6)
    assert len(data) == 4104


# ---- text header -------------------------------------------------------------------

@pytest.mark.parametrize("description, start", [
    ("", b""),
    ("Line 1: x=2.5", bytes.fromhex("d3c9d5c540f17a40e77ef24bf5")),
    ("abc\nXYZ\t*;", bytes.fromhex("c1c2c340e7e8e9404040")),
    ("é+,-./:=>", bytes.fromhex("40404e6b604b617a7e6e")),
    ("0123456789 jklmnopqr stuvwxyz", bytes.fromhex("f0f1f2f3f4f5f6f7f8f940d1d2d3d4d5d6d7d8d940e2e3e4e5e6e7e8e9")),
], ids=["empty", "mixed-case", "controls", "punctuation", "alphabet"])
def test_text_header(out, description, start):
    header = write(out, [], 0, 0, description=description)[:3200]
    assert header == start + b"\x40" * (3200 - len(start))


def test_long_description_is_cut_at_3200_bytes(out):
    header = write(out, [], 0, 0, description="a" * 3199 + "é" + "b" * 1000)[:3200]
    assert header == b"\xc1" * 3199 + b"\x40"


# ---- failures ------------------------------------------------------------------------

def assert_internal_fault(failure, message):
    """InternalFault derives from BaseException and is not a module attribute."""
    fault = failure.value
    assert (type(fault).__module__, type(fault).__name__) == ("orvek_core", "InternalFault")
    assert not isinstance(fault, Exception)
    assert fault.args == (message,)


def test_too_few_samples_is_an_internal_fault_and_writes_nothing(out):
    out.write_bytes(b"keep me")
    before = os.stat(out)
    with pytest.raises(BaseException) as failure:
        write(out, [1.0] * 5, 2, 3)
    assert_internal_fault(failure, "index out of bounds: the len is 5 but the index is 5")
    assert out.read_bytes() == b"keep me"
    assert os.stat(out).st_mtime_ns == before.st_mtime_ns


def test_too_few_samples_creates_no_file(out):
    with pytest.raises(BaseException) as failure:
        write(out, np.array([], np.float32), 1, 1)
    assert_internal_fault(failure, "index out of bounds: the len is 0 but the index is 0")
    assert not out.exists()


@pytest.mark.parametrize("n_traces, n_samples, message", [
    (2**64 - 1, 1, r"^SEG-Y file too large: 18446744073709551615 traces of 1 samples do not fit in memory$"),
    (2**50, 65535, r"^SEG-Y file too large: 1125899906842624 traces of 65535 samples do not fit in memory$"),
    (2**60, 0, r"^SEG-Y file too large: 1152921504606846976 traces of 0 samples do not fit in memory$"),
    (2**45, 65535, r"^cannot allocate 9231675548667743760 bytes$"),
], ids=["traces", "samples", "headers-alone", "allocation"])
def test_sizes_beyond_memory_fail_before_writing(out, n_traces, n_samples, message):
    out.write_bytes(b"keep me")
    with pytest.raises(OSError, match=message) as failure:
        write(out, [], n_traces, n_samples)
    assert type(failure.value) is OSError
    assert out.read_bytes() == b"keep me"


@pytest.mark.parametrize("make_path, message", [
    (lambda tmp: tmp / "missing" / "out.sgy", "No such file or directory (os error 2)"),
    (lambda tmp: tmp, "Is a directory (os error 21)"),
    (lambda tmp: tmp / "a\0b.sgy", "file name contained an unexpected NUL byte"),
], ids=["missing-directory", "directory", "nul"])
def test_unwritable_paths(tmp_path, make_path, message):
    with pytest.raises(OSError) as failure:
        orvek_core.write_segy(str(make_path(tmp_path)), [1.0], 1, 1, 1000.0, "", 5)
    assert type(failure.value) is OSError
    assert failure.value.args == (message,)


GOOD_ARGS = ["out.sgy", [1.0], 1, 1, 1000.0, "", 5, None, None, 1]


@pytest.mark.parametrize("index, value, error, message", [
    (0, 5, TypeError, "argument 'path': 'int' object cannot be converted to 'PyString'"),
    (1, "1.0", TypeError, "argument 'traces': "),
    (1, 3.0, TypeError, "argument 'traces': 'float' object cannot be converted to 'Sequence'"),
    (2, -1, OverflowError, ""),
    (3, 1.5, TypeError, "argument 'n_samples': "),
    (4, "1000", TypeError, "argument 'sample_interval_ns': "),
    (5, None, TypeError, "argument 'description': 'NoneType' object cannot be converted to 'PyString'"),
    (6, 40000, OverflowError, "out of range integral type conversion attempted"),
    (7, "xy", TypeError, "argument 'trace_x_coords': "),
    (8, 7, TypeError, "argument 'trace_y_coords': 'int' object cannot be converted to 'Sequence'"),
    (9, -40000, OverflowError, "out of range integral type conversion attempted"),
], ids=["path", "traces-str", "traces-float", "n_traces", "n_samples", "sample_interval_ns", "description",
        "format_code", "trace_x_coords", "trace_y_coords", "measurement_system"])
def test_argument_errors_name_the_argument(tmp_path, index, value, error, message):
    args = list(GOOD_ARGS)
    args[0] = str(tmp_path / "out.sgy")
    args[index] = value
    with pytest.raises(error) as failure:
        orvek_core.write_segy(*args)
    assert str(failure.value).startswith(message)
    assert not (tmp_path / "out.sgy").exists()


def test_arguments_are_converted_in_signature_order(tmp_path):
    with pytest.raises(TypeError, match="^argument 'path'"):
        orvek_core.write_segy(5, "not samples", -1, 1, 1000.0, "", 5)


def test_keywords_and_defaults(out):
    orvek_core.write_segy(path=str(out), traces=[1.0], n_traces=1, n_samples=1, sample_interval_ns=1000.0,
                          description="d", format_code=5)
    assert word16(out.read_bytes(), 3254) == 1
    assert orvek_core.write_segy.__text_signature__ == (
        "(path, traces, n_traces, n_samples, sample_interval_ns, description, format_code, "
        "trace_x_coords=None, trace_y_coords=None, measurement_system=1)")
