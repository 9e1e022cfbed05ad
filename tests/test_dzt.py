"""parse_dzt: the 54-byte DZT header and the geometry derived from it."""
import math
import mmap
import struct

import pytest

import orvek_core

HEADER = struct.Struct("<HhhhHffIff22xh")  # 54 bytes, little-endian
assert HEADER.size == 54


def dzt_header(data=1024, samples=512, bits=16, channels=1, scans_per_second=64.0,
               scans_per_meter=20.0, position=1.5, range_ns=50.0, tag=0x00FF):
    return HEADER.pack(tag, data, samples, bits, 0, scans_per_second, scans_per_meter,
                       0xDEADBEEF, position, range_ns, channels)


def make_dzt(path, size=None, body=b"", **fields):
    """A DZT file: the header, then `body`, then zeros up to `size` bytes (sparse)."""
    with open(path, "wb") as f:
        f.write(dzt_header(**fields) + body)
        if size is not None:
            f.truncate(size)
    return str(path)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def test_record_fields(tmp_path):
    path = make_dzt(tmp_path / "a.dzt", size=4096, data=1024, samples=512, bits=16, channels=1,
                    scans_per_second=64.0, scans_per_meter=20.5, position=1.25, range_ns=50.0)
    s = orvek_core.parse_dzt(path)
    assert (s.path, s.format) == (path, "dzt")
    assert (s.num_traces, s.samples_per_trace, s.bits_per_sample, s.channels) == (3, 512, 16, 1)
    assert (s.header_offset, s.format_code, s.measurement_system) == (1024, 0, 0)
    assert s.sample_interval_ns == 0.09765625
    assert (s.traces_per_second, s.traces_per_meter) == (64.0, 20.5)
    assert (s.time_zero_ns, s.time_window_ns) == (1.25, 50.0)
    assert s.trace_data == [] and s.trace_positions == [] and s.trace_time_zeros == []
    assert s.trace_elevations == [] and s.src_x_coords == [] and s.src_y_coords == []
    assert (s.cell_size, s.origin_easting, s.origin_northing, s.rotation_deg, s.zigzag) == (0.0, 0.0, 0.0, 0.0, False)
    assert s.history == []
    assert repr(s) == "PySurvey(format=dzt, traces=3, samples=512, bits=16)"


@pytest.mark.parametrize("data, samples, offset", [
    (0, 512, 1024),
    (1, 512, 1024),
    (2, 512, 2048),     # a data field below 1024 counts 1024-byte blocks
    (4, 512, 4096),
    (128, 2048, 131072),
    (1023, 7, 1023 * 1024),
    (1024, 512, 1024),  # from 1024 on it is the byte offset itself
    (2048, 512, 2048),
    (32767, 512, 32767),
    (-1, 512, 2**64 - 1024),          # negative: far beyond any file
    (-32768, 512, 2**64 - 32768 * 1024),
], ids=lambda v: str(v))
def test_data_offset(tmp_path, data, samples, offset):
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "a.dzt", size=8192, data=data, samples=samples))
    assert s.header_offset == offset
    if offset > 8192:
        assert s.num_traces == 0


def test_data_field_in_blocks_finds_every_trace(tmp_path):
    # A recorder writes data field 128 with 2048 samples of 32 bits: the first trace
    # starts at byte 131072 and sample 0 of each trace holds the trace counter.
    samples, traces, offset = 2048, 20, 128 * 1024
    body = bytearray(offset - 54)
    for k in range(traces):
        trace = bytearray(samples * 4)
        trace[0:4] = struct.pack("<I", k)
        body += trace
    path = make_dzt(tmp_path / "a.dzt", body=bytes(body), data=128, samples=samples, bits=32, channels=1)
    s = orvek_core.parse_dzt(path)
    assert (s.header_offset, s.num_traces) == (offset, traces)
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        counters = [struct.unpack_from("<I", m, s.header_offset + k * samples * 4)[0] for k in range(s.num_traces)]
    assert counters == list(range(traces))


@pytest.mark.parametrize("fields, size, traces, bits", [
    (dict(samples=512, bits=16, channels=1), 4096, 3, 16),
    (dict(samples=512, bits=16, channels=1), 4095, 2, 16),   # a partial trace is not counted
    (dict(samples=512, bits=16, channels=2), 5120, 2, 16),
    (dict(samples=512, bits=8, channels=1), 2048, 2, 8),     # one byte per sample
    (dict(samples=512, bits=12, channels=1), 2048, 2, 12),   # 12 bits: 1 byte per sample
    (dict(samples=512, bits=4, channels=1), 4096, 0, 4),     # 0 bytes per sample
    (dict(samples=10, bits=0x0110, channels=1), 1024 + 3 * 340, 3, 16),  # 34 bytes per sample
    (dict(samples=512, bits=-8, channels=1), 4096, 0, 248),  # -1 byte per sample
    (dict(samples=512, bits=16, channels=0), 4096, 0, 16),
    (dict(samples=512, bits=16, channels=1), 100, 0, 16),    # shorter than the data offset
    (dict(samples=512, bits=16, channels=1), 1024, 0, 16),
], ids=["3-traces", "partial-trace", "2-channels", "8-bit", "12-bit", "4-bit", "bits-0x0110",
        "negative-bits", "no-channels", "short-file", "no-samples-bytes"])
def test_trace_count(tmp_path, fields, size, traces, bits):
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "a.dzt", size=size, **fields))
    assert (s.num_traces, s.bits_per_sample) == (traces, bits)


def test_header_values_are_not_validated(tmp_path):
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "a.dzt", size=4096, samples=-1, channels=-1, range_ns=50.0))
    assert (s.samples_per_trace, s.channels, s.sample_interval_ns) == (2**64 - 1, 65535, -50.0)
    # two negative factors give a positive trace size: traces are counted
    assert s.num_traces == (4096 - 1024) // 2
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "b.dzt", size=4096, samples=0, range_ns=50.0))
    assert (s.num_traces, s.sample_interval_ns) == (0, math.inf)
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "c.dzt", size=4096, samples=0, range_ns=0.0))
    assert math.isnan(s.sample_interval_ns)
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "d.dzt", size=4096, samples=3, range_ns=1.0))
    assert s.sample_interval_ns == f32(1 / 3)  # 32-bit division


def test_header_floats_bit_for_bit(tmp_path):
    s = orvek_core.parse_dzt(make_dzt(tmp_path / "a.dzt", size=54, scans_per_second=math.inf,
                                      scans_per_meter=-0.0, position=math.nan, range_ns=1e-45))
    assert s.traces_per_second == math.inf
    assert math.copysign(1.0, s.traces_per_meter) == -1.0
    assert math.isnan(s.time_zero_ns)
    assert s.time_window_ns == f32(1e-45)


def test_only_the_header_is_read(tmp_path):
    # 8 GiB, sparse: the reader takes the length from the file system
    path = make_dzt(tmp_path / "big.dzt", size=8 << 30, samples=512, bits=16, channels=1)
    assert orvek_core.parse_dzt(path).num_traces == ((8 << 30) - 1024) // 1024


PREFIX = "Failed to parse DZT header: input ended before the "


@pytest.mark.parametrize("content, message", [
    (b"", "tag at byte 0 was complete (needs 2 bytes); remaining bytes: []"),
    (b"\x01", "tag at byte 0 was complete (needs 2 bytes); remaining bytes: [1]"),
    (b"\x00\x00\x00\x04\x07", "sample count at byte 4 was complete (needs 2 bytes); remaining bytes: [7]"),
    (bytes(10) + b"\x01\x02\x03", "scans per second at byte 10 was complete (needs 4 bytes); remaining bytes: [1, 2, 3]"),
    (bytes(30) + bytes(range(200, 221)), "reserved block at byte 30 was complete (needs 22 bytes); remaining bytes: ["
     + ", ".join(str(b) for b in range(200, 221)) + "]"),
    (bytes(52) + b"\xff", "channel count at byte 52 was complete (needs 2 bytes); remaining bytes: [255]"),
], ids=["empty", "1-byte", "5-bytes", "13-bytes", "51-bytes", "53-bytes"])
def test_short_header(tmp_path, content, message):
    path = tmp_path / "a.dzt"
    path.write_bytes(content)
    with pytest.raises(OSError) as error:
        orvek_core.parse_dzt(str(path))
    assert type(error.value) is OSError
    assert error.value.args == (PREFIX + message,)


def test_54_bytes_decode(tmp_path):
    path = tmp_path / "a.dzt"
    path.write_bytes(dzt_header(data=0, samples=512))
    s = orvek_core.parse_dzt(str(path))
    assert (s.num_traces, s.header_offset) == (0, 1024)


@pytest.mark.parametrize("make_path, message", [
    (lambda d: str(d / "missing.dzt"), "No such file or directory (os error 2)"),
    (lambda d: str(d), "Is a directory (os error 21)"),
    (lambda d: str(d / "a\0.dzt"), "file name contained an unexpected NUL byte"),
], ids=["missing", "directory", "nul"])
def test_file_errors(tmp_path, make_path, message):
    with pytest.raises(OSError) as error:
        orvek_core.parse_dzt(make_path(tmp_path))
    assert type(error.value) is OSError
    assert error.value.args == (message,)


def test_path_argument():
    with pytest.raises(TypeError, match=r"^argument 'path': 'int' object cannot be converted to 'PyString'$"):
        orvek_core.parse_dzt(5)
