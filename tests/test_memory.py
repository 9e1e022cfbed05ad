"""Memory hygiene: many thousands of calls, successes and failures, leak neither Python
objects, references to the arguments, nor native memory."""
import os
import subprocess
import sys
import textwrap

import orvek_core

# Runs in a fresh interpreter so that the measurement sees only this workload. It
# prints the growth of traced Python memory, of resident memory, and the reference
# counts of the arguments that changed.
WORKLOAD = """
import sys, tracemalloc
import orvek_core
from orvek_core import PySurvey

path, fmt, name, params = "ünï/p" * 3, "dzt" * 2, "dewow" * 2, '{"window": 10}' * 2
samples = [1.0, 2.0, 3.0]
keyed = {"path": path, "format": fmt}
arguments = [path, fmt, name, params, samples, keyed]

class Floaty:
    def __float__(self):
        return 1.5

floaty = Floaty()
arguments.append(floaty)

def expect(error, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except error:
        return
    raise AssertionError("no error from " + call.__name__)

def attempt(call, *args, **kwargs):
    # a routine call whose outcome belongs to its own tests: success or any error
    try:
        call(*args, **kwargs)
    except BaseException as error:  # InternalFault derives from BaseException
        if isinstance(error, (KeyboardInterrupt, SystemExit)):
            raise

def workload(rounds):
    for i in range(rounds):
        survey = PySurvey(path, fmt)
        survey = PySurvey(**keyed)
        survey.add_step(name, params)
        survey.add_step(name=name, parameters=params)
        for step in survey.get_history():
            step.timestamp = floaty
            step.name = name
            expect(TypeError, setattr, step, "parameters", 5)
            expect(TypeError, setattr, step, "timestamp", "x")
            expect(AttributeError, delattr, step, "name")
        survey.history, survey.trace_data, survey.trace_positions, repr(survey), survey.path
        expect(TypeError, PySurvey, path)
        expect(TypeError, PySurvey, path, 5)
        expect(UnicodeEncodeError, PySurvey, "\\ud800", fmt)
        expect(TypeError, survey.add_step, name, samples)
        expect(TypeError, survey.add_step, name, params, extra=samples)
        expect(TypeError, survey.get_history, samples)
        expect(TypeError, orvek_core.parse_dzt, path, fmt)
        expect(TypeError, orvek_core.parse_dzt, path=path, p=samples)
        expect(TypeError, orvek_core.parse_magnetometry)
        expect(TypeError, orvek_core.apply_dewow, samples)
        attempt(orvek_core.parse_dzt, "/nonexistent/" + path)
        attempt(orvek_core.parse_dt1, path, hd_content=params)
        attempt(orvek_core.apply_dewow, samples, 3)
        attempt(orvek_core.apply_agc, samples, -1)
        attempt(orvek_core.apply_agc, samples, floaty)
        attempt(orvek_core.apply_kirchhoff_migration, samples)
        attempt(orvek_core.apply_gapped_deconv, samples, 1, 3)
        expect(TypeError, orvek_core.PyProcessingStep)

def rss_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4

workload(2000)  # warm caches, free lists and the allocator
counts = [sys.getrefcount(a) for a in arguments]
tracemalloc.start()
base_traced = tracemalloc.get_traced_memory()[0]
base_rss = rss_kib()
workload(20000)
traced = tracemalloc.get_traced_memory()[0] - base_traced
tracemalloc.stop()
rss = rss_kib() - base_rss
after = [sys.getrefcount(a) for a in arguments]
changed = [i for i in range(len(arguments)) if after[i] != counts[i]]
print(traced, rss, changed)
"""


def test_many_calls_leak_nothing():
    env = dict(os.environ, PYTHONPATH=os.path.dirname(orvek_core.__file__))
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(WORKLOAD)], env=env, capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    traced, rss, changed = result.stdout.split(maxsplit=2)
    assert changed.strip() == "[]", "reference counts of arguments changed"
    # 20000 rounds of about 40 calls: a leak of one small object per round shows here.
    assert int(traced) < 256 * 1024, f"Python memory grew by {traced} bytes"
    assert int(rss) < 8 * 1024, f"resident memory grew by {rss} KiB"
