"""SEG-Y writing and reading against segyio, ndarray.tofile and Path.read_bytes.

2,000 traces of 1,024 samples, IEEE floats (format code 5). Files go to /dev/shm so
that the figures measure the code, not the disc. Each writer gets the same input
object: segyio converts float64 arrays and lists itself, trace by trace, as
write_segy does; its float32-array time, its fastest case, is shown beside the others.
Each pair is timed in alternation, so that a change of load on the machine hits both.
A ratio above 1 means we are faster.
"""
import pathlib
import shutil
import tempfile
import warnings

import numpy as np
import segyio

import orvek_core
from common import best_time, report

N_TRACES, N_SAMPLES = 2000, 1024
INTERVAL_NS = 250000.0


def best_pair(ours, peer, rounds=5):
    """Best times of two callables, measured round by round in alternation."""
    ours_time = peer_time = float("inf")
    for _ in range(rounds):
        ours_time = min(ours_time, best_time(ours, repeat=1))
        peer_time = min(peer_time, best_time(peer, repeat=1))
    return ours_time, peer_time


folder = pathlib.Path(tempfile.mkdtemp(prefix="bench_segy_", dir="/dev/shm"))
try:
    ours_path = str(folder / "ours.sgy")
    peer_path = str(folder / "peer.sgy")
    rng = np.random.default_rng(1)
    traces64 = rng.normal(0.0, 1.0, N_TRACES * N_SAMPLES)
    traces32 = traces64.astype(np.float32)
    traces_list = traces64.tolist()
    xs = np.arange(N_TRACES, dtype=np.float64) * 0.05

    def write_ours(traces):
        return lambda: orvek_core.write_segy(ours_path, traces, N_TRACES, N_SAMPLES, INTERVAL_NS, "bench", 5, xs)

    def write_segyio(traces):
        def run():
            spec = segyio.spec()
            spec.format = 5
            spec.samples = np.arange(N_SAMPLES) * (INTERVAL_NS / 1e6)
            spec.tracecount = N_TRACES
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # its float64 -> float32 narrowing warning
                with segyio.create(peer_path, spec) as f:
                    if isinstance(traces, np.ndarray):
                        f.trace = traces.reshape(N_TRACES, N_SAMPLES)
                    else:
                        for k in range(N_TRACES):
                            f.trace[k] = traces[k * N_SAMPLES:(k + 1) * N_SAMPLES]
        return run

    write_ours(traces32)()
    file_bytes = np.fromfile(ours_path, dtype=np.uint8)  # the very bytes write_segy writes

    for name, traces in (("float32 array", traces32), ("float64 array", traces64), ("list", traces_list)):
        ours, peer = best_pair(write_ours(traces), write_segyio(traces))
        report(f"write_segy ({name})", ours, f"segyio ({name})", peer, "goal > 1" if name == "list" else "goal >= 5")
        if traces is not traces32:
            ours, peer = best_pair(write_ours(traces), write_segyio(traces32))
            report(f"write_segy ({name})", ours, "segyio (float32 array)", peer)
        if name != "list":
            ours, peer = best_pair(write_ours(traces), lambda: file_bytes.tofile(peer_path))
            report(f"write_segy ({name})", ours, "ndarray.tofile", peer, "goal >= 0.5")

    write_ours(traces32)()
    ours, peer = best_pair(lambda: orvek_core.parse_segy(ours_path), pathlib.Path(ours_path).read_bytes)
    report("parse_segy", ours, "Path.read_bytes", peer, "goal >= 0.67")
finally:
    shutil.rmtree(folder, ignore_errors=True)
