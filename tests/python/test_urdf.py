"""parse_urdf_file and parse_urdf_from_string: models, frames, limits, errors."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import rot

REPO = Path(__file__).resolve().parents[2]
ROBOTS = REPO.parent / "shared" / "robots"
TWO_LINK = """<robot name="two_link">
  <link name="base"/>
  <link name="upper"><inertial><origin xyz="0.5 0 0"/><mass value="2"/>
    <inertia ixx="0.01" ixy="0" ixz="0" iyy="0.2" iyz="0" izz="0.2"/></inertial></link>
  <link name="tool"/>
  <joint name="shoulder" type="revolute"><parent link="base"/><child link="upper"/>
    <origin xyz="0 0 0.3" rpy="0 0 1.5707963267948966"/><axis xyz="0 1 0"/>
    <limit lower="-1.25" upper="2.5" effort="10" velocity="1"/></joint>
  <joint name="tcp" type="fixed"><parent link="upper"/><child link="tool"/><origin xyz="1 0 0"/></joint>
</robot>"""


def test_model_from_string_and_file():
    assert ld.parse_urdf_from_string.__text_signature__ == "(urdf_string)"
    assert ld.parse_urdf_file.__text_signature__ == "(filename)"
    model = ld.parse_urdf_from_string(urdf_string=TWO_LINK)
    assert (model.name, model.njoints, model.nq, model.nv, model.nframes) == ("two_link", 3, 1, 1, 6)
    assert model.names == ["universe", "shoulder", "tcp"]
    assert [model.getFrameId(n) for n in ["universe", "base", "shoulder", "upper", "tcp", "tool"]] == list(range(6))
    assert (model.lowerPositionLimit.tolist(), model.upperPositionLimit.tolist()) == ([-1.25], [2.5])
    data = model.createData()
    ld.forwardKinematics(model, data, np.array([0.6]))
    tool = np.array([0, 0, 0.3]) + rot((0, 0, 1), np.pi / 2) @ rot((0, 1, 0), 0.6) @ [1.0, 0, 0]
    np.testing.assert_allclose(data.get_joint_translation(2), tool, atol=1e-12)
    humanoid = ld.parse_urdf_file(filename=str(REPO / "models" / "humanoid.urdf"))
    assert (humanoid.nq, humanoid.nv, humanoid.names[1]) == (38, 37, "root_joint")


def test_errors_and_causes(tmp_path):
    missing = str(tmp_path / "absent.urdf")
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_file(missing)
    assert str(info.value) == f"Failed to parse URDF: Failed to parse URDF file: {missing}"
    assert type(info.value.__cause__) is RuntimeError
    assert str(info.value.__cause__) == f"cannot read file '{missing}': No such file or directory"
    with pytest.raises(RuntimeError, match="Failed to parse URDF file") as info:
        ld.parse_urdf_file(str(tmp_path))
    assert "Is a directory" in str(info.value.__cause__)

    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_from_string(TWO_LINK.replace('"revolute"', '"Revolute"'))
    assert str(info.value) == "Failed to parse URDF: Failed to parse URDF from string"
    assert str(info.value.__cause__) == "joint 'shoulder' at line 6: unknown joint type 'Revolute'"

    for text, message in [('<robot name="r"/>', "No root link found in URDF"),
                          (TWO_LINK.replace("</robot>", '<joint name="back" type="fixed"><parent link="tool"/>'
                                                        '<child link="upper"/></joint></robot>'),
                           "Cycle in the link graph: 'upper' -> 'tool' -> 'upper'")]:
        with pytest.raises(RuntimeError) as info:
            ld.parse_urdf_from_string(text)
        assert str(info.value) == f"Failed to parse URDF: {message}" and info.value.__cause__ is None


@pytest.mark.skipif(not ROBOTS.is_dir(), reason="../shared/robots not present")
def test_real_robots():
    fetch = ld.parse_urdf_file(str(ROBOTS / "fetch.urdf"))
    assert (fetch.njoints, fetch.nq, fetch.nv, fetch.nframes) == (26, 20, 15, 52)
    text = (ROBOTS / "quirks" / "deepmimic_humanoid.urdf").read_text()
    assert text.endswith("\0") and ld.parse_urdf_from_string(text).nq == 36
