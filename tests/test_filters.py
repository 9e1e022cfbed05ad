"""Trace filters: apply_dewow, apply_agc, apply_sec_gain and apply_bandpass.

Each is checked against an independent NumPy float32 model written out below (bit for
bit; the bandpass within the rounding by which two FFT implementations may differ),
plus hand-worked cases that pin the window, the half-width, the taper and the folding
of the spectrum, and the argument rules.
"""
import ctypes
import ctypes.util
import inspect

import numpy as np
import pytest
import scipy.fft

import orvek_core

f32 = np.float32

# The C library's 32-bit exponential and cosine: the functions the filters are defined by.
_libm = ctypes.CDLL(ctypes.util.find_library("m"))
for _name in ("expf", "cosf"):
    getattr(_libm, _name).restype = ctypes.c_float
    getattr(_libm, _name).argtypes = [ctypes.c_float]


def libm_f32(name, values):
    fn = getattr(_libm, name)
    return np.array([fn(float(v)) for v in np.asarray(values, dtype=f32)], dtype=f32)


# ---- the reference model -------------------------------------------------------------


def as_trace(data):
    """Each item through float(), then rounded to 32 bits."""
    return np.array([float(v) for v in data], dtype=np.float64).astype(f32)


def window_sums(x, window_size, squared):
    """Per output j: start, count and the sum of [start, end) formed from 0 in index order.

    Vectorised over the outputs; each output adds its own terms one after another."""
    n = len(x)
    h = min(window_size // 2, n)  # a larger half-width clips to the same windows
    j = np.arange(n)
    start = np.where(j >= h, j - h, 0)
    count = np.minimum(n, j + h) - start
    with np.errstate(over="ignore"):
        terms = x * x if squared else x
    sums = np.zeros(n, dtype=f32)
    for k in range(int(count.max(initial=0))):
        step = terms[np.minimum(start + k, n - 1)]
        sums = np.where(k < count, sums + step, sums)
    return sums, count.astype(f32)


def ref_dewow(data, window_size):
    x = as_trace(data)
    sums, count = window_sums(x, window_size, squared=False)
    with np.errstate(all="ignore"):
        return x - sums / count


def ref_agc(data, window_size):
    x = as_trace(data)
    sums, count = window_sums(x, window_size, squared=True)
    floor = f32(1e-10)
    with np.errstate(all="ignore"):
        rms = np.sqrt(sums / count)
        rms = np.where(rms >= floor, rms, floor)
        return x / rms


def ref_sec_gain(data, sample_rate, alpha):
    x = as_trace(data)
    with np.errstate(all="ignore"):
        dt = f32(1) / f32(sample_rate)
        t = np.arange(len(x)).astype(f32) * dt
        gain = libm_f32("expf", f32(alpha) * t) * t
        return gain * x


def ref_bandpass(data, sample_rate, low_cut, high_cut):
    x = as_trace(data)
    n = len(x)
    if n == 0:
        return x
    s, fl, fh = f32(sample_rate), f32(low_cut), f32(high_cut)
    pi = f32(3.1415927)
    with np.errstate(all="ignore"):
        wl = max(f32(0.1) * fl, f32(1.0))
        wh = max(f32(0.1) * fh, f32(1.0))
        weights = np.ones(n, dtype=f32)
        for m in range(n):
            k = m if m <= n // 2 else n - m
            f = (f32(k) / f32(n)) * s
            if fl <= f <= fh:
                continue
            d = (fl - f) / wl if f < fl else (f - fh) / wh
            weights[m] = (libm_f32("cosf", [d * pi])[0] + f32(1)) * f32(0.5) if d < 1 else f32(0)
        spectrum = scipy.fft.fft(x.astype(np.complex64))
        weighted = np.empty(n, dtype=np.complex64)
        weighted.real = spectrum.real * weights
        weighted.imag = spectrum.imag * weights
        back = scipy.fft.ifft(weighted, norm="forward")  # unscaled inverse
        return back.real.astype(f32) / f32(n)


# ---- comparison helpers -------------------------------------------------------------


def as_f32(result):
    """The returned list as float32, after checking it is a list of exact 32-bit values."""
    assert type(result) is list
    assert all(type(v) is float for v in result)
    wide = np.array(result, dtype=np.float64)
    narrow = wide.astype(f32)
    assert np.array_equal(narrow.astype(np.float64), wide, equal_nan=True)
    return narrow


def assert_bits(result, expected):
    """Same length, NaN in the same places, every other value equal in all 32 bits."""
    got = as_f32(result)
    expected = np.asarray(expected, dtype=f32)
    assert got.shape == expected.shape
    nan = np.isnan(expected)
    assert np.array_equal(np.isnan(got), nan)
    mismatch = np.flatnonzero(got.view(np.uint32)[~nan] != expected.view(np.uint32)[~nan])
    assert mismatch.size == 0, f"first mismatch at {mismatch[0]}: {got[~nan][mismatch[0]]!r} != {expected[~nan][mismatch[0]]!r}"


def assert_close(result, expected, scale):
    """Within the rounding of two float32 FFTs of the same data."""
    got = as_f32(result)
    expected = np.asarray(expected, dtype=f32)
    assert got.shape == expected.shape
    np.testing.assert_allclose(got, expected, rtol=0, atol=2e-6 * max(float(scale), 1e-30) * np.log2(len(got) + 2))


RNG_SEED = 20240611


def random_trace(rng, n, scale=1000.0):
    return (rng.standard_normal(n) * scale + rng.uniform(-scale, scale)).astype(f32)


# Lengths with primes among them, including one long enough for Bluestein's algorithm.
LENGTHS = [1, 2, 3, 7, 8, 31, 33, 64, 97, 256, 509, 1000, 1009]


# ---- dewow ----------------------------------------------------------------------------


@pytest.mark.parametrize("n", LENGTHS)
def test_dewow_matches_model_bit_for_bit(n):
    rng = np.random.default_rng(RNG_SEED + n)
    x = random_trace(rng, n)
    for window in (0, 1, 2, 3, 4, 7, 10, 64, 65, n, 2 * n - 1, 2 * n, 2 * n + 1, 2**64 - 1):
        assert_bits(orvek_core.apply_dewow(x, window), ref_dewow(x, window))


@pytest.mark.parametrize(
    "data, window, expected",
    [
        # Clipped, not mirrored: j=0 sees [0, 2), j=4 sees [2, 5).
        ([1, 2, 3, 4, 5], 4, [-0.5, 0.0, 0.5, 0.5, 1.0]),
        # h = 1: output[0] = 0, then x[j] - (x[j-1] + x[j]) / 2.
        ([1, 2, 4, 8], 2, [0.0, 0.5, 1.0, 2.0]),
        ([1, 2, 4, 8], 3, [0.0, 0.5, 1.0, 2.0]),
        # An odd window behaves as the even one below it.
        ([3, 1, 4, 1, 5, 9, 2, 6], 7, ref_dewow([3, 1, 4, 1, 5, 9, 2, 6], 6)),
        # h >= n: every window is the whole trace.
        ([1, 2, 3, 6], 8, [-2.0, -1.0, 0.0, 3.0]),
        ([1, 2, 3, 6], 1001, [-2.0, -1.0, 0.0, 3.0]),
        # Constant trace: zeros for every window of at least 2.
        ([5.0] * 9, 4, [0.0] * 9),
        # Each window summed afresh: once 1e8 leaves the window no trace of it remains
        # (a running sum, having lost a 1 to rounding, would give 0.5 from j = 2 on).
        ([1e8, 1, 1, 1, 1, 1], 2, [0.0, -5e7, 0.0, 0.0, 0.0, 0.0]),
        # 32-bit sums: 1e8 + 1 is 1e8 in 32 bits (64-bit arithmetic gives +-49999999.5).
        ([1e8, 1.0], 4, [5e7, -5e7]),
    ],
    ids=["clipped-ends", "half-width-1", "window-3-as-2", "odd-window", "whole-trace", "huge-window",
         "constant", "fresh-sums", "32-bit-sums"],
)
def test_dewow_worked_cases(data, window, expected):
    assert_bits(orvek_core.apply_dewow(data, window), expected)
    assert_bits(orvek_core.apply_dewow(data, window), ref_dewow(data, window))


@pytest.mark.parametrize("window", [0, 1])
def test_dewow_empty_window_gives_nan(window):
    result = orvek_core.apply_dewow([1.0, -2.0, 3.0], window)
    assert len(result) == 3 and all(np.isnan(result))


def test_dewow_rounds_input_to_32_bits():
    # 0.1 enters as 0.100000001490116...: output[1] = x1 - (x0 + x1) / 2 in 32 bits.
    x0, x1 = f32(0.1), f32(0.7)
    expected = x1 - (x0 + x1) / f32(2)
    assert orvek_core.apply_dewow([0.1, 0.7], 2) == [0.0, float(expected)]
    assert float(expected) != 0.7 - (0.1 + 0.7) / 2


# ---- AGC ---------------------------------------------------------------------------------


@pytest.mark.parametrize("n", LENGTHS)
def test_agc_matches_model_bit_for_bit(n):
    rng = np.random.default_rng(RNG_SEED - n)
    x = random_trace(rng, n)
    for window in (0, 1, 2, 3, 10, 64, 65, n, 2 * n + 1, 2**64 - 1):
        assert_bits(orvek_core.apply_agc(x, window), ref_agc(x, window))


@pytest.mark.parametrize(
    "data, window, expected",
    [
        # h = 0: rms is NaN, the floor 1e-10 applies; large values overflow.
        ([1e-12, -2.0, 0.0, 1e30], 1, [f32(1e-12) / f32(1e-10), f32(-2) / f32(1e-10), 0.0, np.inf]),
        ([0.0] * 6, 10, [0.0] * 6),
        # h = 1: output[0] = +-1 for a non-zero first sample, then windows [j-1, j+1).
        ([-3.0, 4.0, 0.0], 2, [-1.0, f32(4) / np.sqrt(f32(12.5)), 0.0]),
        # h >= n: every sample over the rms of the whole trace, sqrt((9 + 16) / 2).
        ([3.0, -4.0], 100, [f32(3) / np.sqrt(f32(12.5)), f32(-4) / np.sqrt(f32(12.5))]),
        # Squares overflow to infinity: the rms is infinite and the quotient 0.
        ([2e20, 1.0, 3e20, 1.0], 4, [0.0, 0.0, 0.0, 0.0]),
    ],
    ids=["empty-window-floor", "zeros", "half-width-1", "whole-trace", "overflowing-squares"],
)
def test_agc_worked_cases(data, window, expected):
    assert_bits(orvek_core.apply_agc(data, window), np.array(expected, dtype=f32))
    assert_bits(orvek_core.apply_agc(data, window), ref_agc(data, window))


# ---- SEC gain --------------------------------------------------------------------------


@pytest.mark.parametrize("n", LENGTHS)
def test_sec_gain_matches_model_bit_for_bit(n):
    rng = np.random.default_rng(RNG_SEED * 3 + n)
    x = random_trace(rng, n)
    for sample_rate, alpha in [(1.0, 0.0), (100.0, 0.5), (10.0, -0.3), (2.5e9, 1e7), (0.3, 0.01), (7.0, 2.0)]:
        assert_bits(orvek_core.apply_sec_gain(x, sample_rate, alpha), ref_sec_gain(x, sample_rate, alpha))


@pytest.mark.parametrize(
    "sample_rate, alpha",
    [(0.0, 1.0), (-0.0, 0.0), (-10.0, 0.5), (float("nan"), 1.0), (1.0, float("nan")), (float("inf"), 1.0),
     (1.0, float("inf")), (1.0, -float("inf")), (1e-40, 1.0), (3.0, 1e30)],
    ids=["rate-0", "rate-minus-0", "rate-negative", "rate-nan", "alpha-nan", "rate-inf", "alpha-inf",
         "alpha-minus-inf", "rate-subnormal", "alpha-huge"],
)
def test_sec_gain_degenerate_parameters(sample_rate, alpha):
    x = [1.0, -2.0, 0.5, 3.0, 0.0]
    assert_bits(orvek_core.apply_sec_gain(x, sample_rate, alpha), ref_sec_gain(x, sample_rate, alpha))


def test_sec_gain_worked_cases():
    assert orvek_core.apply_sec_gain([1, 1, 1], 1, 0) == [0.0, 1.0, 2.0]
    # Sample rate 0: dt is infinite, output[0] = 0 * inf = NaN, the rest infinite.
    zero_rate = orvek_core.apply_sec_gain([1.0, 1.0, -1.0], 0.0, 1.0)
    assert np.isnan(zero_rate[0]) and zero_rate[1:] == [np.inf, -np.inf]
    # The times are i * (1/s) in 32 bits, not i / s: 5 * f32(1/3) is 1.6666667, 5/3 1.6666666.
    assert orvek_core.apply_sec_gain([0, 0, 0, 0, 0, 1], 3, 0)[5] == float(f32(5) * (f32(1) / f32(3)))
    assert float(f32(5) * (f32(1) / f32(3))) != float(f32(5) / f32(3))
    # Negative alpha rises then decays; positive alpha grows to infinity in 32 bits.
    decay = as_f32(orvek_core.apply_sec_gain([1.0] * 40, 1.0, -0.5))
    assert decay.argmax() == 2 and decay[-1] < decay[2]
    assert orvek_core.apply_sec_gain([1.0] * 100, 1.0, 1.0)[-1] == np.inf


# ---- bandpass ---------------------------------------------------------------------------


@pytest.mark.parametrize("n", LENGTHS + [4096, 10007])
def test_bandpass_matches_model(n):
    rng = np.random.default_rng(RNG_SEED * 5 + n)
    x = random_trace(rng, n)
    cases = [(1000.0, 50.0, 200.0), (1000.0, 5.0, 499.0), (250.0, 0.0, 125.0), (100.0, 0.5, 30.0),
             (1e9, 1e8, 3e8), (1000.0, 300.0, 100.0), (800.0, -5.0, 60.0), (1000.0, 200.0, 200.0)]
    for sample_rate, low, high in cases:
        assert_close(orvek_core.apply_bandpass(x, sample_rate, low, high),
                     ref_bandpass(x, sample_rate, low, high), scale=np.abs(x).max())


def cosine(n, k, amplitude=1.0):
    """A pure real tone in bins k and n - k."""
    return (amplitude * np.cos(2 * np.pi * k * np.arange(n) / n)).astype(f32)


def raised_cosine(d):
    return float((libm_f32("cosf", [f32(d) * f32(3.1415927)])[0] + f32(1)) * f32(0.5))


@pytest.mark.parametrize(
    "n, k, sample_rate, low, high, weight",
    [
        # Bins m and n - m share a weight: f = 10 for bin 1 and bin 15 alike.
        (16, 1, 160.0, 5.0, 20.0, 1.0),
        # The Nyquist bin (n even) is weighted once: f = 50, wh = 4.8, d = 2 / 4.8.
        (8, 4, 100.0, 0.0, 48.0, raised_cosine(f32(2.0) / (f32(0.1) * f32(48.0)))),
        (8, 4, 100.0, 0.0, 50.0, 1.0),
        # Taper width floored at 1.0: low cut 5, f = 4.5, d = 0.5 (not 1 for width 0.5).
        (20, 1, 90.0, 5.0, 40.0, raised_cosine(0.5)),
        # Above the cut: high cut 100, f = 105, wh = 10, d = 0.5.
        (20, 3, 700.0, 0.0, 100.0, raised_cosine(0.5)),
        # Below the cut: low cut 100, f = 95, wl = 10, d = 0.5; f = 90 and lower is zeroed.
        (20, 1, 1900.0, 100.0, 900.0, raised_cosine(0.5)),
        (20, 1, 1800.0, 100.0, 900.0, 0.0),
        # Low cut above high cut: no bin is in the band; f = 47.5 lies below the low cut of
        # 50 and is tapered from that side (wl = 5, d = 0.5), not from the high cut of 30.
        (20, 1, 950.0, 50.0, 30.0, raised_cosine(0.5)),
    ],
    ids=["folded-bins", "nyquist-tapered", "nyquist-at-edge", "taper-floor", "high-taper", "low-taper",
         "low-zeroed", "low-above-high"],
)
def test_bandpass_weights_a_tone(n, k, sample_rate, low, high, weight):
    tone = cosine(n, k, amplitude=4.0)
    result = as_f32(orvek_core.apply_bandpass(tone, sample_rate, low, high))
    np.testing.assert_allclose(result, tone * f32(weight), rtol=0, atol=1e-5)
    assert_close(orvek_core.apply_bandpass(tone, sample_rate, low, high),
                 ref_bandpass(tone, sample_rate, low, high), scale=4.0)


@pytest.mark.parametrize(
    "low, expected_dc_weight",
    [(1.0, 0.0), (20.0, 0.0), (0.25, raised_cosine(0.25)), (0.0, 1.0), (-3.0, 1.0)],
    ids=["cut-1", "cut-20", "cut-below-1", "cut-0", "cut-negative"],
)
def test_bandpass_zero_frequency_bin(low, expected_dc_weight):
    # A constant trace lives in bin 0 alone (f = 0, d = low / max(0.1 low, 1)).
    result = as_f32(orvek_core.apply_bandpass([3.0] * 10, 100.0, low, 50.0))
    np.testing.assert_allclose(result, np.full(10, 3.0 * expected_dc_weight), rtol=0, atol=1e-5)


def test_bandpass_full_band_returns_input():
    rng = np.random.default_rng(RNG_SEED)
    x = random_trace(rng, 333)
    assert_close(orvek_core.apply_bandpass(x, 1000.0, 0.0, 500.0), x, scale=np.abs(x).max())


@pytest.mark.parametrize(
    "sample_rate, low, high",
    [(0.0, 0.0, 0.0), (0.0, 5.0, 10.0), (-1000.0, 50.0, 200.0), (-1000.0, -400.0, -50.0),
     (float("nan"), 1.0, 2.0), (1000.0, float("nan"), 200.0), (1000.0, 50.0, float("nan")),
     (float("inf"), 1.0, 2.0), (1000.0, -float("inf"), float("inf")), (1000.0, 700.0, 900.0)],
    ids=["rate-0-band-0", "rate-0-band-above", "rate-negative", "rate-negative-band-negative", "rate-nan",
         "low-nan", "high-nan", "rate-inf", "infinite-band", "band-above-nyquist"],
)
def test_bandpass_degenerate_parameters(sample_rate, low, high):
    rng = np.random.default_rng(RNG_SEED + 1)
    x = random_trace(rng, 64)
    assert_close(orvek_core.apply_bandpass(x, sample_rate, low, high),
                 ref_bandpass(x, sample_rate, low, high), scale=np.abs(x).max())


def test_bandpass_rate_nan_zeroes_every_bin():
    assert orvek_core.apply_bandpass([1.0, 2.0, 3.0], float("nan"), 0.0, 10.0) == [0.0, 0.0, 0.0]


def test_bandpass_single_sample_is_weighted_by_the_zero_bin():
    assert orvek_core.apply_bandpass([2.0], 100.0, 0.0, 10.0) == [2.0]
    assert orvek_core.apply_bandpass([2.0], 100.0, 1.0, 10.0) == [0.0]
    assert orvek_core.apply_bandpass([2.0], 100.0, 0.5, 10.0) == [float(f32(2.0) * f32(raised_cosine(0.5)))]


# ---- arguments shared by the four functions -------------------------------------------------

FUNCTIONS = {
    "apply_dewow": (orvek_core.apply_dewow, (10,), "(data, window_size)"),
    "apply_agc": (orvek_core.apply_agc, (10,), "(data, window_size)"),
    "apply_sec_gain": (orvek_core.apply_sec_gain, (100.0, 0.2), "(data, sample_rate, alpha)"),
    "apply_bandpass": (orvek_core.apply_bandpass, (1000.0, 20.0, 300.0), "(data, sample_rate, low_cut, high_cut)"),
}
ALL = pytest.mark.parametrize("name", list(FUNCTIONS))


@ALL
def test_signature_and_keywords(name):
    fn, params, signature = FUNCTIONS[name]
    assert str(inspect.signature(fn)) == signature
    data = [1.0, 2.0, -3.0, 0.5, 7.0]
    names = list(inspect.signature(fn).parameters)
    assert fn(data, *params) == fn(**dict(zip(names, [data, *params])))


@ALL
def test_lists_tuples_and_arrays_give_identical_results(name):
    fn, params, _ = FUNCTIONS[name]
    rng = np.random.default_rng(RNG_SEED + 2)
    wide = rng.standard_normal(101) * 100.0  # float64 values, rounded to 32 bits on entry
    narrow = wide.astype(f32)
    expected = fn(narrow.tolist(), *params)
    read_only = narrow.copy()
    read_only.setflags(write=False)  # as a memory-mapped file gives it
    for data in (wide.tolist(), tuple(wide.tolist()), wide, narrow, list(narrow), memoryview(narrow),
                 np.repeat(narrow, 2)[::2], read_only, narrow.astype(">f4")):
        assert fn(data, *params) == expected
    ints = [3, -1, 4, 1, -5, 9, 2, 6]
    assert fn(ints, *params) == fn(np.array(ints, dtype=f32), *params) == fn([float(v) for v in ints], *params)


@ALL
def test_input_is_left_unchanged(name):
    fn, params, _ = FUNCTIONS[name]
    as_list = [1.5, -2.0, 3.25, 0.0, 8.0, -1.0]
    as_array = np.array(as_list, dtype=f32)
    before_list, before_array = list(as_list), as_array.copy()
    result_list, result_array = fn(as_list, *params), fn(as_array, *params)
    assert as_list == before_list and np.array_equal(as_array, before_array)
    assert result_list is not as_list and result_list == result_array


@ALL
def test_empty_trace(name):
    fn, params, _ = FUNCTIONS[name]
    assert fn([], *params) == []
    assert fn(np.array([], dtype=f32), *params) == []


@ALL
@pytest.mark.parametrize(
    "data",
    [5, None, "abc", "", [1.0, "x"], [1.0, None], [[1.0]], {"a": 1}, {1.0, 2.0}],
    ids=["int", "none", "str", "empty-str", "str-item", "none-item", "nested", "dict", "set"],
)
def test_bad_data_is_a_type_error_naming_the_argument(name, data):
    fn, params, _ = FUNCTIONS[name]
    with pytest.raises(TypeError, match="argument 'data'"):
        fn(data, *params)


@pytest.mark.parametrize("name", ["apply_dewow", "apply_agc"])
@pytest.mark.parametrize(
    "window, error",
    [(-1, OverflowError), (2**64, OverflowError), (2.0, TypeError), ("10", TypeError), (None, TypeError)],
    ids=["negative", "too-large", "float", "str", "none"],
)
def test_bad_window_size(name, window, error):
    fn, _, _ = FUNCTIONS[name]
    for data in ([1.0, 2.0], []):  # converted even for an empty trace
        with pytest.raises(error):
            fn(data, window)


def test_largest_window_size_is_accepted():
    assert orvek_core.apply_dewow([1.0, 3.0], 2**64 - 1) == [-1.0, 1.0]
    assert orvek_core.apply_agc([3.0, 4.0], np.uint64(2**64 - 1)) == orvek_core.apply_agc([3.0, 4.0], 4)


def test_negative_window_is_the_interpreters_overflow_error():
    with pytest.raises(OverflowError) as raised:
        orvek_core.apply_agc([1.0, 2.0], -1)
    assert "argument" not in str(raised.value)


@pytest.mark.parametrize(
    "name, args, argument",
    [
        ("apply_sec_gain", ([1.0], "x", 0.1), "sample_rate"),
        ("apply_sec_gain", ([1.0], "x", "y"), "sample_rate"),  # stops at the first failure
        ("apply_sec_gain", ([1.0], 1.0, None), "alpha"),
        ("apply_bandpass", ([1.0], None, 1.0, 2.0), "sample_rate"),
        ("apply_bandpass", ([1.0], 100.0, "1", "2"), "low_cut"),
        ("apply_bandpass", ([1.0], 100.0, 1.0, []), "high_cut"),
        ("apply_dewow", ("abc", -1), "data"),  # data is converted before the window
    ],
    ids=["sec-rate", "sec-rate-first", "sec-alpha", "bandpass-rate", "bandpass-low", "bandpass-high",
         "data-first"],
)
def test_bad_parameter_names_the_first_failing_argument(name, args, argument):
    fn = FUNCTIONS[name][0]
    with pytest.raises(TypeError, match=f"argument '{argument}'"):
        fn(*args)


def test_parameters_accept_anything_with_a_float_value():
    class Rate:
        def __float__(self):
            return 100.0

    x = [1.0, 2.0, 3.0]
    assert orvek_core.apply_sec_gain(x, Rate(), 0) == orvek_core.apply_sec_gain(x, 100.0, 0.0)
    assert orvek_core.apply_bandpass(x, Rate(), 1, np.float64(40)) == orvek_core.apply_bandpass(x, 100.0, 1.0, 40.0)
    # Rounded to 32 bits before use: a rate that differs only beyond 32 bits is the same rate.
    assert orvek_core.apply_sec_gain(x, 100.0 + 1e-9, 0.1) == orvek_core.apply_sec_gain(x, 100.0, 0.1)
