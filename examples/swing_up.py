"""Swings a two-link arm from hanging down to upright by trajectory
optimisation through a differentiable simulation in PyTorch: the joint
torques at 60 knots of 0.05 s (held constant between knots) are the decision
variables, fourth-order Runge-Kutta over lumo_dynamic.torch.aba rolls them
out, and torch.optim.LBFGS minimises the weighted error of the final state to
the upright one plus a small torque penalty, the gradient coming from the
analytic derivatives of aba. Prints the loss per iteration, the wall time and
the final error to upright (also with the torques replayed through
lumo_dynamic.aba at a finer step), and saves a picture of the joint angles,
the torques and the loss over the iterations. examples/swing_up_jax.py solves
the same problem in JAX with the pieces defined here.

    python examples/swing_up.py [--iterations 40] [--substeps 2] [--output build/swing_up.png]
"""
from __future__ import annotations

import argparse
import math
import time
from dataclasses import dataclass
from typing import Any, Callable

import numpy as np
from numpy.typing import NDArray

import lumo_dynamic as ld
from simulate import rk4_step as rk4_step_numpy
from simulate import save_figure

Vector = NDArray[np.float64]

# Two uniform rods of 1 kg and 0.5 m hinged about y (horizontal); gravity is
# along -z, so q = 0 hangs both links straight down and q = (π, 0) holds them
# straight up. Revolute joints: q is the angle itself and moving along a
# velocity is plain addition (the limits are only recorded, not enforced).
TWO_LINK = """<robot name="double_pendulum">
  <link name="base"/>
  <link name="upper"><inertial><origin xyz="0 0 -0.25"/><mass value="1"/>
    <inertia ixx="0.0208333" ixy="0" ixz="0" iyy="0.0208333" iyz="0" izz="0.0001"/></inertial></link>
  <link name="lower"><inertial><origin xyz="0 0 -0.25"/><mass value="1"/>
    <inertia ixx="0.0208333" ixy="0" ixz="0" iyy="0.0208333" iyz="0" izz="0.0001"/></inertial></link>
  <joint name="shoulder" type="revolute"><parent link="base"/><child link="upper"/>
    <axis xyz="0 1 0"/><limit lower="-7" upper="7" effort="20" velocity="30"/></joint>
  <joint name="elbow" type="revolute"><parent link="upper"/><child link="lower"/><origin xyz="0 0 -0.5"/>
    <axis xyz="0 1 0"/><limit lower="-7" upper="7" effort="20" velocity="30"/></joint>
</robot>"""
UPRIGHT = (math.pi, 0.0)


@dataclass(frozen=True)
class Problem:
    knots: int = 60
    dt: float = 0.05  # s between knots
    substeps: int = 2  # RK4 steps per knot in the rollout
    # Viscous joint friction, N·m·s/rad. Besides being there in any real arm,
    # it tempers how much the final state hangs on the first torques: on the
    # frictionless arm L-BFGS needs many times the evaluations, and its line
    # search can step into rollouts that blow up.
    damping: float = 0.2
    weight_q: float = 100.0  # on the squared angle error at the end, 1/rad²
    weight_v: float = 10.0  # on the squared joint speed at the end, s²/rad²
    effort: float = 1e-3  # on the integral of the squared torques, 1/(N²·m²·s)


@dataclass
class Result:
    torques: Vector  # (knots, nv), N·m
    losses: list[float]  # at the start and after each iteration
    evaluations: int  # of the loss and its gradient
    seconds: float  # wall time of the optimisation
    terminal: Vector  # [q; v] at the end of the differentiable rollout


def rk4_step(acceleration: Callable[[Any, Any], Any], q: Any, v: Any, dt: float) -> tuple[Any, Any]:
    """One step of q̇ = v, v̇ = acceleration(q, v) on torch tensors or JAX
    arrays alike: every joint is revolute, so positions move by addition."""
    a1 = acceleration(q, v)
    v2 = v + 0.5 * dt * a1
    a2 = acceleration(q + 0.5 * dt * v, v2)
    v3 = v + 0.5 * dt * a2
    a3 = acceleration(q + 0.5 * dt * v2, v3)
    v4 = v + dt * a3
    a4 = acceleration(q + dt * v3, v4)
    return q + dt / 6.0 * (v + 2.0 * v2 + 2.0 * v3 + v4), v + dt / 6.0 * (a1 + 2.0 * a2 + 2.0 * a3 + a4)


def objective(problem: Problem, q: Any, v: Any, target: Any, torques: Any) -> Any:
    """The weighted squared error of the final state to upright plus the torque penalty."""
    return (problem.weight_q * ((q - target) ** 2).sum() + problem.weight_v * (v ** 2).sum()
            + problem.effort * problem.dt * (torques ** 2).sum())


def optimise_torch(model: ld.Model, problem: Problem, iterations: int) -> Result:
    # Imported here, so that examples/swing_up_jax.py can share this file without PyTorch.
    import torch

    import lumo_dynamic.torch as ldt

    zero = torch.zeros(model.nv, dtype=torch.float64)
    h = problem.dt / problem.substeps
    target = torch.tensor(UPRIGHT, dtype=torch.float64)

    def rollout(torques: torch.Tensor) -> tuple[torch.Tensor, torch.Tensor]:
        q, v = zero, zero
        for tau in torques:  # zero-order hold: one knot's torque over its substeps
            for _ in range(problem.substeps):
                q, v = rk4_step(lambda qk, vk: ldt.aba(model, qk, vk, tau - problem.damping * vk), q, v, h)
        return q, v

    torques = torch.zeros(problem.knots, model.nv, dtype=torch.float64, requires_grad=True)
    # One iteration per step (max_iter), the line search allowed up to 25 evaluations in it.
    optimiser = torch.optim.LBFGS([torques], lr=1.0, max_iter=1, max_eval=25, history_size=20,
                                  line_search_fn="strong_wolfe")
    # LBFGS evaluates the loss at the start of each step, where its line search
    # has usually just evaluated it: the latest evaluation is kept and reused.
    latest: dict[str, torch.Tensor] = {}
    evaluations = 0

    def closure() -> torch.Tensor:
        nonlocal evaluations
        if latest and torch.equal(latest["torques"], torques):
            torques.grad = latest["grad"].clone()
            return latest["loss"]
        q, v = rollout(torques)
        loss = objective(problem, q, v, target, torques)
        assert isinstance(loss, torch.Tensor)
        (grad,) = torch.autograd.grad(loss, torques)
        torques.grad = grad
        evaluations += 1
        latest.update(torques=torques.detach().clone(), loss=loss.detach(), grad=grad.clone(),
                      terminal=torch.cat([q, v]).detach())
        return loss

    start = time.perf_counter()
    losses = [float(closure().detach())]
    print(f"iteration   0: loss {losses[0]:.6g}")
    for k in range(1, iterations + 1):
        optimiser.step(closure)  # type: ignore[no-untyped-call]
        losses.append(float(closure().detach()))
        print(f"iteration {k:3d}: loss {losses[-1]:.6g} ({evaluations} evaluations)")
    seconds = time.perf_counter() - start
    return Result(torques.detach().numpy().copy(), losses, evaluations, seconds, latest["terminal"].numpy())


def replay(model: ld.Model, problem: Problem, torques: Vector, substeps: int) -> tuple[Vector, Vector, Vector]:
    """The optimised torques played through lumo_dynamic.aba (NumPy, no
    autograd) with `substeps` RK4 steps per knot: times, q and v."""
    data = model.createData()
    h = problem.dt / substeps
    q, v = np.zeros(model.nq), np.zeros(model.nv)
    qs, vs = [q], [v]
    for tau in torques:
        for _ in range(substeps):
            q, v = rk4_step_numpy(model, data, q, v, h, lambda _, vk: tau - problem.damping * vk)
            qs.append(q)
            vs.append(v)
    times: Vector = np.arange(len(qs), dtype=np.float64) * h
    return times, np.array(qs), np.array(vs)


def run(backend: str, optimise: Callable[[ld.Model, Problem, int], Result], description: str,
        default_output: str) -> None:
    """Parses the command line, optimises with `optimise`, reports and draws."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--iterations", type=int, default=40, help="L-BFGS iterations")
    parser.add_argument("--substeps", type=int, default=Problem.substeps, help="RK4 steps per knot in the rollout")
    parser.add_argument("--output", default=default_output, help="where to save the picture")
    args = parser.parse_args()

    model = ld.parse_urdf_from_string(TWO_LINK)
    problem = Problem(substeps=args.substeps)
    print(f"{model.name}: nq {model.nq}, nv {model.nv}; {problem.knots} knots of {problem.dt:g} s "
          f"({problem.substeps} RK4 steps each), "
          f"{problem.knots * model.nv} torques to optimise with {backend}")
    result = optimise(model, problem, args.iterations)
    print(f"wall time {result.seconds:.2f} s: {args.iterations} iterations, {result.evaluations} evaluations "
          f"of the loss and its gradient ({result.seconds / result.evaluations * 1e3:.0f} ms each, "
          f"{4 * problem.knots * problem.substeps} aba calls forward and back)")

    target = np.array(UPRIGHT)
    q_end, v_end = result.terminal[: model.nv], result.terminal[model.nv:]
    error = q_end - target
    print(f"final loss {result.losses[-1]:.4g}; final angle error shoulder {math.degrees(error[0]):+.4f}°, "
          f"elbow {math.degrees(error[1]):+.4f}° (|Δq| {np.linalg.norm(error):.2e} rad), "
          f"joint speeds {np.round(v_end, 4)} rad/s; largest torque {np.abs(result.torques).max():.2f} N·m")
    # The same torques through the plain aba: with the rollout's steps the end
    # state must be the rollout's; with steps ten times shorter, the motion is
    # the arm's and not an artefact of the integrator.
    _, qs, vs = replay(model, problem, result.torques, problem.substeps)
    gap = np.abs(np.concatenate([qs[-1], vs[-1]]) - result.terminal).max()
    print(f"replayed with lumo_dynamic.aba: end state {gap:.1e} from the differentiable rollout's")
    times, qs, vs = replay(model, problem, result.torques, 10 * problem.substeps)
    print(f"replayed with {problem.dt / (10 * problem.substeps) * 1e3:g} ms steps: angle error |Δq| "
          f"{np.linalg.norm(qs[-1] - target):.2e} rad, |v| {np.linalg.norm(vs[-1]):.2e} rad/s")

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (top, middle, bottom) = plt.subplots(3, 1, figsize=(8, 8))
    middle.sharex(top)
    top.plot(times, qs, label=["shoulder", "elbow"])
    top.plot(times[[0, -1]], [target[0], target[0]], "k:", lw=1, label="upright")
    top.set_ylabel("joint angle (rad)")
    top.set_title(f"{model.name} swung up by L-BFGS through the {backend} rollout")
    top.legend(fontsize="small")
    knots = np.arange(problem.knots + 1) * problem.dt
    for column, name in zip(result.torques.T, ("shoulder", "elbow")):
        middle.step(knots, np.append(column, column[-1]), where="post", label=name)
    middle.set_xlabel("time (s)")
    middle.set_ylabel("torque (N·m)")
    middle.legend(fontsize="small")
    bottom.semilogy(result.losses, "o-", ms=3)
    bottom.set_xlabel("L-BFGS iteration")
    bottom.set_ylabel("loss")
    save_figure(fig, args.output)


def main() -> None:
    run("PyTorch", optimise_torch, __doc__.splitlines()[0], "build/swing_up.png")


if __name__ == "__main__":
    main()
