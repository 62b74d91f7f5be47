"""Stands the quadruped of models/quadruped.urdf on four point contacts
(constrainedDynamics, stepped by fourth-order Runge-Kutta over integrate)
under a PD law on its twelve leg joints with gravity compensation computed
under the contacts; at t = 0.5 s a sideways push on the trunk goes through
impulseDynamics, so that the feet stay where they stand, and the robot
settles. Prints the final height error of the trunk, the largest drift of
the feet, the contact forces against the weight at rest and the wall time
per step, and saves a picture of the trunk's height and the vertical contact
forces over time; with --view, plays the motion in lumo_dynamic.viewer as
well (open the address it prints).

    python examples/quadruped_stand.py [--seconds 2] [--push 6] [--output quadruped_stand.png] [--view]
"""
from __future__ import annotations

import argparse
import time
from pathlib import Path
from typing import Callable

import numpy as np
from numpy.typing import NDArray

import lumo_dynamic as ld
from simulate import save_figure, view_motion

ROOT = Path(__file__).resolve().parent.parent
Vector = NDArray[np.float64]
FEET = ("FL_foot", "FR_foot", "HL_foot", "HR_foot")
LEG_POSE = (0.0, 0.8, -1.6)  # hip abduction, hip flexion, knee (rad): knees bent, feet under the hips


def find_frame(model: ld.Model, name: str) -> int:
    found = model.getFrameId(name)
    if found is None:
        raise SystemExit(f"{model.name} has no frame named {name!r}")
    return found


def standing_pose(model: ld.Model, data: ld.Data, foot_ids: list[int]) -> Vector:
    """The trunk level, the legs in LEG_POSE and the trunk high enough that
    the feet touch the ground z = 0."""
    q = ld.neutral(model)
    q[7:] = np.tile(LEG_POSE, 4)
    ld.forwardKinematics(model, data, q)
    q[2] = -min(ld.getFramePlacement(model, data, f).homogeneous[2, 3] for f in foot_ids)
    return q


def gravity_compensation(model: ld.Model, data: ld.Data, contacts: ld.ConstraintSet, q: Vector) -> Vector:
    """Joint torques that hold the robot at rest in q on its contacts.

    At rest (v = 0, q̈ = 0) the dynamics M·q̈ + nle = Sᵀτ + Jᵀλ reduce to
    g(q) = Sᵀτ + Jᵀλ, S selecting the twelve actuated leg coordinates: 18
    equations in the 12 torques and the 12 contact forces. The six rows of
    the floating base have no torque: there the contact forces alone carry
    the weight and its moment. The system has more unknowns than equations
    (the feet can squeeze the ground between them without moving anything),
    and the least-squares solution of least norm picks the torques and forces
    that do the job with the smallest effort. Since the contact rows are
    independent, constrainedDynamics with these torques gives q̈ = 0 and
    returns these forces."""
    nv = model.nv
    S_T = np.zeros((nv, nv - 6))
    S_T[6:, :] = np.eye(nv - 6)
    J = contacts.jacobian(model, data, q)
    A = np.hstack([S_T, J.T])
    solution = np.linalg.lstsq(A, ld.compute_gravity(model, data, q), rcond=None)[0]
    return np.asarray(solution[: nv - 6], dtype=np.float64)


def rk4_step(acceleration: Callable[[Vector, Vector], Vector], model: ld.Model, q: Vector, v: Vector,
             dt: float) -> tuple[Vector, Vector]:
    """One step of q̇ = v, v̇ = acceleration(q, v); positions move along integrate."""
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


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--model", default=str(ROOT / "models" / "quadruped.urdf"), help="URDF file")
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--dt", type=float, default=1e-3, help="time step in seconds")
    parser.add_argument("--push", type=float, default=6.0, help="sideways impulse on the trunk at 0.5 s, N·s")
    parser.add_argument("--corrector", type=float, nargs=2, default=(100.0, 20.0), metavar=("KP", "KD"),
                        help="contact corrector gains (1/s², 1/s)")
    parser.add_argument("--output", default="quadruped_stand.png", help="where to save the picture")
    parser.add_argument("--view", action="store_true", help="play the motion in the viewer (needs viser)")
    args = parser.parse_args()

    model = ld.parse_urdf_file(args.model)
    data = model.createData()
    nv = model.nv
    foot_ids = [find_frame(model, name) for name in FEET]
    trunk_id = find_frame(model, "trunk")
    q0 = standing_pose(model, data, foot_ids)

    # Each foot held at the point of the ground where it stands (its reference
    # placement at q0), its rows in world axes: [x, y, z] of the force on the
    # robot, z pointing up out of the ground.
    feet = []
    corrector = (float(args.corrector[0]), float(args.corrector[1]))
    for frame_id in foot_ids:
        contact = ld.RigidConstraint(model, "point", frame_id, corrector=corrector)
        contact.set_reference(model, data, q0)
        feet.append(contact)
    contacts = ld.ConstraintSet(model, feet)

    mass = ld.crba(model, data, q0)[0, 0]  # the floating base's linear block of M is m·I
    weight = mass * float(np.linalg.norm(model.gravity))
    tau0 = gravity_compensation(model, data, contacts, q0)
    kp, kd = 60.0, 5.0  # N·m/rad, N·m·s/rad

    def torques(q: Vector, v: Vector) -> Vector:
        tau = np.zeros(nv)
        tau[6:] = tau0 + kp * (q0[7:] - q[7:]) - kd * v[6:]
        return tau

    def acceleration(q: Vector, v: Vector) -> Vector:
        ddq: Vector = ld.constrainedDynamics(model, data, contacts, q, v, torques(q, v))[0]
        return ddq

    ddq, forces = ld.constrainedDynamics(model, data, contacts, q0, np.zeros(nv), torques(q0, np.zeros(nv)))
    print(f"{model.name}: nq {model.nq}, nv {nv}, {contacts.size} contact rows, mass {mass:.2f} kg")
    print(f"standing: trunk at {q0[2]:.4f} m, |q̈| = {np.max(np.abs(ddq)):.1e} under the compensation, "
          f"vertical forces {np.round(forces[2::3], 2)} N (sum {np.sum(forces[2::3]):.3f}, m·g {weight:.3f})")

    steps = int(round(args.seconds / args.dt))
    push_step = int(round(0.5 / args.dt))
    times = np.arange(steps + 1) * args.dt
    height = np.empty(steps + 1)
    configurations = np.empty((steps + 1, model.nq))
    vertical = np.empty((steps + 1, len(FEET)))
    drift = 0.0  # largest distance of a foot from where it stood at the start
    ld.forwardKinematics(model, data, q0)
    ground = [ld.getFramePlacement(model, data, f).homogeneous[:3, 3].copy() for f in foot_ids]
    q, v = q0.copy(), np.zeros(nv)
    elapsed = 0.0
    for k in range(steps + 1):
        height[k] = q[2]
        configurations[k] = q
        vertical[k] = ld.constrainedDynamics(model, data, contacts, q, v, torques(q, v))[1][2::3]
        ld.forwardKinematics(model, data, q)
        for frame_id, point in zip(foot_ids, ground):
            foot = ld.getFramePlacement(model, data, frame_id).homogeneous[:3, 3]
            drift = max(drift, float(np.linalg.norm(foot - point)))
        if k == steps:
            break
        start = time.perf_counter()
        if k == push_step:
            # The push: a sideways impulse P on the trunk's origin changes the
            # velocities by M⁻¹·J_trunkᵀ·P; the contacts then take the impulses
            # p that keep the feet still: M·(v⁺ − v⁻) = Jᵀ·p with J·v⁺ = 0.
            ld.computeJointJacobians(model, data, q)
            J_trunk = ld.getFrameJacobian(model, data, trunk_id, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED)[:3]
            v_before = v + ld.computeMinverse(model, data, q) @ (J_trunk.T @ np.array([0.0, args.push, 0.0]))
            v, impulses = ld.impulseDynamics(model, data, contacts, q, v_before)
            print(f"push of {args.push:g} N·s at t = {times[k]:.2f} s: trunk velocity "
                  f"{np.round(v_before[:3], 3)} m/s before the contacts act, {np.round(v[:3], 3)} after; "
                  f"sideways contact impulses {np.round(impulses[1::3], 3)} N·s")
        q, v = rk4_step(acceleration, model, q, v, args.dt)
        elapsed += time.perf_counter() - start

    total = vertical.sum(axis=1)
    print(f"{steps} RK4 steps of {args.dt * 1e3:g} ms: {elapsed / steps * 1e6:.0f} µs per step "
          f"(4 constrainedDynamics calls and the PD law)")
    print(f"final trunk height error {abs(height[-1] - q0[2]):.2e} m, largest drift of a foot {drift:.2e} m, "
          f"largest joint speed at the end {np.max(np.abs(v[6:])):.1e} rad/s")
    print(f"vertical forces at the end: sum {total[-1]:.3f} N against m·g {weight:.3f} N "
          f"({abs(total[-1] - weight) / weight:.1e} relative); the smallest on a foot over the run "
          f"{vertical.min():.1f} N (the contacts hold both ways: below zero a foot would pull the ground)")

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8, 6), sharex=True)
    top.plot(times, height * 1e3)
    top.axvline(times[push_step], color="k", ls=":", lw=1)
    top.set_ylabel("trunk height (mm)")
    top.set_title(f"{model.name} standing on four point contacts, pushed sideways at 0.5 s")
    for name, column in zip(FEET, vertical.T):
        bottom.plot(times, column, label=name.replace("_foot", ""))
    bottom.plot(times, total, "k", label="sum")
    bottom.plot(times[[0, -1]], [weight, weight], "k:", label="m·g")
    bottom.set_xlabel("time (s)")
    bottom.set_ylabel("vertical contact force (N)")
    bottom.legend(ncol=3, fontsize="small")
    save_figure(fig, args.output)
    if args.view:
        view_motion(model, args.model, configurations, args.dt)


if __name__ == "__main__":
    main()
