"""Readers against a plain whole-file read of the same file, in the same run.

Generated files live in /dev/shm (page cache, no disk noise) and are removed afterwards.
"""
import os
import pathlib
import struct
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from common import best_time, report  # noqa: E402

import orvek_core  # noqa: E402

SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None


def write_dt1(path, n_traces, sample_bytes):
    header = bytearray(128)
    samples = os.urandom(sample_bytes)
    with open(path, "wb") as f:
        for k in range(n_traces):
            struct.pack_into("<f", header, 4, float(k))  # position
            f.write(header)
            f.write(samples)


def bench_dt1(directory):
    samples, bits = 512, 16
    sample_bytes = samples * bits // 8
    n_traces = (64 << 20) // (128 + sample_bytes)  # 64 MiB
    path = os.path.join(directory, "bench.dt1")
    write_dt1(path, n_traces, sample_bytes)
    try:
        hd = f"NUMBER OF TRACES = {n_traces}\nNUMBER OF PTS/TRC = {samples}\nTOTAL TIME WINDOW = 50\n"
        size_mb = os.path.getsize(path) / 1e6
        ours = best_time(lambda: orvek_core.parse_dt1(path, hd), repeat=9)
        peer = best_time(lambda: pathlib.Path(path).read_bytes(), repeat=9)
        report(f"parse_dt1 {size_mb:.0f} MB ({n_traces} traces)", ours, "Path.read_bytes", peer,
               "goal: at most 1.5x read_bytes")
        survey = orvek_core.parse_dt1(path, hd)
        data = pathlib.Path(path).read_bytes()[: len(survey.trace_data)]
        ours = best_time(lambda: survey.trace_data, repeat=3, min_time=0.0)
        peer = best_time(lambda: list(data), repeat=3, min_time=0.0)
        report(f"  trace_data as a list ({len(data) / 1e6:.0f} M ints)", ours, "list(bytes)", peer, "(separate)")
    finally:
        os.remove(path)


def bench_dzt(directory):
    path = os.path.join(directory, "bench.dzt")
    with open(path, "wb") as f:
        f.write(struct.pack("<HhhhHffIff22xh", 0xFF, 1024, 512, 16, 0, 64.0, 20.0, 0, 0.0, 50.0, 1))
        f.truncate(1 << 30)  # 1 GiB, sparse: only the header and the length are read

    def python_peer():
        with open(path, "rb") as f:
            return f.read(54), os.fstat(f.fileno()).st_size

    try:
        assert orvek_core.parse_dzt(path).num_traces == ((1 << 30) - 1024) // 1024
        ours = best_time(lambda: orvek_core.parse_dzt(path))
        peer = best_time(python_peer)
        report("parse_dzt 1 GiB file", ours, "open+read(54)+fstat", peer, "goal: under 100 us")
    finally:
        os.remove(path)


if __name__ == "__main__":
    with tempfile.TemporaryDirectory(dir=SCRATCH) as directory:
        bench_dt1(directory)
        bench_dzt(directory)
