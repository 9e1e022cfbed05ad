"""The main processing pipeline on a survey that the demo generates itself.

A synthetic 400 MHz DZT profile (a buried pipe's diffraction hyperbola on top of a
low-frequency wow and noise) is written to a temporary folder, read with parse_dzt,
memory-mapped, dewowed, band-passed and gained trace by trace, migrated, deconvolved,
written to SEG-Y and read back. Every step is recorded in the survey's history.
"""
import json
import pathlib
import struct
import tempfile

import numpy as np

import orvek_core as oc

N_TRACES = 120
N_SAMPLES = 512
RANGE_NS = 64.0  # time window: sample interval 0.125 ns
SCANS_PER_M = 20.0  # trace spacing 0.05 m
VELOCITY_M_NS = 0.1


def ricker(t_ns, centre_ghz):
    a = (np.pi * centre_ghz * t_ns) ** 2
    return (1.0 - 2.0 * a) * np.exp(-a)


def synthetic_profile():
    """int16 samples [trace][sample]: a point diffractor at 1.5 m depth mid-line."""
    rng = np.random.default_rng(7)
    dt = RANGE_NS / N_SAMPLES
    t = np.arange(N_SAMPLES) * dt
    x = np.arange(N_TRACES) / SCANS_PER_M
    x0, depth = x[N_TRACES // 2], 1.5
    profile = np.empty((N_TRACES, N_SAMPLES))
    for k in range(N_TRACES):
        t_pipe = 2.0 * np.hypot(x[k] - x0, depth) / VELOCITY_M_NS
        wow = 3000.0 * np.exp(-t / 20.0)
        profile[k] = (8000.0 * ricker(t - 2.0, 0.4)  # direct wave
                      + 6000.0 * ricker(t - t_pipe, 0.4) * np.exp(-t_pipe / 40.0)
                      + wow + rng.normal(0.0, 50.0, N_SAMPLES))
    return np.clip(profile, -32768, 32767).astype("<i2")


def write_dzt(path, samples):
    header = bytearray(1024)
    struct.pack_into("<HhhhH", header, 0, 0x00FF, 1024, N_SAMPLES, 16, 0)
    struct.pack_into("<ff", header, 10, 64.0, SCANS_PER_M)  # scans per second, per metre
    struct.pack_into("<ff", header, 22, 0.0, RANGE_NS)  # position, range
    struct.pack_into("<h", header, 52, 1)  # channels
    path.write_bytes(bytes(header) + samples.tobytes())


def focus(profile, apex, traces=5, samples=16):
    """Fraction of the energy below the direct wave that lies in a box around the apex."""
    energy = profile[:, 64:] ** 2
    k, l = apex[0], apex[1] - 64
    return energy[k - traces:k + traces + 1, l - samples:l + samples + 1].sum() / energy.sum()


def main():
    with tempfile.TemporaryDirectory(prefix="orvek-demo-") as folder:
        folder = pathlib.Path(folder)
        dzt_path = folder / "line01.dzt"
        write_dzt(dzt_path, synthetic_profile())

        survey = oc.parse_dzt(str(dzt_path))
        print("read:", survey)
        print(f"  header_offset={survey.header_offset} sample_interval_ns={survey.sample_interval_ns} "
              f"traces_per_meter={survey.traces_per_meter}")

        raw = np.memmap(dzt_path, dtype="<i2", mode="r", offset=survey.header_offset,
                        shape=(survey.num_traces, survey.samples_per_trace))
        dt_ns = survey.sample_interval_ns
        sample_rate = 1.0 / dt_ns  # samples per ns: frequencies in GHz

        traces = []
        for trace in raw:
            trace = np.asarray(trace, dtype=np.float32)
            trace = oc.apply_dewow(trace, 32)
            trace = oc.apply_bandpass(trace, sample_rate, 0.1, 1.2)
            trace = oc.apply_sec_gain(trace, sample_rate, 0.02)
            traces.append(trace)
        survey.add_step("dewow", json.dumps({"window_size": 32}))
        survey.add_step("bandpass", json.dumps({"low_ghz": 0.1, "high_ghz": 1.2}))
        survey.add_step("sec_gain", json.dumps({"alpha": 0.02}))

        profile = np.array(traces, dtype=np.float64)
        migrated = oc.apply_kirchhoff_migration(profile, VELOCITY_M_NS, dt_ns, 1.0 / SCANS_PER_M, 30)
        survey.add_step("kirchhoff_migration", json.dumps({"velocity_m_ns": VELOCITY_M_NS, "aperture": 30}))
        apex = (N_TRACES // 2, int(round(2.0 * 1.5 / VELOCITY_M_NS / dt_ns)))
        print(f"  share of the pipe's energy within 5 traces and 2 ns of its apex (trace {apex[0]}, "
              f"sample {apex[1]}): {focus(profile, apex):.0%} before migration, "
              f"{focus(migrated, apex):.0%} after")

        deconvolved = oc.apply_spike_deconv(migrated.ravel(), N_TRACES, N_SAMPLES, 32, 0.01)
        survey.add_step("spike_deconv", json.dumps({"operator_length": 32, "pre_whitening": 0.01}))

        segy_path = folder / "line01.sgy"
        x = [float(i) for i in range(N_TRACES)]
        # GPR convention: radar times are written to SEG-Y scaled by 1000, so that the
        # microsecond interval field holds picoseconds (125 for 0.125 ns).
        oc.write_segy(str(segy_path), deconvolved, N_TRACES, N_SAMPLES, dt_ns * 1e6,
                      "orvek demo line 01", 5, x, None)
        back = oc.parse_segy(str(segy_path))
        print("wrote and read back:", back)
        print(f"  format_code={back.format_code} sample_interval_ns={back.sample_interval_ns} "
              f"src_x[:3]={back.src_x_coords[:3]} size={segy_path.stat().st_size} bytes")

        print("history:")
        for step in survey.history:
            print(f"  {step.name:<22} {step.parameters:<48} v{step.software_version}")


if __name__ == "__main__":
    main()
