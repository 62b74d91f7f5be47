"""Inverse kinematics of the arm's tool frame (models/arm7.urdf, frame tool0)
against the Python peers that have it: roboticstoolbox-python (`ik_LM`, its
C++ Levenberg-Marquardt), ikpy (`inverse_kinematics_frame`, SciPy's
optimiser) and pytorch-kinematics (`PseudoInverseIK`), each skipped with a
note when it cannot be imported.

Targets: placements of the tool from forward kinematics of random
configurations within the joint limits (seeded); each is solved once from a
start 0.3 rad away in every joint, the same starts for every library. A
solve succeeds when the configuration it returns, put through our forward
kinematics, puts the tool within 1e-6 (|log(reached⁻¹·target)|, metres and
radians) of the target and lies within the limits. Each library is asked for
the tightest tolerance it takes.

Timing: the wall time of each call (time.perf_counter), everything a user
pays included (the conversion of the target for the peers); printed: the
median and 90th percentile in µs per solve, the success rate, and each
peer's median over ours.

    python3 benchmarks/ik_peers.py [--targets 200] [--model URDF --frame NAME]
"""
from __future__ import annotations

import argparse
import contextlib
import io
import statistics
import time
import warnings
from pathlib import Path
from typing import Callable

import numpy as np

import lumo_dynamic as ld

ROOT = Path(__file__).resolve().parent.parent
SUCCESS = 1e-6  # placement error counted as a success
OFFSET = 0.3    # start offset in every joint (rad)

Solver = Callable[[np.ndarray, np.ndarray], np.ndarray]  # (4×4 target, q0) -> q


def placement_error(model: ld.Model, data: ld.Data, frame: int, q: np.ndarray, target: np.ndarray) -> float:
    ld.forwardKinematics(model, data, q)
    reached = ld.getFramePlacement(model, data, frame)
    rel = ld.SE3(np.ascontiguousarray(target[:3, :3]), np.ascontiguousarray(target[:3, 3]))
    return float(np.linalg.norm(reached.inverse().compose(rel).log()))


def lumo_solver(model: ld.Model, frame: int) -> Solver:
    if not hasattr(ld, "inverseKinematics"):
        raise RuntimeError("this build of lumo_dynamic has no inverseKinematics")

    def solve(target: np.ndarray, q0: np.ndarray) -> np.ndarray:
        se3 = ld.SE3(np.ascontiguousarray(target[:3, :3]), np.ascontiguousarray(target[:3, 3]))
        return ld.inverseKinematics(model, frame, se3, q0).q
    return solve


def rtb_solver(urdf: Path, frame_name: str, nv: int) -> Solver:
    import roboticstoolbox as rtb
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        robot = rtb.Robot.URDF(str(urdf))
    if robot.n != nv:
        raise RuntimeError(f"roboticstoolbox sees {robot.n} joints, we see {nv}")

    def solve(target: np.ndarray, q0: np.ndarray) -> np.ndarray:
        solution = robot.ik_LM(target, end=frame_name, q0=q0, ilimit=200, slimit=1, tol=1e-20, joint_limits=True)
        return np.asarray(solution.q, dtype=float)
    return solve


def ikpy_solver(urdf: Path, frame_name: str, nv: int) -> Solver:
    from ikpy.chain import Chain
    with warnings.catch_warnings(), contextlib.redirect_stdout(io.StringIO()):
        warnings.simplefilter("ignore")
        chain = Chain.from_urdf_file(str(urdf), last_link_vector=None)
        chain.active_links_mask = np.array([link.joint_type != "fixed" for link in chain.links])
    active = np.flatnonzero(chain.active_links_mask)
    if len(active) != nv:
        raise RuntimeError(f"ikpy sees {len(active)} moving joints, we see {nv}")

    def solve(target: np.ndarray, q0: np.ndarray) -> np.ndarray:
        full = np.zeros(len(chain.links))
        full[active] = q0
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            out = chain.inverse_kinematics_frame(target, initial_position=full, orientation_mode="all")
        return np.asarray(out)[active]
    return solve


def torch_solver(urdf: Path, frame_name: str, nv: int) -> Solver:
    import pytorch_kinematics as pk
    import torch
    chain = pk.build_serial_chain_from_urdf(urdf.read_text(), frame_name).to(dtype=torch.float64)
    limits = torch.tensor(chain.get_joint_limits(), dtype=torch.float64).T

    def solve(target: np.ndarray, q0: np.ndarray) -> np.ndarray:
        goal = pk.Transform3d(matrix=torch.tensor(target[None], dtype=torch.float64))
        ik = pk.PseudoInverseIK(chain, retry_configs=torch.tensor(q0[None]), joint_limits=limits,
                                max_iterations=200, pos_tolerance=1e-9, rot_tolerance=1e-9,
                                early_stopping_any_converged=True)
        return ik.solve(goal).solutions[0, 0].numpy()
    return solve


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", default=str(ROOT / "models" / "arm7.urdf"), help="URDF file (a serial arm)")
    parser.add_argument("--frame", default="tool0", help="tool frame")
    parser.add_argument("--targets", type=int, default=200)
    args = parser.parse_args()

    urdf = Path(args.model)
    model = ld.parse_urdf_file(str(urdf))
    data = model.createData()
    frame = model.getFrameId(args.frame)
    if frame is None:
        raise SystemExit(f"{urdf} has no frame {args.frame!r}")
    lower, upper = np.asarray(model.lowerPositionLimit), np.asarray(model.upperPositionLimit)
    rng = np.random.default_rng(19)
    targets, starts = [], []
    for _ in range(args.targets):
        q_star = rng.uniform(lower, upper)
        ld.forwardKinematics(model, data, q_star)
        targets.append(ld.getFramePlacement(model, data, frame).homogeneous)
        starts.append(q_star + OFFSET * rng.choice([-1.0, 1.0], size=model.nv))

    solvers: list[tuple[str, Callable[[], Solver]]] = [
        ("lumo_dynamic", lambda: lumo_solver(model, frame)),
        ("roboticstoolbox ik_LM", lambda: rtb_solver(urdf, args.frame, model.nv)),
        ("ikpy", lambda: ikpy_solver(urdf, args.frame, model.nv)),
        ("pytorch-kinematics", lambda: torch_solver(urdf, args.frame, model.nv)),
    ]
    print(f"{urdf.name}, frame {args.frame}: {args.targets} targets, starts {OFFSET} rad away in every joint; "
          f"success: placement error <= {SUCCESS:g} within the limits")
    print(f"{'library':24s} {'median µs':>10s} {'p90 µs':>9s} {'success':>8s} {'vs ours':>8s}")
    ours = None
    for name, make in solvers:
        try:
            solve = make()
        except ImportError as e:
            print(f"{name:24s} skipped: not importable ({e.name or e})")
            continue
        except Exception as e:  # a peer that cannot load the model
            print(f"{name:24s} skipped: {type(e).__name__}: {e}")
            continue
        solve(targets[0], starts[0])  # first-use work outside the timing
        times, successes = [], 0
        for target, q0 in zip(targets, starts):
            t0 = time.perf_counter()
            q = solve(target, q0)
            times.append(time.perf_counter() - t0)
            inside = bool(np.all(q >= lower - 1e-12) and np.all(q <= upper + 1e-12))
            successes += inside and placement_error(model, data, frame, q, target) <= SUCCESS
        median = statistics.median(times) * 1e6
        p90 = float(np.percentile(times, 90)) * 1e6
        if name == "lumo_dynamic":
            ours = median
        ratio = f"{median / ours:7.1f}x" if ours else "      -"
        print(f"{name:24s} {median:10.1f} {p90:9.1f} {100.0 * successes / len(targets):7.1f}% {ratio}")


if __name__ == "__main__":
    main()
