"""parse_urdf_file and parse_urdf_from_string: models, frames, limits, errors."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import rot

REPO = Path(__file__).resolve().parents[2]
MODELS = REPO / "models"
ROBOTS = REPO.parent / "shared" / "robots"

TWO_LINK = """<?xml version="1.0"?>
<robot name="two_link">
  <link name="base"/>
  <link name="upper">
    <inertial><origin xyz="0.5 0 0"/><mass value="2"/>
      <inertia ixx="0.01" ixy="0" ixz="0" iyy="0.2" iyz="0" izz="0.2"/></inertial>
  </link>
  <link name="tool"/>
  <joint name="shoulder" type="revolute">
    <parent link="base"/><child link="upper"/>
    <origin xyz="0 0 0.3" rpy="0 0 1.5707963267948966"/>
    <axis xyz="0 1 0"/>
    <limit lower="-1.25" upper="2.5" effort="10" velocity="1"/>
  </joint>
  <joint name="tcp" type="fixed">
    <parent link="upper"/><child link="tool"/><origin xyz="1 0 0"/>
  </joint>
</robot>
"""


def test_signatures_and_registration():
    assert ld.parse_urdf_file.__text_signature__ == "(filename)"
    assert ld.parse_urdf_from_string.__text_signature__ == "(urdf_string)"
    assert ld.__all__[-3:] == ["parse_urdf_file", "parse_urdf_from_string", "__version__"]


def test_model_from_string():
    model = ld.parse_urdf_from_string(TWO_LINK)
    assert isinstance(model, ld.Model)
    assert model.name == "two_link"
    assert (model.njoints, model.nq, model.nv, model.nframes) == (3, 1, 1, 6)
    assert model.names == ["universe", "shoulder", "tcp"]
    assert [model.getFrameId(n) for n in ["universe", "base", "shoulder", "upper", "tcp", "tool"]] == list(range(6))
    assert model.getFrameId("missing") is None
    np.testing.assert_array_equal(model.lowerPositionLimit, [-1.25])
    np.testing.assert_array_equal(model.upperPositionLimit, [2.5])

    # The tool sits 1 m along the upper link's x, which the shoulder turns
    # about y after the placement's quarter turn about z.
    data = model.createData()
    q = np.array([0.6])
    ld.forwardKinematics(model, data, q)
    expected = np.array([0, 0, 0.3]) + rot((0, 0, 1), np.pi / 2) @ rot((0, 1, 0), 0.6) @ np.array([1.0, 0, 0])
    np.testing.assert_allclose(data.get_joint_translation(2), expected, atol=1e-12)


def test_keywords_and_argument_types():
    assert ld.parse_urdf_from_string(urdf_string=TWO_LINK).njoints == 3
    assert ld.parse_urdf_file(filename=str(MODELS / "arm7.urdf")).nq == 7
    with pytest.raises(TypeError, match=r"argument 'urdf_string': 'bytes' object cannot be converted to 'PyString'"):
        ld.parse_urdf_from_string(TWO_LINK.encode())
    with pytest.raises(TypeError, match=r"argument 'filename': 'PosixPath' object cannot be converted to 'PyString'"):
        ld.parse_urdf_file(MODELS / "arm7.urdf")
    with pytest.raises(TypeError, match="unexpected keyword argument 'text'"):
        ld.parse_urdf_from_string(text=TWO_LINK)
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'filename'"):
        ld.parse_urdf_file()


def test_missing_file_and_causes(tmp_path):
    missing = str(tmp_path / "absent.urdf")
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_file(missing)
    assert str(info.value) == f"Failed to parse URDF: Failed to parse URDF file: {missing}"
    cause = info.value.__cause__
    assert type(cause) is RuntimeError
    assert str(cause) == f"cannot read file '{missing}': No such file or directory"

    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_file(str(tmp_path))
    assert str(info.value) == f"Failed to parse URDF: Failed to parse URDF file: {tmp_path}"
    assert "Is a directory" in str(info.value.__cause__)

    (tmp_path / "empty.urdf").write_bytes(b"")
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_file(str(tmp_path / "empty.urdf"))
    assert str(info.value.__cause__) == "the text is empty"


@pytest.mark.parametrize("text, cause", [
    (TWO_LINK.replace('"revolute"', '"Revolute"'), "joint 'shoulder' at line 9: unknown joint type 'Revolute'"),
    (TWO_LINK.replace('xyz="1 0 0"', 'xyz="1 0"'), "expected 3 numbers, found 2 in '1 0'"),
    (TWO_LINK.replace("</robot>", ""), "malformed XML at line 18, column 1"),
    ("", "the text is empty"),
], ids=["joint type", "vector size", "unclosed", "empty"])
def test_reading_failures(text, cause):
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_from_string(text)
    assert str(info.value) == "Failed to parse URDF: Failed to parse URDF from string"
    assert type(info.value.__cause__) is RuntimeError
    assert cause in str(info.value.__cause__)


def test_build_failures_have_no_cause():
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_from_string('<robot name="r"></robot>')
    assert str(info.value) == "Failed to parse URDF: No root link found in URDF"
    assert info.value.__cause__ is None
    cycle = TWO_LINK.replace("</robot>", '<joint name="back" type="fixed"><parent link="tool"/>'
                                         '<child link="upper"/></joint></robot>')
    with pytest.raises(RuntimeError, match="^Failed to parse URDF: Cycle in the link graph: "
                                           "'upper' -> 'tool' -> 'upper'$"):
        ld.parse_urdf_from_string(cycle)


def test_sample_models():
    arm = ld.parse_urdf_file(str(MODELS / "arm7.urdf"))
    assert (arm.njoints, arm.nq, arm.nv, arm.nframes) == (9, 7, 7, 18)
    assert arm.get_joint_id("flange") == 8 and arm.getFrameId("tool0") == 17
    assert np.all(arm.lowerPositionLimit < arm.upperPositionLimit)

    humanoid = ld.parse_urdf_file(str(MODELS / "humanoid.urdf"))
    assert (humanoid.nq, humanoid.nv) == (38, 37)
    assert humanoid.names[1] == "root_joint"
    q = ld.neutral(humanoid)
    np.testing.assert_array_equal(q[:7], [0, 0, 0, 0, 0, 0, 1])  # floating base at rest

    every = ld.parse_urdf_file(str(MODELS / "all_joints.urdf"))
    assert (every.njoints, every.nq, every.nv, every.nframes) == (8, 19, 15, 16)


def test_demo_loads_the_arm():
    import runpy
    demo = runpy.run_path(str(REPO / "examples" / "demo.py"))
    assert demo["build_arm"]().name == "arm7"


@pytest.mark.skipif(not ROBOTS.is_dir(), reason="../shared/robots not present")
def test_real_robots():
    panda = ld.parse_urdf_file(str(ROBOTS / "panda.urdf"))
    assert (panda.njoints, panda.nq, panda.nv, panda.nframes) == (13, 9, 9, 26)
    assert panda.upperPositionLimit[5] == 3.8223
    fetch = ld.parse_urdf_file(str(ROBOTS / "fetch.urdf"))
    assert (fetch.nq, fetch.nv) == (20, 15)
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_file(str(ROBOTS / "quirks" / "husky.urdf"))
    assert "unparsable number '$(optenv'" in str(info.value.__cause__)
    text = (ROBOTS / "quirks" / "deepmimic_humanoid.urdf").read_bytes().decode()
    assert text.endswith("\0")
    assert ld.parse_urdf_from_string(text).nq == 36
