"""Constrained dynamics from Python against MuJoCo (pip `mujoco`) on the
quadruped of models/quadruped.urdf standing on four point contacts.

MuJoCo is given the same URDF (the root link "world" and its joint removed,
a free joint on the trunk instead) and, for each foot, a `connect` equality
between a site at the foot and a site of the world where the foot stands in
the standing pose: three rows per foot in world axes, as our
RigidConstraint(model, "point", foot) in LOCAL_WORLD_ALIGNED. Contacts and
joint limits are disabled. The equalities are made stiff: impedance d the
same everywhere (solimp), 0.999 and then 0.9999, the largest MuJoCo allows,
and stiffness and damping given directly (solref = (−KP, −KD)). MuJoCo's
reference acceleration is then −B·(J·v) − K·d·(position error) with
B = KD/d and K·d = KP/d, and our corrector is set to exactly those gains,
so that both hold J·q̈ to the same target; what is left between the two is
MuJoCo's softness, O(1 − d): the differences shrink tenfold from one d to
the next. The timings use d = 0.9999.

Compared, on random states near the standing pose (the trunk moved and
tilted, the legs bent, random velocities and leg torques):

    accelerations   our q̈ against MuJoCo's qacc (the trunk's linear part
                    converted: ours is the derivative of the velocity in the
                    trunk's frame, Rᵀ·p̈ − ω × v), our forces against
                    MuJoCo's efc_force
    derivatives     the leg block (12 × 12) of our ∂q̈/∂q, ∂q̈/∂v, ∂q̈/∂τ
                    against MuJoCo's central differences of qacc

Timed (single calls from Python, each from the next of 64 states, the state
written into MjData inside MuJoCo's call as a user has to; median over the
repetitions of the time per call):

    constrained dynamics    constrainedDynamics | mj_forward
    derivatives             computeConstrainedDynamicsDerivatives |
                            central differences of mj_forward (6·nv calls
                            from a Python loop: nv positions through
                            mj_integratePos and mj_forward, nv velocities
                            through mj_forwardSkip(mjSTAGE_POS), nv
                            generalised forces through
                            mj_forwardSkip(mjSTAGE_VEL), each ±ε) — the same
                            three nv × nv derivatives (ours also gives
                            those of λ); and, for scale,
                            mjd_transitionFD (centred, its own C loop), which
                            differentiates one time step instead, (q, v) to
                            the next (q, v), by 4·nv steps
    free robot              aba, computeABADerivatives (no constraints), for
                            the ratios constrainedDynamics / aba and
                            derivatives / computeABADerivatives

Benchmarks, not tests: nothing is asserted.

    python3 benchmarks/constraints_peers.py [--repetitions N]
"""
import argparse
import statistics
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import numpy as np

import lumo_dynamic as ld

try:
    import mujoco
except ImportError as e:  # the only peer: nothing to compare
    print(f"note: MuJoCo not available ({e}); constrained dynamics not compared")
    sys.exit(0)

ROOT = Path(__file__).resolve().parent.parent
FEET = ("FL_foot", "FR_foot", "HL_foot", "HR_foot")
LEG_POSE = (0.0, 0.8, -1.6)
KP, KD = 100.0, 20.0  # corrector gains, 1/s² and 1/s
IMPEDANCES = (0.999, 0.9999)  # the last MuJoCo's largest (mjMAXIMP), used for the timings
STATES = 64
EPS = 1e-6  # central differences


def quat_xyzw_to_wxyz(quat):
    return np.r_[quat[3], quat[:3]]


class Ours:
    def __init__(self, path):
        self.model = ld.parse_urdf_file(str(path))
        self.data = self.model.createData()
        self.feet = [self.model.getFrameId(name) for name in FEET]
        q = ld.neutral(self.model)
        q[7:] = np.tile(LEG_POSE, 4)
        ld.forwardKinematics(self.model, self.data, q)
        q[2] = -min(self.foot(f)[2] for f in self.feet)  # feet on the ground z = 0
        self.q_stand = q
        ld.forwardKinematics(self.model, self.data, q)
        self.ground = [self.foot(f).copy() for f in self.feet]

    def foot(self, frame_id):
        return ld.getFramePlacement(self.model, self.data, frame_id).homogeneous[:3, 3]

    def contacts(self, kp, kd):
        """Four point contacts holding the feet where they stand in q_stand."""
        out = []
        for f in self.feet:
            c = ld.RigidConstraint(self.model, "point", f, corrector=(kp, kd))
            c.set_reference(self.model, self.data, self.q_stand)
            out.append(c)
        return ld.ConstraintSet(self.model, out)

    def states(self, rng, n):
        """n states near the standing pose: (q, v, τ), τ zero on the trunk."""
        m, out = self.model, []
        for _ in range(n):
            dq = np.r_[rng.uniform(-0.02, 0.02, 3), rng.uniform(-0.1, 0.1, 3), rng.uniform(-0.2, 0.2, 12)]
            tau = np.r_[np.zeros(6), rng.uniform(-3, 3, 12)]
            out.append((ld.integrate(m, self.q_stand, dq), rng.uniform(-0.5, 0.5, m.nv), tau))
        return out


class MuJoCo:
    def __init__(self, ours, path, impedance):
        robot = ET.fromstring(Path(path).read_text())
        for link in robot.findall("link"):
            if link.get("name") == "world":
                robot.remove(link)
        for joint in robot.findall("joint"):
            if joint.find("parent").get("link") == "world":
                robot.remove(joint)
        spec = mujoco.MjSpec.from_string(ET.tostring(robot, encoding="unicode"))
        spec.worldbody.first_body().add_freejoint()
        for name, point in zip(FEET, ours.ground):
            spec.body(name).add_site(name=f"{name}_site")  # the foot's origin; fused into the shank
            spec.worldbody.add_site(name=f"{name}_ground", pos=point)
            spec.add_equality(type=mujoco.mjtEq.mjEQ_CONNECT, objtype=mujoco.mjtObj.mjOBJ_SITE,
                              name1=f"{name}_site", name2=f"{name}_ground", solref=[-KP, -KD],
                              solimp=[impedance, impedance, 0.001, 0.5, 2.0])
        self.m = spec.compile()
        self.m.opt.disableflags |= mujoco.mjtDisableBit.mjDSBL_CONTACT | mujoco.mjtDisableBit.mjDSBL_LIMIT
        self.d = mujoco.MjData(self.m)
        model = ours.model
        joints = {mujoco.mj_id2name(self.m, mujoco.mjtObj.mjOBJ_JOINT, j): j for j in range(self.m.njnt)}
        # leg joints: our velocity index 6 + k, configuration index 7 + k
        legs = [n for n in model.names[1:] if n in joints]
        self.v_map = np.array([self.m.jnt_dofadr[joints[n]] for n in legs])
        self.q_map = np.array([self.m.jnt_qposadr[joints[n]] for n in legs])
        assert len(legs) == model.nv - 6 and self.m.nv == model.nv

    def gains(self):
        """Our (kp, kd) for MuJoCo's reference acceleration −B·vel − K·d·pos."""
        mujoco.mj_forward(self.m, self.d)
        K, B, imp = self.d.efc_KBIP[0, :3]
        return K * imp, B

    def convert(self, ours, q, v, tau):
        """Our state in MuJoCo's coordinates: the trunk's linear velocity in
        world axes, quaternions scalar first."""
        ld.forwardKinematics(ours.model, ours.data, q)
        R = ours.data.oMi[1].homogeneous[:3, :3]
        qpos, qvel, qfrc = np.zeros(self.m.nq), np.zeros(self.m.nv), np.zeros(self.m.nv)
        qpos[:3], qpos[3:7] = q[:3], quat_xyzw_to_wxyz(q[3:7])
        qpos[self.q_map] = q[7:]
        qvel[:3], qvel[3:6] = R @ v[:3], v[3:6]
        qvel[self.v_map] = v[6:]
        qfrc[self.v_map] = tau[6:]
        return qpos, qvel, qfrc, R

    def forward(self, qpos, qvel, qfrc):
        d = self.d
        d.qpos[:], d.qvel[:], d.qfrc_applied[:] = qpos, qvel, qfrc
        mujoco.mj_forward(self.m, d)

    def qacc_as_ours(self, R, v):
        """MuJoCo's qacc as our q̈: the trunk's linear part Rᵀ·p̈ − ω × v."""
        a = self.d.qacc
        out = np.empty(self.m.nv)
        out[:3] = R.T @ a[:3] - np.cross(v[3:6], v[:3])
        out[3:6] = a[3:6]
        out[6:] = a[self.v_map]
        return out

    def central_differences(self, qpos, qvel, qfrc):
        """∂qacc/∂(q, v, τ) (3 × nv × nv) by central differences of
        mj_forward, positions moved along mj_integratePos, the stages that a
        perturbation cannot reach skipped."""
        m, d, nv = self.m, self.d, self.m.nv
        out = np.empty((3, nv, nv))
        step = np.zeros(nv)
        for k in range(nv):
            acc = []
            for sign in (1.0, -1.0):
                step[k] = sign * EPS
                d.qpos[:] = qpos
                mujoco.mj_integratePos(m, d.qpos, step, 1.0)
                d.qvel[:], d.qfrc_applied[:] = qvel, qfrc
                mujoco.mj_forward(m, d)
                acc.append(d.qacc.copy())
            out[0, :, k] = (acc[0] - acc[1]) / (2 * EPS)
            step[k] = 0.0
        d.qpos[:] = qpos
        for stage, vector, column in ((mujoco.mjtStage.mjSTAGE_POS, qvel, 1),
                                      (mujoco.mjtStage.mjSTAGE_VEL, qfrc, 2)):
            mujoco.mj_forward(m, d)  # the stages before the skipped ones, at the state
            for k in range(nv):
                acc = []
                for sign in (1.0, -1.0):
                    perturbed = vector.copy()
                    perturbed[k] += sign * EPS
                    d.qvel[:] = perturbed if column == 1 else qvel
                    d.qfrc_applied[:] = perturbed if column == 2 else qfrc
                    mujoco.mj_forwardSkip(m, d, stage, 0)
                    acc.append(d.qacc.copy())
                out[column, :, k] = (acc[0] - acc[1]) / (2 * EPS)
            d.qvel[:], d.qfrc_applied[:] = qvel, qfrc
        return out


def median_time(call, states, repetitions, batch):
    """Median over repetitions of the time per call (s), each repetition
    `batch` calls, every call from the next state."""
    n = len(states)
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        for i in range(batch):
            call(*states[i % n])
        times.append((time.perf_counter() - start) / batch)
    return statistics.median(times)


def agreement(ours, peer, states, native, contacts):
    """Largest differences on the states between our results and MuJoCo's,
    relative to the largest entry of ours: q̈, λ and the leg blocks of the
    three derivatives."""
    model, data = ours.model, ours.data
    legs = slice(6, model.nv)
    err, scale = np.zeros(5), np.zeros(5)
    for (q, v, tau), (qpos, qvel, qfrc, R) in zip(states, native):
        ddq, forces = ld.constrainedDynamics(model, data, contacts, q, v, tau)
        peer.forward(qpos, qvel, qfrc)
        pairs = [(ddq, peer.qacc_as_ours(R, v)), (forces, peer.d.efc_force[:contacts.size])]
        analytic = ld.computeConstrainedDynamicsDerivatives(model, data, contacts, q, v, tau)[:3]
        numeric = peer.central_differences(qpos, qvel, qfrc)
        pairs += [(a[legs, legs], n[np.ix_(peer.v_map, peer.v_map)]) for a, n in zip(analytic, numeric)]
        for k, (a, b) in enumerate(pairs):
            err[k] = max(err[k], np.max(np.abs(a - b)))
            scale[k] = max(scale[k], np.max(np.abs(a)))
    return err / scale


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=100)
    args = parser.parse_args()

    path = ROOT / "models" / "quadruped.urdf"
    ours = Ours(path)
    model, data = ours.model, ours.data
    rng = np.random.default_rng(0)
    states = ours.states(rng, STATES)
    print(f"quadruped: nv {model.nv}, 4 point contacts (12 rows); MuJoCo {mujoco.__version__}, "
          f"connect equalities, solref ({-KP:g}, {-KD:g})")

    print("\nlargest difference from MuJoCo on 8 states, relative to the largest entry of ours:")
    print(f"  {'impedance d':<24}" + "".join(f"{d:>12g}" for d in IMPEDANCES))
    columns = []
    for impedance in IMPEDANCES:
        peer = MuJoCo(ours, path, impedance)
        kp, kd = peer.gains()
        contacts = ours.contacts(kp, kd)
        native = [peer.convert(ours, *s) for s in states]
        columns.append(agreement(ours, peer, states[:8], native[:8], contacts))
    for k, label in enumerate(("q̈ against qacc", "λ against efc_force", "∂q̈/∂q, leg block",
                               "∂q̈/∂v, leg block", "∂q̈/∂τ, leg block")):
        print(f"  {label:<24}" + "".join(f"{c[k]:>12.1e}" for c in columns))
    print(f"  (our corrector at d = {IMPEDANCES[-1]}: kp = {kp:.4f}, kd = {kd:.4f})")

    # ---------------------------------------------------------------- timing
    reps = args.repetitions
    A = np.zeros((2 * model.nv, 2 * model.nv))
    t = {
        "aba": median_time(lambda q, v, tau: ld.aba(model, data, q, v, tau), states, reps, 200),
        "computeABADerivatives": median_time(
            lambda q, v, tau: ld.computeABADerivatives(model, data, q, v, tau), states, reps, 100),
        "constrainedDynamics": median_time(
            lambda q, v, tau: ld.constrainedDynamics(model, data, contacts, q, v, tau), states, reps, 200),
        "mj_forward": median_time(lambda qpos, qvel, qfrc, R: peer.forward(qpos, qvel, qfrc), native, reps, 200),
        "computeConstrainedDynamicsDerivatives": median_time(
            lambda q, v, tau: ld.computeConstrainedDynamicsDerivatives(model, data, contacts, q, v, tau),
            states, reps, 50),
        "central differences": median_time(
            lambda qpos, qvel, qfrc, R: peer.central_differences(qpos, qvel, qfrc), native, max(reps // 3, 5), 4),
    }

    def transition(qpos, qvel, qfrc, R):
        peer.forward(qpos, qvel, qfrc)
        mujoco.mjd_transitionFD(peer.m, peer.d, EPS, True, A, None, None, None)

    t["mjd_transitionFD"] = median_time(transition, native, max(reps // 3, 5), 10)

    us = {k: 1e6 * x for k, x in t.items()}
    print("\nmedian time per call from Python (µs):")
    print(f"  {'call':<24}{'ours':>10}{'MuJoCo':>10}{'MuJoCo / ours':>15}")
    rows = (("constrained dynamics", "constrainedDynamics", "mj_forward"),
            ("derivatives", "computeConstrainedDynamicsDerivatives", "central differences"),
            ("  MuJoCo: transitionFD", "computeConstrainedDynamicsDerivatives", "mjd_transitionFD"))
    for label, a, b in rows:
        print(f"  {label:<24}{us[a]:>10.1f}{us[b]:>10.1f}{us[b] / us[a]:>14.1f}×")
    print(f"  {'free robot: aba':<24}{us['aba']:>10.1f}")
    print(f"  {'computeABADerivatives':<24}{us['computeABADerivatives']:>10.1f}")
    print(f"\nconstrainedDynamics / aba: {t['constrainedDynamics'] / t['aba']:.2f}; "
          f"computeConstrainedDynamicsDerivatives / computeABADerivatives: "
          f"{t['computeConstrainedDynamicsDerivatives'] / t['computeABADerivatives']:.2f}")


if __name__ == "__main__":
    main()
