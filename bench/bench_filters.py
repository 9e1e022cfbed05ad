"""Trace filters (dewow, AGC, SEC gain, bandpass) against NumPy/SciPy, one trace per call.

Every row gives both sides the same input object (a list of floats, or a float32 NumPy
array) and asks both for a list as the result, as our contract returns one. The peers
are the fastest straightforward NumPy/SciPy code for the same job: moving sums by
cumulative sums (O(n), faster than any convolution), NumPy's vectorised float32
exponential, and the same raised-cosine weighting between two complex64 FFTs. Rows
marked "(ref)" are for reference only: NumPy returning arrays, and NumPy vectorised over
a whole profile at once.
"""
import pathlib
import sys

import numpy as np
import scipy.fft

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from common import best_time, report  # noqa: E402

import orvek_core  # noqa: E402

f32 = np.float32
SAMPLE_RATE = 1000.0  # in the frequency unit of the cut-offs
ALPHA = 0.002
LOW_CUT, HIGH_CUT = 40.0, 250.0


# ---- NumPy/SciPy peers: one trace in, an array out --------------------------------------


def window_bounds(n, window_size):
    h = min(window_size // 2, n)
    j = np.arange(n)
    start = np.maximum(j - h, 0)
    end = np.minimum(j + h, n)
    return start, end, (end - start).astype(f32)


def np_dewow(data, window_size):
    x = np.asarray(data, dtype=f32)
    start, end, count = window_bounds(len(x), window_size)
    c = np.concatenate(([f32(0)], np.cumsum(x)))
    return x - (c[end] - c[start]) / count


def np_agc(data, window_size):
    x = np.asarray(data, dtype=f32)
    start, end, count = window_bounds(len(x), window_size)
    c = np.concatenate(([f32(0)], np.cumsum(x * x)))
    rms = np.sqrt((c[end] - c[start]) / count)
    return x / np.maximum(rms, f32(1e-10))


def np_sec_gain(data, sample_rate, alpha):
    x = np.asarray(data, dtype=f32)
    t = np.arange(len(x), dtype=f32) * (f32(1) / f32(sample_rate))
    return np.exp(f32(alpha) * t) * t * x


def bandpass_weights(n, sample_rate, low_cut, high_cut):
    k = np.arange(n)
    k = np.minimum(k, n - k).astype(f32)
    f = k / f32(n) * f32(sample_rate)
    fl, fh = f32(low_cut), f32(high_cut)
    d = np.where(f < fl, (fl - f) / max(f32(0.1) * fl, f32(1)), (f - fh) / max(f32(0.1) * fh, f32(1)))
    w = np.where(d < 1, (np.cos(d * f32(np.pi)) + f32(1)) * f32(0.5), f32(0))
    return np.where((fl <= f) & (f <= fh), f32(1), w)


def make_bandpass(fft_module):
    def bandpass(data, sample_rate, low_cut, high_cut):
        x = np.asarray(data, dtype=f32)
        n = len(x)
        spectrum = fft_module.fft(x.astype(np.complex64))
        spectrum *= bandpass_weights(n, sample_rate, low_cut, high_cut)
        return fft_module.ifft(spectrum, norm="forward").real / f32(n)

    return bandpass


# ---- the same jobs vectorised over a whole profile (reference) -------------------------


def np_dewow_profile(profile, window_size):
    start, end, count = window_bounds(profile.shape[1], window_size)
    c = np.concatenate((np.zeros((len(profile), 1), f32), np.cumsum(profile, axis=1)), axis=1)
    return profile - (c[:, end] - c[:, start]) / count


def np_agc_profile(profile, window_size):
    start, end, count = window_bounds(profile.shape[1], window_size)
    c = np.concatenate((np.zeros((len(profile), 1), f32), np.cumsum(profile * profile, axis=1)), axis=1)
    return profile / np.maximum(np.sqrt((c[:, end] - c[:, start]) / count), f32(1e-10))


def np_sec_gain_profile(profile, sample_rate, alpha):
    t = np.arange(profile.shape[1], dtype=f32) * (f32(1) / f32(sample_rate))
    return profile * (np.exp(f32(alpha) * t) * t)


def np_bandpass_profile(profile, sample_rate, low_cut, high_cut):
    n = profile.shape[1]
    spectrum = scipy.fft.fft(profile.astype(np.complex64), axis=1)
    spectrum *= bandpass_weights(n, sample_rate, low_cut, high_cut)
    return scipy.fft.ifft(spectrum, axis=1, norm="forward").real / f32(n)


# ---- the table -------------------------------------------------------------------------


def paired(ours, peer, rounds=3, repeat=3):
    """Best times of both sides, measured in alternating rounds so that a burst of load
    on the shared machine does not fall on one side only."""
    ours_time = peer_time = float("inf")
    for _ in range(rounds):
        ours_time = min(ours_time, best_time(ours, repeat=repeat))
        peer_time = min(peer_time, best_time(peer, repeat=repeat))
    return ours_time, peer_time


def main():
    rng = np.random.default_rng(7)

    # The bandpass peer: whichever of numpy.fft and scipy.fft is faster on this machine.
    probe = rng.standard_normal(4096).astype(f32)
    fft_peers = {name: make_bandpass(module) for name, module in (("numpy.fft", np.fft), ("scipy.fft", scipy.fft))}
    fft_name = min(fft_peers, key=lambda name: best_time(lambda: fft_peers[name](probe, SAMPLE_RATE, LOW_CUT, HIGH_CUT)))
    np_bandpass = fft_peers[fft_name]

    # (label, ours, peer, extra arguments)
    jobs = [
        ("dewow w=10", orvek_core.apply_dewow, np_dewow, (10,)),
        ("dewow w=64", orvek_core.apply_dewow, np_dewow, (64,)),
        ("agc w=10", orvek_core.apply_agc, np_agc, (10,)),
        ("agc w=64", orvek_core.apply_agc, np_agc, (64,)),
        ("sec_gain", orvek_core.apply_sec_gain, np_sec_gain, (SAMPLE_RATE, ALPHA)),
        ("bandpass", orvek_core.apply_bandpass, np_bandpass, (SAMPLE_RATE, LOW_CUT, HIGH_CUT)),
    ]
    peer_names = {np_bandpass: f"{fft_name} complex64"}

    # The peers do the same job: their results agree with ours up to rounding.
    check = (rng.standard_normal(700) * 1000).astype(f32)
    for label, ours, peer, args in jobs:
        np.testing.assert_allclose(peer(check, *args), ours(check, *args), rtol=1e-3, atol=1e-2, err_msg=label)

    print("One trace per call, the same input object, a list as the result (goal: ahead in every row)")
    for n in (512, 4096):
        trace = (rng.standard_normal(n) * 1000).astype(f32)
        for kind, data in (("list", trace.tolist()), ("f32 array", trace)):
            for label, ours, peer, args in jobs:
                ours_time, peer_time = paired(lambda: ours(data, *args), lambda: peer(data, *args).tolist())
                report(f"{label:<11} n={n:<5} {kind}", ours_time,
                       f"{peer_names.get(peer, 'numpy')} -> list", peer_time, goal="goal >1")

    print("\n(ref) NumPy returning arrays, float32 array in")
    for n in (512, 4096):
        trace = (rng.standard_normal(n) * 1000).astype(f32)
        for label, ours, peer, args in jobs:
            ours_time, peer_time = paired(lambda: ours(trace, *args), lambda: peer(trace, *args))
            report(f"{label:<11} n={n:<5} (ref)", ours_time,
                   f"{peer_names.get(peer, 'numpy')} -> array", peer_time)

    traces, n = 2000, 512
    profile = (rng.standard_normal((traces, n)) * 1000).astype(f32)
    print(f"\nA profile of {traces} traces x {n} samples, trace by trace (float32 rows in, lists out)")
    profile_jobs = {
        np_dewow: np_dewow_profile, np_agc: np_agc_profile,
        np_sec_gain: np_sec_gain_profile, np_bandpass: np_bandpass_profile,
    }
    for label, ours, peer, args in jobs:
        ours_time, peer_time = paired(lambda: [ours(row, *args) for row in profile],
                                      lambda: [peer(row, *args).tolist() for row in profile], repeat=2)
        report(f"{label:<11} profile", ours_time,
               f"{peer_names.get(peer, 'numpy')} -> lists", peer_time, goal="goal >1")
        vectorised = profile_jobs[peer]
        report(f"{label:<11} profile (ref)",
               ours_time,
               "numpy whole profile -> array",
               best_time(lambda: vectorised(profile, *args), repeat=3))


if __name__ == "__main__":
    main()
