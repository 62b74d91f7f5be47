"""RigidConstraint, JointCoupling, ConstraintSet and the constrained dynamics: arguments, pickling,
batch rows, and each function's equations against a dense solve built from crba, non_linear_effects
and the set's jacobian and drift."""
import copy
import pickle
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
import lumo_dynamic.batch as lb

REPO = Path(__file__).resolve().parents[2]
LOCAL, ALIGNED, WORLD = ld.ReferenceFrame.LOCAL, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED, ld.ReferenceFrame.WORLD
ROBOTS = {name: ld.parse_urdf_file(str(REPO / "models" / f"{name}.urdf")) for name in ("arm7", "humanoid", "all_joints")}


def rigid(m, kind, frame, frame2=None, **options):
    return ld.RigidConstraint(m, kind, m.getFrameId(frame), frame2=frame2 and m.getFrameId(frame2), **options)


def coupling(m, joint, leader, *args):
    return ld.JointCoupling(m, m.get_joint_id(joint), m.get_joint_id(leader), *args)


# Point and frame constraints in both axes, held to the world and to another body, and couplings.
CASES = {
    "arm7/point+coupling": ("arm7", lambda m: [rigid(m, "point", "tool0"), coupling(m, "joint3", "joint1", 0.5, 0.1)]),
    "arm7/frame-local": ("arm7", lambda m: [rigid(m, "frame", "tool0", reference_frame=LOCAL)]),
    "arm7/point-loop": ("arm7", lambda m: [rigid(m, "point", "tool0", "link2", reference_frame=LOCAL)]),
    "humanoid/feet+coupling": ("humanoid", lambda m: [
        rigid(m, "frame", "left_sole"), rigid(m, "frame", "right_sole", reference_frame=LOCAL),
        coupling(m, "left_elbow_joint", "right_elbow_joint", -1.0)]),
    "humanoid/hands-loop": ("humanoid", lambda m: [rigid(m, "point", "left_hand", "right_hand", reference_frame=LOCAL)]),
    "all_joints/mixed": ("all_joints", lambda m: [
        rigid(m, "point", "puck"), rigid(m, "frame", "ball", "drone", reference_frame=LOCAL),
        coupling(m, "lift", "shoulder", 2.0)]),
}


def case(name, regularisation=0.0):
    model_name, build = CASES[name]
    m = ROBOTS[model_name]
    return m, ld.ConstraintSet(m, build(m), regularisation=regularisation)


def state(m, seed=0):
    rng = np.random.default_rng(seed)
    return ld.integrate(m, ld.neutral(m), rng.uniform(-1, 1, m.nv)), rng.uniform(-1, 1, m.nv), rng.uniform(-5, 5, m.nv)


def dense(m, d, s, q, v):
    """M (symmetrised from its upper triangle), nle, J and gamma at (q, v)."""
    M = np.triu(ld.crba(m, d, q))
    return M + np.triu(M, 1).T, ld.non_linear_effects(m, d, q, v), s.jacobian(m, d, q), s.drift(m, d, q, v)


def kkt(M, J, top, bottom):
    """The solution (x, y) of M x - J^T y = top, J x = bottom."""
    n, k = M.shape[0], J.shape[0]
    x = np.linalg.solve(np.block([[M, -J.T], [J, np.zeros((k, k))]]), np.r_[top, bottom])
    return x[:n], x[n:]


def close(got, want, rtol=1e-8):
    np.testing.assert_allclose(got, want, rtol=0, atol=rtol * max(1.0, np.abs(want).max(initial=0)))


# ------------------------------------------------------------------ the objects

def test_objects_properties_and_repr():
    m = ROBOTS["arm7"]
    c = ld.RigidConstraint(m, "frame", 17, frame2=5, reference_frame=LOCAL, corrector=(4, 1.5))
    assert (c.kind, c.frame_id, c.frame2, c.corrector, c.size) == ("frame", 17, 5, (4.0, 1.5), 6)
    assert c.reference_frame is LOCAL and np.array_equal(c.reference.homogeneous, np.eye(4))
    assert repr(c) == ("RigidConstraint(kind='frame', frame_id=17, frame2=5, reference_frame=ReferenceFrame.LOCAL, "
                       "corrector=(4.0, 1.5))")
    p = ld.RigidConstraint(m, "point", 3)
    assert (p.frame2, p.reference_frame, p.corrector, p.size) == (None, ALIGNED, (0.0, 0.0), 3)
    j = ld.JointCoupling(m, 3, 1, ratio=-2)
    assert (j.joint_id, j.leader_id, j.ratio, j.offset, j.size) == (3, 1, -2.0, 0.0, 1)
    assert repr(j) == "JointCoupling(joint_id=3, leader_id=1, ratio=-2.0, offset=0.0)"
    s = ld.ConstraintSet(m, (c, j, p), regularisation=1e-9)  # any sequence
    assert (len(s), s.size, s.regularisation) == (3, 10, 1e-9)
    assert repr(s) == "ConstraintSet(len=3, size=10, regularisation=1e-09)"
    assert [repr(x) for x in s.constraints] == [repr(c), repr(j), repr(p)]
    assert len(ld.ConstraintSet(m, [])) == 0


def test_set_is_immutable_and_holds_copies():
    m = ROBOTS["arm7"]
    d, (q, _, _) = m.createData(), state(m)
    c = ld.RigidConstraint(m, "point", 17)
    s = ld.ConstraintSet(m, [c])
    c.set_reference(m, d, q)  # changes c, not the copy in s
    assert not np.array_equal(c.reference.homogeneous, np.eye(4))
    s.constraints[0].set_reference(m, d, q)  # nor a copy handed out
    assert np.array_equal(s.constraints[0].reference.homogeneous, np.eye(4))
    for obj, name in [(s, "size"), (s, "constraints"), (c, "frame_id"), (c, "reference")]:
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)
    s.__init__(ld.Model(), [])  # __init__ again changes nothing
    c.__init__(m, "frame", 3)
    assert (len(s), s.size, c.kind, c.frame_id) == (1, 3, "point", 17)


def conv(name, type_name, target):
    return f"argument '{name}': '{type_name}' object cannot be converted to '{target}'"


def chain(*kinds):
    m = ld.Model()
    for k, kind in enumerate(kinds):
        m.add_joint(k, kind, np.array([0.0, 0, 1]), ld.SE3.identity(), f"j{k + 1}")
    return m


ARM = ROBOTS["arm7"]
SET = ld.ConstraintSet(ARM, [ld.RigidConstraint(ARM, "point", 17), ld.JointCoupling(ARM, 3, 1)])
Z7, Z4 = np.zeros(7), np.zeros((4, 7))
# Models of the same sizes whose joint 4 is revolute in one and fixed (no velocity coordinate) in the other
A, B = chain("revolute", "revolute", "fixed", "revolute"), chain("revolute", "revolute", "revolute", "fixed")
COUPLED_4 = ld.ConstraintSet(A, [ld.JointCoupling(A, 4, 1)])
BAD = [  # (call, exception, exact message)
    (lambda: ld.RigidConstraint(ARM, "line", 1), ValueError, 'Unknown constraint kind: line (expected "point" or "frame")'),
    (lambda: ld.RigidConstraint(ARM, "point", 18), ValueError, "Frame ID 18 out of range (max: 17)"),
    (lambda: ld.RigidConstraint(ARM, "point", 3, frame2=3), ValueError, "frame2 must differ from frame_id (both 3)"),
    (lambda: ld.RigidConstraint(ARM, "point", 3, reference_frame=WORLD), ValueError,
     "reference_frame must be LOCAL or LOCAL_WORLD_ALIGNED"),
    (lambda: ld.RigidConstraint(ARM, "point", 3, corrector=(-1, 0)), ValueError,
     "corrector gains must be finite and non-negative, got (-1, 0)"),
    (lambda: ld.RigidConstraint(ARM, "point", 3, corrector=(1,)), ValueError, "corrector must be (kp, kd), got 1 values"),
    (lambda: ld.RigidConstraint(ARM, "point", 3, corrector="ab"), TypeError, conv("corrector", "str", "tuple[float, float]")),
    (lambda: ld.RigidConstraint(ARM, 0, 3), TypeError, conv("kind", "int", "PyString")),
    (lambda: ld.RigidConstraint(ARM, "point", 3, LOCAL), TypeError,
     "RigidConstraint() takes 3 positional arguments but 4 were given"),
    (lambda: ld.JointCoupling(ARM, 8, 1), ValueError, "Joint 8 (flange) is fixed: a coupling joins revolute and prismatic joints"),
    (lambda: ld.JointCoupling(ARM, 9, 1), ValueError, "Joint ID 9 out of range (max: 8)"),
    (lambda: ld.JointCoupling(ARM, 2, 2), ValueError, "A joint cannot follow itself (joint 2)"),
    (lambda: ld.JointCoupling(ARM, 2, 1, np.nan), ValueError, "ratio and offset must be finite, got (nan, 0)"),
    (lambda: ld.JointCoupling(ARM, 2, 1, offset=True), TypeError, conv("offset", "bool", "float")),
    (lambda: ld.ConstraintSet(ARM, [SET.constraints[0], 3]), TypeError,
     "argument 'constraints': item 1 is a 'int' object, not a RigidConstraint or JointCoupling"),
    (lambda: ld.ConstraintSet(ARM, SET), TypeError, conv("constraints", "ConstraintSet", "Sequence[RigidConstraint | JointCoupling]")),
    (lambda: ld.ConstraintSet(ARM, [], regularisation=-1), ValueError, "regularisation must be finite and non-negative, got -1"),
    # a constraint made for a larger model
    (lambda: ld.ConstraintSet(ld.Model(), SET.constraints[:1]), ValueError, "Frame ID 17 out of range (max: 0)"),
    # the functions: the set's type right after data, then its model, then the sizes, then data
    (lambda: ld.constrainedDynamics(ARM, ARM.createData(), [SET], Z7, Z7, Z7), TypeError, conv("constraints", "list", "ConstraintSet")),
    (lambda: ld.constrainedDynamics(ROBOTS["humanoid"], ARM.createData(), SET, Z7, Z7, Z7), ValueError,
     "ConstraintSet was made for another model (njoints 9, nq 7, nv 7, nframes 18), not this one "
     "(njoints 39, nq 38, nv 37, nframes 78)"),
    (lambda: ld.constrainedDynamics(B, B.createData(), COUPLED_4, Z7[:3], Z7[:3], Z7[:3]), ValueError,
     "ConstraintSet was made for another model: Joint 4 (j4) is fixed: a coupling joins revolute and prismatic joints"),
    (lambda: lb.impulseDynamics(B, COUPLED_4, np.zeros((4, 3)), np.zeros((4, 3))), ValueError,
     "ConstraintSet was made for another model: Joint 4 (j4) is fixed: a coupling joins revolute and prismatic joints"),
    (lambda: ld.constrainedDynamics(ARM, ARM.createData(), SET, Z7, Z7, Z7[:6]), ValueError, "tau length 6 != nv 7"),
    (lambda: ld.impulseDynamics(ARM, ARM.createData(), SET, Z7, Z7, 1.5), ValueError, "restitution must be in [0, 1], got 1.5"),
    (lambda: ld.impulseDynamics(ARM, ARM.createData(), SET, Z7, Z7, restitution="0"), TypeError,
     conv("restitution", "str", "float")),
    (lambda: ld.computeImpulseDynamicsDerivatives(ARM, ld.Data(ld.Model()), SET, Z7, Z7), ValueError,
     "Data was created for a model with njoints 1, nq 0, nv 0, but this model has njoints 9, nq 7, nv 7"),
    (lambda: SET.jacobian(ARM, ARM.createData(), Z7[:3]), ValueError, "q length 3 != nq 7"),
    (lambda: SET.drift(ld.Model(), ld.Data(ld.Model()), Z7, Z7), ValueError, "ConstraintSet was made for another model "
     "(njoints 9, nq 7, nv 7, nframes 18), not this one (njoints 1, nq 0, nv 0, nframes 1)"),
    (lambda: SET.constraints[0].set_reference(ld.Model(), ld.Data(ld.Model()), np.zeros(0)), ValueError,
     "Frame ID 17 out of range (max: 0)"),
    (lambda: lb.constrainedDynamics(ARM, None, Z4, Z4, Z4), TypeError, conv("constraints", "NoneType", "ConstraintSet")),
    (lambda: lb.impulseDynamics(ld.Model(), SET, Z4[:, :0], Z4[:, :0]), ValueError, "ConstraintSet was made for another model "
     "(njoints 9, nq 7, nv 7, nframes 18), not this one (njoints 1, nq 0, nv 0, nframes 1)"),
    (lambda: lb.computeConstrainedDynamicsDerivatives(ARM, SET, Z4, Z4, Z4[:3]), ValueError,
     "q, v and tau must have the same number of rows (4, 4, 3)"),
    (lambda: lb.impulseDynamics(ARM, SET, Z4, Z4, -0.5), ValueError, "restitution must be in [0, 1], got -0.5"),
]


@pytest.mark.parametrize("call, exc, message", BAD, ids=[f"{k}-{b[2][:40]}" for k, b in enumerate(BAD)])
def test_bad_arguments(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert str(info.value) == message


COPIES = [lambda x, p=p: pickle.loads(pickle.dumps(x, protocol=p)) for p in range(pickle.HIGHEST_PROTOCOL + 1)]
COPIES += [copy.copy, copy.deepcopy]
try:
    import cloudpickle
    COPIES.append(lambda x: cloudpickle.loads(cloudpickle.dumps(x)))
except ImportError:  # a test extra
    pass


def test_pickle_round_trip_and_bad_states():
    m = ROBOTS["humanoid"]
    d, (q, v, tau) = m.createData(), state(m)
    c = rigid(m, "frame", "left_hand", "right_hand", reference_frame=LOCAL, corrector=(2.0, 0.5))
    c.set_reference(m, d, q)
    s = ld.ConstraintSet(m, [c, coupling(m, "left_elbow_joint", "right_elbow_joint", 0.3, -0.2)], regularisation=1e-7)
    for clone in COPIES:
        for obj in (c, s, *s.constraints):
            twin = clone(obj)
            assert type(twin) is type(obj) and repr(twin) == repr(obj)
        twin = clone(s)
        assert twin.constraints[0].reference.homogeneous.tobytes() == c.reference.homogeneous.tobytes()
        assert twin.regularisation == 1e-7
    twin = pickle.loads(pickle.dumps(s))
    got = ld.constrainedDynamics(m, d, twin, q, v, tau)
    want = ld.constrainedDynamics(m, d, s, q, v, tau)
    assert [x.tobytes() for x in got] == [x.tobytes() for x in want]


def test_bad_states_raise_value_errors():
    m = ROBOTS["arm7"]
    rf, kinds = ld.ReferenceFrame.LOCAL, (ld.RigidConstraint, ld.JointCoupling, ld.ConstraintSet)
    good = [cls.__reduce__(x)[1][0] for cls, x in zip(kinds, (SET.constraints[0], SET.constraints[1], SET))]
    record = good[2][0]
    bad = [
        (0, ("point", 3, 3, rf, 0.0, 0.0, ld.SE3.identity()), "frame2 must differ from frame_id (both 3)"),
        (0, ("line", 3, None, rf, 0.0, 0.0, ld.SE3.identity()), 'Unknown constraint kind: line (expected "point" or "frame")'),
        (0, ("point", 3, None, WORLD, 0.0, 0.0, ld.SE3.identity()), "reference_frame must be LOCAL or LOCAL_WORLD_ALIGNED"),
        (0, ("point", 3, None, rf, np.inf, 0.0, ld.SE3.identity()), "corrector gains must be finite and non-negative, got (inf, 0)"),
        (0, ("point", -3, None, rf, 0.0, 0.0, ld.SE3.identity()), "Bad RigidConstraint state: "),
        (0, ("point", 3, None, rf, 0.0, 0.0, None), "Bad RigidConstraint state: "),
        (0, good[0][:6], "Bad RigidConstraint state: expected a tuple of 7 items"),
        (1, (2, 2, 1.0, 0.0), "A joint cannot follow itself (joint 2)"),
        (1, (2, 1, "1", 0.0), "Bad JointCoupling state: "),
        (2, (record[:-1],) + good[2][1:], "Corrupted model record: truncated"),
        (2, ("text",) + good[2][1:], "Bad ConstraintSet state: "),
        (2, (record, [1], 0.0), "Bad ConstraintSet state: "),
        (2, (record, good[2][1], -1.0), "regularisation must be finite and non-negative, got -1"),
        (2, (ld.Model().__reduce__()[2],) + good[2][1:], "Frame ID 17 out of range (max: 0)"),
    ]
    for k, state_, message in bad:
        with pytest.raises(ValueError) as info:
            kinds[k]._from_state(state_)
        assert str(info.value).startswith(message), (k, state_)


# ------------------------------------------------------------------ the equations

@pytest.mark.parametrize("name", CASES)
def test_dynamics_and_impulses_solve_their_equations(name):
    m, s = case(name)
    d = m.createData()
    q, v, tau = state(m, 1)
    M, nle, J, gamma = dense(m, d, s, q, v)
    assert J.shape == (s.size, m.nv) and np.linalg.matrix_rank(J) == s.size  # independent rows
    ddq, forces = ld.constrainedDynamics(m, d, s, q, v, tau)
    want = kkt(M, J, tau - nle, -gamma)
    close(ddq, want[0])
    close(forces, want[1])
    # external forces: their generalized torques from inverseDynamics
    fext = np.random.default_rng(2).uniform(-3, 3, (m.njoints, 6))
    torques = ld.rnea(m, d, q, v, ddq) - ld.inverseDynamics(m, d, q, v, ddq, fext)
    got = ld.constrainedDynamics(m, d, s, q, v, tau, fext)
    for x, w in zip(got, kkt(M, J, tau - nle + torques, -gamma)):
        close(x, w)
    for e in (0.0, 0.6):
        v_after, impulses = ld.impulseDynamics(m, d, s, q, v, restitution=e)
        want = kkt(M, J, M @ v, -e * J @ v)
        close(v_after, want[0])
        close(impulses, want[1])
    # regularised: the same solution for independent rows
    _, sr = case(name, regularisation=1e-6)
    close(ld.constrainedDynamics(m, d, sr, q, v, tau)[0], ddq, 1e-6)


@pytest.mark.parametrize("model_name, frame", [("arm7", "tool0"), ("humanoid", "left_hand")])
def test_corrector_targets(model_name, frame):
    """Without a reference, a point held to the world is pulled to the origin: target = −kd·J·v − kp·p.
    With the reference recorded at q, the placement error there is zero: target = −kd·J·v."""
    m = ROBOTS[model_name]
    d, (q, v, tau) = m.createData(), state(m, 3)
    kp, kd, fid = 4.0, 1.5, m.getFrameId(frame)
    point = ld.RigidConstraint(m, "point", fid, corrector=(kp, kd))
    held = ld.RigidConstraint(m, "frame", fid, reference_frame=LOCAL, corrector=(kp, kd))
    held.set_reference(m, d, q)
    ld.forwardKinematics(m, d, q)
    p = ld.getFramePlacement(m, d, fid).homogeneous[:3, 3]
    for c, error in [(point, p), (held, np.zeros(6))]:
        s = ld.ConstraintSet(m, [c])
        ddq, _ = ld.constrainedDynamics(m, d, s, q, v, tau)
        J, gamma = s.jacobian(m, d, q), s.drift(m, d, q, v)
        close(J @ ddq + gamma, -kd * J @ v - kp * error)


def central(f, x, n, step, h=1e-5):
    """For each output of f, the matrix whose column k is (f(x ⊕ h·e_k) − f(x ⊕ −h·e_k)) / 2h."""
    columns = [[(a - b) / (2 * h) for a, b in zip(f(step(x, h * e)), f(step(x, -h * e)))] for e in np.eye(n)]
    return [np.stack(c, axis=-1) for c in zip(*columns)]


@pytest.mark.parametrize("name", ["arm7/point+coupling", "humanoid/feet+coupling", "all_joints/mixed"])
def test_derivatives_match_central_differences(name):
    m, s = case(name)
    d = m.createData()
    q, v, tau = state(m, 4)
    n, along = m.nv, lambda x, dx: ld.integrate(m, x, dx)
    got = ld.computeConstrainedDynamicsDerivatives(m, d, s, q, v, tau)
    want = (central(lambda x: ld.constrainedDynamics(m, d, s, x, v, tau), q, n, along)
            + central(lambda x: ld.constrainedDynamics(m, d, s, q, x, tau), v, n, np.add)
            + central(lambda x: ld.constrainedDynamics(m, d, s, q, v, x), tau, n, np.add))
    order = [0, 2, 4, 1, 3, 5]  # (ddq, forces) by q, v, tau -> ddq by q, v, tau, forces by q, v, tau
    for g, k in zip(got, order):
        close(g, want[k], 1e-6)
    got = ld.computeImpulseDynamicsDerivatives(m, d, s, q, v, 0.4)
    want = (central(lambda x: ld.impulseDynamics(m, d, s, x, v, 0.4), q, n, along)
            + central(lambda x: ld.impulseDynamics(m, d, s, q, x, 0.4), v, n, np.add))
    for g, k in zip(got, [0, 2, 1, 3]):
        close(g, want[k], 1e-6)


def test_batch_rows_equal_single_calls_and_nan_rows():
    m, s = case("humanoid/feet+coupling")
    d, N = m.createData(), 5
    rng = np.random.default_rng(5)
    q = np.array([ld.integrate(m, ld.neutral(m), rng.uniform(-1, 1, m.nv)) for _ in range(N)])
    v, tau = rng.uniform(-1, 1, (N, m.nv)), rng.uniform(-5, 5, (N, m.nv))
    q[0, 0] = np.nan  # NaN in, NaN out
    fext = rng.uniform(-1, 1, (N, m.njoints, 6))
    calls = [
        (lb.constrainedDynamics, (q, v, tau), lambda i: ld.constrainedDynamics(m, d, s, q[i], v[i], tau[i])),
        (lb.constrainedDynamics, (q, v, tau, fext), lambda i: ld.constrainedDynamics(m, d, s, q[i], v[i], tau[i], fext[i])),
        (lb.impulseDynamics, (q, v, 0.5), lambda i: ld.impulseDynamics(m, d, s, q[i], v[i], 0.5)),
        (lb.computeConstrainedDynamicsDerivatives, (q, v, tau),
         lambda i: ld.computeConstrainedDynamicsDerivatives(m, d, s, q[i], v[i], tau[i])),
        (lb.computeImpulseDynamicsDerivatives, (q, v), lambda i: ld.computeImpulseDynamicsDerivatives(m, d, s, q[i], v[i])),
    ]
    for fn, args, single in calls:
        rows = [fn(m, s, *args, threads=t) for t in (1, 3)]
        shapes = [r.shape for r in rows[0]]
        assert shapes[0][:2] == (N, m.nv) and shapes[-1] in ((N, s.size), (N, s.size, m.nv))
        for i in range(N):
            want = [w.tobytes() for w in single(i)]
            assert all([r[i].tobytes() for r in got] == want for got in rows), (fn.__name__, i)
        assert all(np.isnan(r[0]).any() and not np.isnan(r[1:]).any() for r in rows[0]), fn.__name__


MIMICS = """<robot name="mimics">
  <link name="base"/><link name="a"/><link name="b"/><link name="c"/><link name="d"/>
  <joint name="lead" type="revolute"><parent link="base"/><child link="a"/><axis xyz="0 0 1"/></joint>
  <joint name="twin" type="revolute"><parent link="a"/><child link="b"/><axis xyz="0 1 0"/>
    <mimic joint="lead" multiplier="-2" offset="0.25"/></joint>
  <joint name="slide" type="prismatic"><parent link="b"/><child link="c"/><mimic joint="twin"/></joint>
  <joint name="wheel" type="continuous"><parent link="c"/><child link="d"/><mimic joint="lead"/></joint>
</robot>"""


def test_couplings_from_urdf_text_and_file(tmp_path):
    with pytest.warns(ld.UrdfWarning, match="wheel"):
        m = ld.parse_urdf_from_string(MIMICS)
    path = tmp_path / "mimics.urdf"
    path.write_text(MIMICS)
    for source in ("\n  " + MIMICS, str(path)):
        with pytest.warns(ld.UrdfWarning, match=r"^URDF mimics that are not couplings of the model \(1\):\n  .*wheel"):
            found = ld.couplingsFromUrdf(m, source)
        assert [repr(c) for c in found] == ["JointCoupling(joint_id=2, leader_id=1, ratio=-2.0, offset=0.25)",
                                            "JointCoupling(joint_id=3, leader_id=2, ratio=1.0, offset=0.0)"]
    assert len(ld.ConstraintSet(m, found)) == 2
    with pytest.raises(RuntimeError, match="^Failed to parse URDF: "):
        ld.couplingsFromUrdf(m, str(tmp_path / "missing.urdf"))


def test_quadruped_contacts_carry_the_weight_and_accelerate_the_centre_of_mass():
    """Newton on the whole robot at rest: the contact forces plus the weight are the rate of the
    linear momentum, A·ddq (A the linear rows of the centroidal map); with ddq = 0, they sum to m·g."""
    m = ld.parse_urdf_file(str(REPO / "models" / "quadruped.urdf"))
    d = ld.Data(m)
    s = ld.ConstraintSet(m, [ld.RigidConstraint(m, "point", m.getFrameId(f"{leg}_foot")) for leg in ("FL", "FR", "HL", "HR")])
    rng = np.random.default_rng(4)
    for _ in range(3):
        q = ld.integrate(m, ld.neutral(m), np.r_[np.zeros(6), rng.uniform(-0.5, 0.5, m.nv - 6)])
        tau = np.r_[np.zeros(6), rng.uniform(-20, 20, m.nv - 6)]
        ddq, forces = ld.constrainedDynamics(m, d, s, q, np.zeros(m.nv), tau)
        A = ld.computeCentroidalMap(m, d, q)[:3]
        mass = abs(np.linalg.det(A[:, :3])) ** (1 / 3)
        close(forces.reshape(4, 3).sum(axis=0) + mass * np.asarray(m.gravity), A @ ddq, rtol=1e-10)
    # at rest under the torques that hold it: the vertical forces sum to m·g
    J = s.jacobian(m, d, q)
    G = ld.compute_gravity(m, d, q)
    x = np.linalg.lstsq(np.c_[np.r_[np.zeros((6, m.nv - 6)), np.eye(m.nv - 6)], J.T], G, rcond=None)[0]
    ddq, forces = ld.constrainedDynamics(m, d, s, q, np.zeros(m.nv), np.r_[np.zeros(6), x[: m.nv - 6]])
    close(ddq, np.zeros(m.nv), rtol=1e-9)
    assert forces[2::3].sum() == pytest.approx(mass * 9.81, rel=1e-10)
