"""parse_dzg: positions of the $GPGGA and $GPRMC sentences of a DZG text."""
import math

import pytest

import orvek_core

GGA = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"
RMC = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A"


def degrees(value):
    """ddmm.mmmm to degrees, in the reader's order of operations."""
    d = math.floor(value / 100)
    return d + (value - d * 100) / 60


LAT, LON = degrees(4807.038), degrees(1131.0)


def parse(tmp_path, content):
    path = tmp_path / "a.dzg"
    path.write_bytes(content.encode() if isinstance(content, str) else content)
    return orvek_core.parse_dzg(str(path))


CASES = {
    "empty": ("", []),
    "blank-lines": ("\n\n  \t\n", []),
    "fix": (GGA + "\n", [(0, LAT, LON, 545.4)]),
    "fix-third-line": ("$GPVTG,x\n\n" + GGA, [(2, LAT, LON, 545.4)]),
    "navigation": (RMC, [(0, LAT, LON, 0.0)]),
    "both-in-order": (RMC + "\n" + GGA + "\n" + RMC, [(0, LAT, LON, 0.0), (1, LAT, LON, 545.4), (2, LAT, LON, 0.0)]),
    "crlf": (GGA + "\r\n" + RMC + "\r\n", [(0, LAT, LON, 545.4), (1, LAT, LON, 0.0)]),
    "south-west": ("$GPGGA,1,4807.038,S,01131.000,W,1,08,0.9,-5", [(0, -LAT, -LON, -5.0)]),
    "lower-case-hemisphere": ("$GPGGA,1,4807.038,s,01131.000,w,1,08,0.9,5", [(0, LAT, LON, 5.0)]),
    "crossed-hemispheres": ("$GPRMC,1,A,4807.038,W,01131.000,S,", [(0, -LAT, -LON, 0.0)]),
    "long-hemisphere": ("$GPRMC,1,A,4807.038,SS,01131.000,WW,", [(0, LAT, LON, 0.0)]),
    "empty-altitude": ("$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,,M", []),
    "nine-fields": ("$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9", []),
    "rmc-eight-fields": ("$GPRMC,1,A,4807.038,N,01131.000,E,", [(0, LAT, LON, 0.0)]),
    "rmc-seven-fields": ("$GPRMC,1,A,4807.038,N,01131.000,E", []),
    "empty-hemisphere": ("$GPRMC,1,A,4807.038,,01131.000,E,", []),
    "empty-latitude": ("$GPGGA,1,,N,01131.000,E,1,08,0.9,5", []),
    "leading-spaces": ("   " + GGA + "  ", [(0, LAT, LON, 545.4)]),
    "unicode-white-space": ("\u3000" + GGA + "\u2028", [(0, LAT, LON, 545.4)]),
    "space-inside-field": ("$GPGGA,1, 4807.038,N,01131.000,E,1,08,0.9,5", []),
    "bad-number": ("$GPGGA,1,48o7.038,N,01131.000,E,1,08,0.9,5", []),
    "other-talker": (GGA.replace("$GP", "$GN"), []),
    "name-case": (GGA.replace("$GPGGA", "$gpgga"), []),
    "zero-and-negative": ("$GPGGA,1,0,N,-4807.038,E,1,08,0.9,1e3", [(0, 0.0, degrees(-4807.038), 1000.0)]),
    # inf - 100 inf is NaN: the formula turns an infinite value into NaN
    "words": ("$GPGGA,1,inf,N,nan,E,1,08,0.9,-Infinity", [(0, math.nan, math.nan, -math.inf)]),
    "exponent-and-point-forms": ("$GPRMC,1,A,4.807038e3,N,1131.,E,", [(0, degrees(4807.038), LON, 0.0)]),
}


@pytest.mark.parametrize("content, expected", CASES.values(), ids=CASES.keys())
def test_positions(tmp_path, content, expected):
    result = parse(tmp_path, content)
    assert [tuple(map(type, t)) for t in result] == [(int, float, float, float)] * len(expected)
    assert len(result) == len(expected)
    for got, want in zip(result, expected):
        assert got[0] == want[0]
        for g, w in zip(got[1:], want[1:]):
            assert (math.isnan(g) and math.isnan(w)) or g == w, (got, want)


def test_reference_values(tmp_path):
    (index, latitude, longitude, altitude), = parse(tmp_path, GGA)
    assert index == 0 and altitude == 545.4
    assert latitude == pytest.approx(48.1173) and longitude == pytest.approx(11.516667)
    (_, _, negative, _), = parse(tmp_path, "$GPRMC,1,A,0,N,-4807.038,E,")
    assert negative == pytest.approx(-47.4506, abs=1e-4)  # floor(-48.07038) is -49


@pytest.mark.parametrize("content, message", [
    (b"\xff\xfe$GPGGA", "stream did not contain valid UTF-8"),
    (GGA.encode() + b"\n\xed\xa0\x80", "stream did not contain valid UTF-8"),  # a surrogate
], ids=["bad-lead-byte", "surrogate"])
def test_invalid_utf8(tmp_path, content, message):
    with pytest.raises(OSError) as error:
        parse(tmp_path, content)
    assert type(error.value) is OSError
    assert error.value.args == (message,)


@pytest.mark.parametrize("make_path, message", [
    (lambda d: str(d / "missing.dzg"), "No such file or directory (os error 2)"),
    (lambda d: str(d), "Is a directory (os error 21)"),
    (lambda d: str(d / "a\0.dzg"), "file name contained an unexpected NUL byte"),
], ids=["missing", "directory", "nul"])
def test_file_errors(tmp_path, make_path, message):
    with pytest.raises(OSError) as error:
        orvek_core.parse_dzg(make_path(tmp_path))
    assert type(error.value) is OSError
    assert error.value.args == (message,)
