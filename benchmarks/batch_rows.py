"""What one row of a batch costs beside the other ways to compute it.

    python3 benchmarks/batch_rows.py [core.json] [--n N] [--threads 1,2]

For N states (default 10,000) of models/arm7.urdf and models/humanoid.urdf,
per function, in ns per row:

  batch    lumo_dynamic.batch.<f> into new arrays: at one thread the CPU time of this
           thread (which does all the work) / N; at more, the wall time / N
           (the machine may be shared: wall times then vary with its load;
           the process's CPU time is no measure here, as the worker pool's
           threads keep running between batches and the kernel adds their
           time to the process's only at its clock ticks);
  out=     the same at one thread, written into arrays given as `out`
           (allocated once, so already in memory);
  writes   allocating and writing arrays of the batch's result shapes once
           (np.full), CPU time of this thread / N: the floor any batch pays
           for its result, whatever it computes;
  loop     a Python loop of single calls over the same states, CPU time of
           this thread / N (the results of each call dropped);
  C++      the C++ single-call median of the same algorithm, from the JSON
           output of lumo_benchmarks (--benchmark_out, with repetitions),
           when given.

framePlacements is compared with forwardKinematics + getFramePlacement of the
last frame, computeFrameJacobian with computeJointJacobians +
getFrameJacobian (WORLD) of the last frame; the C++ column adds the two
medians. Every figure is the least of 7 samples after one warm-up: on a
machine shared with other work the least sample is the least disturbed one
(--median for the median instead).
"""
import argparse
import statistics
import time
from pathlib import Path

import numpy as np

import lumo_dynamic as ld
import lumo_dynamic.batch as lb
from time_python import cpp_medians

MODELS = Path(__file__).resolve().parent.parent / "models"
SAMPLES = 7


STATISTIC = min


def sample_time(f, clock=time.perf_counter):
    """The least (or median) time of SAMPLES calls of f after one warm-up."""
    f()
    times = []
    for _ in range(SAMPLES):
        t = clock()
        f()
        times.append(clock() - t)
    return STATISTIC(times)


def draw(model, n, seed=0):
    rng = np.random.default_rng(seed)
    q = lb.integrate(model, np.tile(ld.neutral(model), (n, 1)), rng.uniform(-np.pi, np.pi, (n, model.nv)))
    return q, rng.uniform(-1, 1, (n, model.nv)), rng.uniform(-1, 1, (n, model.nv))


def cases(model, q, v, a):
    """name -> (batch(threads, **out), loop(), result row shapes, C++ benchmark names)."""
    nv, data, frame = model.nv, model.createData(), model.nframes - 1
    world = ld.ReferenceFrame.WORLD
    n = len(q)

    def loop(f):
        return lambda: [f(i) for i in range(n)]

    def placements(i):
        ld.forwardKinematics(model, data, q[i])
        return ld.getFramePlacement(model, data, frame)

    def jacobian(i):
        ld.computeJointJacobians(model, data, q[i])
        return ld.getFrameJacobian(model, data, frame, world)

    return {
        "rnea": (lambda t, **out: lb.rnea(model, q, v, a, threads=t, **out),
                 loop(lambda i: ld.rnea(model, data, q[i], v[i], a[i])), [(nv,)], ["rnea"]),
        "crba": (lambda t, **out: lb.crba(model, q, threads=t, **out),
                 loop(lambda i: ld.crba(model, data, q[i])), [(nv, nv)], ["crba"]),
        "aba": (lambda t, **out: lb.aba(model, q, v, a, threads=t, **out),
                loop(lambda i: ld.aba(model, data, q[i], v[i], a[i])), [(nv,)], ["aba"]),
        "framePlacements": (lambda t, **out: lb.framePlacements(model, q, [frame], threads=t, **out), loop(placements),
                            [(1, 4, 4)], ["forwardKinematics", "getFramePlacement"]),
        "computeFrameJacobian": (lambda t, **out: lb.computeFrameJacobian(model, q, frame, world, threads=t, **out),
                                 loop(jacobian), [(6, nv)], ["computeJointJacobians", "getFrameJacobian"]),
        "computeRNEADerivatives": (lambda t, **out: lb.computeRNEADerivatives(model, q, v, a, threads=t, **out),
                                   loop(lambda i: ld.computeRNEADerivatives(model, data, q[i], v[i], a[i])),
                                   [(nv, nv)] * 3, ["computeRNEADerivatives"]),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("core", nargs="?")
    parser.add_argument("--n", type=int, default=10_000)
    parser.add_argument("--threads", default="1,2")
    parser.add_argument("--only", default="")
    parser.add_argument("--median", action="store_true")
    args = parser.parse_args()
    global STATISTIC
    STATISTIC = statistics.median if args.median else min
    cpp = cpp_medians(args.core)
    threads = [int(t) for t in args.threads.split(",")]
    n = args.n
    print(f"ns per row, N = {n:,}")
    head = f"{'function':<24}{'model':<10}" + "".join(
        f"{'t=1 CPU':>10}" if t == 1 else f"{f't={t} wall':>10}" for t in threads)
    print(head + f"{'out=':>9}{'writes':>9}{'loop':>9}{'C++':>9}{'batch/C++':>10}{'out=/C++':>9}")
    for name in ("arm7", "humanoid"):
        model = ld.parse_urdf_file(str(MODELS / f"{name}.urdf"))
        q, v, a = draw(model, n)
        for fn, (batch, loop, shapes, cpp_names) in cases(model, q, v, a).items():
            if args.only and fn not in args.only.split(","):
                continue
            per_thread = []
            for t in threads:
                if t == 1:
                    per_thread.append(sample_time(lambda: batch(1), clock=time.thread_time) / n * 1e9)
                else:
                    per_thread.append(sample_time(lambda: batch(t)) / n * 1e9)
            given = tuple(np.empty((n,) + s) for s in shapes)
            into = sample_time(lambda: batch(1, out=given if len(given) > 1 else given[0]),
                               clock=time.thread_time) / n * 1e9
            writes = sample_time(lambda: [np.full((n,) + s, 1.0) for s in shapes], clock=time.thread_time) / n * 1e9
            looped = sample_time(loop, clock=time.thread_time) / n * 1e9
            c = sum(cpp.get(f"{b}/{name}", float("nan")) for b in cpp_names) if cpp else float("nan")
            print(f"{fn:<24}{name:<10}" + "".join(f"{t:>10.0f}" for t in per_thread) +
                  f"{into:>9.0f}{writes:>9.0f}{looped:>9.0f}{c:>9.0f}{per_thread[0] / c:>10.2f}{into / c:>9.2f}",
                  flush=True)


if __name__ == "__main__":
    main()
