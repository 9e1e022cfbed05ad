"""Runs every benchmark script bench/bench_*.py in one process run and prints its table."""
import pathlib
import runpy
import sys

here = pathlib.Path(__file__).parent
scripts = sorted(here.glob("bench_*.py"))
if not scripts:
    print("no benchmarks yet")
for script in scripts:
    print(f"\n== {script.stem} ==")
    sys.stdout.flush()
    runpy.run_path(str(script), run_name="__main__")
