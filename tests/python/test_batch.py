"""lumo_dynamic.batch: every row bit for bit the single call, argument checks, the model guard."""
import re
import sys
import threading
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
import lumo_dynamic.batch as lb

REPO = Path(__file__).resolve().parents[2]
ROBOTS = REPO.parent / "shared" / "robots"
KINDS = ["revolute", "continuous", "prismatic", "planar", "floating", "spherical", "fixed"]


def random_urdf(seed, links=12, kinds=None):
    """A seeded random tree with every joint kind (or those of `kinds`, no floating base),
    random origins, axes and inertias."""
    rng = np.random.default_rng(seed)
    body = ('<link name="l{k}"><inertial><origin xyz="{c}" rpy="{r}"/><mass value="{m}"/>'
            '<inertia ixx="{i}" ixy="0.01" ixz="0" iyy="{i}" iyz="0" izz="{i}"/></inertial></link>')
    vec = lambda s=1.0: " ".join(f"{x:.6f}" for x in rng.uniform(-s, s, 3))
    parts = [body.format(k=0, c=vec(0.1), r=vec(), m=1.0, i=0.1)]
    for k in range(1, links):
        kind = KINDS[(k - 1 + seed) % len(KINDS)] if k > 1 or seed % 2 else "floating"
        if kinds:
            kind = kinds[(k - 1 + seed) % len(kinds)]
        parts.append(body.format(k=k, c=vec(0.1), r=vec(), m=rng.uniform(0.5, 2), i=rng.uniform(0.05, 0.2)))
        parts.append(f'<joint name="j{k}" type="{kind}"><parent link="l{rng.integers(k)}"/>'
                     f'<child link="l{k}"/><origin xyz="{vec(0.5)}" rpy="{vec()}"/>'
                     f'<axis xyz="{vec()}"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint>')
    return ld.parse_urdf_from_string(f'<robot name="tree{seed}">{"".join(parts)}</robot>')


def models():
    out = [(f"tree{s}", random_urdf(s)) for s in (1, 2, 3)]
    out += [(p.stem, ld.parse_urdf_file(str(p))) for p in sorted((REPO / "models").glob("*.urdf"))]
    out += [(p.stem, ld.parse_urdf_file(str(p))) for p in (ROBOTS / "panda.urdf", ROBOTS / "h1.urdf")
            if p.is_file()]
    return out


MODELS = models()


def states(model, n, seed=0):
    """n valid configurations (through integrate) with velocities and accelerations, row 0 NaN."""
    rng = np.random.default_rng(seed)
    q0 = ld.neutral(model)
    q = np.array([ld.integrate(model, q0, rng.uniform(-2, 2, model.nv)) for _ in range(n)]).reshape(n, model.nq)
    v = rng.uniform(-3, 3, (n, model.nv))
    a = rng.uniform(-3, 3, (n, model.nv))
    if n and model.nq:
        q[0, 0] = np.nan
    return q, v, a


def frame_parent(model, frame_id):
    return int(re.search(rf"^Frame {frame_id}: .*parent: (\d+)\)$", str(model), re.M).group(1))


def bits(x):
    return np.ascontiguousarray(x).tobytes()


@pytest.mark.parametrize("name, model", MODELS, ids=[n for n, _ in MODELS])
def test_rows_equal_single_calls_bit_for_bit(name, model):
    N = 9
    q, v, a = states(model, N)
    data = model.createData()
    frames = list(range(model.nframes))
    last = model.nframes - 1
    single = {  # name: (batch arguments, single call for row i)
        "rnea": ((q, v, a), lambda i: ld.rnea(model, data, q[i], v[i], a[i])),
        "non_linear_effects": ((q, v), lambda i: ld.non_linear_effects(model, data, q[i], v[i])),
        "compute_gravity": ((q,), lambda i: ld.compute_gravity(model, data, q[i])),
        "crba": ((q,), lambda i: (ld.crba(model, data, q[i]), data.M)[1]),
        "integrate": ((q, v), lambda i: ld.integrate(model, q[i], v[i])),
    }
    F = np.random.default_rng(1).uniform(-1, 1, (N, model.njoints, 6))
    single[("computeRNEADerivatives", "fext")] = ((q, v, a, F), lambda i: ld.computeRNEADerivatives(
        model, data, q[i], v[i], a[i], F[i]))
    for rf in (ld.ReferenceFrame.WORLD, ld.ReferenceFrame.LOCAL, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED):
        single[("computeFrameJacobian", rf)] = ((q, last, rf), lambda i, rf=rf: (
            ld.computeJointJacobians(model, data, q[i]), ld.getFrameJacobian(model, data, last, rf))[1])
    optional = {
        "aba": ((q, v, a), lambda i: ld.aba(model, data, q[i], v[i], a[i])),
        "computeMinverse": ((q,), lambda i: ld.computeMinverse(model, data, q[i])),
        "centerOfMass": ((q,), lambda i: ld.centerOfMass(model, data, q[i])),
        "jacobianCenterOfMass": ((q,), lambda i: ld.jacobianCenterOfMass(model, data, q[i])),
        "difference": ((q, q[::-1].copy()), lambda i: ld.difference(model, q[i], q[N - 1 - i])),
        "computeRNEADerivatives": ((q, v, a),
                                   lambda i: ld.computeRNEADerivatives(model, data, q[i], v[i], a[i])),
        "computeABADerivatives": ((q, v, a), lambda i: ld.computeABADerivatives(model, data, q[i], v[i], a[i])),
        "computeMechanicalEnergy": ((q, v), lambda i: ld.computeMechanicalEnergy(model, data, q[i], v[i])),
    }
    single.update({k: f for k, f in optional.items() if hasattr(ld, k)})  # as they land
    for key, (args, call) in single.items():
        fn = getattr(lb, key[0] if isinstance(key, tuple) else key)
        results = [fn(model, *args, threads=t) for t in (1, 2, 5, None)]
        # the same rows written into arrays given as out (over what they held), which come back
        first = results[0] if isinstance(results[0], tuple) else (results[0],)
        given = tuple(np.full_like(r, np.nan if r.dtype == np.float64 else 1) for r in first)
        given = given if len(given) > 1 else given[0]
        assert fn(model, *args, threads=2, out=given) is given
        results.append(given)
        for i in range(N):
            want = call(i)
            want = want if isinstance(want, tuple) else (want,)
            for got in results:
                got = got if isinstance(got, tuple) else (got,)
                assert [bits(g[i]) for g in got] == [bits(w) for w in want], (key, i)
    # Frame placements: the parent joint's placement composed with the frame's own.
    H = lb.framePlacements(model, q, frames, threads=2)
    assert H.shape == (N, model.nframes, 4, 4)
    exact = hasattr(ld, "getFramePlacement")
    for i in range(0 if exact else 1, N):  # oMi·I is oMi only without NaN (row 0)
        ld.forwardKinematics(model, data, q[i])
        for k in frames:
            want = (ld.getFramePlacement(model, data, k).homogeneous if exact
                    else data.oMi[frame_parent(model, k)].homogeneous)  # URDF frames: identity placement
            np.testing.assert_array_equal(H[i, k], want)


LOCK_STEP = [m for m in MODELS if m[0].startswith("tree") or m[0] in ("humanoid", "h1")]


@pytest.mark.parametrize("name, model", LOCK_STEP, ids=[n for n, _ in LOCK_STEP])
def test_rows_in_lock_step_equal_single_calls_bit_for_bit(name, model):
    """The functions computed several rows at a time (8 with AVX-512, 4 with AVX2): whole packs
    in each thread's chunk, the rows after them one by one, a pack with a NaN row one by one."""
    N = 29  # 3 packs of 8 (7 of 4) and the rest, in one chunk or two
    q, v, a = states(model, N)
    q[0, 0] = 0.0
    if model.nq:
        q[17, -1] = np.nan
    data = model.createData()
    frames = list(range(model.nframes))
    some = [model.nframes - 1, model.nframes // 2]  # the joints of two frames and their ancestors
    fext = np.random.default_rng(5).uniform(-2, 2, (N, model.njoints, 6))
    fext[23, -1, 0] = np.inf  # a pack (of 8 or 4) with a force that is not finite: row by row
    single = {
        "rnea": ((q, v, a), lambda i: ld.rnea(model, data, q[i], v[i], a[i])),
        "inverseDynamics": ((q, v, a), lambda i: ld.inverseDynamics(model, data, q[i], v[i], a[i])),
        "non_linear_effects": ((q, v), lambda i: ld.non_linear_effects(model, data, q[i], v[i])),
        "compute_gravity": ((q,), lambda i: ld.compute_gravity(model, data, q[i])),
        "crba": ((q,), lambda i: (ld.crba(model, data, q[i]), data.M)[1]),
        "aba": ((q, v, a), lambda i: ld.aba(model, data, q[i], v[i], a[i])),
        "forwardDynamics": ((q, v, a), lambda i: ld.forwardDynamics(model, data, q[i], v[i], a[i])),
        ("inverseDynamics", "fext"): ((q, v, a, fext),
                                      lambda i: ld.inverseDynamics(model, data, q[i], v[i], a[i], fext[i])),
        ("forwardDynamics", "fext"): ((q, v, a, fext),
                                      lambda i: ld.forwardDynamics(model, data, q[i], v[i], a[i], fext[i])),
        "computeRNEADerivatives": ((q, v, a),
                                   lambda i: ld.computeRNEADerivatives(model, data, q[i], v[i], a[i])),
        ("computeRNEADerivatives", "fext"): ((q, v, a, fext), lambda i: ld.computeRNEADerivatives(
            model, data, q[i], v[i], a[i], fext[i])),
        "framePlacements": ((q, frames), lambda i: (ld.forwardKinematics(model, data, q[i]),
                                                    [ld.getFramePlacement(model, data, k).homogeneous
                                                     for k in frames])[1]),
        ("framePlacements", "some"): ((q, some), lambda i: (ld.forwardKinematics(model, data, q[i]),
                                                            [ld.getFramePlacement(model, data, k).homogeneous
                                                             for k in some])[1]),
    }
    for rf in (ld.ReferenceFrame.WORLD, ld.ReferenceFrame.LOCAL, ld.ReferenceFrame.LOCAL_WORLD_ALIGNED):
        single[("computeFrameJacobian", rf)] = (
            (q, model.nframes - 1, rf),
            lambda i, rf=rf: (ld.computeJointJacobians(model, data, q[i]),
                              ld.getFrameJacobian(model, data, model.nframes - 1, rf))[1])
    for key, (args, call) in single.items():
        fn = key[0] if isinstance(key, tuple) else key
        want = [call(i) for i in range(N)]
        want = tuple(map(np.array, zip(*want))) if isinstance(want[0], tuple) else np.array(want)
        for threads in (1, 2):
            assert bits(getattr(lb, fn)(model, *args, threads=threads)) == bits(want), (key, threads)


def test_large_results_into_given_arrays_equal_new_ones():
    """Results given as out and larger than the caches (over 32 MB) are fetched ahead of their
    stores: the same rows, at one thread and two."""
    model = ld.parse_urdf_file(str(REPO / "models" / "humanoid.urdf"))
    q, v, a = states(model, 3100)
    for fn, args in ((lb.crba, (q,)), (lb.computeRNEADerivatives, (q[:1100], v[:1100], a[:1100]))):
        want = fn(model, *args, threads=1)
        want = want if isinstance(want, tuple) else (want,)
        assert sum(w.nbytes for w in want) > 32 << 20
        for threads in (1, 2):
            given = tuple(np.full_like(w, np.nan) for w in want)
            fn(model, *args, threads=threads, out=given if len(given) > 1 else given[0])
            assert bits(given) == bits(want), (fn.__name__, threads)


def test_workspaces_kept_between_batches_serve_other_trees():
    """A thread keeps its workspaces between batches and reuses them for any model of the same sizes:
    what one tree leaves untouched (the derivatives across its branches, zero) must not keep
    another tree's values."""
    a, b = (random_urdf(seed, links=8, kinds=["revolute"]) for seed in (3, 4))
    data = a.createData()
    mass_zero = [ld.crba(m, data, ld.neutral(m)) == 0 for m in (a, b)]
    assert (a.nq, a.nv) == (b.nq, b.nv) and (mass_zero[0] != mass_zero[1]).any()
    for model in (a, b, a):
        q, v, acc = states(model, 9)
        got = lb.computeRNEADerivatives(model, q, v, acc, threads=1)
        want = [ld.computeRNEADerivatives(model, data, q[i], v[i], acc[i]) for i in range(9)]
        for k in range(3):
            assert bits(got[k]) == bits(np.array([w[k] for w in want]))


@pytest.mark.parametrize("name, model", MODELS[:4], ids=[n for n, _ in MODELS[:4]])
def test_dynamics_rows_satisfy_their_identities(name, model):
    """The batch functions of forward dynamics, centre of mass and derivatives against the others."""
    q, v, tau = states(model, 6)
    q, v, tau = q[1:], v[1:], tau[1:]  # without the NaN row
    M, nle = lb.crba(model, q), lb.non_linear_effects(model, q, v)
    tol = 1e-9 * max(1.0, np.abs(M).max())
    ddq = lb.aba(model, q, v, tau)
    np.testing.assert_allclose(lb.rnea(model, q, v, ddq), tau, atol=1e-8 * max(1, np.abs(tau).max()))
    Minv = lb.computeMinverse(model, q)
    np.testing.assert_allclose(Minv @ M, np.broadcast_to(np.eye(model.nv), M.shape), atol=1e-7)
    dq, dv, da = lb.computeRNEADerivatives(model, q, v, ddq)
    np.testing.assert_allclose(da, M, atol=tol)
    aq, av, atau = lb.computeABADerivatives(model, q, v, tau)
    np.testing.assert_allclose(atau, Minv, atol=1e-8 * np.abs(Minv).max())
    np.testing.assert_allclose(aq, -Minv @ dq, atol=1e-7 * max(1, np.abs(aq).max()))
    np.testing.assert_allclose(av, -Minv @ dv, atol=1e-7 * max(1, np.abs(av).max()))
    u = 0.3 * v
    np.testing.assert_allclose(lb.difference(model, q, lb.integrate(model, q, u)), u, atol=1e-9)
    # Centre of mass: its Jacobian by central differences along integrate.
    h = 1e-6
    E = np.eye(model.nv)
    com = lambda d: lb.centerOfMass(model, lb.integrate(model, np.repeat(q[:1], model.nv, 0), d))
    Jc = lb.jacobianCenterOfMass(model, q[:1])[0]
    np.testing.assert_allclose(((com(h * E) - com(-h * E)) / (2 * h)).T, Jc, atol=1e-6)
    assert lb.centerOfMass(model, q).shape == (5, 3)
    d = model.createData()
    energies = [ld.computeKineticEnergy(model, d, x, y) + ld.computePotentialEnergy(model, d, x) for x, y in zip(q, v)]
    np.testing.assert_array_equal(lb.computeMechanicalEnergy(model, q, v), energies)


def test_empty_batches_and_shapes():
    model = MODELS[0][1]
    nq, nv = model.nq, model.nv
    q, v, a = (np.zeros((0, nq)), np.zeros((0, nv)), np.zeros((0, nv)))
    assert lb.rnea(model, q, v, a).shape == (0, nv)
    assert lb.crba(model, q).shape == (0, nv, nv)
    assert lb.integrate(model, q, v).shape == (0, nq)
    assert lb.computeFrameJacobian(model, q, 0, ld.ReferenceFrame.LOCAL).shape == (0, 6, nv)
    assert lb.framePlacements(model, q, [0, 1]).shape == (0, 2, 4, 4)
    assert lb.framePlacements(model, states(model, 3)[0], []).shape == (3, 0, 4, 4)
    empty = ld.Model()
    assert lb.rnea(empty, np.zeros((4, 0)), np.zeros((4, 0)), np.zeros((4, 0))).shape == (4, 0)
    assert lb.crba(empty, np.zeros((4, 0))).shape == (4, 0, 0)


def test_argument_errors(arm):
    q, v, a = np.zeros((4, 7)), np.zeros((4, 7)), np.zeros((4, 7))
    read_only = np.zeros((4, 7, 7))
    read_only.setflags(write=False)
    cases = [
        (lambda: lb.rnea("arm", q, v, a), TypeError, "argument 'model'"),
        (lambda: lb.rnea(arm, q.tolist(), v, a), TypeError, "argument 'q'"),
        (lambda: lb.rnea(arm, q, v[0], a), TypeError, "argument 'v'"),
        (lambda: lb.rnea(arm, q, v, a.astype(np.float32)), TypeError, "argument 'a'"),
        (lambda: lb.rnea(arm, np.asfortranarray(np.zeros((4, 7))), v, a), TypeError,
         "The given array is not contiguous"),
        (lambda: lb.rnea(arm, q, v, a[:, ::2]), TypeError, "The given array is not contiguous"),
        (lambda: lb.rnea(arm, q[:, :6].copy(), v, a), ValueError, "q must have shape (N, 7), got (4, 6)"),
        (lambda: lb.rnea(arm, q, v, np.zeros((4, 8))), ValueError, "a must have shape (N, 7), got (4, 8)"),
        (lambda: lb.rnea(arm, q, v, a[:3]), ValueError,
         "q, v and a must have the same number of rows (4, 4, 3)"),
        (lambda: lb.integrate(arm, q, v[:1]), ValueError, "q and v must have the same number of rows (4, 1)"),
        (lambda: lb.computeFrameJacobian(arm, q, 1, ld.ReferenceFrame.WORLD), ValueError,
         "Frame ID 1 out of range (max: 0)"),
        (lambda: lb.computeFrameJacobian(arm, q, -1, ld.ReferenceFrame.WORLD), OverflowError, ""),
        (lambda: lb.computeFrameJacobian(arm, q, 0, 0), TypeError, "argument 'reference_frame'"),
        (lambda: lb.framePlacements(arm, q, [0, 3]), ValueError, "Frame ID 3 out of range (max: 0)"),
        (lambda: lb.framePlacements(arm, q, 0), TypeError, "argument 'frame_ids'"),
        (lambda: lb.crba(arm, q, out=np.zeros((4, 7))), ValueError, "out must have shape (4, 7, 7), got (4, 7)"),
        (lambda: lb.crba(arm, q, out=np.zeros((4, 7, 7), np.float32)), TypeError, "argument 'out'"),
        (lambda: lb.crba(arm, q, out=np.zeros((4, 7, 14))[:, :, ::2]), TypeError, "not contiguous"),
        (lambda: lb.crba(arm, q, out=read_only), ValueError, "out is read-only"),
        (lambda: lb.rnea(arm, q, v, a, out=a), ValueError, "out must not share memory with the arguments"),
        (lambda: lb.computeRNEADerivatives(arm, q, v, a, out=(np.zeros((4, 7, 7)),) * 3), ValueError,
         "out[1] must not share memory"),
        (lambda: lb.computeRNEADerivatives(arm, q, v, a, out=np.zeros((4, 7, 7))), TypeError, "argument 'out'"),
        (lambda: lb.crba(arm, q, threads=0), ValueError, "threads must be at least 1, got 0"),
        (lambda: lb.crba(arm, q, threads=1.5), TypeError, "argument 'threads'"),
        (lambda: lb.crba(arm, q, 2), TypeError, "crba() takes 2 positional arguments but 3 were given"),
        (lambda: lb.crba(arm), TypeError, "crba() missing 1 required positional argument: 'q'"),
        (lambda: lb.crba(arm, q, threds=2), TypeError, "crba() got an unexpected keyword argument 'threds'"),
        (lambda: lb.crba(arm, q, model=arm), TypeError, "crba() got multiple values for argument 'model'"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind) as info:
            call()
        assert message in str(info.value)
    # Keywords and a text signature like the single calls'.
    assert lb.rnea(model=arm, q=q, v=v, a=a, threads=1).shape == (4, 7)
    import inspect
    assert str(inspect.signature(lb.rnea)) == "(model, q, v, a, *, threads=None, out=None)"
    assert lb.__name__ == "lumo_dynamic.batch" and ld.batch is lb



def test_former_batch_names_warn_and_agree(arm):
    q = states(arm, 3)[0]
    rf = ld.ReferenceFrame.LOCAL
    for old, new, args in [("forwardKinematics", "framePlacements", (q, [0])),
                           ("getFrameJacobian", "computeFrameJacobian", (q, 0, rf))]:
        with pytest.warns(DeprecationWarning, match=f"batch.{old} is deprecated .* use lumo_dynamic.batch.{new}$"):
            got = getattr(lb, old)(arm, *args)
        assert bits(got) == bits(getattr(lb, new)(arm, *args))
        assert old not in lb.__all__ and new in lb.__all__

def test_model_guard_during_a_batch():
    model = ld.parse_urdf_file(str(REPO / "models" / "humanoid.urdf"))
    before = pickle_state(model)
    N = 100000  # some 0.3 s of work on one thread
    q = lb.integrate(model, np.tile(ld.neutral(model), (N, 1)), np.random.default_rng(1).uniform(-1, 1, (N, model.nv)))
    v = np.zeros((N, model.nv))
    entered = threading.Event()

    def batch():
        entered.set()
        lb.rnea(model, q, v, v, threads=1)

    worker = threading.Thread(target=batch)
    I, z = ld.SE3.identity(), np.array([0.0, 0, 1])
    mutations = [
        lambda: model.add_joint(0, "revolute", z, I, "extra"),
        lambda: model.set_gravity(z),
        lambda: model.set_gravity_angular(z),
        lambda: model.set_gravity_full(np.zeros(6)),
        lambda: model.set_name("changed"),
        lambda: model.__setstate__(before),
        lambda: model.__init__(),
    ]
    # No clock: with a long switch interval no thread loses the interpreter
    # lock but by blocking. The worker keeps it from entered.set() until the
    # batch releases it, holding the model; this thread blocks nowhere below,
    # so the batch, which needs the lock back to finish, holds the model until
    # worker.join().
    switch = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        worker.start()
        entered.wait()
        gravity = model.gravity_full
        while True:  # until the batch holds the model (setting the same gravity changes nothing)
            try:
                model.set_gravity_full(gravity)
            except RuntimeError:
                break
            assert worker.is_alive()
        for mutate in mutations:
            with pytest.raises(RuntimeError, match="^Model is in use by a running batch computation$"):
                mutate()
        assert worker.is_alive()  # every refusal came while the batch ran
    finally:
        sys.setswitchinterval(switch)
    worker.join()
    assert pickle_state(model) == before
    model.set_name("free again")  # the guard is gone with the batch
    assert model.name == "free again"


def pickle_state(model):
    return model.__reduce__()[2]


def hold_until_in_use(model):
    """Returns once a batch running in another thread holds `model`."""
    gravity = model.gravity_full
    while True:  # setting the same gravity changes nothing
        try:
            model.set_gravity_full(gravity)
        except RuntimeError:
            return


def test_sequence_arguments_are_snapshots(arm):
    """An item whose __index__ empties the list must not leave the batch reading freed items."""
    ids = []

    class Shrinking:
        def __index__(self):
            ids.clear()
            return 0

    ids[:] = [Shrinking(), 0, 0]
    assert lb.framePlacements(arm, np.zeros((2, 7)), ids).shape == (2, 3, 4, 4)


def test_thread_counts_and_rows_without_inputs(arm):
    q = np.zeros((3, 7))
    np.testing.assert_array_equal(lb.crba(arm, q, threads=np.int64(2)), lb.crba(arm, q, threads=1))
    for flag in (True, np.True_):
        with pytest.raises(TypeError, match="^argument 'threads'"):
            lb.crba(arm, q, threads=flag)
    empty = ld.Model()  # rows of zero width are all the same row: computed once
    assert lb.rnea(empty, *(np.zeros((10**15, 0)),) * 3).shape == (10**15, 0)


def test_concurrent_batches_share_the_worker_pool():
    """Batches from several Python threads at once: one has the worker pool, the others start
    threads of their own; every result is still the one-thread result."""
    model = ld.parse_urdf_file(str(REPO / "models" / "humanoid.urdf"))
    q, v, a = states(model, 2000)
    want = bits(lb.rnea(model, q, v, a, threads=1))
    got = []
    workers = [threading.Thread(target=lambda: got.extend(bits(lb.rnea(model, q, v, a, threads=2))
                                                       for _ in range(20))) for _ in range(3)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert got == [want] * 60


def test_interrupt_stops_a_batch_without_result_and_threads_are_capped():
    """The handler of a signal sent during a batch runs while the batch holds the model (not after
    it), its exception is the call's, and the batch runs on no more threads than usable CPUs."""
    import os
    import signal
    model = ld.parse_urdf_file(str(REPO / "models" / "humanoid.urdf"))
    q = np.zeros((2_000_000, model.nq))  # seconds of work, stopped at the first poll
    seen = {}

    def handler(signum, frame):
        seen["threads"] = int(re.search(r"^Threads:\s+(\d+)$", Path("/proc/self/status").read_text(), re.M)[1])
        try:
            model.set_name("during")
        except RuntimeError:
            seen["during batch"] = True
        raise KeyboardInterrupt

    before = int(re.search(r"^Threads:\s+(\d+)$", Path("/proc/self/status").read_text(), re.M)[1])
    sender = threading.Thread(target=lambda: (hold_until_in_use(model), os.kill(os.getpid(), signal.SIGINT)))
    previous = signal.signal(signal.SIGINT, handler)
    try:
        sender.start()
        with pytest.raises(KeyboardInterrupt):
            lb.centerOfMass(model, q, threads=64)
    finally:
        signal.signal(signal.SIGINT, previous)
        sender.join()
    assert seen.get("during batch")
    assert seen["threads"] <= before + 1 + len(os.sched_getaffinity(0))


# Forking while a thread runs is the point: Python 3.12 and later warn of it,
# and JAX, when another test imported it, warns of its own threads at any fork.
@pytest.mark.filterwarnings("ignore:os.fork:RuntimeWarning")
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_a_forked_child_forgets_the_parents_batches():
    import os
    model = ld.parse_urdf_file(str(REPO / "models" / "humanoid.urdf"))
    q = np.zeros((2_000_000, model.nq))
    worker = threading.Thread(target=lambda: lb.centerOfMass(model, q[:200_000], threads=1))
    worker.start()
    hold_until_in_use(model)
    pid = os.fork()
    if pid == 0:  # the child: no batch runs here
        try:
            model.set_name("child")
            os._exit(0)
        except BaseException:
            os._exit(1)
    _, status = os.waitpid(pid, 0)
    worker.join()
    assert os.waitstatus_to_exitcode(status) == 0
