"""Balances a two-link arm upright with an LQR controller designed on the
analytic derivatives of the forward dynamics (computeABADerivatives), then
simulates it from a perturbed start with and without the controller and
saves a picture of the joint angles. Also times computeABADerivatives
against central differences of aba on the arm and on the humanoid.

    python examples/lqr_balance.py [--model URDF] [--seconds 4] [--output lqr_balance.png]
"""
from __future__ import annotations

import argparse
import time
from pathlib import Path
from typing import Callable

import numpy as np
from numpy.typing import NDArray

import lumo_dynamic as ld
from simulate import rk4_step, save_figure

ROOT = Path(__file__).resolve().parent.parent
Vector = NDArray[np.float64]
Matrix = NDArray[np.float64]

# Two 1 m links hinged about y, each with 1 kg at its far end; q = 0 points both up.
TWO_LINK = """<robot name="two_link">
  <link name="base"/>
  <link name="upper"><inertial><origin xyz="0 0 1"/><mass value="1"/>
    <inertia ixx="0.001" ixy="0" ixz="0" iyy="0.001" iyz="0" izz="0.001"/></inertial></link>
  <link name="lower"><inertial><origin xyz="0 0 1"/><mass value="1"/>
    <inertia ixx="0.001" ixy="0" ixz="0" iyy="0.001" iyz="0" izz="0.001"/></inertial></link>
  <joint name="shoulder" type="continuous"><parent link="base"/><child link="upper"/><axis xyz="0 1 0"/></joint>
  <joint name="elbow" type="continuous"><parent link="upper"/><child link="lower"/>
    <origin xyz="0 0 1"/><axis xyz="0 1 0"/></joint>
</robot>"""


def linearise(model: ld.Model, data: ld.Data, q0: Vector, tau0: Vector) -> tuple[Matrix, Matrix]:
    """A, B of ẋ = A x + B u for x = [difference(q0, q); v], u = τ − τ0."""
    nv = model.nv
    ddq_dq, ddq_dv, Minv = ld.computeABADerivatives(model, data, q0, np.zeros(nv), tau0)
    A = np.block([[np.zeros((nv, nv)), np.eye(nv)], [ddq_dq, ddq_dv]])
    B = np.vstack([np.zeros((nv, nv)), Minv])
    return A, B


def simulate(model: ld.Model, data: ld.Data, q: Vector, controller: Callable[[Vector, Vector], Vector],
             seconds: float, dt: float) -> Matrix:
    """Joint coordinates over time (difference from the neutral pose), RK4 over integrate."""
    v = np.zeros(model.nv)
    neutral = ld.neutral(model)
    out = [ld.difference(model, neutral, q)]
    for _ in range(int(round(seconds / dt))):
        q, v = rk4_step(model, data, q, v, dt, controller)
        out.append(ld.difference(model, neutral, q))
    return np.array(out)


def time_derivatives(path: str | None, label: str) -> None:
    """Median time of computeABADerivatives beside central differences of aba."""
    model = ld.parse_urdf_from_string(TWO_LINK) if path is None else ld.parse_urdf_file(path)
    data = model.createData()
    rng = np.random.default_rng(0)
    q = ld.integrate(model, ld.neutral(model), rng.uniform(-1, 1, model.nv))
    v, tau = rng.uniform(-1, 1, model.nv), rng.uniform(-1, 1, model.nv)

    def finite_differences() -> None:
        eps = 1e-6
        for e in np.eye(model.nv):
            ld.aba(model, data, ld.integrate(model, q, eps * e), v, tau)
            ld.aba(model, data, ld.integrate(model, q, -eps * e), v, tau)
            ld.aba(model, data, q, v + eps * e, tau)
            ld.aba(model, data, q, v - eps * e, tau)

    def median(f: Callable[[], object], repeat: int) -> float:
        times = []
        for _ in range(repeat):
            start = time.perf_counter()
            f()
            times.append(time.perf_counter() - start)
        return float(np.median(times))

    analytic = median(lambda: ld.computeABADerivatives(model, data, q, v, tau), 2000)
    numeric = median(finite_differences, 50)
    print(f"{label} (nv {model.nv}): computeABADerivatives {analytic * 1e6:.1f} µs, "
          f"central differences of aba {numeric * 1e6:.1f} µs ({numeric / analytic:.0f}× slower)")


def main() -> None:
    from scipy.linalg import solve_continuous_are

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", help="URDF file to balance at its neutral pose (default: a two-link arm)")
    parser.add_argument("--seconds", type=float, default=4.0)
    parser.add_argument("--dt", type=float, default=1e-3)
    parser.add_argument("--output", default="lqr_balance.png")
    args = parser.parse_args()

    model = ld.parse_urdf_file(args.model) if args.model else ld.parse_urdf_from_string(TWO_LINK)
    data = model.createData()
    nv = model.nv
    q0 = ld.neutral(model)
    tau0 = ld.compute_gravity(model, data, q0)  # holds the upright pose
    A, B = linearise(model, data, q0, tau0)
    P = solve_continuous_are(A, B, np.eye(2 * nv), 0.1 * np.eye(nv))
    K = np.linalg.solve(0.1 * np.eye(nv), B.T @ P)
    closed = np.linalg.eigvals(A - B @ K)
    print(f"{model.name}: open-loop eigenvalues up to {np.max(np.linalg.eigvals(A).real):+.3f}, "
          f"closed-loop up to {np.max(closed.real):+.3f} (1/s)")

    start = ld.integrate(model, q0, np.linspace(0.15, -0.1, nv))  # pushed off the upright pose

    def lqr(q: Vector, v: Vector) -> Vector:
        u: Vector = K @ np.r_[ld.difference(model, q0, q), v]
        return tau0 - u

    def passive(q: Vector, v: Vector) -> Vector:
        return tau0

    with_lqr = simulate(model, data, start, lqr, args.seconds, args.dt)
    without = simulate(model, data, start, passive, args.seconds, args.dt)
    print(f"with the controller: largest joint error after {args.seconds:g} s "
          f"{np.max(np.abs(with_lqr[-1])):.2e} rad; without: {np.max(np.abs(without[-1])):.2f} rad")

    time_derivatives(None, "two-link arm")
    time_derivatives(str(ROOT / "models" / "arm7.urdf"), "arm7")
    time_derivatives(str(ROOT / "models" / "humanoid.urdf"), "humanoid")

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = np.arange(len(with_lqr)) * args.dt
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8, 6), sharex=True)
    top.plot(t, with_lqr)
    top.set_title(f"{model.name} from a perturbed upright start")
    top.set_ylabel("with LQR (rad)")
    bottom.plot(t, np.unwrap(without, axis=0))  # continuous joints: no jumps at ±π
    bottom.set_ylabel("without control (rad)")
    bottom.set_xlabel("time (s)")
    save_figure(fig, args.output)


if __name__ == "__main__":
    main()
