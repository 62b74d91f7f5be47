"""Swings the two-link arm of examples/swing_up.py from hanging down to
upright, the same optimisation in JAX: fourth-order Runge-Kutta over
lumo_dynamic.jax.aba rolled out over the 60 knots by jax.lax.scan, the loss
and its gradient from jax.jit(jax.value_and_grad(...)) (each aba a host
callback with the analytic derivatives as its backward pass), and a short
L-BFGS written below. L-BFGS rather than Adam or momentum: each evaluation
makes two host calls per aba call, and a first-order method such as Adam
needs about a thousand evaluations here to end within half a degree of
upright, where L-BFGS needs about fifty. Prints the loss per iteration, the
compile time, the wall time and the final error to upright, and saves the
same picture as examples/swing_up.py.

    python examples/swing_up_jax.py [--iterations 40] [--substeps 2] [--output build/swing_up_jax.png]
"""
from __future__ import annotations

import math
import time
from typing import Callable

import jax
import jax.numpy as jnp
import numpy as np

import lumo_dynamic as ld
import lumo_dynamic.jax as ldj
from swing_up import UPRIGHT, Problem, Result, Vector, objective, rk4_step, run

jax.config.update("jax_enable_x64", True)  # type: ignore[no-untyped-call]


def lbfgs(evaluate: Callable[[Vector], tuple[float, Vector]], x: Vector, iterations: int,
          memory: int = 20) -> tuple[Vector, list[float], Vector]:
    """Minimises by L-BFGS from x: the two-loop recursion over the last
    `memory` steps, then a backtracking line search that halves the step
    until the loss decreases by at least 1e-4 of the slope's promise. Prints
    the loss per iteration; returns x, the losses and the gradient at x."""
    loss, grad = evaluate(x)
    losses = [loss]
    steps: list[tuple[Vector, Vector, float]] = []  # (s, y, 1 / yᵀs)
    print(f"iteration   0: loss {loss:.6g}")
    evaluations = 1
    for k in range(1, iterations + 1):
        d = -grad
        alphas = []
        for s, y, rho in reversed(steps):
            alpha = rho * float(np.vdot(s, d))
            d = d - alpha * y
            alphas.append(alpha)
        if steps:
            s, y, rho = steps[-1]
            d = d / (rho * float(np.vdot(y, y)))  # the scale of the latest curvature, sᵀy / yᵀy
        else:
            d = d / max(1.0, float(np.abs(grad).sum()))  # a first step of unit length at most
        for (s, y, rho), alpha in zip(steps, reversed(alphas)):
            d = d + (alpha - rho * float(np.vdot(y, d))) * s
        slope = float(np.vdot(grad, d))
        t = 1.0
        for _ in range(40):
            trial, trial_grad = evaluate(x + t * d)
            evaluations += 1
            if math.isfinite(trial) and trial <= loss + 1e-4 * t * slope:
                break
            t *= 0.5
        else:
            print(f"iteration {k:3d}: no decrease along the search direction, stopping")
            break
        s, y = t * d, trial_grad - grad
        if float(np.vdot(s, y)) > 1e-12:  # the curvature the recursion needs; else the pair is skipped
            steps = (steps + [(s, y, 1.0 / float(np.vdot(y, s)))])[-memory:]
        x, loss, grad = x + s, trial, trial_grad
        losses.append(loss)
        print(f"iteration {k:3d}: loss {loss:.6g} ({evaluations} evaluations)")
    return x, losses, grad


def optimise_jax(model: ld.Model, problem: Problem, iterations: int) -> Result:
    zero = jnp.zeros(model.nv)
    h = problem.dt / problem.substeps
    target = jnp.asarray(UPRIGHT)

    def rollout(torques: jax.Array) -> tuple[jax.Array, jax.Array]:
        def knot(state: tuple[jax.Array, jax.Array], tau: jax.Array) -> tuple[tuple[jax.Array, jax.Array], None]:
            q, v = state
            for _ in range(problem.substeps):
                q, v = rk4_step(lambda qk, vk: ldj.aba(model, qk, vk, tau - problem.damping * vk), q, v, h)
            return (q, v), None

        final, _ = jax.lax.scan(knot, (zero, zero), torques)
        return final

    def loss(torques: jax.Array) -> jax.Array:
        q, v = rollout(torques)
        value: jax.Array = objective(problem, q, v, target, torques)
        return value

    value_and_grad = jax.jit(jax.value_and_grad(loss))
    evaluations = 0

    def evaluate(x: Vector) -> tuple[float, Vector]:
        nonlocal evaluations
        evaluations += 1
        value, grad = value_and_grad(jnp.asarray(x))
        return float(value), np.asarray(grad, dtype=np.float64)

    x0 = np.zeros((problem.knots, model.nv))
    start = time.perf_counter()
    float(value_and_grad(jnp.asarray(x0))[0])
    print(f"traced and compiled in {time.perf_counter() - start:.2f} s")
    start = time.perf_counter()
    torques, losses, _ = lbfgs(evaluate, x0, iterations)
    seconds = time.perf_counter() - start
    q, v = jax.jit(rollout)(jnp.asarray(torques))
    return Result(torques, losses, evaluations, seconds, np.concatenate([np.asarray(q), np.asarray(v)]))


def main() -> None:
    run("JAX", optimise_jax, __doc__.splitlines()[0], "build/swing_up_jax.png")


if __name__ == "__main__":
    main()
