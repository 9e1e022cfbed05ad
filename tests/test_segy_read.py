"""parse_segy: header fields, both trace walks, byte orders, coordinates and failures.

Files are built byte by byte by `make_segy`, so that every header value is the one the
test names; the files `write_segy` makes are covered in test_segy_roundtrip.py.
"""
import os
import struct

import numpy as np
import pytest

import orvek_core


def f32(value):
    """The nearest 32-bit float, as a Python float."""
    return float(np.float32(value))


def binary_header(*, fmt=5, samples=3, interval_us=1000, fixed=1, extended=0, measurement=1, endian=">"):
    block = bytearray(400)
    for offset, value in ((16, interval_us), (20, samples), (24, fmt), (54, measurement), (302, fixed),
                          (304, extended)):
        struct.pack_into(endian + "h", block, offset, value)
    return bytes(block)


def trace(samples=b"", *, seq=1, x=0, y=0, scalar=0, count=None, endian=">"):
    """A 240-byte trace header followed by `samples`; `count` defaults to 0."""
    block = bytearray(240)
    struct.pack_into(endian + "i", block, 0, seq)
    struct.pack_into(endian + "hii", block, 70, scalar, x, y)
    struct.pack_into(endian + "h", block, 114, 0 if count is None else count)
    return bytes(block) + samples


def make_segy(path, traces=(), *, tail=b"", endian=">", extended_bytes=None, **binary):
    extended = binary.get("extended", 0)
    if extended_bytes is None:
        extended_bytes = b"\x40" * (3200 * max(extended, 0))
    data = b"\x40" * 3200 + binary_header(endian=endian, **binary) + extended_bytes + b"".join(traces) + tail
    path.write_bytes(data)
    return str(path)


@pytest.fixture
def segy(tmp_path):
    return lambda *args, **kwargs: make_segy(tmp_path / "line.sgy", *args, **kwargs)


def samples_of(n, fmt=5):
    width = {1: 4, 2: 4, 3: 2, 5: 4, 8: 1}[fmt]
    return bytes((i * 7 + 1) % 256 for i in range(n * width))


# ---- main paths ----------------------------------------------------------------------

@pytest.mark.parametrize("endian", [">", "<"], ids=["big", "little"])
def test_fixed_walk_keeps_the_trace_area_whole(segy, endian):
    traces = [trace(samples_of(3), seq=i + 1, endian=endian) for i in range(2)]
    path = segy(traces, endian=endian, interval_us=250, measurement=2)
    survey = orvek_core.parse_segy(path)
    assert survey.path == path
    assert survey.format == "segy"
    assert (survey.format_code, survey.bits_per_sample, survey.samples_per_trace) == (5, 32, 3)
    assert (survey.num_traces, survey.header_offset, survey.channels) == (2, 3600, 1)
    assert survey.measurement_system == 2
    assert survey.sample_interval_ns == 250000.0
    assert survey.time_window_ns == 750000.0
    # Trace headers included, sample bytes untouched by the byte order.
    assert bytes(survey.trace_data) == b"".join(traces)
    assert survey.src_x_coords == [0.0, 0.0] and survey.src_y_coords == [0.0, 0.0]
    assert survey.trace_positions == [1.0, 2.0]
    assert survey.traces_per_meter == 0.0
    assert repr(survey) == "PySurvey(format=segy, traces=2, samples=3, bits=32)"


def test_untouched_fields_keep_their_defaults(segy):
    survey = orvek_core.parse_segy(segy([trace(samples_of(3))]))
    assert survey.trace_time_zeros == [] and survey.trace_elevations == [] and survey.history == []
    assert (survey.traces_per_second, survey.time_zero_ns, survey.cell_size, survey.rotation_deg) == (0, 0, 0, 0)
    assert (survey.origin_easting, survey.origin_northing, survey.zigzag) == (0.0, 0.0, False)


@pytest.mark.parametrize("fmt, bits", [(1, 32), (2, 32), (3, 16), (5, 32), (8, 8)],
                         ids=["ibm", "int32", "int16", "ieee", "int8"])
@pytest.mark.parametrize("endian", [">", "<"], ids=["big", "little"])
def test_each_supported_format_code(segy, fmt, bits, endian):
    body = [trace(samples_of(4, fmt), endian=endian), trace(samples_of(4, fmt), endian=endian)]
    survey = orvek_core.parse_segy(segy(body, fmt=fmt, samples=4, endian=endian))
    assert (survey.format_code, survey.bits_per_sample, survey.num_traces) == (fmt, bits, 2)


def test_fixed_walk_counts_whole_traces_and_keeps_the_rest(segy):
    # S = 100, B = 4: stride 640, and 1000 bytes after the data start hold one trace.
    path = segy([trace(samples_of(100))], tail=bytes(360), samples=100)
    survey = orvek_core.parse_segy(path)
    assert survey.num_traces == 1
    assert len(survey.trace_data) == 1000


def test_fixed_walk_reads_headers_where_the_stride_puts_them(segy):
    # The trace headers' own counts disagree with the binary header; the stride wins.
    body = [trace(samples_of(3), seq=7, count=1), trace(samples_of(3), seq=8, count=999)]
    survey = orvek_core.parse_segy(segy(body))
    assert survey.num_traces == 2
    assert survey.trace_positions == [7.0, 8.0]


@pytest.mark.parametrize("endian", [">", "<"], ids=["big", "little"])
def test_variable_walk_keeps_only_the_samples(segy, endian):
    first, second = samples_of(100), samples_of(200)[::-1]
    body = [trace(first, seq=1, count=100, endian=endian), trace(second, seq=2, count=200, endian=endian),
            trace(samples_of(5), seq=3, count=0, endian=endian)]
    survey = orvek_core.parse_segy(segy(body, fixed=0, samples=0, endian=endian))
    assert survey.num_traces == 2
    assert survey.samples_per_trace == 100  # taken from the first trace header
    assert bytes(survey.trace_data) == first + second
    assert survey.trace_positions == [1.0, 2.0]


def test_variable_walk_drops_an_incomplete_last_trace(segy):
    body = [trace(samples_of(10), count=10), trace(samples_of(10), seq=2, count=11)]
    survey = orvek_core.parse_segy(segy(body, fixed=0, samples=10))
    assert survey.num_traces == 1
    assert bytes(survey.trace_data) == samples_of(10)


def test_variable_walk_stops_when_no_header_fits(segy):
    body = [trace(samples_of(10), count=10)]
    survey = orvek_core.parse_segy(segy(body, tail=bytes(239), fixed=0, samples=10))
    assert survey.num_traces == 1


def test_samples_per_trace_falls_back_to_the_first_trace_header(segy):
    survey = orvek_core.parse_segy(segy([trace(samples_of(250), count=250)], samples=0))
    assert (survey.samples_per_trace, survey.num_traces) == (250, 1)


@pytest.mark.parametrize("extended, data_start", [(2, 10000), (-5, 3600), (0, 3600)],
                         ids=["two", "negative", "none"])
def test_extended_text_headers_are_skipped(segy, extended, data_start):
    survey = orvek_core.parse_segy(segy([trace(samples_of(3), seq=5)], extended=extended))
    assert survey.header_offset == data_start
    assert survey.trace_positions == [5.0]


@pytest.mark.parametrize("x, y, scalar, expected", [
    (12345, -500, -10, (1234.5, -50.0)),
    (12345, -500, 0, (12345.0, -500.0)),
    (250, 0, -100, (2.5, 0.0)),
    (10, 0, -3, (3.3333332538604736, 0.0)),  # the 64-bit quotient rounded to 32 bits
    (5, 7, 10, (50.0, 70.0)),
    (65536, -65536, -32768, (2.0, -2.0)),
    (2147483647, -2147483648, 32767, (f32(2147483647 * 32767), f32(-2147483648 * 32767))),
], ids=["divide-10", "zero", "divide-100", "divide-3", "multiply", "divide-32768", "extremes"])
def test_coordinate_scalar(segy, x, y, scalar, expected):
    survey = orvek_core.parse_segy(segy([trace(samples_of(3), x=x, y=y, scalar=scalar)]))
    assert (survey.src_x_coords[0], survey.src_y_coords[0]) == expected


@pytest.mark.parametrize("xs, positions, per_meter", [
    ((0, 0, 0), [1.0, 2.0, 3.0], 0.0),
    ((0, 5, 0), [0.0, 0.5, 0.0], 2.0),
    ((30, 10, 0), [3.0, 1.0, 0.0], 0.5),
    ((4, 4, 9), [0.4, 0.4, 0.9], 0.0),
], ids=["all-zero", "half-metre", "backwards", "same-first-two"])
def test_trace_positions_and_spacing(segy, xs, positions, per_meter):
    body = [trace(samples_of(3), seq=i + 1, x=x, scalar=-10) for i, x in enumerate(xs)]
    survey = orvek_core.parse_segy(segy(body))
    assert survey.trace_positions == pytest.approx(positions, rel=1e-7)
    assert survey.traces_per_meter == pytest.approx(per_meter, rel=1e-7)


def test_one_trace_has_no_spacing(segy):
    survey = orvek_core.parse_segy(segy([trace(samples_of(3), x=50)]))
    assert (survey.trace_positions, survey.traces_per_meter) == ([50.0], 0.0)


@pytest.mark.parametrize("interval_us, samples, interval_ns, window_ns", [
    (250, 100, 250000.0, 25000000.0),
    (-1, 3, -1000.0, -3000.0),
    (0, 3, 0.0, 0.0),
    (32767, 32767, 32767000.0, f32(np.float32(32767000.0) * np.float32(32767.0))),
], ids=["250us", "negative", "zero", "largest"])
def test_sample_interval_and_window(segy, interval_us, samples, interval_ns, window_ns):
    body = [trace(samples_of(samples))]
    survey = orvek_core.parse_segy(segy(body, interval_us=interval_us, samples=samples))
    assert survey.sample_interval_ns == interval_ns
    assert survey.time_window_ns == window_ns


def test_odd_measurement_system_is_copied(segy):
    assert orvek_core.parse_segy(segy([trace(samples_of(3))], measurement=-7)).measurement_system == -7


# ---- failures ------------------------------------------------------------------------

def raw_file(path, data):
    path.write_bytes(data)
    return str(path)


def header_only(**binary):
    return b"\x40" * 3200 + binary_header(**binary)


@pytest.mark.parametrize("data, message", [
    (b"", "File too small for SEG-Y header (min 3600 bytes)"),
    (bytes(3599), "File too small for SEG-Y header (min 3600 bytes)"),
    (header_only(), "Trace data start exceeds file size"),
    (header_only(extended=2) + bytes(6400), "Trace data start exceeds file size"),
    (header_only(fmt=4) + trace(), "Unsupported SEG-Y format code: 4"),
    (header_only(fmt=0) + trace(), "Unsupported SEG-Y format code: 0"),
    (header_only(fmt=-1) + trace(), "Unsupported SEG-Y format code: -1"),
    (header_only(fmt=6) + trace(), "Unsupported SEG-Y format code: 6"),
    (header_only(fmt=4, endian="<") + trace(), "Unsupported SEG-Y format code: 1024"),
    (header_only(fmt=257) + trace(), "Unsupported SEG-Y format code: 257"),
    (header_only(samples=0) + trace(count=0), "Cannot determine trace layout"),
    (header_only(samples=-3) + trace(count=-3), "Cannot determine trace layout"),
    (header_only(samples=0) + bytes(239), "Cannot determine trace layout"),
    (header_only(fixed=0) + trace(), "Cannot determine trace layout"),  # exactly one header
    (header_only(fixed=0) + trace(count=0) + bytes(1), "No traces found in SEG-Y file"),
    (header_only(fixed=0) + trace(count=5) + bytes(19), "No traces found in SEG-Y file"),
    (header_only(samples=3) + trace(bytes(11)), "No traces found in SEG-Y file"),
], ids=["empty", "3599-bytes", "3600-bytes", "extended-beyond-end", "code-4", "code-0", "code-ff-ff",
        "code-6", "little-code-4", "code-257", "no-sample-count", "negative-sample-count",
        "short-first-header", "variable-one-header", "variable-zero-count", "variable-short-trace",
        "fixed-short-trace"])
def test_malformed_files(tmp_path, data, message):
    with pytest.raises(OSError) as failure:
        orvek_core.parse_segy(raw_file(tmp_path / "bad.sgy", data))
    assert type(failure.value) is OSError
    assert failure.value.args == (message,)


@pytest.mark.parametrize("make_path, message", [
    (lambda tmp: str(tmp / "missing.sgy"), "No such file or directory (os error 2)"),
    (lambda tmp: str(tmp), "Is a directory (os error 21)"),
    (lambda tmp: str(tmp / "a\0b.sgy"), "file name contained an unexpected NUL byte"),
], ids=["missing", "directory", "nul"])
def test_unreadable_paths(tmp_path, make_path, message):
    with pytest.raises(OSError) as failure:
        orvek_core.parse_segy(make_path(tmp_path))
    assert type(failure.value) is OSError
    assert failure.value.args == (message,)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file(segy):
    path = segy([trace(samples_of(3))])
    os.chmod(path, 0)
    with pytest.raises(OSError, match=r"^Permission denied \(os error 13\)$"):
        orvek_core.parse_segy(path)


def test_path_must_be_str(tmp_path):
    with pytest.raises(TypeError, match="^argument 'path': 'bytes' object cannot be converted to 'PyString'$"):
        orvek_core.parse_segy(b"line.sgy")


def test_path_by_keyword(segy):
    assert orvek_core.parse_segy(path=segy([trace(samples_of(3))])).num_traces == 1

