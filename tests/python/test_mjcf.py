"""parse_mjcf_file, parse_mjcf_from_string and couplingsFromMjcf, against MuJoCo itself.

MuJoCo's qpos and qvel map to ours joint by joint: free joints hold xyz then the quaternion
(w, x, y, z), ours xyz then (x, y, z, w); ball joints (w, x, y, z), ours (x, y, z, w). A free
joint's velocity is the linear velocity of the body in the world frame then the angular velocity
in the body frame; ours is [v; ω], both in the body frame. With T the block-diagonal map
v_mujoco = T v_ours, our M is Tᵀ M_mujoco T and our nle is Tᵀ (bias_mujoco + M_mujoco Ṫ v).
"""
import re
import warnings
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld

mujoco = pytest.importorskip("mujoco")

REPO = Path(__file__).resolve().parents[2]
ROBOTS = REPO.parent / "shared" / "robots"
RTOL = 1e-9

# Every kind of joint, every orientation form, defaults with nested classes, class and
# childclass, frames, several joints in one body, ref, fromto geoms and no <inertial>.
FEATURES = """<mujoco model="features">
  <compiler angle="degree" eulerseq="zyX"/>
  <option gravity="0 0.5 -9.81" timestep="0.002"/>
  <default>
    <joint axis="0 1 0" damping="0.1"/>
    <geom type="capsule" size="0.05" density="800"/>
    <default class="slider"><joint type="slide" axis="1 0 0" range="-0.5 0.5"/>
      <default class="boxy"><geom type="box" size="0.1 0.05 0.02"/></default></default>
  </default>
  <worldbody>
    <site name="origin" pos="0 0 0.1"/>
    <body name="base" pos="0 0 1" euler="10 20 30">
      <freejoint name="root"/>
      <geom type="sphere" size="0.2"/>
      <geom class="boxy" pos="0.1 0 0" quat="0.9 0.1 0.2 0.3"/>
      <body name="upper" pos="0.2 0.1 0" xyaxes="0 1 0 -1 0 0.2">
        <joint name="hip_x" axis="1 0 0" pos="0 0 0.05" ref="15"/>
        <joint name="hip_y" range="-30 60" pos="0.01 0 0"/>
        <geom fromto="0 0 0 0 0 -0.4"/>
        <site name="knee_site" pos="0 0 -0.4" zaxis="1 1 0"/>
        <body name="lower" pos="0 0 -0.4" axisangle="1 1 0 25">
          <joint name="knee" ref="-20"/>
          <geom fromto="0 0 0 0.05 0 -0.3" size="0.04" mass="0.7"/>
          <geom type="cylinder" fromto="0 0 -0.3 0.1 0 -0.3" size="0.03"/>
          <geom type="ellipsoid" size="0.1 0.05 0.03" group="4"/>
          <body name="foot" pos="0 0 -0.35" childclass="slider">
            <joint name="slide" ref="0.1"/>
            <geom class="boxy"/>
            <frame pos="0.1 0 0" euler="0 0 90">
              <site pos="0.01 0 0"/>
              <body pos="0.05 0 0">
                <joint type="ball" class="main" pos="0.01 0.02 0"/>
                <inertial pos="0.01 0.02 0.03" mass="0.3" fullinertia="0.02 0.025 0.03 0.001 -0.002 0.003"/>
              </body>
            </frame>
          </body>
        </body>
      </body>
      <body name="tail" pos="-0.3 0 0"><geom type="box" size="0.1 0.05 0.03" fromto="0 0 0 0 0.2 0.1"/></body>
    </body>
  </worldbody>
  <equality><joint joint1="hip_x" joint2="knee" polycoef="0.1 -0.5 0 0 0"/></equality>
  <actuator><motor joint="knee"/><motor joint="hip_y"/></actuator>
  <sensor><jointpos joint="knee"/></sensor>
</mujoco>"""


@pytest.fixture(autouse=True)
def in_tmp_path(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # MuJoCo writes MUJOCO_LOG.TXT into the working directory on warnings


def quiet(load, *args):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ld.MjcfWarning)
        return load(*args)


def geom_inertia_available():
    sphere = quiet(ld.parse_mjcf_from_string, '<mujoco><worldbody><body><joint/><geom size="1" pos="1 0 0"/>'
                   '</body></worldbody></mujoco>')
    return ld.crba(sphere, sphere.createData(), np.zeros(1))[0, 0] > 0


needs_geom_inertia = pytest.mark.skipif(not geom_inertia_available(),
                                        reason="geom mass properties are not in this build")


def random_state(mj, rng):
    qpos = mj.qpos0.copy()
    for j in range(mj.njnt):
        a, kind = mj.jnt_qposadr[j], mj.jnt_type[j]
        if kind == mujoco.mjtJoint.mjJNT_FREE:
            qpos[a:a + 3] = rng.normal(size=3)
            a += 3
        if kind == mujoco.mjtJoint.mjJNT_FREE or kind == mujoco.mjtJoint.mjJNT_BALL:
            qpos[a:a + 4] = rng.normal(size=4)
            qpos[a:a + 4] /= np.linalg.norm(qpos[a:a + 4])
        else:
            qpos[a] += rng.uniform(-1, 1)
    return qpos, rng.normal(size=mj.nv)


def ours_of(mj, qpos, qvel):
    """Our (q, v), T with qvel = T v, and Ṫ v."""
    q, T, dT_v = [], np.eye(mj.nv), np.zeros(mj.nv)
    for j in range(mj.njnt):
        a, b, kind = mj.jnt_qposadr[j], mj.jnt_dofadr[j], mj.jnt_type[j]
        if kind == mujoco.mjtJoint.mjJNT_FREE:
            R = np.zeros(9)
            mujoco.mju_quat2Mat(R, qpos[a + 3:a + 7])
            T[b:b + 3, b:b + 3] = R.reshape(3, 3)
            q += [*qpos[a:a + 3], *qpos[a + 4:a + 7], qpos[a + 3]]
        elif kind == mujoco.mjtJoint.mjJNT_BALL:
            q += [*qpos[a + 1:a + 4], qpos[a]]
        else:
            q.append(qpos[a])
    v = np.linalg.solve(T, qvel)
    for j in np.flatnonzero(mj.jnt_type == mujoco.mjtJoint.mjJNT_FREE):
        b = mj.jnt_dofadr[j]
        dT_v[b:b + 3] = T[b:b + 3, b:b + 3] @ np.cross(v[b + 3:b + 6], v[b:b + 3])  # Ṙ v_b = R (ω × v_b)
    return np.array(q), v, T, dT_v


def full(M):
    return np.triu(M) + np.triu(M, 1).T


def assert_same_dynamics(mj, model, states=3, seed=0):
    """M and nle of ours equal MuJoCo's (armature removed) at random states; body and site
    frames at MuJoCo's poses."""
    assert (model.nq, model.nv) == (mj.nq, mj.nv)
    rng, d, data = np.random.default_rng(seed), mujoco.MjData(mj), model.createData()
    names = [mujoco.mj_id2name(mj, kind, k) for kind, count in [(mujoco.mjtObj.mjOBJ_BODY, mj.nbody),
             (mujoco.mjtObj.mjOBJ_JOINT, mj.njnt), (mujoco.mjtObj.mjOBJ_SITE, mj.nsite)] for k in range(count)]
    for _ in range(states):
        d.qpos[:], d.qvel[:] = random_state(mj, rng)
        mujoco.mj_forward(mj, d)
        M = np.zeros((mj.nv, mj.nv))
        mujoco.mj_fullM(mj, d, M)
        M -= np.diag(mj.dof_armature)
        q, v, T, dT_v = ours_of(mj, d.qpos, d.qvel)
        expected_M, expected_b = T.T @ M @ T, T.T @ (d.qfrc_bias + M @ dT_v)
        np.testing.assert_allclose(full(ld.crba(model, data, q)), expected_M, rtol=0,
                                   atol=RTOL * max(1.0, np.abs(expected_M).max(initial=0)))
        np.testing.assert_allclose(ld.non_linear_effects(model, data, q, v), expected_b, rtol=0,
                                   atol=RTOL * max(1.0, np.abs(expected_b).max(initial=0)))
        ld.forwardKinematics(model, data, q)
        for kind, count, xpos, xmat in [(mujoco.mjtObj.mjOBJ_BODY, mj.nbody, d.xpos, d.xmat),
                                        (mujoco.mjtObj.mjOBJ_SITE, mj.nsite, d.site_xpos, d.site_xmat)]:
            for k in range(count):
                name = mujoco.mj_id2name(mj, kind, k) or f"{'body' if kind == mujoco.mjtObj.mjOBJ_BODY else 'site'}{k}"
                if names.count(name) > 1:
                    continue  # a joint, body or site of the same name comes first
                H = ld.getFramePlacement(model, data, model.getFrameId(name)).homogeneous
                np.testing.assert_allclose(H[:3, 3], xpos[k], atol=1e-12)
                np.testing.assert_allclose(H[:3, :3], xmat[k].reshape(3, 3), atol=1e-12)


def with_inertials(text):
    """Each named body given an <inertial>, so that no inertia comes from geoms."""
    return re.sub(r'(<body name="[^"]*"[^>]*[^/]>)', r'\1<inertial pos="0.01 0.02 0.03" euler="10 20 30" mass="1.5" '
                  r'diaginertia="0.02 0.03 0.04"/>', text)


def test_features_against_mujoco(tmp_path):
    assert ld.parse_mjcf_from_string.__text_signature__ == "(mjcf_string, directory=None)"
    with pytest.warns(ld.MjcfWarning) as record:
        model = ld.parse_mjcf_from_string(FEATURES)
    assert len(record) == 1 and str(record[0].message) == "\n  ".join([
        "MJCF import ignored 5 items:",
        "<option>: settings other than gravity ignored (not dynamics)",
        "<actuator>: 2 elements ignored (not dynamics)",
        "<sensor>: 1 element ignored (not dynamics)",
        "<geom>: contact and visual parameters of 8 geoms ignored (only their mass properties are used)",
        "<joint>: armature, damping, stiffness and frictionloss are not modelled (non-zero on 5 joints)"])
    assert model.name == "features" and np.allclose(model.gravity, [0, 0.5, -9.81])
    assert model.names == ["universe", "root", "hip_x", "hip_y", "knee", "slide", "joint5", "tail_weld"]
    np.testing.assert_allclose(model.lowerPositionLimit[[6, 7, 8, 9]], [-np.inf, -np.pi / 6, -np.inf, -0.5])
    np.testing.assert_allclose(model.upperPositionLimit[[6, 7, 8, 9]], [np.inf, np.pi / 3, np.inf, 0.5])

    # Poses, joints and explicit inertias, whatever the geoms weigh; then the same split into
    # included files, read from a file and from text with its directory. The second one, of the
    # older <mujocoinclude> root, adds a <worldbody> section whose bodies come first.
    text = with_inertials(FEATURES)
    assert_same_dynamics(mujoco.MjModel.from_xml_string(text), quiet(ld.parse_mjcf_from_string, text))
    (tmp_path / "parts").mkdir()
    (tmp_path / "parts" / "defaults.xml").write_text(
        "<mujoco>" + text[text.index("<default>"):text.index("<worldbody>")] + "</mujoco>")
    (tmp_path / "parts" / "scene.xml").write_text(
        '<mujocoinclude><worldbody><body name="door" pos="1 0 0" euler="0 0 30"><joint axis="0 1 1"/>'
        '<inertial pos="0.1 0 0" mass="2" diaginertia="0.1 0.2 0.3"/></body></worldbody></mujocoinclude>')
    main = (text[:text.index("<default>")] + '<include file="parts/defaults.xml"/><include file="parts/scene.xml"/>'
            + text[text.index("<worldbody>"):])
    (tmp_path / "main.xml").write_text(main)
    for model in [quiet(ld.parse_mjcf_file, str(tmp_path / "main.xml")),
                  quiet(ld.parse_mjcf_from_string, main, str(tmp_path))]:
        assert_same_dynamics(mujoco.MjModel.from_xml_path(str(tmp_path / "main.xml")), model)


@needs_geom_inertia
def test_inertia_from_geoms():
    # fromto capsules, cylinders and boxes, a geom mass, a group; inertiafromgeom="true" overrides
    # <inertial>; boundmass, boundinertia and settotalmass as MuJoCo applies them
    for compiler in ['<compiler angle="degree" eulerseq="zyX"/>',
                     '<compiler inertiafromgeom="true" angle="degree" eulerseq="zyX"/>',
                     '<compiler boundmass="0.5" boundinertia="0.004" angle="degree" eulerseq="zyX"/>',
                     '<compiler settotalmass="7" inertiagrouprange="0 3" angle="degree" eulerseq="zyX"/>']:
        text = re.sub("<compiler[^>]*/>", compiler, FEATURES)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # MuJoCo's own deprecation notes
            mj = mujoco.MjModel.from_xml_string(text)
        assert_same_dynamics(mj, quiet(ld.parse_mjcf_from_string, text))


def test_couplings_follow_the_reference_positions(tmp_path):
    model = quiet(ld.parse_mjcf_from_string, FEATURES)
    (tmp_path / "f.xml").write_text(FEATURES)
    for source in [FEATURES, str(tmp_path / "f.xml")]:
        (coupling,) = ld.couplingsFromMjcf(model, source)
        # hip_x − 15° = 0.1 − 0.5 (knee + 20°)
        assert (coupling.joint_id, coupling.leader_id, coupling.ratio) == (2, 4, -0.5)
        assert coupling.offset == pytest.approx(0.1 + np.radians(15) - 0.5 * np.radians(20), abs=1e-15)
    text = FEATURES.replace('polycoef="0.1 -0.5 0 0 0"/>', 'polycoef="0.1 -0.5 0.2 0 0"/><joint joint1="knee"/>'
                            '<joint joint1="root" joint2="knee"/><weld body1="tail"/>')
    with pytest.warns(ld.MjcfWarning) as record:
        assert ld.couplingsFromMjcf(model, text) == []
    assert str(record[0].message).splitlines()[1:] == [
        "  <equality><joint joint1='hip_x'> at line 42 is not a coupling: its polynomial is of degree above 1",
        "  <equality><joint joint1='knee'> at line 42 is not a coupling: without joint2 it holds the joint at a constant",
        "  <equality><joint joint1='root'> at line 42 is not a coupling: 'root' is not a hinge or slide joint"]


def test_errors_name_the_line(tmp_path):
    missing = str(tmp_path / "absent.xml")
    with pytest.raises(RuntimeError) as info:
        ld.parse_mjcf_file(missing)
    assert str(info.value) == f"Failed to parse MJCF: Failed to parse MJCF file: {missing}"
    assert str(info.value.__cause__) == f"cannot read file '{missing}': No such file or directory"
    for old, new, cause in [
            ('<joint name="knee" ref="-20"/>', '<joint name="knee" type="hinj"/>',
             "<joint name='knee'> at line 22: unknown joint type 'hinj'"),
            ('pos="0.2 0.1 0"', 'pos="0.2 0.1"', "<body name='upper'> at line 16: attribute 'pos': expected 3 numbers, found 2 in '0.2 0.1'"),
            ('euler="10 20 30"', 'euler="10 20 30" quat="1 0 0 0"',
             "<body name='base'> at line 12: both 'quat' and 'euler' give the orientation"),
            ('<geom class="boxy"/>', '<geom class="boxes"/>', "<geom> at line 28: unknown default class 'boxes'"),
            ('<freejoint name="root"/>', '<include file="more.xml"/>',
             "<include> at line 13: cannot include 'more.xml': the model was given as text without a directory"),
            ('</actuator>', '</actuator', "malformed XML at line 44, column 3: Error parsing end element tag")]:
        with pytest.raises(RuntimeError) as info:
            ld.parse_mjcf_from_string(FEATURES.replace(old, new))
        assert str(info.value) == "Failed to parse MJCF: Failed to parse MJCF from string"
        assert str(info.value.__cause__) == cause
    with pytest.raises(RuntimeError) as info:
        quiet(ld.parse_mjcf_from_string, FEATURES.replace('<joint name="knee" ref="-20"/>', '<freejoint name="knee"/>'))
    assert str(info.value) == ("Failed to parse MJCF: <joint name='knee'> at line 22: "
                               "a free joint must be in a body whose parent is the world body")
    with pytest.raises(TypeError):
        ld.parse_mjcf_from_string(FEATURES, 3)


def write_box_stl(path, half, centre):
    """A binary STL of the box of half-sizes `half` centred at `centre`, faces outward."""
    corners = np.array([[x, y, z] for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]) * half + centre
    faces = [(0, 1, 3), (0, 3, 2), (4, 6, 7), (4, 7, 5), (0, 4, 5), (0, 5, 1),
             (2, 3, 7), (2, 7, 6), (0, 2, 6), (0, 6, 4), (1, 5, 7), (1, 7, 3)]
    record = np.dtype([("normal", "<f4", 3), ("corners", "<f4", (3, 3)), ("attribute", "<u2")])
    triangles = np.zeros(len(faces), record)
    triangles["corners"] = corners[np.array(faces)]
    path.write_bytes(b"\0" * 80 + np.uint32(len(faces)).tobytes() + triangles.tobytes())


def test_meshes(tmp_path):
    (tmp_path / "meshes").mkdir()
    write_box_stl(tmp_path / "meshes" / "box.stl", np.array([0.125, 0.0625, 0.25]), np.array([0.0625, 0, 0]))
    text = """<mujoco><compiler meshdir="meshes"/>
      <asset><mesh file="box.stl" scale="1 2 1"/>{extra_asset}</asset>
      <worldbody><body><joint axis="1 1 0"/><geom type="mesh" mesh="box" pos="0 0 1" euler="0 30 0"/>
        {extra_geoms}</body></worldbody></mujoco>"""
    good = text.format(extra_asset="", extra_geoms="")
    (tmp_path / "good.xml").write_text(good)
    with warnings.catch_warnings(record=True) as record:
        warnings.simplefilter("always", ld.MjcfWarning)
        model = ld.parse_mjcf_file(str(tmp_path / "good.xml"))
    if any("cannot be read" in str(w.message) for w in record):
        pytest.skip("mesh files are not read in this build")
    assert_same_dynamics(mujoco.MjModel.from_xml_path(str(tmp_path / "good.xml")), model)

    # A mesh that cannot be read and a primitive fitted to a mesh add no mass, with a note each.
    bad = text.format(extra_asset='<mesh name="gone" file="absent.stl"/>',
                      extra_geoms='<geom type="mesh" mesh="gone"/><geom mesh="box" pos="1 0 0"/>')
    with pytest.warns(ld.MjcfWarning) as record:
        same = ld.parse_mjcf_from_string(bad, str(tmp_path))
    lines = str(record[0].message).splitlines()
    assert lines[-2].startswith("  mesh 'gone' at line 2 cannot be read (") and lines[-2].endswith(
        "); its geoms add no mass")
    assert lines[-1] == "  <geom> at line 4: a primitive fitted to mesh 'box' is not supported; it adds no mass"
    q = np.array([0.3])
    np.testing.assert_allclose(ld.crba(same, same.createData(), q), ld.crba(model, model.createData(), q), rtol=1e-15)


# ------------------------------------------------------------------ third-party models

def gymnasium_models():
    try:
        import gymnasium
    except ImportError:
        return []
    return sorted((Path(gymnasium.__file__).parent / "envs" / "mujoco" / "assets").glob("*.xml"))


def dm_control_models():
    try:
        import dm_control
    except ImportError:
        return []
    return sorted((Path(dm_control.__file__).parent / "suite").glob("*.xml"))


@needs_geom_inertia
@pytest.mark.parametrize("path", gymnasium_models() + dm_control_models(), ids=lambda p: f"{p.parent.name}/{p.name}")
def test_third_party_models(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # MuJoCo's deprecation notes
        mj = mujoco.MjModel.from_xml_path(str(path))
    with warnings.catch_warnings(record=True) as record:
        warnings.simplefilter("always", ld.MjcfWarning)
        model = ld.parse_mjcf_file(str(path))
    if any("cannot be read" in str(w.message) for w in record):
        pytest.skip("its mesh files are not read in this build")
    assert_same_dynamics(mj, model)


def mjcf_of_urdf(urdf, tmp_path):
    """The URDF text used and MuJoCo's MJCF of it: meshes and collision shapes dropped, no link
    merged, and no <inertial> of mass 0 (its tensor, which our URDF import drops, MuJoCo keeps)."""
    text = re.sub(r"<(visual|collision)\b.*?</\1>|<(visual|collision)\b[^>]*/>", "", urdf.read_text().rstrip("\0"),
                  flags=re.S)
    text = re.sub(r"<inertial>(?:(?!</inertial>).)*<mass value=\"0(\.0*)?\"/>.*?</inertial>", "", text, flags=re.S)
    urdf_text = text
    compiler = '<compiler discardvisual="true" fusestatic="false"/>'
    if "<mujoco" in text:
        text = re.sub(r"(<mujoco\b[^>]*>)", r"\1" + compiler, re.sub(r"<compiler\b[^>]*/>", "", text), count=1)
    else:
        text = re.sub(r"(<robot\b[^>]*>)", r"\1<mujoco>" + compiler + "</mujoco>", text, count=1)
    (tmp_path / "robot.urdf").write_text(text)
    try:
        mj = mujoco.MjModel.from_xml_path(str(tmp_path / "robot.urdf"))
    except ValueError as e:
        pytest.skip(f"MuJoCo does not load it: {e}")
    mujoco.mj_saveLastXML(str(tmp_path / "robot.xml"), mj)
    return urdf_text, tmp_path / "robot.xml"


URDF_NQ = {"revolute": 1, "prismatic": 1, "continuous": 1, "spherical": 3, "floating": 6, "planar": 3}


@pytest.mark.skipif(not ROBOTS.is_dir(), reason="../shared/robots not present")
@pytest.mark.parametrize("urdf", sorted(ROBOTS.glob("*.urdf")) + sorted(ROBOTS.glob("quirks/*.urdf")),
                         ids=lambda p: p.name)
def test_mujoco_mjcf_of_each_urdf(urdf, tmp_path):
    """MuJoCo's MJCF of a URDF: our import equals MuJoCo, and our URDF import up to the
    precision of the saved file."""
    text, xml = mjcf_of_urdf(urdf, tmp_path)
    mj, model = mujoco.MjModel.from_xml_path(str(xml)), quiet(ld.parse_mjcf_file, str(xml))
    assert_same_dynamics(mj, model)

    # Our URDF import in MuJoCo's order: each joint's velocity block found by name;
    # continuous joints hold (cos θ, sin θ).
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ld.UrdfWarning)
        robot = ld.parse_urdf_from_string(text)
    kinds = {j.get("name"): j.get("type") for j in ET.fromstring(text).findall("joint")}
    start, v_at = 0, {}
    for name in robot.names[1:]:
        n = URDF_NQ.get(kinds[name], 0)
        v_at[name], start = slice(start, start + n), start + n
    rng, data, robot_data = np.random.default_rng(1), model.createData(), robot.createData()
    qpos, qvel = random_state(mj, rng)
    q, v, _, _ = ours_of(mj, qpos, qvel)
    order = np.concatenate([np.arange(robot.nv)[v_at[mujoco.mj_id2name(mj, mujoco.mjtObj.mjOBJ_JOINT, j)]]
                            for j in range(mj.njnt)]).astype(int)
    q_robot, v_robot = [], np.zeros(robot.nv)
    v_robot[order] = v
    for name in robot.names[1:]:
        block = v_at[name]
        j = mujoco.mj_name2id(mj, mujoco.mjtObj.mjOBJ_JOINT, name)
        if j < 0:
            continue
        a = mj.jnt_qposadr[j]
        if kinds[name] == "continuous":
            q_robot += [np.cos(qpos[a]), np.sin(qpos[a])]
        elif kinds[name] == "spherical":
            q_robot += [*qpos[a + 1:a + 4], qpos[a]]
        elif block.stop > block.start:
            q_robot.append(qpos[a])
    M = full(ld.crba(model, data, q))
    M_robot = full(ld.crba(robot, robot_data, np.array(q_robot)))[np.ix_(order, order)]
    np.testing.assert_allclose(M, M_robot, rtol=0, atol=1e-5 * np.abs(M).max())
    b, b_robot = ld.non_linear_effects(model, data, q, v), ld.non_linear_effects(robot, robot_data, np.array(q_robot), v_robot)
    np.testing.assert_allclose(b, b_robot[order], rtol=0, atol=1e-5 * np.abs(b).max())
