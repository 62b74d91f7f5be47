"""A dynamics dataset on a Dask cluster: τ, M and an end-effector Jacobian for N random states.

    pip install .[cluster]          # dask and distributed
    python examples/dataset.py                              # local cluster, humanoid, 20,000 states
    python examples/dataset.py --n 1000000 --yes            # 13 GB: above 1 GB the size must be confirmed
    python examples/dataset.py --n 20000 --chunk 5000 --out /tmp/ds
    python examples/dataset.py --scheduler tcp://host:8786  # an existing cluster

The model is sent once to every worker (client.scatter); each task draws the
states of one chunk from its own seed and computes them with the batch
functions of lumo_dynamic.batch. Output, in --out:

    chunk_000000.npz, chunk_000001.npz, ...   one per chunk of --chunk states (the last may be shorter):
        q (n, nq), v (n, nv), a (n, nv)    the states (q valid for every joint kind, drawn through integrate)
        tau (n, nv)                        rnea(q, v, a)
        M (n, nv, nv)                      the full symmetric mass matrix
        J (n, 6, nv)                       the Jacobian of --frame, LOCAL_WORLD_ALIGNED, rows [linear; angular]
    manifest.json                          the model file, frame, N, chunk size, seed and the chunk files in order

Load one with numpy.load, or all of them with dask.array.from_delayed.
"""
from __future__ import annotations

import argparse
import json
import os
import time
from pathlib import Path

import numpy as np
from numpy.typing import NDArray

import lumo_dynamic as ld
import lumo_dynamic.batch as lb

REPO = Path(__file__).resolve().parents[1]
Array = NDArray[np.float64]


def draw_states(model: ld.Model, count: int, seed: int | list[int]) -> tuple[Array, Array, Array]:
    """`count` random states: q = integrate(neutral, u), u, v, a uniform, from `seed`."""
    rng = np.random.default_rng(seed)
    u = rng.uniform(-np.pi, np.pi, (count, model.nv))
    q = lb.integrate(model, np.tile(ld.neutral(model), (count, 1)), u, threads=1)
    v = rng.uniform(-2.0, 2.0, (count, model.nv))
    a = rng.uniform(-5.0, 5.0, (count, model.nv))
    return q, v, a


def compute_chunk(model: ld.Model, index: int, count: int, seed: int, frame_id: int, out_dir: str,
                  threads: int | None) -> tuple[str, int, float]:
    """One chunk: draws its states, computes τ, M, J and writes chunk_{index}.npz."""
    start = time.perf_counter()
    q, v, a = draw_states(model, count, [seed, index])
    tau = lb.rnea(model, q, v, a, threads=threads)
    M = lb.crba(model, q, threads=threads)
    J = lb.computeFrameJacobian(model, q, frame_id, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED, threads=threads)
    name = f"chunk_{index:06d}.npz"
    np.savez(os.path.join(out_dir, name), q=q, v=v, a=a, tau=tau, M=M, J=J)
    return name, count, time.perf_counter() - start


def dataset_bytes(model: ld.Model, count: int) -> int:
    """The size of `count` states on disk: q, v, a, tau, M and J in float64."""
    return 8 * count * (model.nq + 3 * model.nv + model.nv * model.nv + 6 * model.nv)


def main(argv: list[str] | None = None) -> None:
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--model", default=str(REPO / "models" / "humanoid.urdf"), help="URDF file")
    p.add_argument("--frame", help="end-effector frame name (default: the last frame)")
    p.add_argument("--n", type=int, default=20_000, help="number of states")
    p.add_argument("--chunk", type=int, default=50_000, help="states per task and per output file")
    p.add_argument("--seed", type=int, default=0)
    p.add_argument("--out", default="dataset", help="output directory")
    p.add_argument("--scheduler", help="address of an existing scheduler, e.g. tcp://host:8786")
    p.add_argument("--workers", type=int, default=len(os.sched_getaffinity(0)),
                   help="worker processes of the local cluster")
    p.add_argument("--threads", type=int, default=1, help="batch threads per task")
    p.add_argument("--yes", action="store_true", help="write the dataset even when it exceeds 1 GB")
    args = p.parse_args(argv)

    from distributed import Client, LocalCluster, progress

    model = ld.parse_urdf_file(args.model)
    frame_id = model.nframes - 1 if args.frame is None else model.getFrameId(args.frame)
    if frame_id is None:
        p.error(f"no frame named {args.frame!r} in {args.model}")
    size = dataset_bytes(model, args.n)
    if size > 1e9 and not args.yes:
        p.error(f"{args.n:,} states of {model.name} make about {size / 1e9:.1f} GB in {args.out}: "
                "add --yes to write them, or ask for fewer with --n")
    out_dir = Path(args.out).resolve()
    out_dir.mkdir(parents=True, exist_ok=True)

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        print(f"{model!r} on {len(client.scheduler_info()['workers'])} workers; "
              f"{args.n} states in chunks of {args.chunk}")
        remote_model = client.scatter(model, broadcast=True)  # pickled once per worker
        start = time.perf_counter()
        futures = [client.submit(compute_chunk, remote_model, k, min(args.chunk, args.n - first),
                                 args.seed, frame_id, str(out_dir), args.threads, pure=False)
                   for k, first in enumerate(range(0, args.n, args.chunk))]
        progress(futures)
        results = client.gather(futures)
        wall = time.perf_counter() - start
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    busy = sum(r[2] for r in results)
    manifest = {"model": str(Path(args.model).resolve()), "frame_id": frame_id, "n": args.n,
                "chunk": args.chunk, "seed": args.seed, "chunks": [r[0] for r in results],
                "reference_frame": "LOCAL_WORLD_ALIGNED"}
    (out_dir / "manifest.json").write_text(json.dumps(manifest, indent=1))
    print(f"\n{args.n} states in {wall:.2f} s: {args.n / wall:,.0f} rows/s "
          f"({args.n / busy:,.0f} rows/s per worker while computing); written to {out_dir}")


if __name__ == "__main__":
    main()
