"""Values and vector-Jacobian products of the differentiable functions.

The PyTorch and JAX faces (lumo_dynamic.torch, lumo_dynamic.jax) share these
NumPy kernels. Each operation takes float64 arrays whose last axes are those
of one state and whose leading axes are any batch shape (broadcast against
each other), runs every state through lumo_dynamic.batch, and returns its
outputs with the broadcast batch shape in front. Its vector-Jacobian product
takes the cotangents of the outputs and returns one cotangent per array
argument with the broadcast batch shape (the faces sum it down to the
argument's own shape), built from the analytic derivatives: never from
finite differences.

Gradients with respect to a configuration q are taken along integrate: the
derivative matrices have nv columns. They are brought to q's nq coordinates
by configurationGradient: with T = tangentMap(q), the gradient g along
integrate becomes T diag(1/|t_k|^2) g, the configuration gradient whose
product with any motion T·dv along integrate is g·dv. For revolute and prismatic joints T is the identity and
the gradient is the ordinary one.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Callable, Optional, Sequence

import numpy as np

import lumo_dynamic as _ld
from lumo_dynamic import batch as _batch

Array = np.ndarray

# The largest number of float64 elements in the temporary derivative arrays
# of one chunk of the second-order products (crba, frameJacobian).
_CHUNK_ELEMENTS = 1 << 24


def _lead(shapes: Sequence[tuple[int, ...]], widths: Sequence[int]) -> tuple[int, ...]:
    leads = [tuple(s[: len(s) - w]) for s, w in zip(shapes, widths)]
    if all(lead == leads[0] for lead in leads):  # the usual case, without broadcasting
        return leads[0] if leads else ()
    return np.broadcast_shapes(*leads)


def _rows(x: Array, lead: tuple[int, ...], tail: tuple[int, ...]) -> Array:
    """x broadcast to lead + tail, as a C-ordered (N, *tail) array."""
    if x.shape != lead + tail:
        x = np.broadcast_to(x, lead + tail)
    return np.ascontiguousarray(x.reshape((-1,) + tail))


def check_model(model: Any) -> None:
    """The module's TypeError for a model argument that is not a Model."""
    if not isinstance(model, _ld.Model):
        raise TypeError(f"argument 'model': '{type(model).__name__}' object cannot be converted to 'Model'")


def to_configuration(model: Any, Q: Array, g: Array) -> Array:
    """Gradients g (N, nv) along integrate at the configurations Q (N, nq), in q's coordinates."""
    if model.nq == model.nv:  # every joint revolute or prismatic
        return g
    return _batch.configurationGradient(model, Q, np.ascontiguousarray(g))


def from_configuration(model: Any, Q: Array, g: Array) -> Array:
    """Cotangents g (N, nq) of configurations Q, along integrate: (N, nv)."""
    if model.nq == model.nv:
        return g
    return np.einsum("nij,ni->nj", _batch.tangentMap(model, Q), g)


def _vt(D: Array, g: Array) -> Array:
    """Dᵀ g row by row: D (N, m, n), g (N, m) → (N, n)."""
    return np.matmul(g[:, None, :], D)[:, 0, :]


@dataclass(frozen=True)
class Op:
    """One differentiable function: its array arguments (by the trailing
    shape of one state, from the model and the static arguments), its
    outputs' trailing shapes, and its value and vector-Jacobian product on
    rows (N, *tail)."""

    name: str
    inputs: Callable[[Any, tuple], list[tuple[int, ...]]]
    outputs: Callable[[Any, tuple], list[tuple[int, ...]]]
    value: Callable[[Any, tuple, list[Array]], list[Array]]
    vjp: Callable[[Any, tuple, list[Array], list[Array], list[Array]], list[Array]]

    def lead(self, model: Any, static: tuple, shapes: Sequence[tuple[int, ...]],
             names: Sequence[str] = ()) -> tuple[int, ...]:
        """The broadcast batch shape of arguments of these shapes; a ValueError in
        the module's words for an argument whose last axis is not the model's size."""
        tails = self.inputs(model, static)
        for k, (shape, tail) in enumerate(zip(shapes, tails)):
            if len(shape) < len(tail) or tuple(shape[len(shape) - len(tail):]) != tail:
                name = names[k] if k < len(names) else f"argument {k}"
                size = "nq" if name.startswith("q") else "nv"
                length = shape[-1] if shape else 0
                raise ValueError(f"{name} length {length} != {size} {tail[-1]}")
        return _lead(shapes, [len(t) for t in tails])

    def run(self, model: Any, static: tuple, args: Sequence[Array], names: Sequence[str] = ()) -> list[Array]:
        """The outputs for arrays with leading batch axes."""
        lead = self.lead(model, static, [a.shape for a in args], names)
        rows = [_rows(a, lead, t) for a, t in zip(args, self.inputs(model, static))]
        return [y.reshape(lead + y.shape[1:]) for y in self.value(model, static, rows)]

    def backward(self, model: Any, static: tuple, args: Sequence[Array], outs: Sequence[Array],
                 cotangents: Sequence[Optional[Array]]) -> list[Array]:
        """One cotangent per argument, shaped lead + the argument's trailing shape."""
        tails, out_tails = self.inputs(model, static), self.outputs(model, static)
        given = [(g, t) for g, t in zip(cotangents, out_tails) if g is not None]
        lead = self.lead(model, static, [a.shape for a in args])
        if given:
            lead = np.broadcast_shapes(lead, _lead([g.shape for g, _ in given], [len(t) for _, t in given]))
        rows = [_rows(a, lead, t) for a, t in zip(args, tails)]
        outs_rows = [_rows(y, lead, t) for y, t in zip(outs, out_tails)]
        cts = [np.zeros_like(y) if g is None else _rows(g, lead, t)
               for g, y, t in zip(cotangents, outs_rows, out_tails)]
        grads = self.vjp(model, static, rows, outs_rows, cts)
        return [g.reshape(lead + t) for g, t in zip(grads, tails)]


def _nq(m: Any) -> tuple[int]:
    return (m.nq,)


def _nv(m: Any) -> tuple[int]:
    return (m.nv,)


# ----------------------------------------------------------------- dynamics

def _rnea_vjp(m, s, x, y, g):
    return list(_batch.rneaVJP(m, *x, g[0]))


def _aba_vjp(m, s, x, y, g):
    return list(_batch.abaVJP(m, *x, g[0]))


def _chunks(n: int, per_row: int):
    step = max(1, _CHUNK_ELEMENTS // max(1, per_row))
    for start in range(0, n, step):
        yield slice(start, min(n, start + step))


def _crba_vjp(m, s, x, y, g):
    # M(q) w = rnea(q, 0, w) − g(q), so d<G, M>/dq = Σ_j (d(M e_j)/dq)ᵀ G_sym[:, j]:
    # one row per (state, column j) with a = e_j, less the gravity term.
    (Q,), (G,) = x, g
    nv = m.nv
    G = 0.5 * (G + np.swapaxes(G, 1, 2))
    out = np.empty((Q.shape[0], nv))
    eye = np.eye(nv)
    for c in _chunks(Q.shape[0], 3 * nv * nv * nv):
        n = c.stop - c.start
        Qr = np.repeat(Q[c], nv, axis=0)
        A = np.tile(eye, (n, 1))
        dq = _batch.computeRNEADerivatives(m, Qr, np.zeros_like(A), A)[0].reshape(n, nv, nv, nv)
        # dq[i, j] = d(M e_j + g)/dq at state i
        total = np.einsum("ijab,iaj->ib", dq, G[c])
        zero = np.zeros((n, nv))
        dg = _batch.computeRNEADerivatives(m, Q[c], zero, zero)[0]  # d g/dq
        out[c] = total - _vt(dg, G[c].sum(axis=2))
    return [to_configuration(m, Q, out)]


def _frame_placement_value(m, s, x):
    return [_batch.framePlacements(m, x[0], [s[0]])[:, 0]]


def _frame_placement_vjp(m, s, x, y, g):
    # H(q ⊕ δ) = H exp(J_local δ): <G, dH> = <Hᵀ G, ξ^> with ξ = (v, ω).
    (Q,), (H,), (G,) = x, y, g
    A = np.matmul(np.swapaxes(H, 1, 2), G)
    xi = np.concatenate([A[:, :3, 3],
                         np.stack([A[:, 2, 1] - A[:, 1, 2], A[:, 0, 2] - A[:, 2, 0],
                                   A[:, 1, 0] - A[:, 0, 1]], axis=1)], axis=1)
    J = _batch.computeFrameJacobian(m, Q, s[0], _ld.ReferenceFrame.LOCAL)
    return [to_configuration(m, Q, _vt(J, xi))]


def _frame_velocity_vjp(m, s, x, y, g):
    dq, dv = _batch.getFrameVelocityDerivatives(m, x[0], x[1], s[0], s[1])
    return [to_configuration(m, x[0], _vt(dq, g[0])), _vt(dv, g[0])]


def _frame_jacobian_vjp(m, s, x, y, g):
    # J(q) w is the frame's acceleration at v = 0, a = w; its derivative in q,
    # column by column of w = e_j, contracts with G[:, :, j].
    (Q,), (G,) = x, g
    nv = m.nv
    out = np.empty((Q.shape[0], nv))
    eye = np.eye(nv)
    for c in _chunks(Q.shape[0], 3 * 6 * nv * nv):
        n = c.stop - c.start
        Qr = np.repeat(Q[c], nv, axis=0)
        A = np.tile(eye, (n, 1))
        dq = _batch.getFrameAccelerationDerivatives(m, Qr, np.zeros_like(A), A, s[0], s[1])[0]
        out[c] = np.einsum("ijab,iaj->ib", dq.reshape(n, nv, 6, nv), G[c])
    return [to_configuration(m, Q, out)]


def _integrate_vjp(m, s, x, y, g):
    (Q, V), (Q1,), (G,) = x, y, g
    gt = from_configuration(m, Q1, G)
    dq, dv = _batch.dIntegrate(m, Q, V)
    return [to_configuration(m, Q, _vt(dq, gt)), _vt(dv, gt)]


def _difference_vjp(m, s, x, y, g):
    (Q0, Q1), (G,) = x, g
    d0, d1 = _batch.dDifference(m, Q0, Q1)
    return [to_configuration(m, Q0, _vt(d0, G)), to_configuration(m, Q1, _vt(d1, G))]


def _com_vjp(m, s, x, y, g):
    J = _batch.jacobianCenterOfMass(m, x[0])
    return [to_configuration(m, x[0], _vt(J, g[0]))]


def _constrained_vjp(m, s, x, y, g):
    Q = x[0]
    d = _batch.computeConstrainedDynamicsDerivatives(m, s[0], *x)
    gq = _vt(d[0], g[0]) + _vt(d[3], g[1])
    gv = _vt(d[1], g[0]) + _vt(d[4], g[1])
    gt = _vt(d[2], g[0]) + _vt(d[5], g[1])
    return [to_configuration(m, Q, gq), gv, gt]


def _static_none(m, s):
    return None


OPS = {
    "rnea": Op("rnea", lambda m, s: [_nq(m), _nv(m), _nv(m)], lambda m, s: [_nv(m)],
               lambda m, s, x: [_batch.rnea(m, *x)], _rnea_vjp),
    "aba": Op("aba", lambda m, s: [_nq(m), _nv(m), _nv(m)], lambda m, s: [_nv(m)],
              lambda m, s, x: [_batch.aba(m, *x)], _aba_vjp),
    "crba": Op("crba", lambda m, s: [_nq(m)], lambda m, s: [(m.nv, m.nv)],
               lambda m, s, x: [_batch.crba(m, *x)], _crba_vjp),
    "framePlacement": Op("framePlacement", lambda m, s: [_nq(m)], lambda m, s: [(4, 4)],
                         _frame_placement_value, _frame_placement_vjp),
    "frameVelocity": Op("frameVelocity", lambda m, s: [_nq(m), _nv(m)], lambda m, s: [(6,)],
                        lambda m, s, x: [_batch.getFrameVelocity(m, *x, *s)], _frame_velocity_vjp),
    "frameJacobian": Op("frameJacobian", lambda m, s: [_nq(m)], lambda m, s: [(6, m.nv)],
                        lambda m, s, x: [_batch.computeFrameJacobian(m, *x, *s)], _frame_jacobian_vjp),
    "integrate": Op("integrate", lambda m, s: [_nq(m), _nv(m)], lambda m, s: [_nq(m)],
                    lambda m, s, x: [_batch.integrate(m, *x)], _integrate_vjp),
    "difference": Op("difference", lambda m, s: [_nq(m), _nq(m)], lambda m, s: [_nv(m)],
                     lambda m, s, x: [_batch.difference(m, *x)], _difference_vjp),
    "centerOfMass": Op("centerOfMass", lambda m, s: [_nq(m)], lambda m, s: [(3,)],
                       lambda m, s, x: [_batch.centerOfMass(m, *x)], _com_vjp),
    "constrainedDynamics": Op("constrainedDynamics", lambda m, s: [_nq(m), _nv(m), _nv(m)],
                              lambda m, s: [_nv(m), (s[0].size,)],
                              lambda m, s, x: list(_batch.constrainedDynamics(m, s[0], *x)),
                              _constrained_vjp),
}
