"""The calls users make from Python, against the Python peers that do the
same: MuJoCo (pip `mujoco`) and PyBullet (pip `pybullet`), each optional
(skipped with a message when it cannot be imported).

Models: models/arm7.urdf, models/humanoid.urdf floating and fixed (the same
text with the floating root joint made fixed), and, where ../shared/robots
is present, panda.urdf and h1.urdf (fixed base).

Calls, each as a user makes it from a new state (for MuJoCo the state is
written into MjData inside the timed call, as a user has to):

    forward kinematics    forwardKinematics | mj_kinematics
    inverse dynamics      rnea | kinematics, comPos, comVel, mj_rne(acc) |
                          calculateInverseDynamics
    bias forces           non_linear_effects | the same, mj_rne(no acc) |
                          calculateInverseDynamics(a = 0)
    mass matrix           crba (upper triangle) | kinematics, comPos, mj_crb,
                          mj_fullM | calculateMassMatrix
    mass matrix, full     crba then data.M (symmetric)
    end-effector Jacobian computeJointJacobian(last joint) | kinematics,
                          comPos, mj_jacBody
    forward dynamics      aba, where the module has it | mj_forward

Before timing, every peer's result is checked against ours on a few random
states (a peer that disagrees is not timed for that call, with a message).
Both peers keep the rotational inertia of a link of zero mass, which ours
drops: the peers are given that inertia as zero. Visual and collision
geometry is stripped (no contacts).

Timing: for each repetition, the libraries take turns (round robin), each
timing one batch of calls on the CPU time of this thread (time.thread_time),
every call from the next of 64 random states; the median over repetitions
of the time per call is printed in ns, with the ratio of the fastest peer's
median to ours. The loop that fetches the next state (about 30 ns) is
included for every library alike.

    python3 benchmarks/python_peers.py [--repetitions N]
"""
import argparse
import contextlib
import os
import re
import statistics
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np

import lumo_dynamic as ld

ROOT = Path(__file__).resolve().parent.parent
ROBOTS = ROOT.parent / "shared" / "robots"
STATES = 64
TOLERANCE = 1e-8  # relative to the largest entry of the result

@contextlib.contextmanager
def quiet():
    """Standard output of the process closed for a while."""
    sys.stdout.flush()
    saved = os.dup(1)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)


try:
    import mujoco
except ImportError as e:  # optional peer
    mujoco = None
    print(f"note: MuJoCo not available ({e}); its column is skipped")
try:
    with quiet():  # its banner
        import pybullet
except ImportError as e:  # optional peer
    pybullet = None
    print(f"note: PyBullet not available ({e}); its column is skipped")

HAS_ABA = hasattr(ld, "aba")


# ------------------------------------------------------------------ models

def model_texts():
    """name -> URDF text, for the models present."""
    out = {}
    arm = ROOT / "models" / "arm7.urdf"
    humanoid = ROOT / "models" / "humanoid.urdf"
    if arm.exists():
        out["arm7"] = arm.read_text()
    if humanoid.exists():
        text = humanoid.read_text()
        out["humanoid, floating"] = text
        out["humanoid, fixed"] = re.sub(r'type="floating"', 'type="fixed"', text)
    for name, label in (("panda.urdf", "panda"), ("h1.urdf", "h1, fixed")):
        path = ROBOTS / name
        if path.exists():
            out[label] = re.sub(r'type="floating"', 'type="fixed"', path.read_text())
        else:
            print(f"note: {path} missing, skipped")
    return out


def peer_urdf(text):
    """The URDF as the peers are given it: no geometry, zero inertia on
    links of zero mass, and the root link "world" with its joint removed.
    Returns (text, floating) where floating tells whether that joint was
    floating (the peer then gets a free root)."""
    robot = ET.fromstring(text)
    for link in robot.findall("link"):
        for tag in ("visual", "collision"):
            for e in link.findall(tag):
                link.remove(e)
        inertial = link.find("inertial")
        if inertial is None:  # PyBullet would give it a mass of 1
            inertial = ET.SubElement(link, "inertial")
            ET.SubElement(inertial, "mass", value="0")
            ET.SubElement(inertial, "inertia", ixx="0", ixy="0", ixz="0", iyy="0", iyz="0", izz="0")
        if True:
            mass = inertial.find("mass")
            inertia = inertial.find("inertia")
            if mass is not None and float(mass.get("value", "0")) == 0.0 and inertia is not None:
                for k in ("ixx", "ixy", "ixz", "iyy", "iyz", "izz"):
                    inertia.set(k, "0")
    floating = False
    for link in robot.findall("link"):
        if link.get("name") == "world":
            robot.remove(link)
            for joint in robot.findall("joint"):
                if joint.find("parent").get("link") == "world":
                    floating = joint.get("type") == "floating"
                    robot.remove(joint)
    for e in list(robot):
        if e.tag not in ("link", "joint"):
            robot.remove(e)
    return ET.tostring(robot, encoding="unicode"), floating


def dof_of(joint_type):
    return {"fixed": 0, "floating": 6, "planar": 3, "spherical": 3}.get(joint_type, 1)


class Ours:
    def __init__(self, text):
        self.model = ld.parse_urdf_from_string(text)
        self.data = self.model.createData()
        types = {j.get("name"): j.get("type") for j in ET.fromstring(text).findall("joint")}
        # velocity and configuration index of every 1-dof joint, by name
        self.v_index, self.q_index = {}, {}
        iv = iq = 0
        self.root = None
        for name in self.model.names[1:]:
            t = types[name]
            if t in ("revolute", "continuous", "prismatic"):
                self.v_index[name], self.q_index[name] = iv, iq
            if t == "floating":
                self.root = self.model.names.index(name)
            iv += dof_of(t)
            iq += {"floating": 7, "spherical": 4}.get(t, dof_of(t))
        self.ee = max(self.model.names.index(n) for n in self.v_index)  # last moving joint
        self.ee_name = self.model.names[self.ee]

    def state(self, rng):
        m = self.model
        q = ld.integrate(m, ld.neutral(m), rng.uniform(-np.pi, np.pi, m.nv))
        return q, rng.uniform(-1, 1, m.nv), rng.uniform(-1, 1, m.nv), rng.uniform(-1, 1, m.nv)


# ------------------------------------------------------------------ peers

class MuJoCo:
    name = "MuJoCo"

    def __init__(self, ours, text):
        urdf, floating = peer_urdf(text)
        spec = mujoco.MjSpec.from_string(urdf)
        spec.compiler.discardvisual = True
        if floating:
            spec.worldbody.first_body().add_freejoint()
        self.m = spec.compile()
        self.m.opt.disableflags |= mujoco.mjtDisableBit.mjDSBL_CONTACT | mujoco.mjtDisableBit.mjDSBL_CONSTRAINT
        self.d = mujoco.MjData(self.m)
        self.floating = floating
        nv = self.m.nv
        # per 1-dof joint: our velocity index -> MuJoCo's
        jid = {mujoco.mj_id2name(self.m, mujoco.mjtObj.mjOBJ_JOINT, j): j for j in range(self.m.njnt)}
        self.v_map = np.array([self.m.jnt_dofadr[jid[n]] for n in ours.v_index])
        self.q_map = np.array([self.m.jnt_qposadr[jid[n]] for n in ours.v_index])
        self.ours_v = np.array(list(ours.v_index.values()))
        self.ours_q = np.array(list(ours.q_index.values()))
        self.ee_body = self.m.jnt_bodyid[jid[ours.ee_name]]
        self.jacp = np.zeros((3, nv))
        self.jacr = np.zeros((3, nv))
        self.M = np.zeros((nv, nv))
        self.res = np.zeros(nv)

    def convert(self, ours, q, v, a, tau):
        """Our state in MuJoCo's coordinates (joints only move for a
        floating model; its base keeps zero velocity in the checks)."""
        qpos = np.zeros(self.m.nq)
        qvel, qacc, qfrc = (np.zeros(self.m.nv) for _ in range(3))
        qpos[self.q_map] = q[self.ours_q]
        qvel[self.v_map] = v[self.ours_v]
        qacc[self.v_map] = a[self.ours_v]
        qfrc[self.v_map] = tau[self.ours_v]
        if self.floating:
            ld.forwardKinematics(ours.model, ours.data, q)
            h = ours.data.oMi[ours.root].homogeneous
            qpos[0:3] = h[:3, 3]
            quat = np.zeros(4)
            mujoco.mju_mat2Quat(quat, h[:3, :3].flatten())
            qpos[3:7] = quat
        return qpos, qvel, qacc, qfrc

    def calls(self):
        return {
            "forward kinematics": "d.qpos[:] = q; mj_kinematics(m, d)",
            "inverse dynamics": "d.qpos[:] = q; d.qvel[:] = v; d.qacc[:] = a; mj_kinematics(m, d); "
                                "mj_comPos(m, d); mj_comVel(m, d); mj_rne(m, d, 1, res)",
            "bias forces": "d.qpos[:] = q; d.qvel[:] = v; mj_kinematics(m, d); mj_comPos(m, d); "
                           "mj_comVel(m, d); mj_rne(m, d, 0, res)",
            "mass matrix": "d.qpos[:] = q; mj_kinematics(m, d); mj_comPos(m, d); mj_crb(m, d); "
                           "mj_fullM(m, d, M)",
            "end-effector Jacobian": "d.qpos[:] = q; mj_kinematics(m, d); mj_comPos(m, d); "
                                     "mj_jacBody(m, d, jacp, jacr, ee)",
            "forward dynamics": "d.qpos[:] = q; d.qvel[:] = v; d.qfrc_applied[:] = tau; mj_forward(m, d)",
        }

    def names(self):
        return dict(m=self.m, d=self.d, M=self.M, res=self.res, jacp=self.jacp, jacr=self.jacr,
                    ee=self.ee_body, **{k: getattr(mujoco, k) for k in dir(mujoco) if k.startswith("mj_")})

    def result(self, call, ours, state):
        """The result of one call, in our velocity order on the joints."""
        qpos, qvel, qacc, qfrc = self.convert(ours, *state)
        exec(self.calls()[call], self.names(), dict(q=qpos, v=qvel, a=qacc, tau=qfrc))
        if call == "forward kinematics":
            body = self.ee_body
            return np.concatenate([self.d.xpos[body], self.d.xmat[body]])
        if call in ("inverse dynamics", "bias forces"):
            return self.res[self.v_map].copy()
        if call == "mass matrix":
            return self.M[np.ix_(self.v_map, self.v_map)].copy()
        if call == "end-effector Jacobian":
            return np.vstack([self.jacp, self.jacr])[:, self.v_map].copy()
        if call == "forward dynamics":
            return self.d.qacc[self.v_map].copy()
        raise KeyError(call)

    def native_states(self, ours, states):
        return [self.convert(ours, *s) for s in states]


class PyBullet:
    name = "PyBullet"
    CALLS = {
        "inverse dynamics": "calculateInverseDynamics(body, q, v, a, physicsClientId=client)",
        "bias forces": "calculateInverseDynamics(body, q, v, zero, physicsClientId=client)",
        "mass matrix": "calculateMassMatrix(body, q, physicsClientId=client)",
    }

    def __init__(self, ours, text, path):
        urdf, floating = peer_urdf(text)
        if floating:
            raise RuntimeError("floating base not compared")
        path.write_text(urdf)
        self.client = pybullet.connect(pybullet.DIRECT)
        pybullet.setGravity(0, 0, -9.81, physicsClientId=self.client)
        with quiet():  # the loader's warnings about links without inertia
            self.body = pybullet.loadURDF(str(path), useFixedBase=True,
                                          flags=pybullet.URDF_USE_INERTIA_FROM_FILE,
                                          physicsClientId=self.client)
        movable = []
        for j in range(pybullet.getNumJoints(self.body, physicsClientId=self.client)):
            info = pybullet.getJointInfo(self.body, j, physicsClientId=self.client)
            if info[2] != pybullet.JOINT_FIXED:
                movable.append(info[1].decode())
        if sorted(movable) != sorted(ours.v_index):
            raise RuntimeError("joints differ")
        self.v_map = np.array([ours.v_index[n] for n in movable])   # PyBullet order -> ours
        self.q_map = np.array([ours.q_index[n] for n in movable])
        self.order = np.argsort(self.v_map)  # ours -> PyBullet order, on joints
        self.zero = [0.0] * len(movable)

    def calls(self):
        return self.CALLS

    def names(self):
        return dict(body=self.body, client=self.client, zero=self.zero,
                    calculateInverseDynamics=pybullet.calculateInverseDynamics,
                    calculateMassMatrix=pybullet.calculateMassMatrix)

    def native(self, q, v, a, tau):
        return (list(q[self.q_map]), list(v[self.v_map]), list(a[self.v_map]), list(tau[self.v_map]))

    def native_states(self, ours, states):
        return [self.native(*s) for s in states]

    def result(self, call, ours, state):
        q, v, a, tau = self.native(*state)
        out = np.array(eval(self.calls()[call], self.names(), dict(q=q, v=v, a=a)))
        if out.ndim == 2:
            return out[np.ix_(self.order, self.order)]
        return out[self.order]


# ------------------------------------------------------------------ ours

OURS = {
    "forward kinematics": "forwardKinematics(model, data, q)",
    "inverse dynamics": "rnea(model, data, q, v, a)",
    "bias forces": "non_linear_effects(model, data, q, v)",
    "mass matrix": "crba(model, data, q)",
    "mass matrix, full": "crba(model, data, q); data.M",
    "end-effector Jacobian": "computeJointJacobian(model, data, q, ee)",
}
if HAS_ABA:
    OURS["forward dynamics"] = "aba(model, data, q, v, tau)"


def our_names(o):
    return dict(model=o.model, data=o.data, ee=o.ee,
                **{k: getattr(ld, k) for k in dir(ld) if not k.startswith("_")})


def our_result(call, o, state):
    """Our result, on the 1-dof joints only, in the peers' form."""
    q, v, a, tau = state
    out = eval("(" + OURS[call].replace("; ", ", ") + ")", our_names(o), dict(q=q, v=v, a=a, tau=tau))
    out = out[-1] if isinstance(out, tuple) else out
    j = np.array(list(o.v_index.values()))
    if call == "forward kinematics":
        h = o.data.oMi[o.ee].homogeneous
        return np.concatenate([h[:3, 3], h[:3, :3].flatten()])
    if call == "end-effector Jacobian":
        ld.forwardKinematics(o.model, o.data, q)  # the call leaves oMi as it was
        R = o.data.oMi[o.ee].homogeneous[:3, :3]
        world = np.vstack([R @ out[:3], R @ out[3:]])  # local to world-aligned
        return world[:, j]
    if call.startswith("mass matrix"):
        full = np.triu(out) + np.triu(out, 1).T
        return full[np.ix_(j, j)]
    return out[j]


def check_state(o, rng, floating):
    """A random state; on a floating model the base is at rest in the
    checks (joint-space results then do not depend on the base's velocity
    coordinates)."""
    q, v, a, tau = o.state(rng)
    if floating:
        base = [k for k in range(o.model.nv) if k not in set(o.v_index.values())]
        v[base] = 0.0
        a[base] = 0.0
        tau[base] = 0.0
    return q, v, a, tau


def agree(peer, call, o, rng, floating):
    if call == "forward dynamics" and floating:
        return "floating base not compared"
    for _ in range(3):
        s = check_state(o, rng, floating)
        theirs, mine = peer.result(call, o, s), our_result(call, o, s)
        if floating and call in ("inverse dynamics", "bias forces"):
            pass  # base at rest: the joint torques compare directly
        if theirs.shape != mine.shape:
            return f"shape {theirs.shape} != {mine.shape}"
        err = np.max(np.abs(theirs - mine)) / max(1.0, np.max(np.abs(mine)))
        if not err < TOLERANCE:
            return f"differs by {err:.2e}"
    return None


# ------------------------------------------------------------------ timing

def batch(stmt, names, fields):
    """A function timing one pass over the states, in ns per call."""
    src = (f"def run(states, clock):\n    t = clock()\n    for {fields} in states:\n"
           f"        {stmt}\n    return clock() - t\n")
    scope = dict(names)
    exec(src, scope)
    return scope["run"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repetitions", type=int, default=41)
    ap.add_argument("--batches", type=int, default=4, help="passes over the states per sample")
    args = ap.parse_args()
    rng = np.random.default_rng(0)
    tmp = ROOT / "build" / "python_peers"
    tmp.mkdir(parents=True, exist_ok=True)
    rows = []
    for label, text in model_texts().items():
        o = Ours(text)
        floating = o.root is not None
        peers = []
        for cls in (MuJoCo, PyBullet):
            if (cls is MuJoCo and mujoco is None) or (cls is PyBullet and pybullet is None):
                continue
            try:
                peers.append(cls(o, text) if cls is MuJoCo else
                             cls(o, text, tmp / (re.sub(r"\W+", "_", label) + ".urdf")))
            except Exception as e:  # a peer that cannot load this model
                print(f"note: {cls.name} on {label}: {e}; skipped")
        states = [o.state(rng) for _ in range(STATES)]
        for call in OURS:
            runners = [("ours", batch(OURS[call], our_names(o), "q, v, a, tau"), states)]
            peer_call = "mass matrix" if call == "mass matrix, full" else call
            for p in peers:
                if peer_call not in p.calls() or (call == "forward dynamics" and not HAS_ABA):
                    continue
                why = agree(p, peer_call, o, rng, floating)
                if why is not None:
                    print(f"note: {p.name} {peer_call} on {label}: {why}; not timed")
                    continue
                runners.append((p.name, batch(p.calls()[peer_call], p.names(), "q, v, a, tau"),
                                p.native_states(o, states)))
            samples = {name: [] for name, _, _ in runners}
            for _ in range(args.repetitions):
                for name, run, st in runners:  # round robin
                    t = sum(run(st, time.thread_time_ns) for _ in range(args.batches))
                    samples[name].append(t / (args.batches * len(st)))
            med = {name: statistics.median(s[1:]) for name, s in samples.items()}
            peer_med = {k: v for k, v in med.items() if k != "ours"}
            best = min(peer_med, key=peer_med.get) if peer_med else None
            rows.append((f"{label} ({o.model.nv})", call, med["ours"], best,
                         peer_med.get(best), {k: v for k, v in peer_med.items()}))
            sys.stdout.flush()
    print()
    print(f"{'model (nv)':<24} {'call':<22} {'ours ns':>8} {'fastest peer':>18} {'ratio':>6}   all peers")
    for model, call, ours, best, peer, allp in rows:
        if best is None:
            print(f"{model:<24} {call:<22} {ours:>8.0f} {'-':>18} {'-':>6}")
            continue
        others = ", ".join(f"{k} {v:.0f}" for k, v in allp.items())
        print(f"{model:<24} {call:<22} {ours:>8.0f} {best + ' ' + format(peer, '.0f'):>18} "
              f"{peer / ours:>5.2f}x   {others}")


if __name__ == "__main__":
    main()
