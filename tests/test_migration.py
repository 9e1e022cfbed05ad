"""apply_kirchhoff_migration against a plain NumPy model, bit for bit, in every array layout."""
import subprocess
import sys

import numpy as np
import pytest

import orvek_core

migrate = orvek_core.apply_kirchhoff_migration
EXPECTED_TYPE = "ndarray[float64, 2-D]"


def reference(data, velocity_m_ns=0.1, sample_interval_ns=0.1, trace_spacing_m=0.05, aperture_traces=30):
    """The definition: for each output trace k, the traces j of its window in increasing j,
    each output sample's own sum (the samples l side by side as one NumPy vector)."""
    d = np.array(data, dtype=np.float64)  # a C-ordered copy: the model reads plain rows
    n, m = d.shape
    out = np.zeros((n, m))
    v, dt = velocity_m_ns * 1e9, sample_interval_ns * 1e-9
    t0 = np.arange(m, dtype=np.float64) * dt
    with np.errstate(all="ignore"):
        for k in range(n):
            total, count = np.zeros(m), np.zeros(m, dtype=np.int64)
            for j in range(max(0, k - aperture_traces), min(n, k + aperture_traces + 1)):
                h = 2 * (abs(j - k) * trace_spacing_m) / v
                tau = np.sqrt(h * h + t0 * t0) / dt
                used = ~(t0 <= 0) & (tau >= 0) & (tau < m - 1)
                i0 = np.where(used, tau, 0).astype(np.int64)
                f = tau - i0
                contribution = f[used] * d[j, i0[used] + 1] + (1 - f[used]) * d[j, i0[used]]
                total[used] = total[used] + contribution
                count += used
            out[k] = total / np.maximum(count, 1)
    return out


def assert_same_bits(got, want):
    assert got.shape == want.shape
    assert got.tobytes() == want.tobytes()


def profile(n, m, seed=0):
    """A profile with a few diffraction hyperbolas on top of noise."""
    rng = np.random.default_rng(seed)
    d = rng.standard_normal((n, m)) * 0.05
    for _ in range(3):
        k0, l0 = rng.integers(0, n), rng.integers(1, m)
        for k in range(n):
            l = int(np.hypot(l0, 3.0 * (k - k0)))
            if l < m:
                d[k, l] += 1.0
    return d


# ---- layouts: each gives the same values as `base`, stored differently ----------------

def c_order(base):
    return base.copy()


def fortran(base):
    return np.asfortranarray(base)


def sliced(base):
    wide = np.zeros((2 * base.shape[0], 3 * base.shape[1] + 1))
    wide[::2, 1::3] = base
    return wide[::2, 1::3]


def axis_swapped(base):
    return np.ascontiguousarray(base.T).T


def reversed_both(base):
    return np.ascontiguousarray(base[::-1, ::-1])[::-1, ::-1]


def reversed_samples(base):
    return np.ascontiguousarray(base[:, ::-1])[:, ::-1]


def unaligned(base):
    raw = np.zeros(base.size * 8 + 1, dtype=np.uint8)
    view = raw[1:].view(np.float64).reshape(base.shape)
    view[...] = base
    assert not view.flags.aligned
    return view


def read_only(base):
    view = base.copy()
    view.flags.writeable = False
    return view


LAYOUTS = [c_order, fortran, sliced, axis_swapped, reversed_both, reversed_samples, unaligned, read_only]

PARAMETERS = [
    dict(),
    dict(velocity_m_ns=0.08, sample_interval_ns=0.05, trace_spacing_m=0.02, aperture_traces=12),
    dict(velocity_m_ns=0.13, sample_interval_ns=0.2, trace_spacing_m=0.1, aperture_traces=3),
    dict(aperture_traces=0),
    dict(aperture_traces=1000),
    dict(trace_spacing_m=-0.05, aperture_traces=7),
]


@pytest.mark.parametrize("layout", LAYOUTS, ids=[f.__name__ for f in LAYOUTS])
@pytest.mark.parametrize("parameters", PARAMETERS, ids=["defaults", "fine", "coarse", "aperture-0",
                                                        "aperture-wide", "negative-spacing"])
def test_matches_the_model_in_every_layout(layout, parameters):
    base = profile(37, 83, seed=len(parameters))
    data = layout(base)
    before = data.copy()
    got = migrate(data, **parameters)
    assert_same_bits(got, reference(base, **parameters))
    assert_same_bits(data, before)  # the input is unchanged


@pytest.mark.parametrize("n, m, seed", [(1, 40, 1), (2, 2, 2), (5, 3, 3), (64, 200, 4), (9, 517, 5), (120, 64, 6)])
def test_randomised_profiles_match_the_model(n, m, seed):
    rng = np.random.default_rng(seed)
    data = rng.standard_normal((n, m)) * 10.0 ** rng.integers(-3, 4)
    parameters = dict(velocity_m_ns=float(rng.uniform(0.05, 0.15)), sample_interval_ns=float(rng.uniform(0.02, 0.3)),
                      trace_spacing_m=float(rng.uniform(0.005, 0.2)), aperture_traces=int(rng.integers(0, 40)))
    assert_same_bits(migrate(data, **parameters), reference(data, **parameters))


# ---- the rules that matter ---------------------------------------------------------------------

def test_divides_by_the_contributions_used_not_the_window():
    # A constant profile: every used contribution is 2 (up to the rounding of f and 1 − f),
    # so every output sample is 2 as long as the divisor counts only the contributions used.
    # Deep samples of the outer traces use fewer of them than shallow ones; the last
    # sample uses none (τ ≥ l), nor does sample 0.
    data = np.full((12, 50), 2.0)
    out = migrate(data, trace_spacing_m=0.1, aperture_traces=5)
    assert out[:, 1:-1] == pytest.approx(2.0, rel=1e-14)
    assert not out[:, [0, -1]].any()
    assert_same_bits(out, reference(data, trace_spacing_m=0.1, aperture_traces=5))


def test_travel_time_must_stay_below_the_last_sample():
    # With aperture 0 only the trace itself contributes, at τ = sqrt(t0²) / dt. Where τ is
    # exactly n_samples − 1, sample i0 + 1 would not exist: that τ is not used.
    m, dt = 15, 0.125 * 1e-9
    def tau(l):
        return np.sqrt(0.0 + (l * dt) * (l * dt)) / dt
    assert tau(14) == 14.0 and tau(13) == 13.0
    data = np.arange(3 * m, dtype=np.float64).reshape(3, m) + 1.0
    out = migrate(data, sample_interval_ns=0.125, aperture_traces=0)
    assert list(out[:, -1]) == [0.0, 0.0, 0.0]
    assert out[1, 13] == data[1, 13]  # τ = 13 interpolates with f = 0


def test_output_is_a_new_c_ordered_float64_array_that_owns_its_data():
    data = np.asfortranarray(profile(6, 20))
    out = migrate(data)
    assert type(out) is np.ndarray and out is not data
    assert out.dtype == np.float64 and out.shape == (6, 20)
    assert out.flags.c_contiguous and out.flags.owndata and out.flags.writeable
    assert out.base is None
    assert out.strides == (20 * 8, 8)


def test_defaults_behave_as_if_passed():
    data = profile(15, 40)
    explicit = migrate(data, velocity_m_ns=0.1, sample_interval_ns=0.1, trace_spacing_m=0.05, aperture_traces=30)
    assert_same_bits(migrate(data), explicit)
    assert_same_bits(migrate(data, 0.1, 0.1, 0.05, 30), explicit)
    assert migrate.__text_signature__ == \
        "(data, velocity_m_ns=0.1, sample_interval_ns=0.1, trace_spacing_m=0.05, aperture_traces=30)"


@pytest.mark.parametrize("shape", [(0, 5), (5, 0), (0, 0)])
def test_empty_profiles_give_empty_arrays(shape):
    out = migrate(np.zeros(shape))
    assert out.shape == shape and out.dtype == np.float64


@pytest.mark.parametrize("data, parameters", [
    (np.ones((4, 1)), {}),                                # no τ below n_samples − 1 = 0
    (profile(6, 30), dict(velocity_m_ns=0.0)),            # offset 0: 0/0; the rest: infinite
    (profile(6, 30), dict(sample_interval_ns=-0.1)),      # every t0 negative
    (profile(6, 30), dict(sample_interval_ns=0.0)),
    (profile(6, 30), dict(velocity_m_ns=float("nan"))),
], ids=["one-sample", "zero-velocity", "negative-interval", "zero-interval", "nan-velocity"])
def test_degenerate_parameters_give_zeros(data, parameters):
    out = migrate(data, **parameters)
    assert out.tobytes() == np.zeros(data.shape).tobytes()


def test_sample_zero_is_always_zero():
    assert not migrate(profile(8, 30) + 5.0)[:, 0].any()


@pytest.mark.parametrize("aperture", [7, 8, 100, 2**63, 2**64 - 1])
def test_aperture_beyond_the_profile_uses_every_trace(aperture):
    data = profile(8, 40, seed=3)
    assert_same_bits(migrate(data, aperture_traces=aperture), reference(data, aperture_traces=7))


def test_non_finite_samples_reach_only_the_outputs_that_use_them():
    data = profile(7, 40, seed=9)
    data[3, 20] = np.inf
    data[5, 39] = np.nan
    out = migrate(data, aperture_traces=2)
    assert_same_bits(out, reference(data, aperture_traces=2))
    assert np.isfinite(out[0]).all()


class Profile(np.ndarray):
    """An array subclass, as a caller's own array type would be."""


def test_subclasses_and_equivalent_element_types_are_accepted():
    base = profile(5, 16)
    want = migrate(base)
    got = migrate(base.view(Profile))
    assert type(got) is np.ndarray
    assert_same_bits(got, want)
    assert_same_bits(migrate(base.astype(np.dtype("<f8"))), want)
    assert_same_bits(migrate(base.astype(np.dtype(np.float64, metadata={"unit": "mV"}))), want)


# ---- failures ----------------------------------------------------------------------------------

@pytest.mark.parametrize("data, type_name", [
    ([[1.0, 2.0], [3.0, 4.0]], "list"),
    (5.0, "float"),
    (None, "NoneType"),
    (np.zeros((2, 3, 4)), "ndarray"),
    (np.zeros(5), "ndarray"),
    (np.zeros((3, 4), dtype=np.int32), "ndarray"),
    (np.zeros((3, 4), dtype=np.float32), "ndarray"),
    (np.zeros((3, 4), dtype=">f8"), "ndarray"),
    (np.zeros((3, 4), dtype=np.complex128), "ndarray"),
    (np.zeros((3, 4), dtype=np.longdouble), "ndarray"),
], ids=["list", "float", "none", "3-d", "1-d", "int32", "float32", "big-endian", "complex", "longdouble"])
def test_anything_but_a_2d_float64_array_is_refused(data, type_name):
    with pytest.raises(TypeError) as raised:
        migrate(data)
    assert str(raised.value) == f"argument 'data': '{type_name}' object cannot be converted to '{EXPECTED_TYPE}'"


@pytest.mark.parametrize("kwargs, error, prefix", [
    (dict(velocity_m_ns="fast"), TypeError, "argument 'velocity_m_ns': "),
    (dict(sample_interval_ns=None), TypeError, "argument 'sample_interval_ns': "),
    (dict(trace_spacing_m=[0.05]), TypeError, "argument 'trace_spacing_m': "),
    (dict(aperture_traces=-1), OverflowError, ""),
    (dict(aperture_traces=2**64), OverflowError, ""),
    (dict(aperture_traces=1.5), TypeError, "argument 'aperture_traces': "),
], ids=["velocity", "interval", "spacing", "aperture-negative", "aperture-huge", "aperture-float"])
def test_parameter_conversion_errors(kwargs, error, prefix):
    with pytest.raises(error) as raised:
        migrate(profile(3, 5), **kwargs)
    assert type(raised.value) is error
    assert str(raised.value).startswith(prefix)


def test_data_is_converted_first():
    with pytest.raises(TypeError, match="^argument 'data': "):
        migrate([1.0], velocity_m_ns="fast", aperture_traces=-1)


def test_importing_the_module_does_not_import_numpy():
    script = (
        "import sys, orvek_core\n"
        "assert 'numpy' not in sys.modules\n"
        "try:\n"
        "    orvek_core.apply_kirchhoff_migration([[1.0, 2.0]])\n"
        "except TypeError as error:\n"
        "    print(error)\n"
        "assert 'numpy' not in sys.modules\n"
        "import numpy\n"
        "print(orvek_core.apply_kirchhoff_migration(numpy.ones((2, 3))).shape)\n"
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            env=None, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        f"argument 'data': 'list' object cannot be converted to '{EXPECTED_TYPE}'", "(2, 3)"]
