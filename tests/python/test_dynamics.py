"""rnea, non_linear_effects, compute_gravity, crba and the Jacobian functions from Python."""
import numpy as np
import pytest

import lumo_dynamic as ld

# base -(revolute z)- l1 -(fixed)- l2 -(prismatic x)- l3 -(revolute y)- l4, bodies everywhere.
ROBOT = """<?xml version="1.0"?>
<robot name="mixed">
  <link name="base"/>
  <link name="l1"><inertial><origin xyz="0.2 0.05 0.1" rpy="0.3 0 0.2"/><mass value="1.5"/>
    <inertia ixx="0.03" ixy="0.001" ixz="0" iyy="0.02" iyz="0.002" izz="0.01"/></inertial></link>
  <link name="l2"><inertial><origin xyz="0 0.1 0"/><mass value="0.7"/>
    <inertia ixx="0.01" ixy="0" ixz="0" iyy="0.01" iyz="0" izz="0.01"/></inertial></link>
  <link name="l3"><inertial><origin xyz="0.1 0 -0.05"/><mass value="0.9"/>
    <inertia ixx="0.02" ixy="0" ixz="0.001" iyy="0.015" iyz="0" izz="0.012"/></inertial></link>
  <link name="l4"><inertial><origin xyz="0 0 0.3" rpy="0 0.4 0"/><mass value="1.1"/>
    <inertia ixx="0.04" ixy="0" ixz="0" iyy="0.04" iyz="0" izz="0.005"/></inertial></link>
  <joint name="j1" type="revolute"><parent link="base"/><child link="l1"/>
    <origin xyz="0 0 0.3"/><axis xyz="0 0 1"/></joint>
  <joint name="weld" type="fixed"><parent link="l1"/><child link="l2"/>
    <origin xyz="0.4 0 0" rpy="0 0.5 0"/></joint>
  <joint name="slide" type="prismatic"><parent link="l2"/><child link="l3"/>
    <origin xyz="0 0.2 0"/><axis xyz="1 0 0"/></joint>
  <joint name="j3" type="revolute"><parent link="l3"/><child link="l4"/>
    <origin xyz="0.1 0 0.2" rpy="0.2 0 0"/><axis xyz="0 1 0"/></joint>
</robot>
"""
SINGLE_LINK = '<robot name="one"><link name="only"/></robot>'


@pytest.fixture
def robot():
    if not hasattr(ld, "parse_urdf_from_string"):
        pytest.skip("URDF import not available")
    return ld.parse_urdf_from_string(ROBOT)


def message(exc_type, fn, *args):
    with pytest.raises(exc_type) as info:
        fn(*args)
    return str(info.value)


def test_argument_checks_come_first_and_leave_data_alone(arm):
    data = arm.createData()
    q, v, z6, z8 = np.zeros(7), np.zeros(7), np.zeros(6), np.zeros(8)
    assert message(ValueError, ld.rnea, arm, data, z6, v, v) == "q length 6 != nq 7"
    assert message(ValueError, ld.rnea, arm, data, q, z6, v) == "v length 6 != nv 7"
    assert message(ValueError, ld.rnea, arm, data, q, v, z8) == "a length 8 != nv 7"
    assert message(ValueError, ld.non_linear_effects, arm, data, q, z8) == "v length 8 != nv 7"
    for fn in (ld.compute_gravity, ld.crba, ld.computeJointJacobians):
        assert message(ValueError, fn, arm, data, z6) == "q length 6 != nq 7"
    assert message(ValueError, ld.computeJointJacobian, arm, data, z6, 8) == "q length 6 != nq 7"
    assert message(ValueError, ld.computeJointJacobian, arm, data, q, 8) == "joint_id 8 >= njoints 8"
    with pytest.raises(OverflowError):
        ld.computeJointJacobian(arm, data, q, -1)
    assert (message(ValueError, ld.getFrameJacobian, arm, data, 1, ld.ReferenceFrame.WORLD)
            == "Frame ID 1 out of range (max: 0)")
    other = ld.Model().createData()  # a workspace of another model
    for fn, args in ((ld.rnea, (q, v, v)), (ld.crba, (q,)), (ld.computeJointJacobian, (q, 3))):
        with pytest.raises(ValueError):
            fn(arm, other, *args)
    np.testing.assert_array_equal(data.M, np.zeros((7, 7)))
    np.testing.assert_array_equal(data.g, np.zeros(7))
    assert all(np.array_equal(p.homogeneous, np.eye(4)) for p in data.oMi)


def test_frame_index_message_for_urdf_model(robot):
    one = ld.parse_urdf_from_string(SINGLE_LINK)
    assert (message(ValueError, ld.getFrameJacobian, one, one.createData(), 2, ld.ReferenceFrame.LOCAL)
            == "Frame ID 2 out of range (max: 1)")
    assert ld.getFrameJacobian(one, one.createData(), 1, ld.ReferenceFrame.LOCAL).shape == (6, 0)


def test_shapes_and_inverse_dynamics_identity(robot):
    data = robot.createData()
    rng = np.random.default_rng(4)
    nv = robot.nv
    q, v, a = rng.uniform(-1, 1, (3, nv))
    stored = ld.crba(robot, data, q)
    assert stored.shape == (nv, nv)
    assert np.all(np.tril(stored, -1) == 0) and np.any(np.triu(stored, 1) != 0)
    M = data.M
    np.testing.assert_array_equal(M, M.T)
    np.testing.assert_array_equal(np.triu(M), stored)
    assert np.all(np.linalg.eigvalsh(M) > 0)

    nle = ld.non_linear_effects(robot, data, q, v)
    g = ld.compute_gravity(robot, data, q)
    tau = ld.rnea(robot, data, q, v, a)
    assert tau.shape == nle.shape == g.shape == (nv,)
    np.testing.assert_allclose(tau, M @ a + nle, atol=1e-10)
    np.testing.assert_allclose(ld.rnea(robot, data, q, np.zeros(nv), np.zeros(nv)), g, atol=1e-12)
    np.testing.assert_array_equal(data.g, g)
    tau[:] = 0  # results are copies
    np.testing.assert_allclose(ld.rnea(robot, data, q, v, a), M @ a + nle, atol=1e-10)


def _placement_rate(model, data, q, k, joint, eps=1e-6):
    """(ṗ, ω) of joint's world placement along velocity coordinate k, by central differences."""
    H = []
    for s in (eps, -eps):
        ld.forwardKinematics(model, data, ld.integrate(model, q, s * np.eye(model.nv)[k]))
        H.append(data.get_joint_placement(joint).homogeneous)
    ld.forwardKinematics(model, data, q)
    R = data.get_joint_placement(joint).homogeneous[:3, :3]
    dH = (H[0] - H[1]) / (2 * eps)
    W = dH[:3, :3] @ R.T
    return dH[:3, 3], np.array([W[2, 1], W[0, 2], W[1, 0]]), R


def test_jacobians_match_finite_differences(robot):
    # The frame of link l4 reports joint j3's Jacobian.
    data = robot.createData()
    q = np.array([0.7, -0.3, 1.1])
    assert ld.computeJointJacobians(robot, data, q) is None
    frame, joint = robot.getFrameId("l4"), robot.get_joint_id("j3")
    aligned = ld.getFrameJacobian(robot, data, frame, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED)
    world = ld.getFrameJacobian(robot, data, frame, ld.ReferenceFrame.WORLD)
    local = ld.computeJointJacobian(robot, data, q, joint)
    assert aligned.shape == world.shape == local.shape == (6, robot.nv)
    for k in range(robot.nv):
        pdot, w, R = _placement_rate(robot, data, q, k, joint)
        np.testing.assert_allclose(aligned[:, k], np.r_[pdot, w], atol=1e-8)
        np.testing.assert_allclose(local[:, k], np.r_[R.T @ pdot, R.T @ w], atol=1e-8)
    p = data.get_joint_translation(joint)
    np.testing.assert_allclose(world[:3], aligned[:3] - np.cross(aligned[3:].T, p).T, atol=1e-12)
    # A ReferenceFrame made by the constructor selects WORLD.
    np.testing.assert_array_equal(ld.getFrameJacobian(robot, data, frame, ld.ReferenceFrame()), world)
