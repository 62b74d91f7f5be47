"""Median time per call of every free function of the module, from Python.

Models: models/arm7.urdf, models/humanoid.urdf and revolute chains of 7, 50
and 200 joints (made as URDF text). Each sample times a batch of calls with
timeit on the CPU time of this thread, as the C++ benchmarks do, and
divides by the batch size; the median over the samples is printed, in ns.
Like the C++ benchmarks, each call takes the next of 64 random states (angles
uniform in (-pi, pi)); the time to fetch the next arguments, measured alone,
is taken off.

    python3 benchmarks/time_python.py [core.json]

With the JSON output of lumo_benchmarks (--benchmark_out=core.json, run
with repetitions so that it holds medians), the C++ median of the same
algorithm and model is printed beside each, and the difference: the cost of
the binding (argument checks, result array) on top of the algorithm.
"""
import itertools
import json
import statistics
import sys
import time
import timeit
from pathlib import Path

import numpy as np

import lumo_dynamic as ld

MODELS = Path(__file__).resolve().parent.parent / "models"


def chain_urdf(n):
    """A chain of n revolute joints with axes cycling z, y, x, links 0.1 apart
    along z, 1 kg bodies: the same text as chain_urdf in models.hpp."""
    axes = ["0 0 1", "0 1 0", "1 0 0"]
    links = ['<link name="base"/>']
    joints = []
    for k in range(n):
        links.append(
            f'<link name="l{k}"><inertial><origin xyz="0 0 0.05"/><mass value="1"/>'
            '<inertia ixx="0.01" ixy="0" ixz="0" iyy="0.01" iyz="0" izz="0.005"/></inertial></link>')
        parent = "base" if k == 0 else f"l{k - 1}"
        joints.append(
            f'<joint name="joint{k + 1}" type="revolute"><parent link="{parent}"/><child link="l{k}"/>'
            f'<origin xyz="0 0 0.1"/><axis xyz="{axes[k % 3]}"/>'
            '<limit lower="-3" upper="3" effort="1" velocity="1"/></joint>')
    return f'<robot name="chain{n}">' + "".join(links + joints) + "</robot>"


def models():
    out = {}
    for name in ("arm7", "humanoid"):
        path = MODELS / f"{name}.urdf"
        if path.exists():
            out[name] = ld.parse_urdf_file(str(path))
        else:
            print(f"note: {path} missing, skipped")
    for n in (7, 50, 200):
        out[f"chain{n}"] = ld.parse_urdf_from_string(chain_urdf(n))
    return out


def random_configuration(model, rng):
    """Angles uniform in (-pi, pi) for revolute joints, as in the C++
    benchmarks (the time of sin and cos depends on the range); a floating
    base moved from the neutral one along a random twist."""
    return ld.integrate(model, ld.neutral(model), rng.uniform(-np.pi, np.pi, model.nv))


def median_ns(stmt, names, samples=21, target_s=0.02):
    timer = timeit.Timer(stmt, timer=time.thread_time, globals=names)
    number, _ = timer.autorange()  # at least 0.2 s in all: also warms up
    number = max(1, int(number * target_s / 0.2))
    times = timer.repeat(repeat=samples, number=number)
    return statistics.median(times) / number * 1e9


# The arguments of each function, from one state (model, data, q, v, a, ...).
CALLS = {
    "neutral": lambda s: (s["model"],),
    "integrate": lambda s: (s["model"], s["q"], s["v"]),
    "forwardKinematics": lambda s: (s["model"], s["data"], s["q"]),
    "rnea": lambda s: (s["model"], s["data"], s["q"], s["v"], s["a"]),
    "non_linear_effects": lambda s: (s["model"], s["data"], s["q"], s["v"]),
    "compute_gravity": lambda s: (s["model"], s["data"], s["q"]),
    "crba": lambda s: (s["model"], s["data"], s["q"]),
    "computeJointJacobians": lambda s: (s["model"], s["data"], s["q"]),
    "computeJointJacobian": lambda s: (s["model"], s["data"], s["q"], s["model"].njoints - 1),
    "getFrameJacobian": lambda s: (s["model"], s["data"], s["model"].nframes - 1, ld.ReferenceFrame.LOCAL),
    "computeJointJacobiansTimeVariation": lambda s: (s["model"], s["data"], s["q"], s["v"]),
    "getFrameJacobianTimeVariation":
        lambda s: (s["model"], s["data"], s["model"].nframes - 1, ld.ReferenceFrame.LOCAL),
    "computeAllTerms": lambda s: (s["model"], s["data"], s["q"], s["v"]),
    "computeCoriolisMatrix": lambda s: (s["model"], s["data"], s["q"], s["v"]),
    "computeKinematics": lambda s: (s["model"], s["data"], s["q"], s["v"], s["a"]),
    "getFrameVelocity": lambda s: (s["model"], s["data"], s["model"].nframes - 1, ld.ReferenceFrame.LOCAL),
    "getFrameAcceleration":
        lambda s: (s["model"], s["data"], s["model"].nframes - 1, ld.ReferenceFrame.LOCAL),
    "inverseDynamics": lambda s: (s["model"], s["data"], s["q"], s["v"], s["a"], s["fext"]),
    "computeKinematicsDerivatives": lambda s: (s["model"], s["data"], s["q"], s["v"], s["a"]),
    "getFrameAccelerationDerivatives":
        lambda s: (s["model"], s["data"], s["model"].nframes - 1, ld.ReferenceFrame.LOCAL),
}
STATES = 64  # like the C++ benchmarks, each call takes the next of 64 random states


def cpp_medians(path):
    """name -> median CPU ns from a Google Benchmark JSON file."""
    if path is None or not Path(path).exists():
        return {}
    out = {}
    for b in json.loads(Path(path).read_text())["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6}[b.get("time_unit", "ns")]
            out[b["run_name"]] = b["cpu_time"] * scale
    return out


def main():
    cpp = cpp_medians(sys.argv[1] if len(sys.argv) > 1 else None)
    rng = np.random.default_rng(0)
    header = f"{'function/model':<46} {'python ns':>10}"
    if cpp:
        header += f" {'C++ ns':>9} {'binding ns':>10}"
    print(header)
    for name, model in models().items():
        data = model.createData()
        states = [{"model": model, "data": data, "q": random_configuration(model, rng),
                   "v": rng.uniform(-1.0, 1.0, model.nv), "a": rng.uniform(-1.0, 1.0, model.nv),
                   "fext": rng.uniform(-1.0, 1.0, (model.njoints, 6))}
                  for _ in range(STATES)]
        # for the frame Jacobians, velocities, accelerations and their derivatives
        ld.computeAllTerms(model, data, states[0]["q"], states[0]["v"])
        ld.computeKinematics(model, data, states[0]["q"], states[0]["v"], states[0]["a"])
        ld.computeKinematicsDerivatives(model, data, states[0]["q"], states[0]["v"], states[0]["a"])
        for fn, arguments in CALLS.items():
            names = {"f": getattr(ld, fn), "it": itertools.cycle([arguments(s) for s in states])}
            # minus the time to fetch the next arguments
            t = median_ns("f(*next(it))", names) - median_ns("next(it)", names)
            key = f"{fn}/{name}"
            line = f"{key:<46} {t:>10.0f}"
            if key in cpp:
                line += f" {cpp[key]:>9.0f} {t - cpp[key]:>10.0f}"
            print(line, flush=True)


if __name__ == "__main__":
    main()
