"""parse_dt1: DT1 traces laid out by the HD text, headers split from the samples."""
import math
import struct

import pytest

import orvek_core


def trace_header(position=0.0, elevation=0.0, time_zero=0.0):
    """A 128-byte DT1 trace header. The words the reader must not take hold decoys:
    points per trace at byte 8, an unused word at 16, bytes per point at 20."""
    header = bytearray(128)
    struct.pack_into("<f", header, 0, 7.0)         # trace number
    struct.pack_into("<f", header, 4, position)
    struct.pack_into("<f", header, 8, 1500.0)
    struct.pack_into("<f", header, 12, elevation)
    struct.pack_into("<f", header, 16, 99.0)
    struct.pack_into("<f", header, 20, 2.0)
    struct.pack_into("<f", header, 80, time_zero)
    return bytes(header)


def sample_bytes(k, count):
    return bytes((k * 31 + i) % 256 for i in range(count))


def make_dt1(path, n_traces, sample_count, tail=b""):
    """n traces whose header words are (k + 0.5, -k, 10 k) and whose samples are
    sample_bytes(k, sample_count); `tail` follows the last trace."""
    data = b"".join(trace_header(k + 0.5, -float(k), 10.0 * k) + sample_bytes(k, sample_count)
                    for k in range(n_traces))
    path.write_bytes(data + tail)
    return str(path)


def test_traces_and_record(tmp_path):
    path = make_dt1(tmp_path / "a.dt1", 3, 512, tail=bytes(100))
    hd = "NUMBEROFPTS=256\nBITSPERSAMPLE=16\nTIMEWINDOW=100\nPULLDELAY=-2.5\nNUMBEROFCHANNELS=4\n"
    s = orvek_core.parse_dt1(path, hd)
    assert (s.path, s.format, s.num_traces) == (path, "dt1", 3)
    assert (s.samples_per_trace, s.bits_per_sample, s.channels) == (256, 16, 4)
    assert (s.time_window_ns, s.time_zero_ns, s.sample_interval_ns) == (100.0, -2.5, 0.390625)
    assert s.trace_data == list(b"".join(sample_bytes(k, 512) for k in range(3)))
    assert s.trace_positions == [0.5, 1.5, 2.5]
    assert s.trace_elevations == [0.0, -1.0, -2.0]
    assert s.trace_time_zeros == [0.0, 10.0, 20.0]
    assert (s.header_offset, s.format_code, s.measurement_system) == (0, 0, 0)
    assert (s.traces_per_second, s.traces_per_meter, s.cell_size, s.rotation_deg) == (0.0, 0.0, 0.0, 0.0)
    assert (s.origin_easting, s.origin_northing, s.zigzag) == (0.0, 0.0, False)
    assert s.src_x_coords == [] and s.src_y_coords == [] and s.history == []
    assert repr(s) == "PySurvey(format=dt1, traces=3, samples=256, bits=16)"
    assert orvek_core.parse_dt1(path=path, hd_content=hd).trace_data == s.trace_data


def test_trace_header_words(tmp_path):
    # Position, topography and time-zero adjustment are the words at bytes 4, 12 and
    # 80; bytes 8, 16 and 20 (points per trace, unused, bytes per point) are not read.
    header = bytearray(trace_header())
    header[4:8] = bytes([0x00, 0x00, 0x80, 0x3F])        # 1.0
    header[12:16] = struct.pack("<f", -math.inf)
    header[80:84] = bytes([0x01, 0x00, 0x00, 0x80])      # -1.4e-45, subnormal
    path = tmp_path / "a.dt1"
    path.write_bytes(bytes(header) + bytes(16))
    s = orvek_core.parse_dt1(str(path))
    assert s.trace_positions == [1.0]
    assert s.trace_elevations == [-math.inf]
    assert [struct.pack("<f", v) for v in s.trace_time_zeros] == [bytes([0x01, 0x00, 0x00, 0x80])]
    header[4:8] = struct.pack("<f", math.nan)
    path.write_bytes(bytes(header) + bytes(16))
    assert math.isnan(orvek_core.parse_dt1(str(path)).trace_positions[0])


def test_real_hd_text_with_spaced_keys(tmp_path):
    # The HD text of a real line spells its settings in words with spaces.
    hd = ("1234\r\nData Collected with GPR\r\n2021-06-01\r\n"
          "NUMBER OF TRACES   = 531\r\n"
          "NUMBER OF PTS/TRC  = 1500\r\n"
          "TIMEZERO AT POINT  = 101\r\n"
          "TOTAL TIME WINDOW  = 150\r\n"
          "STARTING POSITION  = 0.000000\r\n"
          "FINAL POSITION     = 26.500000\r\n"
          "STEP SIZE USED     = 0.050000\r\n"
          "NOMINAL FREQUENCY  = 500.000000\r\n")
    path = make_dt1(tmp_path / "line.dt1", 3, 3000)
    s = orvek_core.parse_dt1(path, hd)
    assert (s.num_traces, s.samples_per_trace, s.bits_per_sample, s.channels) == (3, 1500, 16, 1)
    assert (s.time_window_ns, s.sample_interval_ns) == (150.0, 0.10000000149011612)  # 32-bit 0.1
    assert s.trace_positions == [0.5, 1.5, 2.5]
    assert len(s.trace_data) == 3 * 3000


# (HD text, expected (samples per trace, bits per sample, channels, time window, time zero))
HD_CASES = {
    "empty-text-defaults": ("", (512, 16, 1, 0.0, 0.0)),
    "lower-case-key-blanks": ("numberofpts = 256", (256, 16, 1, 0.0, 0.0)),
    "spaced-key-is-no-key": ("NUMBER OF PTS = 256", (512, 16, 1, 0.0, 0.0)),
    "pts-per-trace-spaced": ("NUMBER OF PTS/TRC = 256", (256, 16, 1, 0.0, 0.0)),
    "pts-per-trace-lower": ("number of pts/trc=256", (256, 16, 1, 0.0, 0.0)),
    "pts-per-trace-two-blanks": ("NUMBER  OF PTS/TRC = 256", (512, 16, 1, 0.0, 0.0)),
    "pts-per-trace-tab": ("NUMBER\tOF PTS/TRC = 256", (512, 16, 1, 0.0, 0.0)),
    "last-converting-line-wins": ("NUMBER OF PTS/TRC=100\nNUMBEROFPTS=200\nNUMBEROFPOINTS=x", (200, 16, 1, 0.0, 0.0)),
    "spaced-after-plain": ("NUMBEROFPTS=200\nNUMBER OF PTS/TRC=100", (100, 16, 1, 0.0, 0.0)),
    "number-of-points": ("NUMBEROFPOINTS=+0064", (64, 16, 1, 0.0, 0.0)),
    "bad-value-keeps": ("NUMBEROFPTS=256\nNUMBEROFPTS=abc", (256, 16, 1, 0.0, 0.0)),
    "zero-then-default": ("NUMBEROFPTS=256\nNUMBEROFPTS=0", (512, 16, 1, 0.0, 0.0)),
    "decimal-point-fails": ("NUMBEROFPTS=256.0", (512, 16, 1, 0.0, 0.0)),
    "negative-fails": ("NUMBEROFPTS=-256", (512, 16, 1, 0.0, 0.0)),
    "u64-max": ("NUMBEROFPTS=18446744073709551615\nBITSPERSAMPLE=4", (2**64 - 1, 4, 1, 0.0, 0.0)),
    "u64-overflow": ("NUMBEROFPTS=18446744073709551616", (512, 16, 1, 0.0, 0.0)),
    "bits-underscore-key": ("BITS_PER_SAMPLE=8", (512, 8, 1, 0.0, 0.0)),
    "bits-too-wide": ("BITSPERSAMPLE=300", (512, 16, 1, 0.0, 0.0)),
    "bits-255": ("BITSPERSAMPLE=255\nNUMBEROFPTS=16", (16, 255, 1, 0.0, 0.0)),
    "channels-1": ("NUMBEROFCHANNELS=1", (512, 16, 1, 0.0, 0.0)),
    "channels-4": ("NUMBEROFCHANNELS=4", (512, 16, 4, 0.0, 0.0)),
    "channels-too-wide": ("NUMBEROFCHANNELS=65536", (512, 16, 1, 0.0, 0.0)),
    "time-window": ("TIMEWINDOW=100", (512, 16, 1, 100.0, 0.0)),
    "total-time-window": ("TOTAL TIME WINDOW=150.5", (512, 16, 1, 150.5, 0.0)),
    "time-window-both": ("TOTAL TIME WINDOW=150\nTIMEWINDOW=bad\nTIMEWINDOW=2e1", (512, 16, 1, 20.0, 0.0)),
    "time-window-32-bit": ("TIMEWINDOW=0.1", (512, 16, 1, 0.10000000149011612, 0.0)),
    "time-window-inf": ("TIMEWINDOW=-Infinity", (512, 16, 1, -math.inf, 0.0)),
    "time-window-overflow": ("TIMEWINDOW=1e39", (512, 16, 1, math.inf, 0.0)),
    "time-window-blank-inside": ("TIMEWINDOW=1 00", (512, 16, 1, 0.0, 0.0)),
    "pull-delay": ("PULLDELAY=.5", (512, 16, 1, 0.0, 0.5)),
    "number-of-traces-no-effect": ("NUMBEROFTRACES=3\nNUMBER OF TRACES=3\nSURVEYNAME=x\nTRANSMITRATE=9", (512, 16, 1, 0.0, 0.0)),
    "comments": ("#NUMBEROFPTS=256\n  ;BITSPERSAMPLE=8\n=9", (512, 16, 1, 0.0, 0.0)),
    "no-separator": ("NUMBEROFPTS 256", (512, 16, 1, 0.0, 0.0)),
    "extra-equals-in-value": ("NUMBEROFPTS=256=1", (512, 16, 1, 0.0, 0.0)),
    "crlf": ("NUMBEROFPTS=256\r\nBITSPERSAMPLE=8\r\n", (256, 8, 1, 0.0, 0.0)),
    "unicode-white-space": ("\u3000NUMBEROFPTS\u00a0=\u2003256\u2029", (256, 16, 1, 0.0, 0.0)),
    "long-s-capital": ("bitſperſample=8", (512, 8, 1, 0.0, 0.0)),
    "no-final-newline": ("BITSPERSAMPLE=16\nNUMBEROFPTS=128", (128, 16, 1, 0.0, 0.0)),
}


@pytest.mark.parametrize("hd, expected", HD_CASES.values(), ids=HD_CASES.keys())
def test_hd_settings(tmp_path, hd, expected):
    path = tmp_path / "a.dt1"
    path.write_bytes(bytes(128 + 1024 + 2000))
    s = orvek_core.parse_dt1(str(path), hd)
    assert (s.samples_per_trace, s.bits_per_sample, s.channels, s.time_window_ns, s.time_zero_ns) == expected


def test_no_hd_text(tmp_path):
    path = tmp_path / "a.dt1"
    path.write_bytes(trace_header(3.0) + bytes(16))
    s = orvek_core.parse_dt1(str(path), None)
    assert (s.num_traces, s.samples_per_trace, s.bits_per_sample, s.channels) == (1, 0, 0, 0)
    assert (s.sample_interval_ns, s.trace_data, s.trace_positions) == (0.0, [], [3.0])
    path.write_bytes(bytes(1280))
    assert orvek_core.parse_dt1(str(path)).num_traces == 10


@pytest.mark.parametrize("hd, size, traces, data_bytes", [
    ("", 1152, 1, 1024),
    ("BITSPERSAMPLE=4", 1000, 7, 0),        # 0 bytes per sample: headers only
    ("BITSPERSAMPLE=12\nNUMBEROFPTS=10", 2 * 138 + 137, 2, 20),  # 12 bits: 1 byte
    ("BITSPERSAMPLE=7\nNUMBEROFPTS=10", 300, 2, 0),
], ids=["defaults-one-trace", "4-bit", "12-bit", "7-bit"])
def test_layout(tmp_path, hd, size, traces, data_bytes):
    path = tmp_path / "a.dt1"
    path.write_bytes(bytes(size))
    s = orvek_core.parse_dt1(str(path), hd)
    assert (s.num_traces, len(s.trace_data), len(s.trace_positions)) == (traces, data_bytes, traces)


@pytest.mark.parametrize("hd, size, message", [
    (None, 143, "File too small for DT1 format"),
    ("", 143, "File too small for DT1 format"),
    ("NUMBEROFPTS=1", 0, "File too small for DT1 format"),
    ("", 1151, "No valid traces found in DT1 file"),
    ("NUMBEROFPTS=18446744073709551615", 4096, "No valid traces found in DT1 file"),  # D wraps
    ("NUMBEROFPTS=18446744073709551488\nBITSPERSAMPLE=8", 4096, "No valid traces found in DT1 file"),  # 128 + D wraps
    ("NUMBEROFPTS=4611686018427387904", 4096, "No valid traces found in DT1 file"),  # D = 2^63
], ids=["none-143", "empty-143", "empty-file", "defaults-1151", "size-wraps", "stride-wraps", "huge-trace"])
def test_dt1_failures(tmp_path, hd, size, message):
    path = tmp_path / "a.dt1"
    path.write_bytes(bytes(size))
    with pytest.raises(OSError) as error:
        orvek_core.parse_dt1(str(path), hd)
    assert type(error.value) is OSError
    assert error.value.args == (message,)


@pytest.mark.parametrize("make_path, message", [
    (lambda d: str(d / "missing.dt1"), "No such file or directory (os error 2)"),
    (lambda d: str(d), "Is a directory (os error 21)"),
    (lambda d: str(d / "a\0.dt1"), "file name contained an unexpected NUL byte"),
], ids=["missing", "directory", "nul"])
def test_file_errors(tmp_path, make_path, message):
    with pytest.raises(OSError) as error:
        orvek_core.parse_dt1(make_path(tmp_path), "")
    assert type(error.value) is OSError
    assert error.value.args == (message,)


def test_argument_errors(tmp_path):
    with pytest.raises(TypeError, match=r"^argument 'hd_content': 'int' object cannot be converted to 'PyString'$"):
        orvek_core.parse_dt1(str(tmp_path / "missing.dt1"), 5)
    with pytest.raises(TypeError, match=r"^argument 'path': 'bytes' object cannot be converted to 'PyString'$"):
        orvek_core.parse_dt1(b"a.dt1", 5)  # path first: hd_content is not looked at


def test_many_traces_read_whole(tmp_path):
    # More traces than one read takes: every trace lands in its place.
    n = 1500
    path = make_dt1(tmp_path / "a.dt1", n, 4, tail=b"\x01\x02")
    s = orvek_core.parse_dt1(path, "NUMBEROFPTS=2")
    assert s.num_traces == n
    assert s.trace_data == list(b"".join(sample_bytes(k, 4) for k in range(n)))
    assert s.trace_positions == [k + 0.5 for k in range(n)]
    assert s.trace_time_zeros == [10.0 * k for k in range(n)]
