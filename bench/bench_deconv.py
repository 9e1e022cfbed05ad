"""Kirchhoff migration and deconvolution against NumPy and SciPy, in the same run.

Migration: the identical algorithm written with NumPy at its best (a travel-time table
per trace offset, then one gather and one add per offset for all output traces at once,
the contribution counts from prefix sums); it gives the same bits as ours, which is
checked. Cost is given per contribution: one (output trace, output sample, input trace
in the window) triple.

Deconvolution of 500 traces of 512 samples with a 32-point operator: against NumPy
autocorrelation + scipy.linalg.solve_toeplitz + NumPy filtering trace by trace, and
against the same work batched over all traces in NumPy (np.linalg.solve on the stack of
Toeplitz matrices). Ours returns a list, as the function does; the peers return arrays.
"""
import pathlib
import sys

import numpy as np
import scipy.linalg

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from common import best_time, report  # noqa: E402

import orvek_core  # noqa: E402


def paired(ours, peer, rounds=3, ours_repeat=5, peer_repeat=3, peer_min_time=0.05):
    """Best times of both sides, measured in alternating rounds so that a burst of load
    on the shared machine does not fall on one side only."""
    ours_time = peer_time = float("inf")
    for _ in range(rounds):
        ours_time = min(ours_time, best_time(ours, repeat=ours_repeat))
        peer_time = min(peer_time, best_time(peer, repeat=peer_repeat, min_time=peer_min_time))
    return ours_time, peer_time


# ---- migration ---------------------------------------------------------------------------

def numpy_migration(data, velocity_m_ns=0.1, sample_interval_ns=0.1, trace_spacing_m=0.05, aperture_traces=30):
    n, m = data.shape
    out = np.zeros((n, m))
    if n == 0 or m < 2:
        return out
    v, dt = velocity_m_ns * 1e9, sample_interval_ns * 1e-9
    t0 = np.arange(m, dtype=np.float64) * dt
    a = min(aperture_traces, n - 1)
    tables, used = [], np.zeros((a + 1, m))
    with np.errstate(invalid="ignore", divide="ignore"):
        for d in range(a + 1):
            h = 2.0 * (d * trace_spacing_m) / v
            tau = np.sqrt(h * h + t0 * t0) / dt
            ok = ~(t0 <= 0) & (tau >= 0) & (tau < m - 1)
            used[d] = ok
            columns = np.flatnonzero(ok)
            if columns.size == 0:
                tables.append(None)
                continue
            lo, hi = columns[0], columns[-1] + 1
            where = slice(lo, hi) if hi - lo == columns.size else columns
            i0 = tau[where].astype(np.intp)
            f = tau[where] - i0
            tables.append((where, i0, i0 + 1, f, 1.0 - f))
    side = np.cumsum(used, axis=0) - used[0]  # offsets 1 … c
    k = np.arange(n)
    counts = used[0] + side[np.minimum(a, k)] + side[np.minimum(a, n - 1 - k)]
    for s in range(-a, a + 1):  # j = k + s: increasing j for every output trace k
        table = tables[abs(s)]
        if table is None:
            continue
        where, i0, i1, f, g = table
        k0, k1 = max(0, -s), min(n, n - s)
        source = data[k0 + s:k1 + s]
        contribution = f * np.take(source, i1, axis=1)
        contribution += g * np.take(source, i0, axis=1)
        out[k0:k1, where] += contribution
    out /= np.maximum(counts, 1.0)
    return out


def contributions(n, m, aperture):
    return sum(min(n - 1, k + aperture) - max(0, k - aperture) + 1 for k in range(n)) * m


def bench_migration():
    rng = np.random.default_rng(7)
    # the NumPy side of 1,000 × 1,024 takes about a second a call: fewer rounds there
    for n, m, rounds, goal in [(200, 256, 3, ""), (500, 512, 3, "goal: 30x"), (1000, 1024, 1, "")]:
        data = rng.standard_normal((n, m))
        ours_result = orvek_core.apply_kirchhoff_migration(data, aperture_traces=30)
        assert ours_result.tobytes() == numpy_migration(data).tobytes(), "results differ"
        ours, peer = paired(lambda: orvek_core.apply_kirchhoff_migration(data, aperture_traces=30),
                            lambda: numpy_migration(data), rounds=rounds, peer_repeat=2, peer_min_time=0.0)
        per = contributions(n, m, 30) * 1e-9
        report(f"migration {n}x{m} A=30 ({ours / per:.2f} vs {peer / per:.1f} ns/contr.)", ours,
               "NumPy, same algorithm", peer, goal)


# ---- deconvolution -------------------------------------------------------------------------

N_TRACES, N_SAMPLES, OPERATOR = 500, 512, 32


def per_trace_spiking(traces, pre_whitening=0.01):
    n = traces.shape[1]
    lags = n - np.arange(OPERATOR)
    out = np.empty_like(traces)
    for i, x in enumerate(traces):
        r = np.correlate(x, x, "full")[n - 1:n - 1 + OPERATOR] / lags
        w = r[0] * (1 + pre_whitening)
        column = r.copy()
        column[0] = w
        rhs = np.zeros(OPERATOR)
        rhs[0] = w
        a = scipy.linalg.solve_toeplitz(column, rhs)
        a[0] = 0.0  # the first coefficient plays no part
        out[i] = x - np.convolve(x, a)[:n]
    return out


TOEPLITZ = np.abs(np.arange(OPERATOR)[:, None] - np.arange(OPERATOR)[None, :])
DIAGONAL = np.arange(OPERATOR)


def batched(traces, gap=1, pre_whitening=0.01):
    count, n = traces.shape
    r = np.empty((count, OPERATOR))
    for k in range(OPERATOR):
        r[:, k] = np.einsum("ij,ij->i", traces[:, :n - k], traces[:, k:]) / (n - k)
    w = r[:, 0] * (1 + pre_whitening)
    matrices = r[:, TOEPLITZ]
    matrices[:, DIAGONAL, DIAGONAL] = w[:, None]
    rhs = np.zeros((count, OPERATOR, 1))
    if gap <= 1:
        rhs[:, 0, 0] = w
    else:
        rhs[:, :OPERATOR - gap, 0] = r[:, gap:]
    a = np.linalg.solve(matrices, rhs)[:, :, 0]
    out = traces.copy()
    if gap <= 1:
        for k in range(1, OPERATOR):
            out[:, k:] -= a[:, k:k + 1] * traces[:, :-k]
    else:
        for j in range(OPERATOR):
            out[:, gap + j:] -= a[:, j:j + 1] * traces[:, :n - gap - j]
    return out


def bench_deconvolution():
    rng = np.random.default_rng(11)
    traces = rng.standard_normal((N_TRACES, N_SAMPLES))
    flat = traces.ravel()
    spike = np.array(orvek_core.apply_spike_deconv(flat, N_TRACES, N_SAMPLES, OPERATOR)).reshape(traces.shape)
    assert np.allclose(spike, per_trace_spiking(traces)) and np.allclose(spike, batched(traces))
    gapped = np.array(orvek_core.apply_gapped_deconv(flat, N_TRACES, N_SAMPLES, OPERATOR, 4))
    assert np.allclose(gapped.reshape(traces.shape), batched(traces, gap=4))

    label = f"{N_TRACES}x{N_SAMPLES} L={OPERATOR}"
    def spike():
        return orvek_core.apply_spike_deconv(flat, N_TRACES, N_SAMPLES, OPERATOR)

    def gapped():
        return orvek_core.apply_gapped_deconv(flat, N_TRACES, N_SAMPLES, OPERATOR, 4)

    ours, peer = paired(spike, lambda: per_trace_spiking(traces), peer_repeat=2, peer_min_time=0.0)
    report(f"spike deconv {label}", ours, "NumPy+solve_toeplitz per trace", peer, "goal: 5x")
    ours, peer = paired(spike, lambda: batched(traces))
    report(f"spike deconv {label}", ours, "NumPy batched", peer, "goal: ahead")
    ours, peer = paired(gapped, lambda: batched(traces, gap=4))
    report(f"gapped deconv {label} g=4", ours, "NumPy batched", peer, "goal: ahead")


if __name__ == "__main__":
    bench_migration()
    bench_deconvolution()
