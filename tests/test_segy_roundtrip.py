"""SEG-Y interoperability with segyio, an independent SEG-Y library, in both directions,
and write_segy followed by parse_segy.

segyio reads what write_segy writes with the same samples and headers; files that
segyio writes, big- and little-endian, in each sample format it can write, read back
with the header values and the untouched sample bytes they hold.
"""
import struct
import warnings

import numpy as np
import pytest

import orvek_core

segyio = pytest.importorskip("segyio")
TF = segyio.TraceField
BF = segyio.BinField

RNG = np.random.default_rng(20240611)
N_TRACES, N_SAMPLES = 4, 50
SIGNAL = RNG.normal(0.0, 3000.0, N_TRACES * N_SAMPLES)
SIGNAL[:4] = [1.9, -1.9, 40000.0, -40000.0]  # truncation and clamping in 16-bit files
X = [100.0, 100.5, 101.75, -3.2]
Y = [-7.9, 0.0, 2e9, 0.4]


def expected_samples(format_code, values):
    if format_code == 5:
        return values.astype(np.float32)
    return np.trunc(values.clip(-32768, 32767)).astype(np.int16)


# ---- write_segy, then segyio --------------------------------------------------------

@pytest.mark.parametrize("format_code", [5, 3], ids=["ieee", "int16"])
@pytest.mark.parametrize("kind", ["list", "float64-array", "float32-array"])
def test_segyio_reads_what_we_write(tmp_path, format_code, kind):
    values = {"list": lambda: SIGNAL.tolist(), "float64-array": lambda: SIGNAL,
              "float32-array": lambda: SIGNAL.astype(np.float32)}[kind]()
    path = str(tmp_path / "ours.sgy")
    orvek_core.write_segy(path, values, N_TRACES, N_SAMPLES, 250000.0, "Line 7 profile: gain=2.5",
                          format_code, X, Y, 2)
    source = np.asarray(values, dtype=np.float64)
    with segyio.open(path, ignore_geometry=True) as f:
        assert f.tracecount == N_TRACES
        assert len(f.samples) == N_SAMPLES
        assert f.bin[BF.Interval] == 250 and segyio.tools.dt(f) == 250.0
        assert f.bin[BF.Format] == format_code
        assert f.bin[BF.MeasurementSystem] == 2
        raw = f.trace.raw[:]
        assert raw.dtype == expected_samples(format_code, source).dtype
        np.testing.assert_array_equal(raw, expected_samples(format_code, source).reshape(N_TRACES, N_SAMPLES))
        for k in range(N_TRACES):
            header = f.header[k]
            assert header[TF.TRACE_SEQUENCE_LINE] == k + 1
            assert header[TF.TRACE_SAMPLE_COUNT] == N_SAMPLES
            assert header[TF.TRACE_SAMPLE_INTERVAL] == 250
            assert (header[TF.SourceX], header[TF.SourceY]) == (int(np.float32(X[k])), int(np.float32(Y[k])))
            assert header[TF.SourceGroupScalar] == 1
        assert f.text[0] == b"LINE 7 PROFILE: GAIN=2.5".ljust(3200)


def test_write_then_parse(tmp_path):
    path = str(tmp_path / "line.sgy")
    orvek_core.write_segy(path, SIGNAL, N_TRACES, N_SAMPLES, 1499.9, "demo", 5, X)
    survey = orvek_core.parse_segy(path)
    assert (survey.format_code, survey.bits_per_sample) == (5, 32)
    assert (survey.num_traces, survey.samples_per_trace, survey.header_offset) == (N_TRACES, N_SAMPLES, 3600)
    assert survey.sample_interval_ns == 1000.0  # 1.4999 µs rounds to 1
    assert survey.measurement_system == 1
    assert survey.src_x_coords == [100.0, 100.0, 101.0, -3.0]  # truncated to whole numbers
    assert survey.src_y_coords == [0.0] * N_TRACES
    assert survey.trace_positions == survey.src_x_coords
    assert survey.traces_per_meter == 0.0  # the first two positions coincide
    with open(path, "rb") as f:
        assert bytes(survey.trace_data) == f.read()[3600:]


# ---- segyio writes, parse_segy reads -------------------------------------------------

ENDIANS = ["big", "little"]
SUPPORTED = {1: 32, 2: 32, 3: 16, 5: 32, 8: 8}
SAMPLE_DTYPES = {2: "i4", 3: "i2", 5: "f4", 8: "i1"}


def segyio_codes():
    """Every sample format code segyio writes."""
    return sorted(int(code) for name, code in vars(segyio.SegySampleFormat).items()
                  if not name.startswith(("_", "NOT_IN_USE")))


def ibm_to_float(words):
    """IBM hexadecimal floats (as unsigned 32-bit integers) to 64-bit floats."""
    words = words.astype(np.uint64)
    sign = np.where(words >> 31, -1.0, 1.0)
    exponent = ((words >> 24) & 0x7F).astype(np.int64) - 64
    fraction = (words & 0xFFFFFF).astype(np.float64) / float(1 << 24)
    return sign * fraction * np.power(16.0, exponent)


def decode(trace_data, format_code, endian):
    order = ">" if endian == "big" else "<"
    if format_code == 1:
        return ibm_to_float(np.frombuffer(trace_data, order + "u4"))
    return np.frombuffer(trace_data, order + SAMPLE_DTYPES[format_code]).astype(np.float64)


def segyio_file(path, *, format_code, endian, n_traces=3, n_samples=5, ext_headers=0, fixed=False,
                trace_headers=True):
    """A file made by segyio.create, with trace headers filled as a typical writer does."""
    spec = segyio.spec()
    spec.format = format_code
    spec.samples = [i * 0.25 for i in range(n_samples)]  # 250 µs
    spec.tracecount = n_traces
    spec.endian = endian
    spec.ext_headers = ext_headers
    data = np.arange(n_traces * n_samples, dtype=np.float32).reshape(n_traces, n_samples) - 4.0
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # segyio warns about narrowing to integer formats
        with segyio.create(str(path), spec) as f:
            f.bin.update({BF.MeasurementSystem: 2})
            if fixed:
                f.bin.update({BF.TraceFlag: 1})
            for k in range(n_traces):
                f.trace[k] = data[k]
                if trace_headers:
                    f.header[k] = {TF.TRACE_SEQUENCE_LINE: k + 1, TF.TRACE_SAMPLE_COUNT: n_samples,
                                   TF.SourceGroupScalar: -100, TF.SourceX: 1000 + 50 * k, TF.SourceY: -250 * k}
    return str(path), data


@pytest.mark.parametrize("endian", ENDIANS)
@pytest.mark.parametrize("format_code", sorted(SUPPORTED))
@pytest.mark.parametrize("fixed", [False, True], ids=["variable", "fixed"])
def test_segyio_files_in_supported_formats(tmp_path, format_code, endian, fixed):
    path, data = segyio_file(tmp_path / "theirs.sgy", format_code=format_code, endian=endian, fixed=fixed)
    survey = orvek_core.parse_segy(path)
    assert survey.format == "segy"
    assert (survey.format_code, survey.bits_per_sample) == (format_code, SUPPORTED[format_code])
    assert (survey.num_traces, survey.samples_per_trace, survey.header_offset) == (3, 5, 3600)
    assert survey.sample_interval_ns == 250000.0 and survey.time_window_ns == 1250000.0
    assert survey.measurement_system == 2
    assert survey.src_x_coords == [10.0, 10.5, 11.0]
    assert survey.src_y_coords == [0.0, -2.5, -5.0]
    assert survey.trace_positions == [10.0, 10.5, 11.0]
    assert survey.traces_per_meter == 2.0

    file_bytes = open(path, "rb").read()
    width = SUPPORTED[format_code] // 8
    if fixed:  # the trace area whole, headers included
        assert bytes(survey.trace_data) == file_bytes[3600:]
    else:  # the sample bytes alone, in the file's byte order
        stride = 240 + 5 * width
        samples = b"".join(file_bytes[3600 + k * stride + 240:3600 + (k + 1) * stride] for k in range(3))
        assert bytes(survey.trace_data) == samples
        np.testing.assert_array_equal(decode(samples, format_code, endian), data.ravel())


@pytest.mark.parametrize("endian", ENDIANS)
@pytest.mark.parametrize("format_code", [c for c in segyio_codes() if c not in SUPPORTED])
def test_segyio_files_in_other_formats_are_refused(tmp_path, format_code, endian):
    path, _ = segyio_file(tmp_path / "theirs.sgy", format_code=format_code, endian=endian)
    # A little-endian code the module does not know reads as big-endian: byte-swapped.
    shown = format_code if endian == "big" else struct.unpack(">h", struct.pack("<h", format_code))[0]
    with pytest.raises(OSError) as failure:
        orvek_core.parse_segy(path)
    assert failure.value.args == (f"Unsupported SEG-Y format code: {shown}",)


@pytest.mark.parametrize("endian", ENDIANS)
@pytest.mark.parametrize("ext_headers, data_start", [(1, 6800), (2, 10000)])
def test_segyio_extended_text_headers(tmp_path, endian, ext_headers, data_start):
    path, _ = segyio_file(tmp_path / "theirs.sgy", format_code=5, endian=endian, ext_headers=ext_headers)
    survey = orvek_core.parse_segy(path)
    assert (survey.header_offset, survey.num_traces) == (data_start, 3)


def test_segyio_file_without_trace_sample_counts(tmp_path):
    # Fixed-length flag 0 and no per-trace sample count: the walk finds no trace.
    path, _ = segyio_file(tmp_path / "bare.sgy", format_code=5, endian="big", trace_headers=False)
    with pytest.raises(OSError, match=r"^No traces found in SEG-Y file$"):
        orvek_core.parse_segy(path)
    # The same file with the fixed-length flag set is walked by the binary header's count.
    path, _ = segyio_file(tmp_path / "bare-fixed.sgy", format_code=5, endian="little", trace_headers=False,
                          fixed=True)
    survey = orvek_core.parse_segy(path)
    assert (survey.num_traces, survey.trace_positions) == (3, [0.0, 0.0, 0.0])


def test_segyio_from_array(tmp_path):
    # from_array fills the per-trace sample count but neither the fixed-length flag nor
    # the sequence numbers: a variable walk, positions all 0.
    data = np.linspace(-1.0, 1.0, 6 * 20, dtype=np.float32).reshape(6, 20)
    path = str(tmp_path / "from_array.sgy")
    segyio.tools.from_array(path, data, format=5, dt=500)
    survey = orvek_core.parse_segy(path)
    assert (survey.num_traces, survey.samples_per_trace, survey.format_code) == (6, 20, 5)
    assert survey.sample_interval_ns == 500000.0
    assert survey.trace_positions == [0.0] * 6
    np.testing.assert_array_equal(np.frombuffer(bytes(survey.trace_data), ">f4").reshape(6, 20), data)
