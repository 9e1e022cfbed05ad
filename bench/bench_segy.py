"""SEG-Y writing and reading against segyio, ndarray.tofile and Path.read_bytes.

2,000 traces of 1,024 samples, IEEE floats (format code 5). Files go to /dev/shm so
that the figures measure the code, not the disc. A ratio above 1 means we are faster.
"""
import pathlib
import shutil
import tempfile

import numpy as np
import segyio

import orvek_core
from common import best_time, report

N_TRACES, N_SAMPLES = 2000, 1024
INTERVAL_NS = 250000.0

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

    def write_segyio():
        spec = segyio.spec()
        spec.format = 5
        spec.samples = np.arange(N_SAMPLES) * (INTERVAL_NS / 1e6)
        spec.tracecount = N_TRACES
        with segyio.create(peer_path, spec) as f:
            f.trace = traces32.reshape(N_TRACES, N_SAMPLES)

    write_ours(traces32)()
    file_bytes = np.fromfile(ours_path, dtype=np.uint8)  # the very bytes write_segy writes

    def write_tofile():
        file_bytes.tofile(peer_path)

    segyio_time = best_time(write_segyio, repeat=5)
    tofile_time = best_time(write_tofile)
    for name, traces in (("float32 array", traces32), ("float64 array", traces64)):
        ours = best_time(write_ours(traces))
        report(f"write_segy ({name})", ours, "segyio", segyio_time, "goal >= 5")
        report(f"write_segy ({name})", ours, "ndarray.tofile", tofile_time, "goal >= 0.5")
    report("write_segy (list)", best_time(write_ours(traces_list), repeat=5), "segyio", segyio_time, "goal > 1")

    write_ours(traces32)()
    path = pathlib.Path(ours_path)
    report("parse_segy", best_time(lambda: orvek_core.parse_segy(ours_path)), "Path.read_bytes",
           best_time(path.read_bytes), "goal >= 0.67")
finally:
    shutil.rmtree(folder, ignore_errors=True)
