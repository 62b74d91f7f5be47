"""lumo_dynamic's functions on PyTorch tensors, differentiable through autograd.

Every function takes float64 CPU tensors whose last axes hold one state and
whose leading axes are any batch shape (broadcast against each other); the
states run through lumo_dynamic.batch, on every core with the interpreter
lock released, and the result is a new tensor with the batch shape in front.
The backward pass is the product of the output's gradient with the analytic
derivatives (first order), computed for the whole batch at once.

Gradients with respect to a configuration q are the ordinary ones for
revolute and prismatic joints. For the other kinds they are taken along
integrate and mapped to q's coordinates by tangentMap (see the module
lumo_dynamic._autodiff): the gradient g returned satisfies
dL(integrate(q, dv))/d(dv) = tangentMap(q)ᵀ g at dv = 0, and has no
component off the unit sphere of a quaternion.
"""

from __future__ import annotations

from typing import Any, Optional

import numpy as np
import torch

from lumo_dynamic import ReferenceFrame
from lumo_dynamic._autodiff import OPS, Op, check_model

__all__ = ["rnea", "aba", "crba", "framePlacement", "frameVelocity", "frameJacobian", "integrate",
           "difference", "centerOfMass", "constrainedDynamics"]


def _array(name: str, t: Any) -> np.ndarray:
    if not isinstance(t, torch.Tensor):
        raise TypeError(f"argument '{name}': '{type(t).__name__}' object cannot be converted to 'Tensor'")
    if t.device.type != "cpu":
        raise TypeError(f"lumo_dynamic.torch works on CPU tensors; got {t.device}")
    if t.dtype != torch.float64:
        raise TypeError(f"argument '{name}': a {str(t.dtype).replace('torch.', '')} tensor cannot be converted "
                        "to float64 (convert it with .double())")
    return t.detach().numpy()


class _Apply(torch.autograd.Function):
    @staticmethod
    def forward(ctx: Any, op: Op, model: Any, static: tuple, names: tuple, *tensors: torch.Tensor) -> Any:
        args = [_array(n, t) for n, t in zip(names, tensors)]
        outs = op.run(model, static, args, names)
        ctx.op, ctx.model, ctx.static = op, model, static
        ctx.args, ctx.outs = args, outs
        ctx.shapes = [t.shape for t in tensors]
        result = tuple(torch.from_numpy(y) for y in outs)
        return result if len(result) > 1 else result[0]

    @staticmethod
    def backward(ctx: Any, *grads: Optional[torch.Tensor]) -> Any:
        cts = [None if g is None else g.detach().contiguous().numpy() for g in grads]
        if not any(ctx.needs_input_grad[4:]):
            return (None,) * (4 + len(ctx.shapes))
        out = ctx.op.backward(ctx.model, ctx.static, ctx.args, ctx.outs, cts)
        result = [None] * 4
        for g, shape, needed in zip(out, ctx.shapes, ctx.needs_input_grad[4:]):
            result.append(torch.from_numpy(np.ascontiguousarray(g)).sum_to_size(shape) if needed else None)
        return tuple(result)


def _apply(name: str, model: Any, static: tuple, **tensors: torch.Tensor) -> Any:
    check_model(model)
    return _Apply.apply(OPS[name], model, static, tuple(tensors), *tensors.values())


def rnea(model: Any, q: torch.Tensor, v: torch.Tensor, a: torch.Tensor) -> torch.Tensor:
    """Joint torques of the inverse dynamics, (..., nv).

    tau = M(q) a + C(q, v) v + g(q) with the model's gravity: q (..., nq), v and a (...,
    nv), broadcast against each other; tau in N m or N per velocity entry. Differentiable in
    q, v and a.
    """
    return _apply("rnea", model, (), q=q, v=v, a=a)


def aba(model: Any, q: torch.Tensor, v: torch.Tensor, tau: torch.Tensor) -> torch.Tensor:
    """Joint accelerations of the forward dynamics, (..., nv).

    ddq = M(q)^-1 (tau - C(q, v) v - g(q)): q (..., nq), v and tau (..., nv), broadcast
    against each other. Differentiable in q, v and tau.
    """
    return _apply("aba", model, (), q=q, v=v, tau=tau)


def crba(model: Any, q: torch.Tensor) -> torch.Tensor:
    """The joint-space mass matrix, full and symmetric, (..., nv, nv).

    M(q) for q (..., nq), rows and columns in velocity order; the kinetic energy is v^T M v
    / 2. Differentiable in q.
    """
    return _apply("crba", model, (), q=q)


def framePlacement(model: Any, q: torch.Tensor, frame_id: int) -> torch.Tensor:
    """The world placement of frame frame_id as a homogeneous matrix, (..., 4, 4).

    oMf(q) for q (..., nq): [[R, p], [0, 0, 0, 1]], R the frame's axes and p its origin in
    world coordinates (m); frame_id an int from Model.getFrameId. See
    :ref:`conventions-se3`.
    """
    return _apply("framePlacement", model, (_frame(model, frame_id),), q=q)


def frameVelocity(model: Any, q: torch.Tensor, v: torch.Tensor, frame_id: int,
                  reference_frame: ReferenceFrame = ReferenceFrame.LOCAL) -> torch.Tensor:
    """The spatial velocity [linear; angular] of frame frame_id in reference_frame, (..., 6).

    q (..., nq), v (..., nv); linear part in m/s, angular in rad/s, expressed as
    reference_frame says (LOCAL by default; :ref:`conventions-reference-frames`). Equals
    frameJacobian(q) v.
    """
    return _apply("frameVelocity", model, (_frame(model, frame_id), reference_frame), q=q, v=v)


def frameJacobian(model: Any, q: torch.Tensor, frame_id: int,
                  reference_frame: ReferenceFrame = ReferenceFrame.LOCAL) -> torch.Tensor:
    """The Jacobian [linear; angular] of frame frame_id in reference_frame, (..., 6, nv).

    q (..., nq); column c is the frame's velocity for a unit velocity of coordinate c, rows
    [linear; angular] in reference_frame (LOCAL by default;
    :ref:`conventions-reference-frames`).
    """
    return _apply("frameJacobian", model, (_frame(model, frame_id), reference_frame), q=q)


def integrate(model: Any, q: torch.Tensor, v: torch.Tensor) -> torch.Tensor:
    """Configurations q moved along v for unit time, (..., nq).

    q (..., nq), v (..., nv) (scale v by the time step): angles add, quaternions compose in
    the joint's own frame (:ref:`conventions-configuration`). Differentiable in q and v.
    """
    return _apply("integrate", model, (), q=q, v=v)


def difference(model: Any, q0: torch.Tensor, q1: torch.Tensor) -> torch.Tensor:
    """The velocities v with integrate(q0, v) = q1, (..., nv).

    q0, q1 (..., nq), broadcast against each other (:ref:`conventions-configuration`).
    Differentiable in q0 and q1.
    """
    return _apply("difference", model, (), q0=q0, q1=q1)


def centerOfMass(model: Any, q: torch.Tensor) -> torch.Tensor:
    """The centre of mass in the world, (..., 3).

    The mass-weighted mean of the bodies' centres of mass at q (..., nq), in world
    coordinates (m). Differentiable in q.
    """
    return _apply("centerOfMass", model, (), q=q)


def constrainedDynamics(model: Any, constraints: Any, q: torch.Tensor, v: torch.Tensor,
                        tau: torch.Tensor) -> tuple[torch.Tensor, torch.Tensor]:
    """Accelerations (..., nv) and constraint forces (..., constraints.size) under the constraints.

    M ddq + nle = tau + J^T lambda with J ddq + gamma = the corrector's target, J and gamma
    those of the ConstraintSet `constraints` (rows in its order): q (..., nq), v and tau
    (..., nv). Returns (ddq, lambda); differentiable in q, v and tau.
    """
    return _apply("constrainedDynamics", model, (constraints,), q=q, v=v, tau=tau)  # type: ignore[no-any-return]


def _frame(model: Any, frame_id: int) -> int:
    if not isinstance(frame_id, int) or isinstance(frame_id, bool):
        raise TypeError(f"'frame_id' must be an int, not {type(frame_id).__name__}")
    return frame_id
