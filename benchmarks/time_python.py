"""Median time per call of the module's functions from Python, on a 7-joint arm.

Each sample times a batch of calls with perf_counter_ns and divides by the
batch size; the median over the samples is printed.
"""
import statistics
import sys
import time
from pathlib import Path

import numpy as np

import lumo_dynamic as ld

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
from demo import build_arm  # noqa: E402


def median_ns(call, batch=2000, samples=51):
    for _ in range(batch):
        call()
    times = []
    for _ in range(samples):
        start = time.perf_counter_ns()
        for _ in range(batch):
            call()
        times.append((time.perf_counter_ns() - start) / batch)
    return statistics.median(times)


def main():
    model = build_arm()
    data = model.createData()
    rng = np.random.default_rng(0)
    q = rng.uniform(-1, 1, model.nq)
    v = rng.uniform(-1, 1, model.nv)
    fk, neutral, integrate = ld.forwardKinematics, ld.neutral, ld.integrate
    calls = {
        "forwardKinematics": lambda: fk(model, data, q),
        "neutral": lambda: neutral(model),
        "integrate": lambda: integrate(model, q, v),
    }
    empty = median_ns(lambda: None)
    print(f"{'call (7-joint arm)':<24} {'median ns':>10} {'minus lambda':>13}")
    for name, call in calls.items():
        t = median_ns(call)
        print(f"{name:<24} {t:>10.0f} {t - empty:>13.0f}")


if __name__ == "__main__":
    main()
