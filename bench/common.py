"""Shared timing and table helpers for the benchmark scripts (bench/bench_*.py).

Each script measures our function and its peers in the same run, on the same input,
and prints rows through `report`, so that `make bench` shows one table of ratios.
Timings are the best of several repeats: on a shared, noisy machine the minimum is the
figure least disturbed by other load.
"""
import time

ROWS = []


def best_time(fn, *, repeat=7, min_time=0.05):
    """Best per-call time of fn() in seconds, over `repeat` batches of ~min_time each."""
    fn()  # warm up
    calls = 1
    while True:
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        elapsed = time.perf_counter() - start
        if elapsed >= min_time or calls >= 1 << 20:
            break
        calls *= 2
    best = elapsed / calls
    for _ in range(repeat - 1):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def fmt_time(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:8.2f} {unit}"
    return f"{seconds / 1e-9:8.2f} ns"


def report(case, ours, peer_name, peer, goal=""):
    """One row: our time, the peer's time and peer/ours (above 1 means we are faster)."""
    ratio = peer / ours if ours > 0 else float("inf")
    row = f"{case:<46} {fmt_time(ours)}  vs {peer_name:<28} {fmt_time(peer)}  x{ratio:7.2f}  {goal}"
    ROWS.append(row)
    print(row, flush=True)
    return ratio
