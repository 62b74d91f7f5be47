"""Throughput of lumo_dynamic.batch: per-row cost, scaling over threads, and MuJoCo's Batch.

    python3 benchmarks/batch_bench.py [core.json]

1. threads=1, N = 10,000 on models/arm7.urdf and models/humanoid.urdf: the
   time per row of the batched rnea, crba and aba (CPU time of the calling
   thread, which does all the work) beside the C++ single-call median of the
   same algorithm from core.json (lumo_benchmarks --benchmark_out), when given.
2. Rows per second at 1 and 2 threads (wall time), N = 1,000 and 10,000.
3. MuJoCo's mujoco.batch.Batch (pip package mujoco >= 4.0), same URDF, same
   thread count, contacts, constraints, springs and dampers disabled:
   our aba against Batch.forward() (M⁻¹(τ − bias) there too), our
   computeFrameJacobian against Batch.jac, and the per-row cost of a Python loop
   of single calls, ours (aba) and MuJoCo's (mj_forward), on CPU time of
   this thread. Skipped with a
   message when the package or its batch API is missing.

Every figure is the median of 7 samples; the states are random (angles
uniform in (-pi, pi)), drawn once per model.
"""
import os
import re
import statistics
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import lumo_dynamic as ld
import lumo_dynamic.batch as lb
from time_python import cpp_medians

MODELS = Path(__file__).resolve().parent.parent / "models"
SAMPLES = 7


def median_time(f, clock=time.perf_counter, samples=SAMPLES):
    f()  # warm up: pages of the results, caches
    times = []
    for _ in range(samples):
        t = clock()
        f()
        times.append(clock() - t)
    return statistics.median(times)


def draw(model, n, seed=0):
    rng = np.random.default_rng(seed)
    q = lb.integrate(model, np.tile(ld.neutral(model), (n, 1)), rng.uniform(-np.pi, np.pi, (n, model.nv)))
    return q, rng.uniform(-1, 1, (n, model.nv)), rng.uniform(-1, 1, (n, model.nv))


def batched(model, q, v, a):
    calls = {"rnea": lambda t: lb.rnea(model, q, v, a, threads=t), "crba": lambda t: lb.crba(model, q, threads=t)}
    if hasattr(lb, "aba"):
        calls["aba"] = lambda t: lb.aba(model, q, v, a, threads=t)
    return calls


def per_row(models, cpp, n=10_000):
    print(f"\n1. Per row at threads=1, N = {n:,} (ns; C++ single-call median beside it)")
    print(f"{'function':<10}{'model':<10}{'batch':>10}{'C++':>10}{'ratio':>8}")
    for name, model in models.items():
        q, v, a = draw(model, n)
        for fn, call in batched(model, q, v, a).items():
            t = median_time(lambda: call(1), clock=time.thread_time) / n * 1e9
            c = cpp.get(f"{fn}/{name}")
            print(f"{fn:<10}{name:<10}{t:>10.0f}{c if c else float('nan'):>10.0f}"
                  f"{t / c if c else float('nan'):>8.2f}")


def scaling(models, counts=(1_000, 10_000)):
    cpus = len(os.sched_getaffinity(0))
    print(f"\n2. Rows per second at 1 and 2 threads ({cpus} CPUs usable; load average "
          f"{os.getloadavg()[0]:.1f}), wall time")
    if cpus < 2:
        print("   one CPU only: skipped")
        return
    print(f"{'function':<10}{'model':<10}{'N':>8}{'1 thread':>12}{'2 threads':>12}{'speed-up':>10}")
    for name, model in models.items():
        for n in counts:
            q, v, a = draw(model, n)
            for fn, call in batched(model, q, v, a).items():
                r1 = n / median_time(lambda: call(1))
                r2 = n / median_time(lambda: call(2))
                print(f"{fn:<10}{name:<10}{n:>8}{r1:>12,.0f}{r2:>12,.0f}{r2 / r1:>10.2f}")


def mujoco_model(mujoco, urdf):
    """The URDF with the compiler options of the C++ peer run, contacts,
    constraints, springs and dampers off."""
    text = Path(urdf).read_text()
    text = re.sub(r"(<robot[^>]*>)", r'\1<mujoco><compiler discardvisual="true" fusestatic="false" '
                  r'balanceinertia="false" boundmass="0" boundinertia="0"/></mujoco>', text, count=1)
    with tempfile.NamedTemporaryFile("w", suffix=".urdf", delete=False) as f:
        f.write(text)
    try:
        m = mujoco.MjModel.from_xml_path(f.name)
    finally:
        os.unlink(f.name)
    d = mujoco.mjtDisableBit
    m.opt.disableflags |= int(d.mjDSBL_CONTACT | d.mjDSBL_CONSTRAINT | d.mjDSBL_SPRING | d.mjDSBL_DAMPER)
    return m


def against_mujoco(models, n=10_000):
    print(f"\n3. Against MuJoCo's Batch, N = {n:,} (rows per second; loops: ns per row)")
    try:
        import mujoco
        from mujoco.batch import Batch
    except ImportError as e:
        print(f"   mujoco with mujoco.batch.Batch not available ({e}): skipped")
        return
    print(f"   mujoco {mujoco.__version__}")
    if not hasattr(lb, "aba"):
        print("   lumo_dynamic.batch has no aba yet: the forward-dynamics rows are skipped")
    cpus = len(os.sched_getaffinity(0))
    print(f"{'model':<10}{'threads':>8}{'aba':>12}{'forward()':>12}{'ratio':>7}"
          f"{'Jacobian':>12}{'jac':>12}{'ratio':>7}{'loop ours':>11}{'loop mj':>10}{'ratio':>7}")
    for name, model in models.items():
        path = MODELS / f"{name}.urdf"
        m = mujoco_model(mujoco, path)
        if m.nv != model.nv:
            print(f"{name:<10} MuJoCo nv {m.nv} differs from ours ({model.nv}): skipped")
            continue
        q, v, tau = draw(model, n)
        rng = np.random.default_rng(1)
        qpos = np.tile(m.qpos0, (n, 1))
        for j in range(m.njnt):
            adr = m.jnt_qposadr[j]
            if m.jnt_type[j] in (mujoco.mjtJoint.mjJNT_HINGE, mujoco.mjtJoint.mjJNT_SLIDE):
                qpos[:, adr] = rng.uniform(-np.pi, np.pi, n)
        frame = model.nframes - 1
        body = m.nbody - 1
        for threads in sorted({1, min(2, cpus)}):
            batch = Batch(m, n, nthread=threads)
            batch.bind("qpos")[:] = qpos
            batch.bind("qvel")[:] = v
            batch.bind("qfrc_applied")[:] = tau
            batch.bind("qacc")
            point = np.zeros(3)
            t_fwd = median_time(batch.forward)
            t_jac = median_time(lambda: batch.jac(body, point))
            t_jac_ours = median_time(lambda: lb.computeFrameJacobian(model, q, frame, ld.ReferenceFrame.WORLD,
                                                                     threads=threads))
            fwd_ours = (n / median_time(lambda: lb.aba(model, q, v, tau, threads=threads))
                        if hasattr(lb, "aba") else float("nan"))
            line = (f"{name:<10}{threads:>8}{fwd_ours:>12,.0f}{n / t_fwd:>12,.0f}{fwd_ours * t_fwd / n:>7.2f}"
                    f"{n / t_jac_ours:>12,.0f}{n / t_jac:>12,.0f}{t_jac / t_jac_ours:>7.2f}")
            if threads == 1:
                line += loops(mujoco, m, model, q[:1000], v[:1000], tau[:1000], qpos[:1000])
            print(line)


def loops(mujoco, m, model, q, v, tau, qpos):
    """Per-row ns of a Python loop of single calls: ours (aba, else rnea) and mj_forward."""
    data, d = model.createData(), mujoco.MjData(m)
    single = getattr(ld, "aba", ld.rnea)
    ours = lambda: [single(model, data, q[i], v[i], tau[i]) for i in range(len(q))]

    def theirs():
        for i in range(len(q)):
            d.qpos[:] = qpos[i]
            d.qvel[:] = v[i]
            d.qfrc_applied[:] = tau[i]
            mujoco.mj_forward(m, d)
    t_ours = median_time(ours, clock=time.thread_time) / len(q) * 1e9  # both on this thread
    t_mj = median_time(theirs, clock=time.thread_time) / len(q) * 1e9
    return f"{t_ours:>11.0f}{t_mj:>10.0f}{t_mj / t_ours:>7.2f}"


def main():
    models = {name: ld.parse_urdf_file(str(MODELS / f"{name}.urdf")) for name in ("arm7", "humanoid")
              if (MODELS / f"{name}.urdf").exists()}
    per_row(models, cpp_medians(sys.argv[1] if len(sys.argv) > 1 else None))
    scaling(models)
    against_mujoco(models)


if __name__ == "__main__":
    main()
