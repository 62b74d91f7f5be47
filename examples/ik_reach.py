"""Tracks a circle with a robot's tool frame by inverse kinematics: at every
point of the circle the placement (the tool's orientation held) is solved
from the previous solution. Prints the solve times (median, 90th
percentile) and the largest error, and saves a picture of the tool's path
against the circle and of the joint angles along it; with --view, plays the
motion in lumo_dynamic.viewer as well (open the address it prints).

    python examples/ik_reach.py [--model URDF] [--frame NAME] [--radius 0.15] [--points 200] [--output ik_reach.png]
                                [--view]
"""
from __future__ import annotations

import argparse
import time
from pathlib import Path
from typing import Any

import numpy as np

import lumo_dynamic as ld
from simulate import view_motion

ROOT = Path(__file__).resolve().parent.parent


def save_figure(fig: Any, output: str) -> None:
    """Writes the figure to `output` (folders made as needed) and says where."""
    fig.tight_layout()
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(output, dpi=100)
    print(f"picture saved to {Path(output).resolve()}")


def start_configuration(model: ld.Model) -> np.ndarray:
    """The neutral configuration moved to the middle of every finite limit range
    and 0.3 rad (or m) further: a bent arm, away from the straight pose and from
    the poses where two joint axes line up (both singular)."""
    q = ld.neutral(model)
    v = np.zeros(model.nv)
    lower, upper = np.asarray(model.lowerPositionLimit), np.asarray(model.upperPositionLimit)
    finite = np.isfinite(lower) & np.isfinite(upper)
    n = min(len(lower), model.nv)
    v[:n][finite[:n]] = 0.5 * (lower[:n] + upper[:n])[finite[:n]]
    v += 0.3
    return ld.integrate(model, q, v)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", default=str(ROOT / "models" / "arm7.urdf"), help="URDF file")
    parser.add_argument("--frame", default=None, help="tool frame (default: the model's last frame)")
    parser.add_argument("--radius", type=float, default=0.15, help="circle radius in metres")
    parser.add_argument("--points", type=int, default=200, help="points along the circle")
    parser.add_argument("--output", default="ik_reach.png", help="where to save the picture")
    parser.add_argument("--view", action="store_true", help="play the motion in the viewer (needs viser)")
    args = parser.parse_args()

    model = ld.parse_urdf_file(args.model)
    data = model.createData()
    frame = model.nframes - 1 if args.frame is None else model.getFrameId(args.frame)
    if frame is None:
        raise SystemExit(f"{args.model} has no frame named {args.frame!r}")

    # The circle: centred on the tool's start position, in the plane normal to
    # the world's x axis, the orientation of the start kept throughout.
    q = start_configuration(model)
    ld.forwardKinematics(model, data, q)
    start = ld.getFramePlacement(model, data, frame).homogeneous
    rotation = np.ascontiguousarray(start[:3, :3])
    centre = start[:3, 3] - np.array([0.0, args.radius, 0.0])
    angles = np.linspace(0.0, 2.0 * np.pi, args.points + 1)
    circle = centre + args.radius * np.stack([np.zeros_like(angles), np.cos(angles), np.sin(angles)], axis=1)

    times, errors, reached, joints, configurations = [], [], [], [], []
    failures = 0
    for point in circle:
        target = ld.SE3(rotation, np.ascontiguousarray(point))
        t0 = time.perf_counter()
        solution = ld.inverseKinematics(model, frame, target, q)
        times.append(time.perf_counter() - t0)
        failures += not solution.converged
        q = solution.q
        configurations.append(q)
        ld.forwardKinematics(model, data, q)
        reached.append(ld.getFramePlacement(model, data, frame).homogeneous[:3, 3])
        errors.append(solution.error)
        joints.append(ld.difference(model, ld.neutral(model), q))

    times_us = np.array(times) * 1e6
    reached_arr, joints_arr = np.array(reached), np.array(joints)
    print(f"{model.name}: nq {model.nq}, nv {model.nv}, frame {frame}, {len(circle)} points on a circle "
          f"of radius {args.radius:g} m")
    print(f"solve time: median {np.median(times_us):.1f} µs, 90th percentile "
          f"{np.percentile(times_us, 90):.1f} µs")
    print(f"largest error: {max(errors):.2e} (weighted norm of the placement error); "
          f"{failures} of {len(circle)} solves not converged")
    print(f"largest distance of the tool from the circle: "
          f"{np.max(np.linalg.norm(reached_arr - circle, axis=1)):.2e} m")

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.5))
    left.plot(circle[:, 1], circle[:, 2], "k:", linewidth=3, label="target circle")
    left.plot(reached_arr[:, 1], reached_arr[:, 2], label="tool path")
    left.set_aspect("equal")
    left.set_xlabel("y (m)")
    left.set_ylabel("z (m)")
    left.set_title(f"{model.name}: tool frame tracking a circle")
    left.legend()
    right.plot(np.degrees(angles), joints_arr)
    right.set_xlabel("angle along the circle (degrees)")
    right.set_ylabel("joint coordinate (rad or m)")
    right.set_title("joint angles along the path")
    save_figure(fig, args.output)
    if args.view:
        view_motion(model, args.model, np.array(configurations), 4.0 / len(circle))  # the circle in 4 s


if __name__ == "__main__":
    main()
