"""lumo_dynamic's functions on JAX arrays, differentiable and traceable.

The same functions as lumo_dynamic.torch, for float64 JAX arrays (enable
them with jax.config.update("jax_enable_x64", True)) with any leading batch
axes. Each is a jax.custom_vjp over jax.pure_callback: it works under
jax.jit (the callback is compiled as a host call), jax.vmap (the mapped axis
becomes a batch axis of one call through lumo_dynamic.batch, not a Python
loop) and jax.grad (the backward pass is a second callback that applies the
analytic derivatives). Gradients with respect to configurations follow the
convention of lumo_dynamic.torch.
"""

from __future__ import annotations

from typing import Any, Sequence

import jax
import jax.numpy as jnp
from jax.typing import ArrayLike
import numpy as np

from lumo_dynamic import ReferenceFrame
from lumo_dynamic._autodiff import OPS, Op, check_model

__all__ = ["rnea", "aba", "crba", "framePlacement", "frameVelocity", "frameJacobian", "integrate",
           "difference", "centerOfMass", "constrainedDynamics"]

_X64_MESSAGE = ("lumo_dynamic.jax works on float64 arrays: enable them with "
                "jax.config.update(\"jax_enable_x64\", True)")


def _array(name: str, x: Any) -> jax.Array:
    if not jax.config.read("jax_enable_x64"):
        raise TypeError(_X64_MESSAGE)
    x = jnp.asarray(x)
    if x.dtype != jnp.float64:
        raise TypeError(f"argument '{name}': a {x.dtype} array cannot be converted to float64 "
                        "(convert it with .astype(jnp.float64))")
    return x


def _sum_to(g: jax.Array, shape: tuple[int, ...]) -> jax.Array:
    """g summed over the axes that broadcasting added to an argument of `shape`."""
    extra = g.ndim - len(shape)
    if extra:
        g = g.sum(axis=tuple(range(extra)))
    axes = tuple(k for k, n in enumerate(shape) if n == 1 and g.shape[k] != 1)
    return g.sum(axis=axes, keepdims=True) if axes else g


def _shapes(op: Op, model: Any, static: tuple, args: Sequence[jax.Array]) -> tuple[tuple[int, ...], list, list]:
    lead = op.lead(model, static, [a.shape for a in args])
    outs = [jax.ShapeDtypeStruct(lead + t, jnp.float64) for t in op.outputs(model, static)]
    ins = [jax.ShapeDtypeStruct(lead + t, jnp.float64) for t in op.inputs(model, static)]
    return lead, outs, ins


def _apply(name: str, model: Any, static: tuple, **arrays: Any) -> Any:
    check_model(model)
    op = OPS[name]
    args = [_array(n, x) for n, x in arrays.items()]
    op.lead(model, static, [x.shape for x in args], tuple(arrays))
    single = len(op.outputs(model, static)) == 1

    def value(*xs: jax.Array) -> list[jax.Array]:
        _, outs, _ = _shapes(op, model, static, xs)
        return list(jax.pure_callback(
            lambda *a: [np.asarray(y) for y in op.run(model, static, [np.asarray(v) for v in a])],
            outs, *xs, vmap_method="expand_dims"))

    @jax.custom_vjp
    def f(*xs: jax.Array) -> Any:
        ys = value(*xs)
        return ys[0] if single else tuple(ys)

    def fwd(*xs: jax.Array) -> Any:
        ys = value(*xs)
        return (ys[0] if single else tuple(ys)), (xs, ys)

    def bwd(res: Any, g: Any) -> tuple[jax.Array, ...]:
        xs, ys = res
        cts = [g] if single else list(g)
        _, _, ins = _shapes(op, model, static, xs)

        def host(*a: ArrayLike) -> list[np.ndarray]:
            n = len(xs)
            x, y, c = a[:n], a[n:n + len(ys)], a[n + len(ys):]
            grads = op.backward(model, static, [np.asarray(v) for v in x], [np.asarray(v) for v in y],
                                [np.asarray(v) for v in c])
            return [np.ascontiguousarray(gr) for gr in grads]

        grads = jax.pure_callback(host, ins, *xs, *ys, *cts, vmap_method="expand_dims")
        return tuple(_sum_to(gr, x.shape) for gr, x in zip(grads, xs))

    f.defvjp(fwd, bwd)
    return f(*args)


def rnea(model: Any, q: ArrayLike, v: ArrayLike, a: ArrayLike) -> jax.Array:
    """Joint torques of the inverse dynamics, (..., nv).

    tau = M(q) a + C(q, v) v + g(q) with the model's gravity: q (..., nq), v and a (...,
    nv), broadcast against each other; tau in N m or N per velocity entry. Differentiable in
    q, v and a.
    """
    return _apply("rnea", model, (), q=q, v=v, a=a)  # type: ignore[no-any-return]


def aba(model: Any, q: ArrayLike, v: ArrayLike, tau: ArrayLike) -> jax.Array:
    """Joint accelerations of the forward dynamics, (..., nv).

    ddq = M(q)^-1 (tau - C(q, v) v - g(q)): q (..., nq), v and tau (..., nv), broadcast
    against each other. Differentiable in q, v and tau.
    """
    return _apply("aba", model, (), q=q, v=v, tau=tau)  # type: ignore[no-any-return]


def crba(model: Any, q: ArrayLike) -> jax.Array:
    """The joint-space mass matrix, full and symmetric, (..., nv, nv).

    M(q) for q (..., nq), rows and columns in velocity order; the kinetic energy is v^T M v
    / 2. Differentiable in q.
    """
    return _apply("crba", model, (), q=q)  # type: ignore[no-any-return]


def framePlacement(model: Any, q: ArrayLike, frame_id: int) -> jax.Array:
    """The world placement of frame frame_id as a homogeneous matrix, (..., 4, 4).

    oMf(q) for q (..., nq): [[R, p], [0, 0, 0, 1]], R the frame's axes and p its origin in
    world coordinates (m); frame_id an int from Model.getFrameId. See
    :ref:`conventions-se3`.
    """
    return _apply("framePlacement", model, (frame_id,), q=q)  # type: ignore[no-any-return]


def frameVelocity(model: Any, q: ArrayLike, v: ArrayLike, frame_id: int,
                  reference_frame: ReferenceFrame = ReferenceFrame.LOCAL) -> jax.Array:
    """The spatial velocity [linear; angular] of frame frame_id in reference_frame, (..., 6).

    q (..., nq), v (..., nv); linear part in m/s, angular in rad/s, expressed as
    reference_frame says (LOCAL by default; :ref:`conventions-reference-frames`). Equals
    frameJacobian(q) v.
    """
    return _apply("frameVelocity", model, (frame_id, reference_frame), q=q, v=v)  # type: ignore[no-any-return]


def frameJacobian(model: Any, q: ArrayLike, frame_id: int,
                  reference_frame: ReferenceFrame = ReferenceFrame.LOCAL) -> jax.Array:
    """The Jacobian [linear; angular] of frame frame_id in reference_frame, (..., 6, nv).

    q (..., nq); column c is the frame's velocity for a unit velocity of coordinate c, rows
    [linear; angular] in reference_frame (LOCAL by default;
    :ref:`conventions-reference-frames`).
    """
    return _apply("frameJacobian", model, (frame_id, reference_frame), q=q)  # type: ignore[no-any-return]


def integrate(model: Any, q: ArrayLike, v: ArrayLike) -> jax.Array:
    """Configurations q moved along v for unit time, (..., nq).

    q (..., nq), v (..., nv) (scale v by the time step): angles add, quaternions compose in
    the joint's own frame (:ref:`conventions-configuration`). Differentiable in q and v.
    """
    return _apply("integrate", model, (), q=q, v=v)  # type: ignore[no-any-return]


def difference(model: Any, q0: ArrayLike, q1: ArrayLike) -> jax.Array:
    """The velocities v with integrate(q0, v) = q1, (..., nv).

    q0, q1 (..., nq), broadcast against each other (:ref:`conventions-configuration`).
    Differentiable in q0 and q1.
    """
    return _apply("difference", model, (), q0=q0, q1=q1)  # type: ignore[no-any-return]


def centerOfMass(model: Any, q: ArrayLike) -> jax.Array:
    """The centre of mass in the world, (..., 3).

    The mass-weighted mean of the bodies' centres of mass at q (..., nq), in world
    coordinates (m). Differentiable in q.
    """
    return _apply("centerOfMass", model, (), q=q)  # type: ignore[no-any-return]


def constrainedDynamics(model: Any, constraints: Any, q: ArrayLike, v: ArrayLike, tau: ArrayLike) -> tuple[jax.Array, jax.Array]:
    """Accelerations (..., nv) and constraint forces (..., constraints.size) under the constraints.

    M ddq + nle = tau + J^T lambda with J ddq + gamma = the corrector's target, J and gamma
    those of the ConstraintSet `constraints` (rows in its order): q (..., nq), v and tau
    (..., nv). Returns (ddq, lambda); differentiable in q, v and tau.
    """
    return _apply("constrainedDynamics", model, (constraints,), q=q, v=v, tau=tau)  # type: ignore[no-any-return]
