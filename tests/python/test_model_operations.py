"""buildReducedModel and appendModel, checked against the full and the combined models' own dynamics."""
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import rot, se3

MODELS = Path(__file__).resolve().parents[2] / "models"
SAMPLES = ["arm7.urdf", "all_joints.urdf", "humanoid.urdf", "quadruped.urdf"]
SIZES = {"fixed": (0, 0), "revolute": (1, 1), "prismatic": (1, 1), "continuous": (2, 1),
         "planar": (4, 3), "spherical": (4, 3), "floating": (7, 6)}


# Where the quaternion or the (cos, sin) pair lies in a joint's q slice.
UNIT_PARTS = {"continuous": slice(0, 2), "planar": slice(2, 4), "spherical": slice(0, 4), "floating": slice(3, 7)}


def layout(text, model):
    """(type, nq, nv) of each joint of the model, in model order, from the URDF joint types."""
    types = {j.get("name"): j.get("type") for j in ET.fromstring(text).iter("joint")}
    return [(types[name], *SIZES[types[name]]) for name in model.names[1:]]


def record(model):
    return model.__reduce__()[2]


def full_mass_matrix(model, data, q):
    upper = ld.crba(model, data, q)  # the upper triangle, as stored
    return np.triu(upper) + np.triu(upper, 1).T


def placements(model, q, names=None):
    data = model.createData()
    ld.forwardKinematics(model, data, q)
    frames = ld.updateFramePlacements(model, data)
    if names is None:
        return np.array([f.homogeneous for f in frames])
    return np.array([frames[model.getFrameId(n)].homogeneous for n in names])


def random_q(model, rng):
    return ld.integrate(model, ld.neutral(model), rng.uniform(-1, 1, model.nv))


@pytest.fixture(params=SAMPLES)
def sample(request):
    path = MODELS / request.param
    if not path.exists():
        pytest.skip(f"{path} not available")
    text = path.read_text()
    model = ld.parse_urdf_from_string(text)
    return model, layout(text, model)


# ------------------------------------------------------------- buildReducedModel

def test_reduced_model_is_the_full_model_held_at_the_reference(sample):
    """Kept rows and columns of M and nle, every frame where the full model puts it."""
    full, sizes = sample
    rng = np.random.default_rng(5)
    for _ in range(3):
        lock = [int(i) for i in rng.permutation(np.arange(1, full.njoints))[: full.njoints // 2]]
        q_ref = random_q(full, rng)
        reduced = ld.buildReducedModel(full, lock, q_ref)
        assert reduced.names == [n for i, n in enumerate(full.names) if i not in lock]
        assert reduced.nframes == full.nframes
        q_r, v_r = random_q(reduced, rng), rng.uniform(-1, 1, reduced.nv)
        q, v, kept = q_ref.copy(), np.zeros(full.nv), []
        iq = iv = jq = jv = 0
        for i, (_, nq, nv) in enumerate(sizes, start=1):
            if i not in lock:
                q[iq:iq + nq], v[iv:iv + nv] = q_r[jq:jq + nq], v_r[jv:jv + nv]
                kept += range(iv, iv + nv)
                jq, jv = jq + nq, jv + nv
            iq, iv = iq + nq, iv + nv
        data, data_r = full.createData(), reduced.createData()
        np.testing.assert_allclose(full_mass_matrix(reduced, data_r, q_r),
                                   full_mass_matrix(full, data, q)[np.ix_(kept, kept)], atol=1e-10)
        np.testing.assert_allclose(ld.non_linear_effects(reduced, data_r, q_r, v_r),
                                   ld.non_linear_effects(full, data, q, v)[kept], atol=1e-9)
        np.testing.assert_allclose(placements(reduced, q_r), placements(full, q), atol=1e-12)
        np.testing.assert_array_equal(reduced.lowerPositionLimit, full.lowerPositionLimit[kept])
        np.testing.assert_array_equal(reduced.upperPositionLimit, full.upperPositionLimit[kept])


def test_reduced_model_locking_nothing_and_quaternions(sample):
    full, sizes = sample
    q_ref = random_q(full, np.random.default_rng(1))
    assert record(ld.buildReducedModel(full, [], q_ref)) == record(full)
    # A locked quaternion or (cos, sin) pair is normalised: twice it locks the same.
    scaled, at = q_ref.copy(), 0
    for kind, nq, _ in sizes:
        if kind in UNIT_PARTS:
            scaled[at:at + nq][UNIT_PARTS[kind]] *= 2
        at += nq
    everything = list(range(1, full.njoints))
    assert record(ld.buildReducedModel(full, everything, scaled)) == \
        record(ld.buildReducedModel(full, everything, q_ref))


def test_reduced_model_argument_checks(arm):
    q = np.zeros(7)
    for lock, ref, exc, message in [
        ([1, 1], q, ValueError, "joints_to_lock: joint 1 is given twice"),
        ((3, 0), q, ValueError, "joints_to_lock: joint 0 is the universe, which cannot be locked"),
        ([2, 8], q, ValueError, "joints_to_lock 8 >= njoints 8"),
        ([1, 1], q[:3], ValueError, "joints_to_lock: joint 1 is given twice"),  # parameter order
        ([2], q[:3], ValueError, "q_reference length 3 != nq 7"),
        ([-1], q, OverflowError, None),
        ("12", q, TypeError, "argument 'joints_to_lock': 'str' object cannot be converted to 'Sequence[int]'"),
        ([1.0], q, TypeError, None),
        ([1], list(q), TypeError, "argument 'q_reference': 'list' object cannot be converted to 'PyArray<T, D>'"),
    ]:
        with pytest.raises(exc) as info:
            ld.buildReducedModel(arm, lock, ref)
        assert message is None or str(info.value) == message
    assert ld.buildReducedModel.__text_signature__ == "(model, joints_to_lock, q_reference)"
    assert ld.appendModel.__text_signature__ == "(model, other, frame_id, placement, prefix='')"
    reduced = ld.buildReducedModel(model=arm, joints_to_lock=np.array([7, 2]), q_reference=q)
    assert reduced.names == ["universe", "j1", "j3", "j4", "j5", "j6"]


# ------------------------------------------------------------------- appendModel

GRIPPER = """<robot name="gripper">
  <link name="palm">
    <inertial><origin xyz="0.01 0 0.03" rpy="0.1 0 0.2"/><mass value="0.6"/>
      <inertia ixx="0.001" ixy="0.0001" ixz="0" iyy="0.0012" iyz="0" izz="0.0008"/></inertial>
  </link>
  <link name="finger_left">
    <inertial><origin xyz="0 0.01 0.02" rpy="0 0.3 0"/><mass value="0.1"/>
      <inertia ixx="0.0001" ixy="0" ixz="0" iyy="0.00012" iyz="0" izz="0.00005"/></inertial>
  </link>
  <link name="finger_right">
    <inertial><origin xyz="0 -0.01 0.02"/><mass value="0.12"/>
      <inertia ixx="0.0001" ixy="0" ixz="0.00001" iyy="0.0001" iyz="0" izz="0.00006"/></inertial>
  </link>
  <link name="camera"/>
  <joint name="left" type="prismatic">
    <parent link="palm"/><child link="finger_left"/><origin xyz="0 0.02 0.06" rpy="0 0 0.1"/>
    <axis xyz="0 1 0"/><limit lower="0" upper="0.04" effort="10" velocity="0.1"/>
  </joint>
  <joint name="right" type="revolute">
    <parent link="palm"/><child link="finger_right"/><origin xyz="0 -0.02 0.06"/>
    <axis xyz="1 0 0"/><limit lower="-0.5" upper="0.7" effort="10" velocity="1"/>
  </joint>
  <joint name="camera_mount" type="fixed">
    <parent link="palm"/><child link="camera"/><origin xyz="0.03 0 0.02" rpy="0 -0.5 0"/>
  </joint>
</robot>"""
ATTACH_XYZ, ATTACH_RPY = (0.01, -0.02, 0.05), (0.3, -0.2, 0.5)


@pytest.fixture
def arm7_text():
    path = MODELS / "arm7.urdf"
    if not path.exists():
        pytest.skip(f"{path} not available")
    return path.read_text()


def test_appended_gripper_is_the_combined_urdf(arm7_text):
    """arm7 + gripper by appendModel equals one URDF of both joined by a fixed joint."""
    inner = GRIPPER[GRIPPER.index(">") + 1:GRIPPER.rindex("</robot>")]
    attach = (f'<joint name="attach" type="fixed"><parent link="tool0"/><child link="palm"/>'
              f'<origin xyz="{" ".join(map(str, ATTACH_XYZ))}" rpy="{" ".join(map(str, ATTACH_RPY))}"/></joint>')
    combined = ld.parse_urdf_from_string(arm7_text.replace("</robot>", inner + attach + "</robot>"))
    arm, gripper = ld.parse_urdf_from_string(arm7_text), ld.parse_urdf_from_string(GRIPPER)
    r, p, y = ATTACH_RPY
    placement = se3(rot((0, 0, 1), y) @ rot((0, 1, 0), p) @ rot((1, 0, 0), r), ATTACH_XYZ)
    appended = ld.appendModel(arm, gripper, arm.getFrameId("tool0"), placement)

    assert (appended.name, appended.nq, appended.nv) == (arm.name, combined.nq, combined.nv)
    assert appended.names == [n for n in combined.names if n != "attach"]
    np.testing.assert_array_equal(appended.lowerPositionLimit, combined.lowerPositionLimit)
    np.testing.assert_array_equal(appended.upperPositionLimit, combined.upperPositionLimit)
    names = [e.get("name") for text in (arm7_text, GRIPPER) for e in ET.fromstring(text) if e.tag in ("link", "joint")]
    rng = np.random.default_rng(3)
    da, dc = appended.createData(), combined.createData()
    for _ in range(3):
        q, v = random_q(combined, rng), rng.uniform(-1, 1, combined.nv)
        np.testing.assert_allclose(full_mass_matrix(appended, da, q), full_mass_matrix(combined, dc, q), atol=1e-12)
        np.testing.assert_allclose(ld.non_linear_effects(appended, da, q, v),
                                   ld.non_linear_effects(combined, dc, q, v), atol=1e-12)
        np.testing.assert_allclose(placements(appended, q, names), placements(combined, q, names), atol=1e-12)


def test_append_empty_model_names_and_checks(arm7_text):
    arm = ld.parse_urdf_from_string(arm7_text)
    I = ld.SE3.identity()
    assert record(ld.appendModel(arm, ld.Model(), arm.getFrameId("tool0"), se3(t=(1, 2, 3)))) == record(arm)
    with pytest.raises(ValueError) as info:
        ld.appendModel(arm, arm, 3, I)
    assert str(info.value) == "appendModel: joint name 'joint1' is already in the model"
    twice = ld.appendModel(arm, arm, 3, I, prefix="b/")
    assert twice.names == arm.names + ["b/" + n for n in arm.names[1:]] and twice.nq == 2 * arm.nq
    assert twice.nframes == 2 * arm.nframes - 1 and twice.getFrameId("b/tool0") == 2 * arm.nframes - 2
    for call, exc, message in [
        (lambda: ld.appendModel(arm, arm, arm.nframes, I, "b/"), ValueError,
         f"Frame ID {arm.nframes} out of range (max: {arm.nframes - 1})"),
        (lambda: ld.appendModel(arm, I, 0, I), TypeError,
         "argument 'other': 'SE3' object cannot be converted to 'Model'"),
        (lambda: ld.appendModel(arm, arm, 0, np.eye(4)), TypeError,
         "argument 'placement': 'ndarray' object cannot be converted to 'SE3'"),
        (lambda: ld.appendModel(arm, arm, 0, I, 1), TypeError,
         "argument 'prefix': 'int' object cannot be converted to 'PyString'"),
    ]:
        with pytest.raises(exc) as info:
            call()
        assert str(info.value) == message
