"""Frame velocities and accelerations, external forces, kinematics
derivatives and inverse kinematics from Python: each call against an
identity that crosses the binding (Jacobians, rnea, central differences,
forward kinematics), the batch rows against the single calls, and the
argument checks of the new parameter kinds."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
import lumo_dynamic.batch as lb

MODELS = Path(__file__).resolve().parents[2] / "models"
RF = ld.ReferenceFrame
FRAMES = [RF.WORLD, RF.LOCAL, RF.LOCAL_WORLD_ALIGNED]


@pytest.fixture(scope="module", params=["arm7.urdf", "all_joints.urdf"])
def model(request):
    return ld.parse_urdf_file(str(MODELS / request.param))


def state(model, seed=3):
    rng = np.random.default_rng(seed)
    q = ld.integrate(model, ld.neutral(model), rng.uniform(-1, 1, model.nv))
    return q, rng.uniform(-1, 1, model.nv), rng.uniform(-1, 1, model.nv)


def test_frame_motion_matches_jacobians_and_batch(model):
    data, (q, v, a) = model.createData(), state(model)
    frame = model.nframes - 1
    ld.computeJointJacobiansTimeVariation(model, data, q, v)
    J = ld.getFrameJacobian(model, data, frame, RF.WORLD)  # the frame's own in WORLD
    dJ = ld.getFrameJacobianTimeVariation(model, data, frame, RF.WORLD)
    assert ld.computeKinematics(model, data, q, v, a) is None
    np.testing.assert_allclose(ld.getFrameVelocity(model, data, frame, RF.WORLD), J @ v, atol=1e-12)
    np.testing.assert_allclose(ld.getFrameAcceleration(model, data, frame, RF.WORLD), J @ a + dJ @ v,
                               atol=1e-11)
    Q, V, A = (np.tile(x, (3, 1)) for x in (q, v, a))
    for rf in FRAMES:
        vel = ld.getFrameVelocity(model, data, frame, rf)
        acc = ld.getFrameAcceleration(model, data, frame, rf)
        cla = ld.getFrameClassicalAcceleration(model, data, frame, rf)
        assert vel.shape == acc.shape == cla.shape == (6,)
        np.testing.assert_array_equal(cla[3:], acc[3:])
        np.testing.assert_array_equal(lb.getFrameVelocity(model, Q, V, frame, rf), np.tile(vel, (3, 1)))
        np.testing.assert_array_equal(lb.getFrameAcceleration(model, Q, V, A, frame, rf), np.tile(acc, (3, 1)))
        np.testing.assert_array_equal(lb.getFrameClassicalAcceleration(model, Q, V, A, frame, rf),
                                      np.tile(cla, (3, 1)))
    with pytest.raises(ValueError, match=r"^Frame ID \d+ out of range"):
        ld.getFrameVelocity(model, data, model.nframes, RF.WORLD)


def test_external_forces(model):
    data, (q, v, a) = model.createData(), state(model)
    np.testing.assert_array_equal(ld.inverseDynamics(model, data, q, v, a), ld.rnea(model, data, q, v, a))
    fext = np.random.default_rng(5).uniform(-2, 2, (model.njoints, 6))
    tau = ld.inverseDynamics(model, data, q, v, a, fext)
    expected = ld.rnea(model, data, q, v, a)
    for i in range(1, model.njoints):
        expected -= ld.computeJointJacobian(model, data, q, i).T @ fext[i]
    np.testing.assert_allclose(tau, expected, atol=1e-10)
    np.testing.assert_allclose(ld.forwardDynamics(model, data, q, v, tau, fext=fext), a, atol=1e-9)
    np.testing.assert_array_equal(ld.forwardDynamics(model, data, q, v, tau), ld.aba(model, data, q, v, tau))
    # The forces are part of the state the derivatives are taken at.
    dq, dv, da = ld.computeRNEADerivatives(model, data, q, v, a, fext=fext)
    eps = 1e-6
    E = np.eye(model.nv)
    fd = np.array([ld.inverseDynamics(model, data, ld.integrate(model, q, eps * e), v, a, fext)
                   - ld.inverseDynamics(model, data, ld.integrate(model, q, -eps * e), v, a, fext)
                   for e in E]).T / (2 * eps)
    np.testing.assert_allclose(dq, fd, atol=1e-6 * max(1, np.abs(fd).max()))
    ddq_dq, _, Minv = ld.computeABADerivatives(model, data, q, v, tau, fext)
    np.testing.assert_allclose(ddq_dq, -Minv @ dq, atol=1e-8 * max(1, np.abs(dq).max()))
    # Batches: per-row forces, or none.
    F = np.stack([fext, 2 * fext])
    rows = lb.inverseDynamics(model, np.tile(q, (2, 1)), np.tile(v, (2, 1)), np.tile(a, (2, 1)), F)
    np.testing.assert_array_equal(rows[0], tau)
    np.testing.assert_array_equal(rows[1], ld.inverseDynamics(model, data, q, v, a, 2 * fext))
    # Checks, in the module's families.
    assert ld.inverseDynamics.__text_signature__ == "(model, data, q, v, a, fext=None)"
    with pytest.raises(ValueError, match=rf"^fext must have shape \(njoints, 6\) = \({model.njoints}, 6\), "
                                         rf"got \(2, 6\)$"):
        ld.inverseDynamics(model, data, q, v, a, fext[:2])
    with pytest.raises(TypeError):
        ld.inverseDynamics(model, data, q, v, a, fext.tolist())
    with pytest.raises(TypeError, match=r"takes from 5 to 6 positional arguments but 7 were given"):
        ld.inverseDynamics(model, data, q, v, a, fext, fext)
    with pytest.raises(ValueError, match=r"must have shape \(N, njoints, 6\)"):
        lb.inverseDynamics(model, q[None], v[None], a[None], np.zeros((1, model.njoints, 3)))


def test_kinematics_derivatives_against_central_differences(model):
    data, (q, v, a) = model.createData(), state(model, 8)
    frame, eps, E = model.nframes - 1, 1e-6, np.eye(model.nv)
    for rf in FRAMES:
        ld.computeKinematicsDerivatives(model, data, q, v, a)
        dv_dq, dv_dv = ld.getFrameVelocityDerivatives(model, data, frame, rf)
        da_dq, da_dv, da_da = ld.getFrameAccelerationDerivatives(model, data, frame, rf)
        np.testing.assert_array_equal(dv_dv, da_da)

        def motion(qq, vv, aa):
            ld.computeKinematics(model, data, qq, vv, aa)
            return np.concatenate([ld.getFrameVelocity(model, data, frame, rf),
                                   ld.getFrameAcceleration(model, data, frame, rf)])
        fd_q = np.array([motion(ld.integrate(model, q, eps * e), v, a)
                         - motion(ld.integrate(model, q, -eps * e), v, a) for e in E]).T / (2 * eps)
        fd_v = np.array([motion(q, v + eps * e, a) - motion(q, v - eps * e, a) for e in E]).T / (2 * eps)
        scale = max(1.0, np.abs(fd_q).max(), np.abs(fd_v).max())
        np.testing.assert_allclose(np.vstack([dv_dq, da_dq]), fd_q, atol=1e-6 * scale)
        np.testing.assert_allclose(np.vstack([dv_dv, da_dv]), fd_v, atol=1e-6 * scale)
        rows = lb.getFrameAccelerationDerivatives(model, q[None], v[None], a[None], frame, rf)
        for r, s in zip(rows, (da_dq, da_dv, da_da)):
            np.testing.assert_array_equal(r[0], s)
        rows = lb.getFrameVelocityDerivatives(model, q[None], v[None], frame, rf)
        np.testing.assert_allclose(rows[0][0], dv_dq, atol=1e-12)


def test_inverse_kinematics():
    arm = ld.parse_urdf_file(str(MODELS / "arm7.urdf"))
    data, rng, tool = arm.createData(), np.random.default_rng(2), arm.nframes - 1
    lo, hi = arm.lowerPositionLimit, arm.upperPositionLimit
    goals = rng.uniform(np.maximum(lo, -2), np.minimum(hi, 2), (20, arm.nq))
    targets, starts = [], []
    for g in goals:
        ld.forwardKinematics(arm, data, g)
        targets.append(ld.getFramePlacement(arm, data, tool))
        starts.append(np.clip(g + rng.uniform(-0.3, 0.3, arm.nq), lo, hi))
    solved = [ld.inverseKinematics(arm, tool, t, s) for t, s in zip(targets, starts)]
    assert sum(r.converged for r in solved) >= 19
    for r, t in zip(solved, targets):
        q, converged, iterations, error = r
        assert isinstance(r, ld.InverseKinematicsResult) and r.q is q and 0 <= iterations <= 200
        assert np.all(q >= lo - 1e-12) and np.all(q <= hi + 1e-12)
        if converged:
            ld.forwardKinematics(arm, data, q)
            np.testing.assert_allclose(ld.getFramePlacement(arm, data, tool).homogeneous, t.homogeneous, atol=1e-8)
    H = np.stack([t.homogeneous for t in targets])
    q, converged, iterations, error = lb.inverseKinematics(arm, tool, H, np.stack(starts), threads=2)
    assert converged.dtype == np.bool_ and iterations.dtype == np.int64 and q.shape == (20, arm.nq)
    for k, r in enumerate(solved):
        np.testing.assert_array_equal(q[k], r.q)
        assert (converged[k], iterations[k], error[k]) == (r.converged, r.iterations, r.error)
    # Positions only, weights, an unreachable target, NaN, checks.
    p = targets[0].homogeneous[:3, 3].copy()
    assert ld.inverseKinematics(arm, tool, p, starts[0], weights=np.ones(6)).converged
    far = ld.inverseKinematics(arm, tool, np.array([9.0, 0, 0]), starts[0], max_iterations=50)
    assert not far.converged and far.error > 1 and far.iterations <= 50
    bad = ld.inverseKinematics(arm, tool, p, np.full(arm.nq, np.nan), max_iterations=10)
    assert not bad.converged
    assert ld.inverseKinematics.__text_signature__ == (
        "(model, frame_id, target, q0, *, weights=None, tolerance=1e-10, max_iterations=200, "
        "respect_limits=True)")
    with pytest.raises(ValueError):
        ld.inverseKinematics(arm, tool, ld.SE3(2 * np.eye(3), p), starts[0])
    with pytest.raises(ValueError, match=r"^weights must have 6 elements, got 3$"):
        ld.inverseKinematics(arm, tool, p, starts[0], weights=np.ones(3))
    with pytest.raises(ValueError, match=r"^max_iterations must be non-negative, got -1$"):
        ld.inverseKinematics(arm, tool, p, starts[0], max_iterations=-1)
    with pytest.raises(TypeError):
        ld.inverseKinematics(arm, tool, p, starts[0], respect_limits=1)
    with pytest.raises(TypeError, match="positional"):
        ld.inverseKinematics(arm, tool, p, starts[0], np.ones(6))


def test_se3_exp_log():
    rng = np.random.default_rng(4)
    for angle in (0.0, 1e-9, 1.0, np.pi - 1e-7):
        axis = rng.normal(size=3)
        xi = np.concatenate([rng.normal(size=3), angle * axis / np.linalg.norm(axis)])
        T = ld.SE3.exp(xi)
        np.testing.assert_allclose(T.log(), xi, atol=1e-7 if angle > 3 else 1e-12)
        np.testing.assert_allclose(ld.SE3.exp_jacobian(xi) @ T.log_jacobian(), np.eye(6), atol=1e-6)
    a, b = ld.SE3.exp(rng.normal(size=6)), ld.SE3.exp(rng.normal(size=6))
    np.testing.assert_allclose(ld.SE3.interpolate(a, b, 1.0).homogeneous, b.homogeneous, atol=1e-12)
    np.testing.assert_allclose(ld.SE3.interpolate(a, b, 0.0).homogeneous, a.homogeneous, atol=1e-12)
