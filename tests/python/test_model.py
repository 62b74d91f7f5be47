import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import se3

I = ld.SE3.identity()


def test_fresh_model():
    m = ld.Model()
    assert (m.njoints, m.nframes, m.nq, m.nv, m.name, m.names) == (1, 1, 0, 0, "", ["universe"])
    assert m.get_joint_id("universe") == 0 and m.getFrameId("universe") == 0
    np.testing.assert_array_equal(m.gravity_full, [0, 0, -9.81, 0, 0, 0])
    np.testing.assert_array_equal(np.r_[m.gravity, m.gravity_angular], [0, 0, -9.81, 0, 0, 0])
    assert m.lowerPositionLimit.shape == m.upperPositionLimit.shape == (0,)
    assert repr(m) == "Model(name='', njoints=1, nframes=1, nq=0, nv=0)"
    for prop in ("nq", "nv", "njoints", "nframes", "names", "name", "gravity", "lowerPositionLimit"):
        with pytest.raises(AttributeError):
            setattr(m, prop, getattr(m, prop))


@pytest.mark.parametrize("joint_type, nq, nv, axis", [
    ("revolute", 1, 1, [0, 0, 1]), ("prismatic", 1, 1, [0, 0, 5]),
    ("fixed", 0, 0, [1, 2, 3, 4, 5]), ("fixed", 0, 0, []), ("floating", 7, 6, [9]),
])
def test_add_joint_sizes(arm, joint_type, nq, nv, axis):
    assert arm.add_joint(3, joint_type, np.array(axis, float), I, "new") == 8
    assert (arm.njoints, arm.nq, arm.nv, arm.nframes) == (9, 7 + nq, 7 + nv, 1)  # no frame added
    assert arm.names[-1] == "new" and arm.lowerPositionLimit.size == 0


@pytest.mark.parametrize("parent, joint_type, axis, message", [
    (0, "Revolute", [0, 0, 1], "Unknown joint type: Revolute"),
    (0, "continuous", [0, 0, 1], "Unknown joint type: continuous"),
    (0, "planar", [1], "Unknown joint type: planar"),  # the type is checked before the axis
    (0, "revolute", [0, 1], "Axis must be a 3D vector"),
    (0, "prismatic", [0, 0, 1, 0], "Axis must be a 3D vector"),
    (8, "revolute", [0, 0, 1], "Parent joint 8 out of range (njoints = 8)"),
    (0, "revolute", [0, 0, 0], "Joint axis must be non-zero"),
    (0, "prismatic", [-0.0, 0, 0], "Joint axis must be non-zero"),
    (0, "revolute", [0, np.nan, 1], "Joint axis must be finite"),
    (2**64 - 1, "fixed", [], "Parent joint 18446744073709551615 out of range (njoints = 8)"),
])
def test_add_joint_errors_leave_model_unchanged(arm, parent, joint_type, axis, message):
    before = repr(arm), str(arm)
    with pytest.raises(ValueError) as info:
        arm.add_joint(parent, joint_type, np.array(axis, float), I, "bad")
    assert str(info.value) == message
    assert (repr(arm), str(arm), ld.neutral(arm).shape) == before + ((7,),)


def test_siblings_get_disjoint_slices():
    m = ld.Model()
    z = np.array([0.0, 0, 1])
    assert (m.add_joint(0, "revolute", z, I, "a"), m.add_joint(0, "revolute", z, se3(t=(1, 0, 0)), "b")) == (1, 2)
    data = m.createData()
    ld.forwardKinematics(m, data, np.array([0.3, np.pi / 2]))
    np.testing.assert_allclose(data.get_joint_placement(2).homogeneous[:3, 0], [0, 1, 0], atol=1e-15)
    np.testing.assert_allclose(data.get_joint_translation(2), [1, 0, 0])


def test_names(arm):
    arm.add_joint(0, "fixed", np.zeros(3), I, "j2")  # duplicate name
    assert arm.get_joint_id("j2") == 2
    assert [arm.get_joint_id(n) for n in ("missing", "J2", "j", "")] == [None] * 4
    assert arm.getFrameId("j1") is None  # add_joint creates no frame
    arm.set_name("it's an arm")
    assert arm.name == "it's an arm"
    assert repr(arm) == "Model(name='it's an arm', njoints=9, nframes=1, nq=7, nv=7)"


@pytest.mark.parametrize("setter, good, bad, expected, message", [
    ("set_gravity", [1, 2, 3], [1, 2], [1, 2, 3, 0.1, 0.2, 0.3], "Gravity vector must have 3 elements [x, y, z]"),
    ("set_gravity_angular", [4, 5, 6], [1, 2, 3, 4], [0, 0, -9.81, 4, 5, 6],
     "Gravity angular vector must have 3 elements [wx, wy, wz]"),
    ("set_gravity_full", [1, 2, 3, 4, 5, 6], [1, 2, 3], [1, 2, 3, 4, 5, 6],
     "Full gravity vector must have 6 elements [lx, ly, lz, wx, wy, wz]"),
])
def test_gravity_setters(setter, good, bad, expected, message):
    m = ld.Model()
    m.set_gravity_angular(np.array([0.1, 0.2, 0.3]))
    with pytest.raises(ValueError) as info:
        getattr(m, setter)(np.array(bad, float))
    assert str(info.value) == message
    np.testing.assert_array_equal(m.gravity_full, [0, 0, -9.81, 0.1, 0.2, 0.3])
    assert getattr(m, setter)(np.array(good, float)) is None
    np.testing.assert_array_equal(m.gravity_full, expected)
    np.testing.assert_array_equal(np.r_[m.gravity, m.gravity_angular], expected)


@pytest.mark.parametrize("kind", ["revolute", "prismatic"])
def test_axes_of_any_magnitude(kind):
    """Tiny and huge axes give the motion of their unit direction: the norm neither underflows nor overflows."""
    q = np.array([0.7])
    for axis, unit in [((1e-200, 0, 0), (1, 0, 0)), ((1e300, 1e300, 0), (1, 1, 0)), ((0, -5e-320, 5e-320), (0, -1, 1))]:
        poses = []
        for a in (axis, unit):
            m = ld.Model()
            m.add_joint(0, kind, np.array(a, float), I, "j")
            d = m.createData()
            ld.forwardKinematics(m, d, q)
            poses.append(d.oMi[1].homogeneous)
        np.testing.assert_allclose(poses[0], poses[1], rtol=0, atol=1e-15)
