"""lumo_dynamic.torch and lumo_dynamic.jax: values bit for bit those of the batch
functions; gradients against finite differences (gradcheck, check_grads), against
the products of the analytic derivatives, and, for configurations of every joint
kind, against central differences along integrate."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
import lumo_dynamic.batch as lb
from test_batch import random_urdf

torch = pytest.importorskip("torch")
jax = pytest.importorskip("jax")
jax.config.update("jax_enable_x64", True)
import jax.numpy as jnp  # noqa: E402
from jax.test_util import check_grads  # noqa: E402

import lumo_dynamic.jax as lj  # noqa: E402
import lumo_dynamic.torch as lt  # noqa: E402

MODELS = Path(__file__).resolve().parents[2] / "models"
LWA = ld.ReferenceFrame.LOCAL_WORLD_ALIGNED


def model(name):
    if name == "tree":
        return random_urdf(5, links=8, kinds=("revolute", "prismatic"))
    return ld.parse_urdf_file(str(MODELS / f"{name}.urdf"))


def states(m, n, seed=0):
    rng = np.random.default_rng(seed)
    q = np.stack([ld.integrate(m, ld.neutral(m), rng.uniform(-1, 1, m.nv)) for _ in range(n)])
    return q, rng.uniform(-1, 1, (n, m.nv)), rng.uniform(-1, 1, (n, m.nv))


def contact(m):
    return ld.ConstraintSet(m, [ld.RigidConstraint(m, "point", m.nframes - 1)])


# name -> (function of (module, model, extras, *arrays), arrays: "q" configuration, "v" velocity)
FUNCTIONS = {
    "rnea": (lambda f, m, x, q, v, a: f.rnea(m, q, v, a), "qvv"),
    "aba": (lambda f, m, x, q, v, a: f.aba(m, q, v, a), "qvv"),
    "crba": (lambda f, m, x, q: f.crba(m, q), "q"),
    "framePlacement": (lambda f, m, x, q: f.framePlacement(m, q, m.nframes - 1), "q"),
    "frameVelocity": (lambda f, m, x, q, v: f.frameVelocity(m, q, v, m.nframes - 1, LWA), "qv"),
    "frameJacobian": (lambda f, m, x, q: f.frameJacobian(m, q, m.nframes - 1), "q"),
    "integrate": (lambda f, m, x, q, v: f.integrate(m, q, v), "qv"),
    "difference": (lambda f, m, x, q0, q1: f.difference(m, q0, q1), "qq"),
    "centerOfMass": (lambda f, m, x, q: f.centerOfMass(m, q), "q"),
    "constrainedDynamics": (lambda f, m, x, q, v, t: f.constrainedDynamics(m, x, q, v, t), "qvv"),
}


def arguments(m, kinds, n=2, seed=0):
    q, v, a = states(m, n, seed)
    q2 = states(m, n, seed + 1)[0]
    qs = iter([q, q2])
    return [next(qs) if k == "q" else (v if i == 1 else a) for i, k in enumerate(kinds)]


def plain_part(m, fn, kinds, args):
    """For a floating base, the function of the joint coordinates and velocities
    with the base's q held: finite differences in raw quaternion coordinates are not
    the gradient's convention."""
    base = {k: a[..., :7] for k, (a, kind) in enumerate(zip(args, kinds)) if kind == "q" and m.nq != m.nv}

    def wrapped(lib, *xs):
        cat = torch.cat if lib is torch else jnp.concatenate
        return fn(*(cat([lib.asarray(base[k]) if lib is jnp else torch.from_numpy(base[k]), x], -1)
                    if k in base else x for k, x in enumerate(xs)))

    return wrapped, [a[..., 7:] if k in base else a for k, a in enumerate(args)]


# (a point contact on the random tree's last frame may fix dependent directions)
@pytest.mark.parametrize("robot,name", [(r, n) for r in ("arm7", "tree", "humanoid") for n in FUNCTIONS
                                        if (r, n) != ("tree", "constrainedDynamics")])
def test_gradients_against_finite_differences(robot, name):
    m = model(robot)
    fn, kinds = FUNCTIONS[name]
    x = contact(m) if name == "constrainedDynamics" else None
    raw = arguments(m, kinds)
    torch_fn, args = plain_part(m, lambda *xs: fn(lt, m, x, *xs), kinds, raw)
    jax_fn, _ = plain_part(m, lambda *xs: fn(lj, m, x, *xs), kinds, raw)
    tensors = [torch.tensor(a, requires_grad=True) for a in args]
    # eps 1e-4: the arm's light last link makes M⁻¹ large, and rounding swamps smaller steps
    # matrix results: random projections of the Jacobian rather than all of it
    assert torch.autograd.gradcheck(lambda *xs: torch_fn(torch, *xs), tensors, eps=1e-4, atol=1e-4, rtol=1e-4,
                                    fast_mode=name in ("crba", "frameJacobian"))
    check_grads(lambda *xs: jax_fn(jnp, *xs), [jnp.asarray(a) for a in args], order=1, modes=["rev"])


def test_values_and_products_with_the_derivatives():
    m = model("humanoid")
    q, v, a = states(m, 5, 3)
    w = np.random.default_rng(4).normal(size=(5, m.nv))
    T = lb.tangentMap(m, q)
    for f, derivatives in ((lt.rnea, lb.computeRNEADerivatives), (lt.aba, lb.computeABADerivatives)):
        tq, tv, ta = (torch.tensor(x, requires_grad=True) for x in (q, v, a))
        y = f(m, tq, tv, ta)
        assert np.array_equal(y.detach().numpy(), getattr(lb, f.__name__)(m, q, v, a))
        (y * torch.from_numpy(w)).sum().backward()
        dq, dv, da = derivatives(m, q, v, a)
        np.testing.assert_allclose(np.einsum("nij,ni->nj", T, tq.grad.numpy()),
                                   np.einsum("nij,ni->nj", dq, w), atol=1e-12)
        np.testing.assert_allclose(tv.grad.numpy(), np.einsum("nij,ni->nj", dv, w), atol=1e-12)
        np.testing.assert_allclose(ta.grad.numpy(), np.einsum("nij,ni->nj", da, w), atol=1e-12)
        jq, jv, ja = jax.grad(lambda *xs: (getattr(lj, f.__name__)(m, *xs) * w).sum(),
                              argnums=(0, 1, 2))(q, v, a)
        for jg, tg in ((jq, tq), (jv, tv), (ja, ta)):
            np.testing.assert_allclose(np.asarray(jg), tg.grad.numpy(), atol=1e-12)


@pytest.mark.parametrize("name", ["rnea", "framePlacement", "frameJacobian", "integrate", "difference",
                                  "centerOfMass"])
def test_configuration_gradients_along_integrate(name):
    """Every joint kind: the gradient g in q's coordinates gives the derivative of
    the loss along integrate as tangentMap(q)ᵀ g, and lies in the span of tangentMap."""
    m = model("all_joints")
    fn, kinds = FUNCTIONS[name]
    args = arguments(m, kinds, n=1, seed=7)
    rng = np.random.default_rng(8)
    weight = None

    def loss(*xs):
        nonlocal weight
        y = fn(lt, m, None, *(torch.from_numpy(x) if isinstance(x, np.ndarray) else x for x in xs))
        if weight is None:
            weight = torch.from_numpy(rng.normal(size=tuple(y.shape)))
        return (y * weight).sum()

    tensors = [torch.tensor(x, requires_grad=True) for x in args]
    loss(*tensors).backward()
    for k, kind in enumerate(kinds):
        if kind != "q":
            continue
        g = tensors[k].grad.numpy()[0]
        T = ld.tangentMap(m, args[k][0])
        assert np.allclose(T @ np.linalg.solve(T.T @ T, T.T @ g), g, atol=1e-12)
        d = rng.normal(size=m.nv)
        moved = lambda s: [ld.integrate(m, x[0], s * d)[None] if j == k else x for j, x in enumerate(args)]
        with torch.no_grad():
            fd = (loss(*moved(1e-6)) - loss(*moved(-1e-6))).item() / 2e-6
        assert abs(fd - (T.T @ g) @ d) < 1e-6 * max(1.0, abs(fd))


def test_batch_shapes_jit_and_vmap():
    m = model("arm7")
    q, v, a = states(m, 1000, 5)
    expected = lb.rnea(m, q, v, a)
    nested = [x.reshape(10, 4, 25, -1) for x in (q, v, a)]
    assert np.array_equal(lt.rnea(m, *(torch.from_numpy(x) for x in nested)).numpy(),
                          expected.reshape(10, 4, 25, -1))
    assert np.array_equal(np.asarray(lj.rnea(m, *nested)), expected.reshape(10, 4, 25, -1))
    # one state broadcast against many
    assert np.array_equal(lt.rnea(m, torch.from_numpy(q[0]), torch.from_numpy(v), torch.from_numpy(a)).numpy(),
                          lb.rnea(m, np.repeat(q[:1], 1000, 0), v, a))
    single = jax.jit(lambda q, v, a: lj.rnea(m, q, v, a))
    assert np.array_equal(np.asarray(jax.jit(jax.vmap(single))(q, v, a)), expected)
    per_state = jax.jit(jax.vmap(jax.grad(lambda q, v, a: (lj.aba(m, q, v, a) ** 2).sum(), argnums=(0, 1, 2))))
    tq, tv, ta = (torch.tensor(x[:50], requires_grad=True) for x in (q, v, a))
    (lt.aba(m, tq, tv, ta) ** 2).sum().backward()
    for jg, tg in zip(per_state(q[:50], v[:50], a[:50]), (tq, tv, ta)):
        np.testing.assert_allclose(np.asarray(jg), tg.grad.numpy(), atol=1e-12)


def test_argument_errors():
    m = model("arm7")
    q, v, a = (torch.from_numpy(x) for x in states(m, 2))
    with pytest.raises(TypeError, match="float64"):
        lt.rnea(m, q.float(), v, a)
    with pytest.raises(TypeError, match="lumo_dynamic.torch works on CPU tensors; got meta"):
        lt.rnea(m, q.to("meta"), v, a)
    with pytest.raises(ValueError, match="q length 6 != nq 7"):
        lt.rnea(m, q[:, :6], v, a)
    with pytest.raises(ValueError, match="q length 6 != nq 7"):
        lj.rnea(m, q.numpy()[:, :6], v.numpy(), a.numpy())
    jax.config.update("jax_enable_x64", False)
    try:
        with pytest.raises(TypeError, match="jax_enable_x64"):
            lj.rnea(m, q.numpy(), v.numpy(), a.numpy())
    finally:
        jax.config.update("jax_enable_x64", True)
