"""aba, computeMinverse, frame placements, centre of mass, centroidal momentum,
energies and difference from Python: identities with the existing functions,
argument checks and signatures."""
import inspect
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
import lumo_dynamic.batch as lb

MODELS = Path(__file__).resolve().parents[2] / "models"
W = ld.ReferenceFrame.WORLD


@pytest.fixture(params=["arm7.urdf", "humanoid.urdf", "all_joints.urdf"])
def model(request):
    return ld.parse_urdf_file(str(MODELS / request.param))


def random_state(model, seed=3):
    rng = np.random.default_rng(seed)
    q = ld.integrate(model, ld.neutral(model), rng.uniform(-1, 1, model.nv))
    return q, rng.uniform(-1, 1, model.nv), rng.uniform(-2, 2, model.nv)


def mirrored(M):
    return np.triu(M) + np.triu(M, 1).T


def test_dynamics_identities(model):
    data = model.createData()
    q, v, tau = random_state(model)
    ddq = ld.aba(model, data, q, v, tau)
    M = mirrored(ld.crba(model, data, q))
    nle = ld.non_linear_effects(model, data, q, v)
    np.testing.assert_allclose(ddq, np.linalg.solve(M, tau - nle), rtol=1e-10, atol=1e-10)
    np.testing.assert_allclose(ld.rnea(model, data, q, v, ddq), tau, atol=1e-9)
    Minv = ld.computeMinverse(model, data, q)
    np.testing.assert_array_equal(Minv, Minv.T)
    np.testing.assert_allclose(Minv @ M, np.eye(model.nv), atol=1e-10 * np.linalg.cond(M))
    assert ld.computeKineticEnergy(model, data, q, v) == pytest.approx(0.5 * v @ M @ v, rel=1e-12)
    # the potential energy's gradient along integrate is the gravity torque
    eps, U = 1e-6, lambda x: ld.computePotentialEnergy(model, data, x)
    grad = [(U(ld.integrate(model, q, eps * e)) - U(ld.integrate(model, q, -eps * e))) / (2 * eps)
            for e in np.eye(model.nv)]
    np.testing.assert_allclose(grad, ld.compute_gravity(model, data, q), atol=1e-6)


def test_centroidal_and_frames(model):
    data = model.createData()
    q, v, _ = random_state(model, seed=5)
    com = ld.centerOfMass(model, data, q)
    Jc = ld.jacobianCenterOfMass(model, data, q)
    np.testing.assert_allclose(Jc, np.array([ld.centerOfMass(model, data, ld.integrate(model, q, 1e-7 * e)) - com
                                             for e in np.eye(model.nv)]).T / 1e-7, atol=1e-6)
    Ag = ld.computeCentroidalMap(model, data, q)
    h = ld.computeCentroidalMomentum(model, data, q, v)
    assert (com.shape, Jc.shape, Ag.shape, h.shape) == ((3,), (3, model.nv), (6, model.nv), (6,))
    np.testing.assert_allclose(Ag @ v, h, atol=1e-12)
    cdot = Jc @ v  # the linear momentum is the total mass times the velocity of the centre of mass
    mass = (h[:3] @ cdot) / (cdot @ cdot)
    assert mass > 0
    np.testing.assert_allclose(h[:3], mass * cdot, atol=1e-10 * mass)
    ld.forwardKinematics(model, data, q)
    placements = ld.updateFramePlacements(model, data)
    assert len(placements) == model.nframes
    for k in (0, model.nframes // 2, model.nframes - 1):
        np.testing.assert_array_equal(placements[k].homogeneous, ld.getFramePlacement(model, data, k).homogeneous)
    for name in model.names[1:]:
        frame = model.getFrameId(name)
        if frame is not None:  # a joint's own frame sits on the joint
            np.testing.assert_allclose(placements[frame].homogeneous,
                                       data.oMi[model.get_joint_id(name)].homogeneous, atol=1e-15)


def test_difference_inverts_integrate(model):
    q0, v, _ = random_state(model, seed=7)
    np.testing.assert_allclose(ld.difference(model, q0, ld.integrate(model, q0, v)), v, atol=1e-12)
    q1, _, _ = random_state(model, seed=8)
    back = ld.integrate(model, q0, ld.difference(model, q0, q1))
    data0, data1 = model.createData(), model.createData()
    ld.forwardKinematics(model, data0, back)
    ld.forwardKinematics(model, data1, q1)  # the same placements: quaternions only up to sign
    for a, b in zip(data0.oMi, data1.oMi):
        np.testing.assert_allclose(a.homogeneous, b.homogeneous, atol=1e-12)


SIGNATURES = {
    "aba": "(model, data, q, v, tau)", "computeMinverse": "(model, data, q)",
    "getFramePlacement": "(model, data, frame_id)", "updateFramePlacements": "(model, data)",
    "centerOfMass": "(model, data, q)", "jacobianCenterOfMass": "(model, data, q)",
    "computeCentroidalMap": "(model, data, q)", "computeCentroidalMomentum": "(model, data, q, v)",
    "computeKineticEnergy": "(model, data, q, v)", "computePotentialEnergy": "(model, data, q)",
    "difference": "(model, q0, q1)",
}


def test_signatures_and_all():
    for name, text in SIGNATURES.items():
        fn = getattr(ld, name)
        assert fn.__text_signature__ == text and name in ld.__all__
        assert list(inspect.signature(fn).parameters) == text[1:-1].split(", ")
    assert ld.__all__.index("aba") > ld.__all__.index("parse_urdf_from_string")


def bad_calls():
    Z, S = np.zeros(7), np.zeros(14)[::2]
    return [  # (call on the 7-joint arm and a Data for it, exception, message)
        (lambda m, d: ld.aba(m, d, Z, Z, list(Z)), TypeError,
         "argument 'tau': 'list' object cannot be converted to 'PyArray<T, D>'"),
        (lambda m, d: ld.aba(m, d, Z[:6], Z, S), TypeError, "The given array is not contiguous"),
        (lambda m, d: ld.aba(m, d, Z, Z, Z[:6]), ValueError, "tau length 6 != nv 7"),
        (lambda m, d: ld.aba(m, d, Z[:6], Z[:5], Z[:4]), ValueError, "q length 6 != nq 7"),
        (lambda m, d: ld.computeMinverse(m, m, Z), TypeError,
         "argument 'data': 'Model' object cannot be converted to 'Data'"),
        (lambda m, d: ld.computeKineticEnergy(m, d, Z, Z[:3]), ValueError, "v length 3 != nv 7"),
        (lambda m, d: ld.difference(m, Z[:6], Z), ValueError, "q0 length 6 != nq 7"),
        (lambda m, d: ld.difference(m, Z, np.zeros(8)), ValueError, "q1 length 8 != nq 7"),
        (lambda m, d: ld.getFramePlacement(m, d, 18), ValueError, "Frame ID 18 out of range (max: 17)"),
        (lambda m, d: ld.getFramePlacement(m, d, -1), OverflowError, None),
        (lambda m, d: ld.updateFramePlacements(m), TypeError,
         "updateFramePlacements() missing 1 required positional argument: 'data'"),
        (lambda m, d: ld.centerOfMass(m, ld.Model().createData(), Z), ValueError,
         "Data was created for a model with njoints 1, nq 0, nv 0, but this model has njoints 9, nq 7, nv 7"),
    ]


@pytest.mark.parametrize("k", range(12))
def test_bad_arguments(k):
    arm = ld.parse_urdf_file(str(MODELS / "arm7.urdf"))
    call, exc, message = bad_calls()[k]
    with pytest.raises(exc) as info:
        call(arm, arm.createData())
    if message is not None:
        assert str(info.value) == message


def test_nan_in_nan_out():
    arm = ld.parse_urdf_file(str(MODELS / "arm7.urdf"))
    data, nan = arm.createData(), np.full(7, np.nan)
    assert np.isnan(ld.aba(arm, data, nan, nan, nan)).all()
    assert np.isnan(ld.computeMinverse(arm, data, nan)).all()
    assert np.isnan(ld.computeKineticEnergy(arm, data, nan, nan))


def test_a_joint_that_moves_no_mass_is_named():
    # The second link has no <inertial>: the import warns, forward dynamics refuses.
    text = """<robot name="r"><link name="base"/>
      <link name="upper"><inertial><mass value="1"/>
        <inertia ixx="0.01" ixy="0" ixz="0" iyy="0.01" iyz="0" izz="0.01"/></inertial></link>
      <link name="tip"/>
      <joint name="shoulder" type="revolute"><parent link="base"/><child link="upper"/><axis xyz="0 0 1"/></joint>
      <joint name="wrist" type="revolute"><parent link="upper"/><child link="tip"/><axis xyz="0 0 1"/></joint>
    </robot>"""
    with pytest.warns(ld.UrdfWarning, match="joint 'wrist' at line 6: moves no mass"):
        model = ld.parse_urdf_from_string(text)
    data, z = model.createData(), np.zeros(2)
    for call in (lambda: ld.aba(model, data, z, z, z), lambda: ld.computeMinverse(model, data, z),
                 lambda: ld.computeABADerivatives(model, data, z, z, z),
                 lambda: lb.aba(model, np.zeros((9, 2)), np.zeros((9, 2)), np.zeros((9, 2)))):  # (in lock step)
        with pytest.raises(ValueError, match=r"^Joint 'wrist' \(2\) moves no mass"):
            call()
