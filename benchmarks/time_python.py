"""Median time per call of every free function of the module, from Python.

Models: models/arm7.urdf, models/humanoid.urdf and revolute chains of 7, 50
and 200 joints (made as URDF text). Each sample times a batch of calls with
timeit (the statement is the bare call, so the loop adds ~10 ns) on the CPU
time of this thread, as the C++ benchmarks do, and divides by the batch size;
the median over the samples is printed, in ns.

    python3 benchmarks/time_python.py [core.json]

With the JSON output of lumo_benchmarks (--benchmark_out=core.json, run
with repetitions so that it holds medians), the C++ median of the same
algorithm and model is printed beside each, and the difference: the cost of
the binding (argument checks, result array) on top of the algorithm.
"""
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
    along z, 1 kg bodies: the chain of the C++ benchmarks."""
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
    """Uniform angles for revolute joints; the neutral quaternion of a
    floating base moved along a random twist (integrate keeps it unit)."""
    q = ld.neutral(model)
    return ld.integrate(model, q, rng.uniform(-1.0, 1.0, model.nv))


def median_ns(stmt, names, samples=21, target_s=0.02):
    timer = timeit.Timer(stmt, timer=time.thread_time, globals=names)
    number, _ = timer.autorange()  # at least 0.2 s in all: also warms up
    number = max(1, int(number * target_s / 0.2))
    times = timer.repeat(repeat=samples, number=number)
    return statistics.median(times) / number * 1e9


CALLS = {
    "neutral": "f(model)",
    "integrate": "f(model, q, v)",
    "forwardKinematics": "f(model, data, q)",
    "rnea": "f(model, data, q, v, a)",
    "non_linear_effects": "f(model, data, q, v)",
    "compute_gravity": "f(model, data, q)",
    "crba": "f(model, data, q)",
    "computeJointJacobians": "f(model, data, q)",
    "computeJointJacobian": "f(model, data, q, last_joint)",
    "getFrameJacobian": "f(model, data, last_frame, LOCAL)",
    "computeJointJacobiansTimeVariation": "f(model, data, q, v)",
    "getFrameJacobianTimeVariation": "f(model, data, last_frame, LOCAL)",
    "computeAllTerms": "f(model, data, q, v)",
    "computeCoriolisMatrix": "f(model, data, q, v)",
}


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
        names = {
            "model": model, "data": data,
            "q": random_configuration(model, rng),
            "v": rng.uniform(-1.0, 1.0, model.nv), "a": rng.uniform(-1.0, 1.0, model.nv),
            "last_joint": model.njoints - 1, "last_frame": model.nframes - 1,
            "LOCAL": ld.ReferenceFrame.LOCAL,
        }
        ld.computeAllTerms(model, data, names["q"], names["v"])  # for the frame Jacobians
        for fn, stmt in CALLS.items():
            names["f"] = getattr(ld, fn)
            t = median_ns(stmt, names)
            key = f"{fn}/{name}"
            line = f"{key:<46} {t:>10.0f}"
            if key in cpp:
                line += f" {cpp[key]:>9.0f} {t - cpp[key]:>10.0f}"
            print(line, flush=True)


if __name__ == "__main__":
    main()
