"""parse_magnetometry: GRD settings, the DAT grid with its zigzag rows, and failures."""
import os
import struct

import numpy as np
import pytest

import orvek_core

MISSING = "Invalid .grd file: missing rows/cols"


def make_grid(tmp_path, grd_text, values=range(1, 13), dat_size=None, grd_bytes=None):
    """A GRD file holding `grd_text` (or raw `grd_bytes`) and a DAT file of the signed
    16-bit little-endian `values`, cut or extended with 0xEE bytes to `dat_size`."""
    grd = tmp_path / "grid.grd"
    grd.write_bytes(grd_bytes if grd_bytes is not None else grd_text.encode())
    dat = tmp_path / "grid.dat"
    data = struct.pack(f"<{len(values)}h", *values)
    if dat_size is not None:
        data = data[:dat_size] + b"\xee" * max(0, dat_size - len(data))
    dat.write_bytes(data)
    return str(dat), str(grd)


def le16(values):
    return list(struct.pack(f"<{len(values)}h", *values))


def raises_os_error(message, *args):
    with pytest.raises(OSError) as info:
        orvek_core.parse_magnetometry(*args)
    assert type(info.value) is OSError
    assert info.value.args == (message,)


ZIGZAG_3x4 = le16([1, 2, 3, 4, 8, 7, 6, 5, 9, 10, 11, 12])
FILE_ORDER_3x4 = le16(list(range(1, 13)))

EMPTY_LISTS = (
    "trace_positions", "trace_time_zeros", "trace_elevations", "src_x_coords", "src_y_coords", "history"
)


# ---- main paths ----------------------------------------------------------------


def test_record_fields(tmp_path):
    dat, grd = make_grid(tmp_path, "ROWS=3\nCOLS=4\n")
    survey = orvek_core.parse_magnetometry(dat, grd)
    assert survey.trace_data == ZIGZAG_3x4
    assert (survey.path, survey.format) == (dat, "magnetometry")
    assert (survey.num_traces, survey.samples_per_trace) == (3, 4)
    assert (survey.bits_per_sample, survey.channels) == (16, 1)
    assert (survey.cell_size, survey.origin_easting, survey.origin_northing) == (0.5, 0.0, 0.0)
    assert survey.rotation_deg == 0.0
    assert survey.zigzag is True
    assert survey.header_offset == 0 and survey.format_code == 0 and survey.measurement_system == 0
    assert survey.sample_interval_ns == 0.0 and survey.time_window_ns == 0.0 and survey.time_zero_ns == 0.0
    assert survey.traces_per_meter == 0.0 and survey.traces_per_second == 0.0
    for name in EMPTY_LISTS:
        assert getattr(survey, name) == [], name


@pytest.mark.parametrize(
    "line, zigzag",
    [("", True), ("ZIGZAG: false", False), ("ZIGZAG=0", False), ("ZIGZAG=no", False), ("ZIGZAG=yes", False),
     ("ZIGZAG=TRUE", True), ("zigzag True", True), ("ZIGZAG=1", True), ("ZIGZAG=01", False),
     ("ZIGZAG=1\nZIGZAG=false", False)],
    ids=["default", "false", "zero", "no", "yes", "TRUE", "True", "one", "zero-one", "last-wins"],
)
def test_zigzag(tmp_path, line, zigzag):
    dat, grd = make_grid(tmp_path, f"ROWS=3\nCOLS=4\n{line}")
    survey = orvek_core.parse_magnetometry(dat, grd)
    assert survey.zigzag is zigzag
    assert survey.trace_data == (ZIGZAG_3x4 if zigzag else FILE_ORDER_3x4)


@pytest.mark.parametrize("rows, columns", [(3, 1), (1, 9), (4, 2), (5, 17), (6, 37)])
def test_zigzag_reverses_every_odd_row(tmp_path, rows, columns):
    grid = np.arange(rows * columns, dtype="<i2").reshape(rows, columns) * 3 - 700
    dat, grd = make_grid(tmp_path, f"ROWS={rows}\nCOLS={columns}", values=grid.ravel().tolist())
    expected = grid.copy()
    expected[1::2] = expected[1::2, ::-1]
    assert bytes(orvek_core.parse_magnetometry(dat, grd).trace_data) == expected.tobytes()


@pytest.mark.parametrize(
    "text",
    ["rows: 3\ncols 4", "nr=3\nnc=4", "grid_rows 3\ngrid_cols=4", "ROWS=3\r\nCOLS=4\r\n", "ROWS=3\nCOLS=4",
     "  ROWS=3  \n\n# ROWS=9\n   // COLS=9\n=7\nCOLS=4\nUNKNOWN=abc",
     "ROWS=5\nROWS=3\nCOLS=4", "ROWS=+3\nCOLS=04",
     "ROWS:\u00a03\nCOLS=4\u3000", "ROWS=3\nCOLS=4\nROWS="],
    ids=["lower-case", "short-keys", "grid-keys", "crlf", "no-final-newline", "comments-and-unknown-keys",
         "last-wins", "plus-and-leading-zero", "unicode-blanks-trimmed", "empty-value-skipped"],
)
def test_rows_and_columns_spellings(tmp_path, text):
    dat, grd = make_grid(tmp_path, text)
    survey = orvek_core.parse_magnetometry(dat, grd)
    assert (survey.num_traces, survey.samples_per_trace) == (3, 4)
    assert survey.trace_data == ZIGZAG_3x4


@pytest.mark.parametrize(
    "lines, field, value",
    [("ROTATION: 12.5", "rotation_deg", 12.5), ("ANGLE=-0.1", "rotation_deg", float(np.float32(-0.1))),
     ("XE=500000.25", "origin_easting", 500000.25), ("ORIGIN_EASTING=0.1", "origin_easting", 0.1),
     ("YN 6543210.125", "origin_northing", 6543210.125), ("ORIGIN_NORTHING=-1e3", "origin_northing", -1000.0),
     ("DX=0.25\nDY=0.75", "cell_size", 0.75), ("DY=0.75\nDX=0.25", "cell_size", 0.25),
     ("CELL_SIZE=0.1", "cell_size", float(np.float32(0.1))), ("DX=inf", "cell_size", float("inf")),
     ("ROTATION=1e39", "rotation_deg", float("inf"))],
    ids=["rotation", "angle-32-bit", "easting-64-bit", "easting-0.1", "northing", "northing-exponent",
         "dy-last", "dx-last", "cell-size-32-bit", "inf", "overflow-to-inf"],
)
def test_grid_placement(tmp_path, lines, field, value):
    dat, grd = make_grid(tmp_path, f"ROWS=3\nCOLS=4\n{lines}")
    assert getattr(orvek_core.parse_magnetometry(dat, grd), field) == value


def test_nan_rotation(tmp_path):
    dat, grd = make_grid(tmp_path, "ROWS=3\nCOLS=4\nROTATION=NaN")
    assert np.isnan(orvek_core.parse_magnetometry(dat, grd).rotation_deg)


@pytest.mark.parametrize(
    "dat_size, accepted",
    [(24, True), (30, True), (23, False), (0, False)],
    ids=["exact", "longer", "short", "empty"],
)
def test_dat_size(tmp_path, dat_size, accepted):
    dat, grd = make_grid(tmp_path, "ROWS=3\nCOLS=4", dat_size=dat_size)
    if accepted:
        assert orvek_core.parse_magnetometry(dat, grd).trace_data == ZIGZAG_3x4
    else:
        raises_os_error(f"File too small: {dat_size} bytes, expected at least 24", dat, grd)


def test_dat_far_longer_than_the_grid(tmp_path):
    dat, grd = make_grid(tmp_path, "ROWS=3\nCOLS=4", dat_size=100_000)
    assert orvek_core.parse_magnetometry(dat, grd).trace_data == ZIGZAG_3x4


# ---- failures --------------------------------------------------------------------

# Every GRD failure comes before the DAT file is opened: the DAT file here is missing.
GRD_FAILURES = [
    ("spaced-equals", "ROWS = 3\nCOLS=4", "invalid digit found in string"),
    ("decimal-point", "ROWS=3.0\nCOLS=4", "invalid digit found in string"),
    ("minus-sign", "ROWS=-3\nCOLS=4", "invalid digit found in string"),
    ("lone-plus", "ROWS=+\nCOLS=4", "invalid digit found in string"),
    ("too-large", "ROWS=3\nCOLS=18446744073709551616", "number too large to fit in target type"),
    ("bad-float", "ROWS=3\nCOLS=4\nANGLE abc", "invalid float literal"),
    ("float-without-exponent-digits", "ROWS=3\nCOLS=4\nXE=1e", "invalid float literal"),
    ("float-hex", "ROWS=3\nCOLS=4\nDX=0x1p3", "invalid float literal"),
    ("first-bad-line-wins", "ROWS=x\nDX=y", "invalid digit found in string"),
    ("columns-only", "COLS=4", MISSING),
    ("tab-is-no-separator", "ROWS\t3\nCOLS=4", MISSING),
    ("rows-zero", "ROWS=0\nCOLS=4", MISSING),
    ("empty", "", MISSING),
    ("size-beyond-64-bits", "ROWS=4294967296\nCOLS=2147483648",
     "Invalid .grd file: a grid of 4294967296 rows and 2147483648 columns does not fit 64 bits"),
]


@pytest.mark.parametrize("text, message", [c[1:] for c in GRD_FAILURES], ids=[c[0] for c in GRD_FAILURES])
def test_grd_failures(tmp_path, text, message):
    grd = tmp_path / "grid.grd"
    grd.write_text(text)
    raises_os_error(message, str(tmp_path / "missing.dat"), str(grd))


def test_huge_grid_that_fits_64_bits_is_too_large_for_the_file(tmp_path):
    dat, grd = make_grid(tmp_path, "ROWS=1000000\nCOLS=1000000")
    raises_os_error("File too small: 24 bytes, expected at least 2000000000000", dat, grd)


def test_file_failures(tmp_path):
    dat, grd = make_grid(tmp_path, "ROWS=3\nCOLS=4")
    missing = str(tmp_path / "missing")
    raises_os_error("No such file or directory (os error 2)", dat, missing)
    raises_os_error("No such file or directory (os error 2)", missing, grd)
    raises_os_error("Is a directory (os error 21)", str(tmp_path), grd)
    raises_os_error("file name contained an unexpected NUL byte", dat, grd + "\0")
    raises_os_error("file name contained an unexpected NUL byte", "a\0b", grd)


def test_grd_must_be_utf8(tmp_path):
    dat, grd = make_grid(tmp_path, None, grd_bytes=b"ROWS=3\nCOLS=4\n# \xff\n")
    raises_os_error("stream did not contain valid UTF-8", dat, grd)


@pytest.mark.parametrize(
    "args, message",
    [((5, "g.grd"), "argument 'dat_path': 'int' object cannot be converted to 'PyString'"),
     (("g.dat", None), "argument 'grd_path': 'NoneType' object cannot be converted to 'PyString'"),
     ((b"g.dat", 5), "argument 'dat_path': 'bytes' object cannot be converted to 'PyString'")],
    ids=["dat-int", "grd-none", "dat-bytes-first"],
)
def test_argument_types(args, message):
    with pytest.raises(TypeError) as info:
        orvek_core.parse_magnetometry(*args)
    assert str(info.value) == message


def test_keywords(tmp_path):
    dat, grd = make_grid(tmp_path, "ROWS=3\nCOLS=4")
    assert orvek_core.parse_magnetometry(grd_path=grd, dat_path=dat).trace_data == ZIGZAG_3x4
