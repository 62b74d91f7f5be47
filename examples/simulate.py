"""Simulates a robot falling under gravity with a little joint damping: the
forward dynamics (aba) stepped by fourth-order Runge-Kutta over integrate.
Prints the wall time per step and the energy balance, and saves a picture of
the joint angles and the total energy over time; with --view, plays the
motion in lumo_dynamic.viewer as well (open the address it prints).

    python examples/simulate.py [--model URDF] [--seconds 3] [--damping 0.05] [--output simulate.png] [--view]
"""
from __future__ import annotations

import argparse
import time
from pathlib import Path
from typing import Any, Callable

import numpy as np
from numpy.typing import NDArray

import lumo_dynamic as ld

ROOT = Path(__file__).resolve().parent.parent
Vector = NDArray[np.float64]


def energy(model: ld.Model, data: ld.Data, q: Vector, v: Vector) -> float:
    return ld.computeKineticEnergy(model, data, q, v) + ld.computePotentialEnergy(model, data, q)


def rk4_step(model: ld.Model, data: ld.Data, q: Vector, v: Vector, dt: float,
             torque: Callable[[Vector, Vector], Vector]) -> tuple[Vector, Vector]:
    """One step of q̇ = v, v̇ = aba(q, v, torque(q, v)); positions move along integrate."""
    def acceleration(qk: Vector, vk: Vector) -> Vector:
        return ld.aba(model, data, qk, vk, torque(qk, vk))

    a1 = acceleration(q, v)
    v2 = v + 0.5 * dt * a1
    a2 = acceleration(ld.integrate(model, q, 0.5 * dt * v), v2)
    v3 = v + 0.5 * dt * a2
    a3 = acceleration(ld.integrate(model, q, 0.5 * dt * v2), v3)
    v4 = v + dt * a3
    a4 = acceleration(ld.integrate(model, q, dt * v3), v4)
    q_next = ld.integrate(model, q, dt / 6.0 * (v + 2.0 * v2 + 2.0 * v3 + v4))
    v_next = v + dt / 6.0 * (a1 + 2.0 * a2 + 2.0 * a3 + a4)
    return q_next, v_next


def coordinate_names(model: ld.Model) -> list[str]:
    """The joint each velocity coordinate belongs to, for the legend: the
    first joint (in tree order) that moves when the coordinate alone moves;
    a joint with several coordinates gets them numbered."""
    data, q0 = model.createData(), ld.neutral(model)
    ld.forwardKinematics(model, data, q0)
    still = [p.homogeneous for p in data.oMi]
    owners = []
    for k in range(model.nv):
        step = np.zeros(model.nv)
        step[k] = 0.1
        ld.forwardKinematics(model, data, ld.integrate(model, q0, step))
        moved = [j for j, p in enumerate(data.oMi) if not np.allclose(p.homogeneous, still[j])]
        owners.append(moved[0] if moved else 0)
    return [model.names[j] if owners.count(j) == 1 else f"{model.names[j]}[{owners[:k].count(j)}]"
            for k, j in enumerate(owners)]


def save_figure(fig: Any, output: str) -> None:
    """Writes the figure to `output` (folders made as needed) and says where."""
    fig.tight_layout()
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(output, dpi=100)
    print(f"picture saved to {Path(output).resolve()}")


def view_motion(model: ld.Model, urdf: str, Q: Vector, dt: float) -> None:
    """Plays the configurations Q (rows dt seconds apart, thinned to about 30
    a second) in lumo_dynamic.viewer, over and over until Ctrl-C."""
    from lumo_dynamic.viewer import Viewer

    stride = max(1, int(round(1.0 / (30.0 * dt))))
    with Viewer(model, urdf) as view:
        print(f"viewer at {view.url}: open it in a browser (Ctrl-C to stop)")
        try:
            while True:
                view.play(Q[::stride], stride * dt)
                time.sleep(1.0)
        except KeyboardInterrupt:
            pass


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", default=str(ROOT / "models" / "arm7.urdf"), help="URDF file")
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--dt", type=float, default=1e-3, help="time step in seconds")
    parser.add_argument("--damping", type=float, default=0.05, help="joint damping in N·m·s/rad")
    parser.add_argument("--output", default="simulate.png", help="where to save the picture")
    parser.add_argument("--view", action="store_true", help="play the motion in the viewer (needs viser)")
    args = parser.parse_args()

    model = ld.parse_urdf_file(args.model)
    data = model.createData()
    q = ld.integrate(model, ld.neutral(model), np.full(model.nv, 0.3))  # tilted off the vertical
    v = np.zeros(model.nv)
    steps = int(round(args.seconds / args.dt))

    times = np.arange(steps + 1) * args.dt
    angles = np.empty((steps + 1, model.nv))
    configurations = np.empty((steps + 1, model.nq))
    configurations[0] = q
    energies = np.empty(steps + 1)
    dissipated = 0.0  # work done by the damping torques, by the trapezoidal rule
    angles[0], energies[0] = ld.difference(model, ld.neutral(model), q), energy(model, data, q, v)
    start = time.perf_counter()
    for k in range(steps):
        q_next, v_next = rk4_step(model, data, q, v, args.dt, lambda _, vk: -args.damping * vk)
        dissipated += 0.5 * args.dt * args.damping * (v @ v + v_next @ v_next)
        q, v = q_next, v_next
        configurations[k + 1] = q
        angles[k + 1] = ld.difference(model, ld.neutral(model), q)
        energies[k + 1] = energy(model, data, q, v)
    elapsed = time.perf_counter() - start

    drift = energies[-1] + dissipated - energies[0]
    scale = max(abs(energies[0]), float(np.max(np.abs(energies))), 1e-12)
    print(f"{model.name}: nq {model.nq}, nv {model.nv}, {steps} RK4 steps of {args.dt * 1e3:g} ms")
    print(f"wall time per step: {elapsed / steps * 1e6:.1f} µs (4 aba calls and the energies)")
    print(f"energy: {energies[0]:.6f} J at start, {energies[-1]:.6f} J at the end, "
          f"{dissipated:.6f} J dissipated by damping")
    print(f"energy balance error: {drift:.3e} J ({abs(drift) / scale:.2e} relative)")

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8, 6), sharex=True)
    top.plot(times, angles, label=coordinate_names(model))
    if model.nv <= 12:  # beyond that the legend would hide the curves
        top.legend(ncol=4, fontsize="small")
    top.set_ylabel("joint coordinate (rad or m)")
    top.set_title(f"{model.name} falling under gravity, damping {args.damping:g} N·m·s/rad")
    bottom.plot(times, energies, label="kinetic + potential")
    bottom.plot(times[[0, -1]], energies[[0, 0]], "k:", label="initial")
    bottom.set_xlabel("time (s)")
    bottom.set_ylabel("energy (J)")
    bottom.legend()
    save_figure(fig, args.output)
    if args.view:
        view_motion(model, args.model, configurations, args.dt)


if __name__ == "__main__":
    main()
