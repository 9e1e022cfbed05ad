"""Module entry: registration order, repeated import, sub-interpreters, exported symbols
and the one built file under a second CPython."""
import glob
import importlib
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import orvek_core

NAMES = [
    "PySurvey", "PyProcessingStep",
    "parse_dzt", "parse_dt1", "parse_dzg", "parse_magnetometry", "parse_segy", "parse_mala",
    "write_segy", "apply_dewow", "apply_bandpass", "apply_sec_gain", "apply_agc",
    "apply_kirchhoff_migration", "apply_spike_deconv", "apply_gapped_deconv",
]
MODULE_DIR = os.path.dirname(orvek_core.__file__)


def test_docstring_and_all_in_registration_order():
    assert orvek_core.__doc__ == "ORVEK core Python module."
    assert orvek_core.__all__ == NAMES
    public = [name for name in vars(orvek_core) if not name.startswith("_")]
    assert public == NAMES


def test_functions_are_bound_to_the_module():
    for name in NAMES[2:]:
        function = getattr(orvek_core, name)
        assert function.__name__ == name
        assert function.__module__ == "orvek_core"
        assert function.__self__ is orvek_core
    assert orvek_core.PySurvey.__module__ == "orvek_core"
    assert orvek_core.PyProcessingStep.__module__ == "orvek_core"


def test_reimport_after_removal_yields_the_same_module():
    first = sys.modules.pop("orvek_core")
    try:
        second = importlib.import_module("orvek_core")
        assert second is first
        assert second.__all__ == NAMES  # registered once, not twice
    finally:
        sys.modules["orvek_core"] = first


def run_python(code, executable=sys.executable):
    env = dict(os.environ, PYTHONPATH=MODULE_DIR)
    return subprocess.run([executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          timeout=120)


# Code run inside a sub-interpreter: it reports how the import ended through a file,
# since the sub-interpreter shares no objects with its host.
SUBINTERPRETER_IMPORT = """
try:
    import orvek_core
    outcome = "imported"
except ImportError as error:
    outcome = "ImportError: " + str(error)
with open({path!r}, "w") as report:
    report.write(outcome)
"""


def subinterpreter_runners():
    runners = []
    try:
        import _testcapi  # noqa: F401
        runners.append("legacy")  # shares the main interpreter's extension cache
    except ImportError:
        pass
    for name in ("_interpreters", "_xxsubinterpreters"):
        try:
            importlib.import_module(name)
            runners.append(name)
            break
        except ImportError:
            pass
    return runners


@pytest.mark.parametrize("runner", subinterpreter_runners())
def test_subinterpreter_import_is_refused(runner, tmp_path):
    report = tmp_path / "outcome.txt"
    inner = SUBINTERPRETER_IMPORT.format(path=str(report))
    if runner == "legacy":
        host = f"import orvek_core, _testcapi\n_testcapi.run_in_subinterp({inner!r})\n"
    else:
        host = (f"import orvek_core, {runner} as interpreters\n"
                f"interp = interpreters.create()\n"
                f"interpreters.run_string(interp, {inner!r})\n"
                f"interpreters.destroy(interp)\n")
    result = run_python(host)
    assert result.returncode == 0, result.stderr
    outcome = report.read_text()
    assert outcome.startswith("ImportError: "), outcome
    if runner == "legacy":  # the module's own refusal, not the interpreter's
        assert "sub-interpreters" in outcome


def test_only_the_entry_point_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run([nm, "-D", "--defined-only", orvek_core.__file__], capture_output=True, text=True,
                             check=True).stdout
    symbols = [line.split()[-1] for line in listing.splitlines() if line.split()[1] in "TDBRVW"]
    assert symbols == ["PyInit_orvek_core"]


def other_interpreters():
    """CPython >= 3.12 interpreters other than the running one: pyenv installs, then PATH."""
    found = {}
    try:
        root = subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout.strip()
    except OSError:
        root = os.path.expanduser("~/.pyenv")
    candidates = sorted(glob.glob(os.path.join(root or "", "versions", "3.1[2-9]*", "bin", "python3")))
    candidates += [shutil.which(f"python3.{minor}") for minor in range(12, 20)]
    for path in filter(None, candidates):
        probe = subprocess.run([path, "-c", "import sys; print(sys.version_info[1])"], capture_output=True,
                               text=True)
        if probe.returncode != 0:
            continue
        minor = int(probe.stdout)
        if minor >= 12 and minor != sys.version_info[1]:
            found.setdefault(minor, path)
    return [found[minor] for minor in sorted(found)]


SMOKE = """
import sys
sys.path.insert(0, {directory!r})
import orvek_core
assert orvek_core.__file__ == {file!r}, orvek_core.__file__
survey = orvek_core.PySurvey("a.dzt", "dzt")
survey.add_step("dewow", "{{}}")
print(repr(survey), survey.history[0].name, survey.history[0].software_version)
try:
    orvek_core.parse_dzt()
except TypeError as error:
    print(error)
"""


def test_the_built_file_works_under_a_second_interpreter():
    interpreters = other_interpreters()
    if not interpreters:
        pytest.skip("no second CPython >= 3.12 found")
    for executable in interpreters:
        code = SMOKE.format(directory=MODULE_DIR, file=orvek_core.__file__)
        result = subprocess.run([executable, "-I", "-c", code], capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, (executable, result.stderr)
        assert result.stdout.splitlines() == [
            "PySurvey(format=dzt, traces=0, samples=0, bits=16) dewow 0.2.0",
            "parse_dzt() missing 1 required positional argument: 'path'",
        ], executable
