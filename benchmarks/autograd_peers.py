"""Value and gradient of a scalar loss through rnea and aba, ours against the
peers that differentiate rigid-body dynamics natively on the CPU.

Model: models/humanoid.urdf on its floating base (nq 38, nv 37). Loss: the
sum over the batch of the squared output (joint torques for rnea, joint
accelerations for aba); the gradient is taken with respect to every input
(q, v and a or tau, or the peer's own coordinates of the same state).

Columns, each skipped with a message when its package cannot be imported:

    ours, torch          lumo_dynamic.torch.rnea / aba, loss.backward()
    ours, jax            lumo_dynamic.jax.rnea / aba on the whole batch
                         (leading axis), jax.jit(jax.value_and_grad(loss))
    ours, jax vmap       the same on one state, jax.jit(jax.vmap(
                         jax.value_and_grad(loss)))
    adam, torch          adam-robotics' KinDynComputationsBatch (PyTorch,
                         float64), loss.backward()
    adam, jax            adam-robotics' KinDynComputations (JAX) on one
                         state, jax.jit(jax.vmap(jax.value_and_grad(loss)))
    MJX                  mujoco-mjx: mjx.inverse (qfrc_inverse) and
                         mjx.forward (qacc) on one state, under
                         jax.jit(jax.vmap(jax.value_and_grad(loss))), in
                         float64; contacts and constraints disabled

adam has no inverse dynamics with accelerations: its rnea column is
mass_matrix(H, s) @ a + bias_force(H, s, v_b, ds), as a user of it writes
it. Its state is the base transform H (built from our q), the joint angles,
the base velocity in the body frame (ours) and the joint velocities. MuJoCo
gets the URDF with a free joint on the root link; its base linear velocity
is in the world frame (ours rotated). Gravity is ours in every library.

Before timing, the per-state loss of every column is compared with ours on
the first 8 states, whose base is at rest (there every library's output has
the same norm); a column that differs is marked in the table.

Timing: every column is called once first (for JAX this compiles; its time
is printed as the first call, in s), then --repeat times round robin; the
median wall time per call is printed in µs per state. One timed call by
default, so that a run on a 2-CPU machine takes about three minutes (adam's
PyTorch column alone takes some 30 s a call there); give --repeat 5 on a
quiet machine with time to spare. Two threads: the
process is kept on two CPUs (XLA's CPU client sizes its pool from those),
torch.set_num_threads(2), and ours runs its batch on the CPUs it may use.

The JAX peers take minutes to compile (adam's and MJX's traced trees under
grad); their executables are kept in JAX's persistent compilation cache in
build/autograd_peers/jax-cache (only compilations longer than 5 s, so that
ours is always compiled afresh), so later runs do not wait for them. Delete
that directory to time a cold compile.

    python3 benchmarks/autograd_peers.py [--batch N] [--repeat R] [--skip adam-jax,mjx]
"""
import argparse
import os
import statistics
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
URDF = ROOT / "models" / "humanoid.urdf"
CACHE = ROOT / "build" / "autograd_peers" / "jax-cache"
THREADS = 2
CHECKED = 8        # leading states of the batch, base at rest, compared across columns
TOLERANCE = 1e-8   # relative difference of the per-state loss

# Two CPUs for everything, set before torch and XLA size their thread pools.
cpus = sorted(os.sched_getaffinity(0))
if len(cpus) > THREADS:
    os.sched_setaffinity(0, cpus[:THREADS])

import lumo_dynamic as ld  # noqa: E402
import lumo_dynamic.batch as lb  # noqa: E402


def optional(name, load):
    """load() or None, with a message when the import fails."""
    try:
        return load()
    except Exception as e:  # optional column
        print(f"note: {name} not available ({type(e).__name__}: {e}); its columns are skipped")
        return None


def load_torch():
    import torch
    torch.set_num_threads(THREADS)
    return torch


def load_jax():
    import jax
    jax.config.update("jax_enable_x64", True)
    CACHE.mkdir(parents=True, exist_ok=True)
    jax.config.update("jax_compilation_cache_dir", str(CACHE))
    jax.config.update("jax_persistent_cache_min_compile_time_secs", 5.0)
    return jax


torch = optional("PyTorch", load_torch)
jax = optional("JAX", load_jax)
lt = optional("lumo_dynamic.torch", lambda: __import__("lumo_dynamic.torch", fromlist=["rnea"])) if torch else None
lj = optional("lumo_dynamic.jax", lambda: __import__("lumo_dynamic.jax", fromlist=["rnea"])) if jax else None


# ------------------------------------------------------------------ states

class States:
    """N random states in our coordinates and in the peers'."""

    def __init__(self, model, text, n, seed=0):
        rng = np.random.default_rng(seed)
        self.q = lb.integrate(model, np.tile(ld.neutral(model), (n, 1)), rng.uniform(-np.pi, np.pi, (n, model.nv)))
        self.v, self.a, self.tau = (rng.uniform(-1, 1, (n, model.nv)) for _ in range(3))
        self.v[:CHECKED, :6] = 0.0  # base at rest on the checked states
        # 1-dof joints in our velocity order (after the 6 of the base)
        types = {j.get("name"): j.get("type") for j in ET.fromstring(text).findall("joint")}
        self.joints = [n for n in model.names[1:] if types[n] in ("revolute", "continuous", "prismatic")]
        assert len(self.joints) == model.nv - 6
        x, y, z, w = self.q[:, 3:7].T
        self.R = np.stack([
            np.stack([1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)], -1),
            np.stack([2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)], -1),
            np.stack([2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)], -1)], -2)
        self.H = np.tile(np.eye(4), (n, 1, 1))
        self.H[:, :3, :3] = self.R
        self.H[:, :3, 3] = self.q[:, :3]


def peer_urdf(text):
    """The URDF as the peers read it: no geometry, no world link (the root
    link is the floating base), an explicit origin on every joint."""
    robot = ET.fromstring(text)
    for link in robot.findall("link"):
        for tag in ("visual", "collision"):
            for e in link.findall(tag):
                link.remove(e)
        if link.get("name") == "world":
            robot.remove(link)
    for joint in robot.findall("joint"):
        if joint.find("parent").get("link") == "world":
            robot.remove(joint)
        elif joint.find("origin") is None:
            ET.SubElement(joint, "origin", xyz="0 0 0", rpy="0 0 0")
    return ET.tostring(robot, encoding="unicode")


# ------------------------------------------------------------------ columns
#
# A column is name -> {"rnea": call, "aba": call} where call() runs value
# and gradient on the whole batch, waits for the result and returns the
# per-state loss (for the check).

def per_state(y):
    return (y ** 2).sum(-1)


def ours_torch(model, s):
    def make(f, x):
        def call():
            q, v, u = (torch.from_numpy(t).requires_grad_() for t in (s.q, s.v, x))
            per = per_state(f(model, q, v, u))
            per.sum().backward()
            return per.detach().numpy()
        return call
    return {"rnea": make(lt.rnea, s.a), "aba": make(lt.aba, s.tau)}


def jax_call(g, *args):
    def call():
        value, grads = g(*args)
        jax.block_until_ready(grads)
        return np.asarray(value)
    return call


def ours_jax(model, s, vmapped):
    jnp = jax.numpy
    q, v, a, tau = (jnp.asarray(t) for t in (s.q, s.v, s.a, s.tau))
    calls = {}
    for name, f, u in (("rnea", lj.rnea, a), ("aba", lj.aba, tau)):
        if vmapped:
            loss = lambda q, v, u, f=f: jnp.sum(f(model, q, v, u) ** 2)
            g = jax.jit(jax.vmap(jax.value_and_grad(loss, argnums=(0, 1, 2))))
            calls[name] = jax_call(g, q, v, u)
        else:
            def loss(q, v, u, f=f):
                per = jnp.sum(f(model, q, v, u) ** 2, axis=-1)
                return jnp.sum(per), per
            g = jax.jit(jax.value_and_grad(loss, argnums=(0, 1, 2), has_aux=True))
            calls[name] = jax_call(lambda *x, g=g: (lambda r: (r[0][1], r[1]))(g(*x)), q, v, u)
    return calls


def adam_inputs(s):
    return s.H, s.q[:, 7:], s.v[:, :6], s.v[:, 6:], s.a, s.tau[:, 6:]


def adam_torch(model, s, urdf):
    from adam.core.constants import Representations
    from adam.pytorch import KinDynComputationsBatch
    kd = KinDynComputationsBatch(str(urdf), s.joints, device=torch.device("cpu"), dtype=torch.float64,
                                 gravity=torch.tensor([*model.gravity, 0, 0, 0], dtype=torch.float64))
    kd.set_frame_velocity_representation(Representations.BODY_FIXED_REPRESENTATION)

    def rnea(H, q, vb, v, a):
        M = kd.mass_matrix(H, q)
        return (M @ a.unsqueeze(-1)).squeeze(-1) + kd.bias_force(H, q, vb, v)

    def make(f, inputs):
        def call():
            xs = [torch.from_numpy(t).requires_grad_() for t in inputs]
            per = per_state(f(*xs))
            per.sum().backward()
            return per.detach().numpy()
        return call
    H, q, vb, v, a, tau = adam_inputs(s)
    return {"rnea": make(rnea, (H, q, vb, v, a)), "aba": make(kd.aba, (H, q, vb, v, tau))}


def adam_jax(model, s, urdf):
    jnp = jax.numpy
    from adam.core.constants import Representations
    from adam.jax import KinDynComputations
    kd = KinDynComputations(str(urdf), s.joints, gravity=jnp.array([*model.gravity, 0, 0, 0]))
    kd.set_frame_velocity_representation(Representations.BODY_FIXED_REPRESENTATION)
    # adam converts every input with jnp.asarray(..., device=its device),
    # which this JAX rejects on values traced by vmap; its device is the
    # only one (the CPU), so it is left unset.
    kd.rbdalgos.math.factory._device = None

    def rnea(H, q, vb, v, a):
        return jnp.sum((kd.mass_matrix(H, q) @ a + kd.bias_force(H, q, vb, v)) ** 2)

    def aba(H, q, vb, v, tau):
        return jnp.sum(kd.aba(H, q, vb, v, tau) ** 2)

    H, q, vb, v, a, tau = (jnp.asarray(t) for t in adam_inputs(s))
    grad = lambda f: jax.jit(jax.vmap(jax.value_and_grad(f, argnums=(0, 1, 2, 3, 4))))
    return {"rnea": jax_call(grad(rnea), H, q, vb, v, a), "aba": jax_call(grad(aba), H, q, vb, v, tau)}


def mjx_columns(model, s, urdf_text):
    import mujoco
    from mujoco import mjx
    jnp = jax.numpy
    spec = mujoco.MjSpec.from_string(urdf_text)
    spec.compiler.discardvisual = True
    spec.worldbody.first_body().add_freejoint()
    m = spec.compile()
    m.opt.disableflags |= mujoco.mjtDisableBit.mjDSBL_CONTACT | mujoco.mjtDisableBit.mjDSBL_CONSTRAINT
    m.opt.gravity[:] = model.gravity
    jid = {mujoco.mj_id2name(m, mujoco.mjtObj.mjOBJ_JOINT, j): j for j in range(m.njnt)}
    qadr = np.array([m.jnt_qposadr[jid[n]] for n in s.joints])
    vadr = np.array([m.jnt_dofadr[jid[n]] for n in s.joints])
    n = len(s.q)
    qpos = np.zeros((n, m.nq))
    qpos[:, :3] = s.q[:, :3]
    qpos[:, 3] = s.q[:, 6]          # w x y z
    qpos[:, 4:7] = s.q[:, 3:6]
    qpos[:, qadr] = s.q[:, 7:]

    def dofs(x):  # base linear part in the world frame
        out = np.zeros((n, m.nv))
        out[:, :3] = np.einsum("nij,nj->ni", s.R, x[:, :3])
        out[:, 3:6] = x[:, 3:6]
        out[:, vadr] = x[:, 6:]
        return out
    tau = s.tau.copy()
    tau[:, :6] = 0.0  # forward dynamics under joint torques only, as for adam
    mx = mjx.put_model(m)
    d0 = mjx.make_data(mx)

    def inverse(qpos, qvel, qacc):
        d = mjx.inverse(mx, d0.replace(qpos=qpos, qvel=qvel, qacc=qacc))
        return jnp.sum(d.qfrc_inverse ** 2)

    def forward(qpos, qvel, tau):
        d = mjx.forward(mx, d0.replace(qpos=qpos, qvel=qvel, qfrc_applied=tau))
        return jnp.sum(d.qacc ** 2)

    grad = lambda f: jax.jit(jax.vmap(jax.value_and_grad(f, argnums=(0, 1, 2))))
    qpos, qvel, qacc, qfrc = (jnp.asarray(t) for t in (qpos, dofs(s.v), dofs(s.a), dofs(tau)))
    return {"rnea": jax_call(grad(inverse), qpos, qvel, qacc), "aba": jax_call(grad(forward), qpos, qvel, qfrc)}


# ------------------------------------------------------------------ main

def reference(model, s):
    """Our per-state loss on the checked states, for rnea and aba (aba under
    joint torques only, as adam and MuJoCo are given them)."""
    k = slice(0, CHECKED)
    tau = s.tau[k].copy()
    tau[:, :6] = 0.0
    return {"rnea": per_state(lb.rnea(model, s.q[k], s.v[k], s.a[k])),
            "aba": per_state(lb.aba(model, s.q[k], s.v[k], tau))}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--batch", type=int, default=4096)
    ap.add_argument("--repeat", type=int, default=1, help="timed calls per column, after the first")
    ap.add_argument("--skip", default="", help="comma-separated columns to leave out: "
                    "ours-torch, ours-jax, ours-jax-vmap, adam-torch, adam-jax, mjx")
    args = ap.parse_args()
    skip = {x.strip() for x in args.skip.split(",") if x.strip()}
    text = URDF.read_text()
    model = ld.parse_urdf_from_string(text)
    s = States(model, text, args.batch)
    s.tau[:, :6] = 0.0  # the base is unactuated
    build = ROOT / "build" / "autograd_peers"
    build.mkdir(parents=True, exist_ok=True)
    urdf_text = peer_urdf(text)
    urdf = build / "humanoid_peers.urdf"
    urdf.write_text(urdf_text)

    adam = optional("adam-robotics", lambda: __import__("adam")) if torch or jax else None
    has_mjx = optional("mujoco-mjx", lambda: __import__("mujoco.mjx")) if jax else None
    version = lambda dist: optional(dist, lambda: __import__("importlib.metadata").metadata.version(dist)) or "?"
    candidates = [
        ("ours-torch", "ours, torch", True, lt, lambda: ours_torch(model, s)),
        ("ours-jax", "ours, jax", True, lj, lambda: ours_jax(model, s, vmapped=False)),
        ("ours-jax-vmap", "ours, jax vmap", True, lj, lambda: ours_jax(model, s, vmapped=True)),
        ("adam-torch", f"adam {version('adam-robotics') if adam else ''}, torch", False, adam and torch,
         lambda: adam_torch(model, s, urdf)),
        ("adam-jax", f"adam {version('adam-robotics') if adam else ''}, jax vmap", False, adam and jax,
         lambda: adam_jax(model, s, urdf)),
        ("mjx", f"MJX {version('mujoco-mjx') if has_mjx else ''}, vmap", False, has_mjx,
         lambda: mjx_columns(model, s, urdf_text)),
    ]
    columns = []  # (label, ours?, calls)
    for key, label, mine, available, make in candidates:
        if key in skip or not available:
            continue
        calls = optional(label, make)
        if calls:
            columns.append((label, mine, calls))

    print(f"humanoid, floating base (nq {model.nq}, nv {model.nv}); batch {args.batch:,}; {THREADS} threads "
          f"(CPUs {sorted(os.sched_getaffinity(0))}, load average {os.getloadavg()[0]:.1f}); "
          f"value and gradient of sum(out²); torch {torch.__version__ if torch else '-'}, "
          f"jax {jax.__version__ if jax else '-'}")
    ref = reference(model, s)
    first, notes, times = {}, {}, {}
    for label, _, calls in columns:  # first calls: compile, warm up, check
        for fn, call in calls.items():
            t = time.perf_counter()
            try:
                per = call()
            except Exception as e:
                print(f"note: {label} {fn} failed ({type(e).__name__}: {str(e)[:200]}); skipped")
                continue
            first[label, fn] = time.perf_counter() - t
            times[label, fn] = []
            err = np.max(np.abs(per[:CHECKED] - ref[fn]) / np.maximum(1.0, np.abs(ref[fn])))
            if not err < TOLERANCE:
                notes[label, fn] = f"{label} {fn}: loss differs from ours by {err:.1e} (relative)"
            print(f"  first call {label:<24}{fn:<6}{first[label, fn]:8.2f} s   loss vs ours {err:.0e}", flush=True)
    for _ in range(args.repeat):  # round robin
        for label, _, calls in columns:
            for fn, call in calls.items():
                if (label, fn) in times:
                    # the thread pools of the column before (XLA's, PyTorch's
                    # OpenMP) spin for a while after their work: let them sleep
                    time.sleep(0.5)
                    t = time.perf_counter()
                    call()
                    times[label, fn].append(time.perf_counter() - t)

    us = {k: statistics.median(v) / args.batch * 1e6 for k, v in times.items() if v}
    print(f"\nµs per state (median of {args.repeat} call(s) of the whole batch); first call in s "
          "(JAX: compiling, or loading from the compilation cache)")
    print(f"{'':<26}{'rnea':>10}{'aba':>10}{'first rnea':>12}{'first aba':>11}")
    fmt = lambda d, k, f: f"{d[k]:{f}}" if k in d else "-"
    for label, _, _ in columns:
        mark = " *" if any(k[0] == label for k in notes) else ""
        print(f"{label + mark:<26}{fmt(us, (label, 'rnea'), '.1f'):>10}{fmt(us, (label, 'aba'), '.1f'):>10}"
              f"{fmt(first, (label, 'rnea'), '.2f'):>12}{fmt(first, (label, 'aba'), '.2f'):>11}")
    for note in notes.values():
        print(f"  * {note}")

    print("\nours vs the fastest peer (the peer's time over ours; targets: rnea >= 20, aba >= 10)")
    for fn in ("rnea", "aba"):
        peers = [(us[label, fn], label) for label, mine, _ in columns if not mine and (label, fn) in us]
        if not peers:
            print(f"  {fn}: no peer timed")
            continue
        best, best_label = min(peers)
        for label, mine, _ in columns:
            if mine and (label, fn) in us:
                print(f"  {fn:<5}{label:<18}{best / us[label, fn]:7.1f}x   (fastest peer: {best_label}, "
                      f"{best:.1f} µs)")


if __name__ == "__main__":
    sys.exit(main())
