"""Jacobian time variation, all terms and the Coriolis matrix from Python."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld

RF = (ld.ReferenceFrame.WORLD, ld.ReferenceFrame.LOCAL, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED)
STATE_FUNCTIONS = (ld.computeJointJacobiansTimeVariation, ld.computeAllTerms, ld.computeCoriolisMatrix)
URDF_FILES = sorted((Path(__file__).resolve().parents[2] / "models").glob("*.urdf"))


@pytest.fixture(params=URDF_FILES, ids=lambda path: path.stem)
def model(request):
    return ld.parse_urdf_file(str(request.param))


def state(model, seed):
    rng = np.random.default_rng(seed)
    return ld.integrate(model, ld.neutral(model), rng.uniform(-1, 1, model.nv)), rng.uniform(-1, 1, model.nv)


def test_argument_checks():
    model = ld.Model()
    model.add_joint(0, "floating", np.zeros(3), ld.SE3.identity(), "base")
    data = model.createData()
    for function in STATE_FUNCTIONS:
        with pytest.raises(ValueError, match=r"^q length 6 != nq 7$"):
            function(model, data, np.zeros(6), np.zeros(6))
        with pytest.raises(ValueError, match=r"^v length 5 != nv 6$"):
            function(model, data, ld.neutral(model), np.zeros(5))
    n = model.nframes
    with pytest.raises(ValueError, match=rf"^Frame ID {n} out of range \(max: {n - 1}\)$"):
        ld.getFrameJacobianTimeVariation(model, data, n, ld.ReferenceFrame.WORLD)


def test_coriolis_and_all_terms_agree_with_the_separate_functions(model):
    data, ref = model.createData(), model.createData()
    for seed in range(2):
        q, v = state(model, seed)
        assert ld.computeCoriolisMatrix(model, data, q, v) is None
        nle_minus_g = ld.non_linear_effects(model, ref, q, v) - ld.compute_gravity(model, ref, q)
        np.testing.assert_allclose(data.C @ v, nle_minus_g, atol=1e-9)
        assert ld.computeAllTerms(model, data, q, v) is None
        upper = ld.crba(model, ref, q)
        np.testing.assert_array_equal(data.M, np.triu(upper) + np.triu(upper, 1).T)


def test_frame_jacobian_time_variation_is_the_derivative_of_the_frame_jacobian(model):
    data, ref = model.createData(), model.createData()
    for f in range(model.nframes):  # a fresh workspace gives zeros
        for rf in RF:
            np.testing.assert_array_equal(ld.getFrameJacobianTimeVariation(model, data, f, rf), np.zeros((6, model.nv)))
    (q, v), h = state(model, 3), 1e-6
    assert ld.computeJointJacobiansTimeVariation(model, data, q, v) is None

    def jacobian(x, f, rf):
        ld.computeJointJacobians(model, ref, x)
        return ld.getFrameJacobian(model, ref, f, rf)

    for f in range(model.nframes):  # URDF frames sit at the origin of their joint
        for rf in RF:
            fd = (jacobian(ld.integrate(model, q, h * v), f, rf) - jacobian(ld.integrate(model, q, -h * v), f, rf)) / (2 * h)
            np.testing.assert_allclose(ld.getFrameJacobianTimeVariation(model, data, f, rf), fd, atol=1e-7)


def test_docstrings():
    assert "Compute the time variation of joint Jacobians (dJ/dt)" in ld.computeJointJacobiansTimeVariation.__doc__
    assert "dJ = [ov]× * J" in ld.computeJointJacobiansTimeVariation.__doc__
    assert "Compute all terms (forward kinematics, velocities, accelerations, etc.)" in ld.computeAllTerms.__doc__
    for text in ("M(q) * ddq + C(q, dq) * dq + g(q) = tau", "The Coriolis matrix C is stored in data.C"):
        assert text in ld.computeCoriolisMatrix.__doc__
