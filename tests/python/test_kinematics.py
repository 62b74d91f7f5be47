"""neutral, integrate and forwardKinematics against closed forms."""
import numpy as np
import pytest

import lumo_dynamic as ld
from conftest import ARM_AXES, ARM_OFFSETS
from geometry import hom, quat, quat_rot, rot, se3

Z = np.array([0.0, 0, 1])


def placements(model, q):
    data = model.createData()
    assert ld.forwardKinematics(model, data, np.asarray(q, float)) is None
    return [M.homogeneous for M in data.oMi]


def test_root_only_model():
    model = ld.Model()
    assert ld.neutral(model).shape == ld.integrate(model, np.zeros(0), np.zeros(0)).shape == (0,)
    np.testing.assert_array_equal(placements(model, []), [np.eye(4)])


def test_two_link_chain_at_quarter_turn(planar):
    np.testing.assert_allclose(placements(planar, [np.pi / 2, 0])[2], hom(rot(Z, np.pi / 2), (0, 1, 0)), atol=1e-15)
    np.testing.assert_array_equal(placements(planar, [0, 0])[2], hom(t=(1, 0, 0)))  # exact at zero


@pytest.mark.parametrize("seed", range(3))
def test_arm_matches_product_of_transforms(arm, seed):
    q = np.random.default_rng(seed).uniform(-np.pi, np.pi, 7)
    expected = [np.eye(4)]
    for axis, dz, angle in zip(ARM_AXES, ARM_OFFSETS, q):
        expected.append(expected[-1] @ hom(t=(0, 0, dz)) @ hom(rot(axis, angle)))
    np.testing.assert_allclose(placements(arm, q), expected, atol=1e-14)
    data = arm.createData()  # a second call keeps only its own result
    ld.forwardKinematics(arm, data, -q)
    ld.forwardKinematics(arm, data, q)
    np.testing.assert_allclose(data.get_joint_translation(7), expected[7][:3, 3], atol=1e-14)


def test_axes_are_normalised_when_used():
    model = ld.Model()
    model.add_joint(0, "revolute", 5 * Z, se3(rot((1, 1, 0), 0.3), (0.1, 0.2, 0.3)), "r")
    model.add_joint(1, "prismatic", 5 * Z, ld.SE3.identity(), "p")
    H = placements(model, [np.pi / 2, 0.3])
    Hr = hom(rot((1, 1, 0), 0.3), (0.1, 0.2, 0.3)) @ hom(rot(Z, np.pi / 2))
    np.testing.assert_allclose(H[1], Hr, atol=1e-15)  # parent 0: oMi is the joint's own placement
    np.testing.assert_allclose(H[2], Hr @ hom(t=(0, 0, 0.3)), atol=1e-15)


def test_fixed_joint_consumes_no_configuration():
    model = ld.Model()
    model.add_joint(0, "revolute", Z, ld.SE3.identity(), "a")
    model.add_joint(1, "fixed", np.zeros(0), se3(t=(1, 0, 0)), "f")
    model.add_joint(2, "revolute", Z, se3(t=(0, 1, 0)), "b")
    assert (model.nq, model.nv) == (2, 2)
    np.testing.assert_array_equal(ld.neutral(model), [0, 0])
    np.testing.assert_array_equal(ld.integrate(model, np.array([1.0, 2.0]), np.array([0.5, -0.5])), [1.5, 1.5])
    expected = hom(rot(Z, 0.3)) @ hom(t=(1, 1, 0)) @ hom(rot(Z, 0.4))
    np.testing.assert_allclose(placements(model, [0.3, 0.4])[3], expected, atol=1e-15)


def test_floating_base(floating):
    np.testing.assert_array_equal(ld.neutral(floating), [0, 0, 0, 0, 0, 0, 1, 0])
    np.testing.assert_array_equal(placements(floating, ld.neutral(floating))[2], hom(t=(0.5, 0, 0)))
    H = placements(floating, np.r_[1, 2, 3, 2 * quat(Z, np.pi / 2), 0.4])  # quaternion of length 2
    base = hom(rot(Z, np.pi / 2), (1, 2, 3))
    np.testing.assert_allclose(H[1], base, atol=1e-15)
    np.testing.assert_allclose(H[2], base @ hom(rot((1, 0, 0), 0.4), (0.5, 0, 0)), atol=1e-15)


def test_revolute_integrate_does_not_wrap(arm):
    np.testing.assert_array_equal(ld.integrate(arm, np.full(7, 3.0), np.arange(7.0)), 3.0 + np.arange(7.0))


@pytest.mark.parametrize("omega", [(0, 0, 0.8), (0.3, -1.2, 2.5), (1e-9, 0, 0), (0, 0, 0)])
def test_floating_integrate(floating, omega):
    r0 = 3 * quat((1, 0, 0), np.pi / 2)  # stored with length 3
    out = ld.integrate(floating, np.r_[1, 2, 3, r0, 0.25], np.r_[0.5, -1, 2, omega, 0.7])
    R0 = quat_rot(r0)
    # the position moves by the linear velocity rotated by the current orientation
    np.testing.assert_allclose(out[:3], [1, 2, 3] + R0 @ [0.5, -1, 2], atol=1e-14)
    # the rotation increment is applied in the body frame: R' = R0 exp(omega), unit quaternion
    step = rot(omega, np.linalg.norm(omega)) if any(omega) else np.eye(3)
    np.testing.assert_allclose(quat_rot(out[3:7]), R0 @ step, atol=1e-14)
    assert abs(np.linalg.norm(out[3:7]) - 1) < 1e-14 and out[7] == 0.25 + 0.7


def test_integrate_step_matches_finite_difference_of_placement(floating):
    q = np.r_[0.1, 0.2, 0.3, quat((1, 2, 3), 0.9), -0.5]
    h, w = 1e-6, np.array([0.0, 0, 0, 0.4, -0.2, 0.9, 0.0])
    H0, H1 = placements(floating, q)[1], placements(floating, ld.integrate(floating, q, h * w))[1]
    dR = (H0[:3, :3].T @ H1[:3, :3] - np.eye(3)) / h  # body-frame angular velocity, skew form
    np.testing.assert_allclose([dR[2, 1], dR[0, 2], dR[1, 0]], w[3:6], atol=1e-6)
