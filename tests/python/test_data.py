import os
import subprocess
import sys

import numpy as np
import pytest

import lumo_dynamic as ld


def is_identity(M):
    return np.array_equal(M.homogeneous, np.eye(4))


def test_fresh_data(arm, floating):
    for model in (ld.Model(), arm, floating):
        for data in (ld.Data(model), model.createData()):
            nv = model.nv
            assert repr(data) == f"Data(njoints={model.njoints}, nq={model.nq}, nv={nv})"
            for value, shape in ((data.M, (nv, nv)), (data.C, (nv, nv)), (data.g, (nv,))):
                assert value.shape == shape and not value.any()
            assert type(data.oMi) is list and len(data.oMi) == model.njoints
            assert all(type(M) is ld.SE3 and is_identity(M) for M in data.oMi)
            assert is_identity(data.get_joint_placement(0))


def test_placements_are_consistent_copies(arm):
    data = arm.createData()
    ld.forwardKinematics(arm, data, np.linspace(-1, 1, 7))
    for i, M in enumerate(data.oMi):
        H = data.get_joint_placement(i).homogeneous
        np.testing.assert_array_equal(H, M.homogeneous)
        np.testing.assert_array_equal(data.get_joint_translation(i), H[:3, 3])
    kept, listed = data.get_joint_placement(7), data.oMi
    ld.forwardKinematics(arm, data, np.zeros(7))
    assert np.array_equal(kept.homogeneous, listed[7].homogeneous)
    assert not np.allclose(kept.homogeneous, data.get_joint_placement(7).homogeneous)
    with pytest.raises(IndexError) as info:
        data.get_joint_placement(arm.njoints)
    assert str(info.value) == "Joint ID 8 out of range (max: 7)"


def test_reset_and_independence(floating):
    a, b = floating.createData(), ld.Data(floating)
    ld.forwardKinematics(floating, a, np.array([1, 2, 3, 0, 0, 1, 1, 0.4]))
    assert all(is_identity(M) for M in b.oMi)
    snapshot = [M.homogeneous for M in a.oMi]
    ld.forwardKinematics(floating, b, np.array([3, 2, 1, 1, 0, 0, 1, -0.4]))
    assert b.reset() is None
    assert all(is_identity(M) for M in b.oMi)
    assert repr(b) == "Data(njoints=3, nq=8, nv=7)"
    assert b.M.shape == b.C.shape == (7, 7) and not b.M.any() and b.g.shape == (7,) and not b.g.any()
    assert all(np.array_equal(H, M.homogeneous) for H, M in zip(snapshot, a.oMi))


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="peak RSS is not comparable under ASan")
def test_data_holds_no_unread_nv_by_nv_buffers():
    """createData on a 1500-joint chain: M and C are the only nv x nv matrices (2 x 18 MB)."""
    script = ("import resource, numpy as np, lumo_dynamic as ld\n"
              "m = ld.Model()\n"
              "for i in range(1500): m.add_joint(i, 'revolute', np.array([0.0, 0, 1]), ld.SE3.identity(), 'j')\n"
              "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
              "d = m.createData()\n"
              "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)\n")
    grown = int(subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout)
    assert grown * 1024 < 2.5 * 8 * 1500**2


# Matrix results over chains whose sizes meet every edge of the tiled copies:
# the upper triangle of crba and data.M against M from rnea column by column,
# C·v = nle − g, the centroidal map against the momentum; prints a digest of
# every copied matrix.
COPIES = """
import hashlib, numpy as np, lumo_dynamic as ld
def chain(n):
    inertial = ('<inertial><origin xyz="0.1 0 0.05"/><mass value="1"/>'
                '<inertia ixx="0.01" ixy="0" ixz="0" iyy="0.02" iyz="0" izz="0.005"/></inertial>')
    links = "".join(f'<link name="l{k}">{inertial}</link>' for k in range(n))
    joints = "".join(f'<joint name="j{k}" type="revolute"><parent link="{f"l{k - 1}" if k else "base"}"/>'
                     f'<child link="l{k}"/><origin xyz="0 0 0.1"/><axis xyz="{("0 0 1", "0 1 0", "1 0 0")[k % 3]}"/>'
                     '<limit lower="-3" upper="3" effort="1" velocity="1"/></joint>' for k in range(n))
    return ld.parse_urdf_from_string(f'<robot name="c{n}"><link name="base"/>{links}{joints}</robot>')
digest, rng = hashlib.sha256(), np.random.default_rng(5)
for n in (1, 2, 3, 4, 5, 6, 7, 8, 9, 35):
    m = chain(n); d = m.createData(); q, v = rng.uniform(-2, 2, (2, n))
    g = ld.compute_gravity(m, d, q)
    M = np.column_stack([ld.rnea(m, d, q, np.zeros(n), e) for e in np.eye(n)]) - g[:, None]
    upper = ld.crba(m, d, q)
    assert np.allclose(upper, np.triu(M)) and not np.tril(upper, -1).any(), n
    assert np.allclose(d.M, M) and np.array_equal(d.M, d.M.T), n
    ld.computeCoriolisMatrix(m, d, q, v)
    assert np.allclose(d.C @ v, ld.non_linear_effects(m, d, q, v) - g), n
    A = ld.computeCentroidalMap(m, d, q)
    assert np.allclose(A @ v, ld.computeCentroidalMomentum(m, d, q, v)), n
    for x in (upper, d.M, d.C, A, ld.jacobianCenterOfMass(m, d, q)):
        digest.update(x.tobytes())
print(digest.hexdigest())
"""


def test_matrix_copies_every_entry_on_both_kernel_paths():
    """The tiled copies of the CPU's wide vectors and the baseline ones (LUMO_BASELINE=1): same bits."""
    runs = [subprocess.run([sys.executable, "-c", COPIES], env={**os.environ, "LUMO_BASELINE": flag},
                           capture_output=True, text=True, check=True).stdout for flag in ("0", "1")]
    assert runs[0] == runs[1] and len(runs[0].strip()) == 64
