"""apply_spike_deconv and apply_gapped_deconv against a plain Python model, bit for bit."""
import math
import random
import struct

import numpy as np
import pytest

import orvek_core

EMPTY_AUTOCORRELATION = "index out of bounds: the len is 0 but the index is 0"


# ---- the reference model: the definitions in plain Python floats --------------------

def auto_correlate(x, max_lag):
    n = len(x)
    r = []
    for k in range(min(n, max_lag)):
        s = 0.0
        for j in range(n - k):
            s += x[j] * x[j + k]
        r.append(s / (n - k))
    return r


def solve_toeplitz(r, rhs, ties_to_last=False):
    m = len(rhs)
    if m == 0:
        return []
    if abs(r[0]) < 1e-30:
        return None
    a = [[r[min(abs(i - k), len(r) - 1)] for k in range(m)] + [rhs[i]] for i in range(m)]
    for c in range(m):
        p = c
        for q in range(c + 1, m):
            bigger = abs(a[q][c]) >= abs(a[p][c]) if ties_to_last else abs(a[q][c]) > abs(a[p][c])
            if bigger:
                p = q
        if abs(a[p][c]) < 1e-30:
            return None
        a[c], a[p] = a[p], a[c]
        for k in range(c + 1, m):
            f = a[k][c] / a[c][c]
            for l in range(c, m + 1):
                a[k][l] = a[k][l] - a[c][l] * f
    x = [0.0] * m
    for i in range(m - 1, -1, -1):
        s = a[i][m]
        for l in range(i + 1, m):
            s = s - a[i][l] * x[l]
        x[i] = s / a[i][i]
    return x


def deconvolve(data, n_traces, n_samples, operator_length=32, gap=1, pre_whitening=0.01, **solver):
    length = min(n_samples, operator_length)
    out = [0.0] * (n_traces * n_samples)
    for i in range(n_traces):
        x = [float(v) for v in data[i * n_samples:(i + 1) * n_samples]]
        r = auto_correlate(x, length)
        spiking = gap <= 1
        if abs(r[0]) < 1e-30:
            if not spiking:
                out[i * n_samples:(i + 1) * n_samples] = x
            continue
        w = r[0] * (1 + pre_whitening)
        if spiking:
            rhs = [w] + [0.0] * (length - 1)
        else:
            rhs = [r[gap + d] if gap + d < length else 0.0 for d in range(length)]
        a = solve_toeplitz([w] + r[1:], rhs, **solver)
        if a is None:
            out[i * n_samples:(i + 1) * n_samples] = x
            continue
        for t in range(n_samples):
            s = 0.0
            if spiking:
                for k in range(1, min(length, t + 1)):
                    s += a[k] * x[t - k]
            else:
                for j in range(length):
                    if t >= gap + j:
                        s += a[j] * x[t - gap - j]
            out[i * n_samples + t] = x[t] - s
    return out


def bits(values):
    return [struct.pack("<d", v) for v in values]


def call(data, n_traces, n_samples, operator_length=32, gap=1, pre_whitening=0.01):
    if gap == 1:
        return orvek_core.apply_spike_deconv(data, n_traces, n_samples, operator_length, pre_whitening)
    return orvek_core.apply_gapped_deconv(data, n_traces, n_samples, operator_length, gap, pre_whitening)


def random_traces(seed, n_traces, n_samples):
    rng = random.Random(seed)
    wavelet = [rng.gauss(0, 1) for _ in range(6)]
    data = []
    for _ in range(n_traces):
        reflectivity = [rng.gauss(0, 1) if rng.random() < 0.2 else 0.0 for _ in range(n_samples)]
        trace = [sum(wavelet[k] * reflectivity[t - k] for k in range(len(wavelet)) if t >= k)
                 for t in range(n_samples)]
        data.extend(v + rng.gauss(0, 0.01) for v in trace)
    return data


# ---- agreement with the model ----------------------------------------------------------

CASES = [
    # n_traces, n_samples, operator_length, gap, pre_whitening
    (3, 64, 32, 1, 0.01),
    (3, 64, 32, 0, 0.01),
    (2, 100, 17, 1, 0.1),
    (4, 40, 40, 1, 0.0),      # L = n_samples: the last lag divides by 1
    (2, 20, 64, 1, 0.01),     # operator longer than the trace
    (3, 64, 32, 2, 0.01),
    (2, 80, 16, 5, 0.05),
    (2, 50, 12, 11, 0.01),    # only the last lag reaches the right-hand side
    (2, 30, 8, 8, 0.01),      # g = L: every right-hand side is zero
    (2, 30, 8, 40, 0.01),     # g beyond the trace
    (3, 33, 5, 3, 0.0),
    (2, 24, 1, 1, 0.01),      # L = 1: nothing to subtract
    (2, 24, 1, 3, 0.01),
    (2, 48, 20, 1, -1.0),     # whitened zero lag 0: every trace passes through
    (2, 48, 20, 4, -1.0),
    (2, 90, 66, 1, 0.01),     # long operators are solved trace by trace
    (2, 90, 70, 3, 0.02),
]


@pytest.mark.parametrize("n_traces, n_samples, operator_length, gap, pre_whitening", CASES,
                         ids=[f"{c[0]}x{c[1]}-L{c[2]}-g{c[3]}-pw{c[4]}" for c in CASES])
def test_matches_the_model_bit_for_bit(n_traces, n_samples, operator_length, gap, pre_whitening):
    data = random_traces(n_samples * 31 + operator_length, n_traces, n_samples)
    want = deconvolve(data, n_traces, n_samples, operator_length, gap, pre_whitening)
    got = call(data, n_traces, n_samples, operator_length, gap, pre_whitening)
    assert bits(got) == bits(want)


@pytest.mark.parametrize("seed", range(6))
def test_randomised_calls_match_the_model(seed):
    rng = random.Random(seed)
    n_traces, n_samples = rng.randint(1, 4), rng.randint(1, 90)
    operator_length, gap = rng.randint(1, 40), rng.choice([0, 1, 2, 3, rng.randint(4, 50)])
    pre_whitening = rng.choice([0.0, 0.001, 0.01, 0.3])
    data = random_traces(seed, n_traces, n_samples)
    want = deconvolve(data, n_traces, n_samples, operator_length, gap, pre_whitening)
    assert bits(call(data, n_traces, n_samples, operator_length, gap, pre_whitening)) == bits(want)


@pytest.mark.parametrize("gap", [1, 3], ids=["spike", "gapped"])
def test_each_trace_keeps_its_own_fate_among_its_neighbours(gap):
    # Traces are solved several at a time: neighbours of every kind must not mix.
    rng = random.Random(gap)
    kinds = [
        [rng.gauss(0, 1) for _ in range(24)],           # ordinary
        [1.0] * 24,                                      # singular without pre-whitening
        [1e-20 * rng.choice([-1, 1]) for _ in range(24)],  # no energy
        [rng.gauss(0, 1) for _ in range(24)],
        [0.0] * 24,
        [1.0, -1.0] * 12,                                # ties in every pivot column
        [rng.gauss(0, 1) for _ in range(24)],
    ]
    data = [v for trace in kinds for v in trace]
    want = deconvolve(data, 7, 24, 6, gap, 0.0)
    assert bits(call(data, 7, 24, 6, gap, 0.0)) == bits(want)
    assert want[24:48] == kinds[1]  # the singular trace passed through


@pytest.mark.parametrize("gap", [1, 2], ids=["spike", "gapped"])
def test_non_finite_samples_stay_in_their_trace(gap):
    data = random_traces(12, 3, 20)
    data[25] = math.nan
    data[47] = math.inf
    got = call(data, 3, 20, 5, gap)
    want = deconvolve(data, 3, 20, 5, gap)
    assert [math.isnan(v) for v in got] == [math.isnan(v) for v in want]
    assert bits(v for v in got if not math.isnan(v)) == bits(v for v in want if not math.isnan(v))
    assert bits(got[:20]) == bits(want[:20])  # the first trace is untouched by the others


def test_gap_zero_and_one_are_spiking_deconvolution():
    data = random_traces(5, 3, 70)
    spike = orvek_core.apply_spike_deconv(data, 3, 70, 12, 0.02)
    assert bits(orvek_core.apply_gapped_deconv(data, 3, 70, 12, 0, 0.02)) == bits(spike)
    assert bits(orvek_core.apply_gapped_deconv(data, 3, 70, 12, 1, 0.02)) == bits(spike)


def test_first_coefficient_plays_no_part():
    # L = 2: out[t] = x[t] − a[1] × x[t − 1], with a from [[w, r1], [r1, w]] a = [w, 0]
    x = [1.0, -2.0, 0.5, 3.0]
    r0, r1 = (1 + 4 + 0.25 + 9) / 4, (-2.0 + -1.0 + 1.5) / 3
    w = r0 * (1 + 0.01)
    f = r1 / w
    a1 = (0.0 - w * f) / (w - r1 * f)
    want = [x[0]] + [x[t] - (0.0 + a1 * x[t - 1]) for t in range(1, 4)]
    assert bits(orvek_core.apply_spike_deconv(x, 1, 4, 2, 0.01)) == bits(want)


def tie_case():
    """A trace and a pre-whitening whose whitened zero lag is exactly −r[2], with |r[1]|
    smaller: rows 0 and 2 of column 0 tie, and which one leads changes the bits."""
    for seed in range(50):
        rng = random.Random(seed)
        trace = [math.cos(math.pi * t / 2) + rng.gauss(0, 0.3) for t in range(16)]
        r = auto_correlate(trace, 3)
        if not abs(r[1]) < abs(r[2]):
            continue
        near = -r[2] / r[0] - 1
        pws = [near]
        up = down = near
        for _ in range(64):
            up, down = math.nextafter(up, math.inf), math.nextafter(down, -math.inf)
            pws += [up, down]
        exact = [pw for pw in pws if r[0] * (1 + pw) == -r[2]]
        if not exact:
            continue
        want = deconvolve(trace, 1, 16, 3, 1, exact[0])
        if bits(want) != bits(deconvolve(trace, 1, 16, 3, 1, exact[0], ties_to_last=True)):
            return trace, exact[0], want
    raise AssertionError("no tie case found")


def test_pivot_tie_goes_to_the_upper_row():
    trace, pre_whitening, want = tie_case()
    assert bits(orvek_core.apply_spike_deconv(trace, 1, 16, 3, pre_whitening)) == bits(want)


# ---- zero energy, singular systems, gaps -------------------------------------------------

def test_trace_without_energy_is_zeroed_by_spiking_and_copied_by_gapped():
    quiet = [1e-20, -2e-20, 1e-20, 3e-20, -1e-20, 2e-20]  # r[0] about 3e-40
    loud = [1.0, 0.5, -0.25, 2.0, -1.0, 0.125]
    data = quiet + loud
    spike = orvek_core.apply_spike_deconv(data, 2, 6, 3)
    gapped = orvek_core.apply_gapped_deconv(data, 2, 6, 3, 2)
    assert spike[:6] == [0.0] * 6
    assert gapped[:6] == quiet
    assert bits(spike[6:]) == bits(deconvolve(loud, 1, 6, 3))
    assert bits(gapped[6:]) == bits(deconvolve(loud, 1, 6, 3, 2))


def test_all_zero_trace_stays_zero():
    assert orvek_core.apply_spike_deconv([0.0] * 10, 2, 5) == [0.0] * 10
    assert orvek_core.apply_gapped_deconv([0.0] * 10, 2, 5, 3, 2) == [0.0] * 10


def test_singular_system_passes_the_trace_through():
    data = random_traces(9, 2, 30)
    assert orvek_core.apply_spike_deconv(data, 2, 30, 8, -1.0) == data
    assert orvek_core.apply_gapped_deconv(data, 2, 30, 8, 3, -1.0) == data


@pytest.mark.parametrize("gap", [2, 5, 29, 30, 1000])
def test_gapped_keeps_the_first_gap_samples(gap):
    data = random_traces(gap, 3, 30)
    out = orvek_core.apply_gapped_deconv(data, 3, 30, 10, gap)
    for i in range(3):
        kept = min(gap, 30)
        assert out[i * 30:i * 30 + kept] == data[i * 30:i * 30 + kept]


@pytest.mark.parametrize("operator_length, gap", [(8, 8), (8, 9), (1, 2), (5, 2**64 - 1)])
def test_gap_at_or_beyond_the_operator_changes_nothing(operator_length, gap):
    data = random_traces(3, 2, 25)
    assert orvek_core.apply_gapped_deconv(data, 2, 25, operator_length, gap) == data


def test_operator_length_one_returns_the_input():
    data = random_traces(4, 3, 16)
    assert orvek_core.apply_spike_deconv(data, 3, 16, 1) == data


# ---- shapes, inputs, defaults ---------------------------------------------------------------

def test_no_traces_gives_an_empty_list_whatever_the_rest():
    assert orvek_core.apply_spike_deconv([], 0, 10**9, 0) == []
    assert orvek_core.apply_gapped_deconv([1.0], 0, 0, 0, 7) == []


def test_surplus_data_is_ignored():
    data = random_traces(2, 3, 20)
    out = orvek_core.apply_spike_deconv(data + [5.0, 6.0, 7.0], 3, 20)
    assert bits(out) == bits(orvek_core.apply_spike_deconv(data, 3, 20))
    assert len(out) == 60


def test_defaults_are_operator_32_gap_1_whitening_one_percent():
    data = random_traces(8, 2, 50)
    assert bits(orvek_core.apply_spike_deconv(data, 2, 50)) == bits(deconvolve(data, 2, 50, 32, 1, 0.01))
    assert bits(orvek_core.apply_gapped_deconv(data, 2, 50)) == bits(deconvolve(data, 2, 50, 32, 1, 0.01))
    assert orvek_core.apply_gapped_deconv.__text_signature__ == \
        "(data, n_traces, n_samples, operator_length=32, gap=1, pre_whitening=0.01)"


def test_accepts_any_sequence_of_numbers():
    data = random_traces(6, 2, 20)
    want = orvek_core.apply_spike_deconv(data, 2, 20, 6)
    assert orvek_core.apply_spike_deconv(tuple(data), 2, 20, 6) == want
    assert orvek_core.apply_spike_deconv(np.array(data), 2, 20, 6) == want
    ints = [1, -2, 3, 0, 5, -1, 2, 2]
    assert orvek_core.apply_spike_deconv(ints, 2, 4, 3) == \
        orvek_core.apply_spike_deconv([float(v) for v in ints], 2, 4, 3)
    f32 = np.array(data, dtype=np.float32)
    assert orvek_core.apply_spike_deconv(f32, 2, 20, 6) == \
        orvek_core.apply_spike_deconv([float(v) for v in f32], 2, 20, 6)


def test_input_is_not_changed():
    data = random_traces(1, 2, 30)
    array = np.array(data)
    copy = list(data)
    orvek_core.apply_gapped_deconv(data, 2, 30, 10, 3)
    orvek_core.apply_spike_deconv(array, 2, 30, 10)
    assert data == copy and array.tolist() == copy


# ---- failures ----------------------------------------------------------------------------

def internal_fault(function, *args):
    """The message of the InternalFault that the call raises (a BaseException, not an Exception)."""
    with pytest.raises(BaseException) as raised:
        function(*args)
    assert type(raised.value).__name__ == "InternalFault"
    assert not isinstance(raised.value, Exception)
    return str(raised.value)


@pytest.mark.parametrize("function, extra", [
    (orvek_core.apply_spike_deconv, ()),
    (orvek_core.apply_gapped_deconv, (32, 2)),
], ids=["spike", "gapped"])
def test_short_data_is_an_internal_fault(function, extra):
    assert internal_fault(function, [1.0] * 10, 3, 4, *extra) == \
        "range end index 12 out of range for slice of length 10"
    assert internal_fault(function, [], 2**64 - 1, 4, *extra) == "range end index 4 out of range for slice of length 0"
    # the first trace fits, the second does not: no partial result
    assert internal_fault(function, [1.0, 2.0, 3.0], 2, 2, *extra) == \
        "range end index 4 out of range for slice of length 3"


@pytest.mark.parametrize("args", [([1.0] * 8, 2, 4, 0), ([1.0] * 8, 2, 0, 32), ([], 3, 0, 5)],
                         ids=["operator-0", "samples-0", "samples-0-no-data"])
def test_empty_autocorrelation_is_an_internal_fault(args):
    assert internal_fault(orvek_core.apply_spike_deconv, *args) == EMPTY_AUTOCORRELATION
    assert internal_fault(orvek_core.apply_gapped_deconv, *args, 3) == EMPTY_AUTOCORRELATION


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(data="abc"), TypeError, "argument 'data': "),
    (dict(data=5), TypeError, "argument 'data': 'int' object cannot be converted to 'Sequence'"),
    (dict(data=[1.0, "x"]), TypeError, "argument 'data': "),
    (dict(n_traces=-1), OverflowError, None),
    (dict(n_samples=2**64), OverflowError, None),
    (dict(operator_length=1.5), TypeError, "argument 'operator_length': "),
    (dict(gap=-2), OverflowError, None),
    (dict(pre_whitening="0.1"), TypeError, "argument 'pre_whitening': "),
], ids=["str", "int", "item", "neg-traces", "big-samples", "float-operator", "neg-gap", "str-whitening"])
def test_argument_errors(kwargs, error, message):
    args = dict(data=[1.0] * 8, n_traces=2, n_samples=4, operator_length=2, gap=2, pre_whitening=0.01)
    args.update(kwargs)
    with pytest.raises(error) as raised:
        orvek_core.apply_gapped_deconv(**args)
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value).startswith(message)
    else:
        assert not str(raised.value).startswith("argument")
