// Side by side with KDL and MuJoCo on the same URDF models (models/arm7.urdf
// and models/humanoid.urdf): first a check that every library computes the
// same torques and mass matrix, then the median time per call of each, from
// the next of 64 random states, and the ratio fastest peer / ours.
//
// Calls: forward kinematics of every body, inverse dynamics (q, v, a), the
// mass matrix, bias forces (q, v) and forward dynamics (q, v, τ). Each
// peer's call is the cheapest public path from a new state to the result:
//   KDL     ChainFkSolverPos_recursive (all segments), ChainIdSolver_RNE,
//           ChainDynParam::JntToMass, ChainIdSolver_RNE with zero acceleration,
//           ChainFdSolver_RNE;
//   MuJoCo  mj_kinematics; mj_kinematics + mj_comPos + mj_comVel + mj_rne;
//           mj_kinematics + mj_comPos + mj_crb (sparse qM, not expanded);
//           as inverse dynamics with mj_rne(flg_acc = 0); mj_fwdPosition +
//           mj_fwdVelocity + mj_fwdActuation + mj_fwdAcceleration +
//           mj_fwdConstraint (factorised mass matrix, contacts and every
//           constraint disabled) with τ in qfrc_applied.
// Then the Jacobians of inverse dynamics, ∂τ/∂q and ∂τ/∂v from a new state:
// ours computeRNEADerivatives; MuJoCo (its Debian 2.2 has no mjd_inverseFD)
// central differences of the bias-force path above with flg_acc = 1, 2·nv
// calls for q (displaced by mj_integratePos) and 2·nv for v; KDL has none.
// Each peer is optional at configure time (LUMO_HAVE_KDL, LUMO_HAVE_MUJOCO).
//
// Times are medians over samples of CPU time of this thread per call
// (CLOCK_THREAD_CPUTIME_ID), so time spent preempted does not count; pin the
// process to one CPU (taskset -c 1) for stable numbers.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "algorithms/aba.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "models.hpp"

#ifdef LUMO_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfdsolver_recursive_newton_euler.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#endif
#ifdef LUMO_HAVE_MUJOCO
#include <mujoco/mujoco.h>
#endif

namespace {

using namespace lumo;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// ------------------------------------------------------------------ timing

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Median over `samples` batches of the CPU time per call, in ns; the batch
// is sized to last about 2 ms. call(k) runs on state k of `count`.
double median_ns(const std::function<void(std::size_t)>& call, std::size_t count, int samples = 31) {
  std::size_t k = 0;
  auto batch = [&](long n) {
    const double t0 = thread_seconds();
    for (long i = 0; i < n; ++i) {
      call(k);
      k = k + 1 == count ? 0 : k + 1;
    }
    return thread_seconds() - t0;
  };
  long n = 16;
  while (batch(n) < 2e-3) n *= 2;  // warms up too
  std::vector<double> t;
  for (int s = 0; s < samples; ++s) t.push_back(batch(n) / static_cast<double>(n) * 1e9);
  std::nth_element(t.begin(), t.begin() + samples / 2, t.end());
  return t[static_cast<std::size_t>(samples / 2)];
}

double relative(const MatrixXd& a, const MatrixXd& b) {
  return (a - b).cwiseAbs().maxCoeff() / std::max(1.0, b.cwiseAbs().maxCoeff());
}

MatrixXd symmetric(const MatrixXd& upper) {
  MatrixXd M = upper.triangularView<Eigen::Upper>();
  M.triangularView<Eigen::StrictlyLower>() = upper.transpose();
  return M;
}

// One row of the results: times in ns, NaN where a library has no entry.
struct Row {
  std::string model, call;
  double ours = NAN, kdl = NAN, mujoco = NAN;
};

// ---------------------------------------------------------------------- KDL
#ifdef LUMO_HAVE_KDL

KDL::Vector kdl(const Vector3& x) { return KDL::Vector(x.x(), x.y(), x.z()); }
KDL::Frame kdl(const SE3& M) {
  const Matrix3& R = M.rotation;
  return KDL::Frame(KDL::Rotation(R(0, 0), R(0, 1), R(0, 2), R(1, 0), R(1, 1), R(1, 2), R(2, 0), R(2, 1), R(2, 2)),
                    kdl(M.translation));
}
KDL::RigidBodyInertia kdl(const BodyInertia& Y) {
  const Matrix3 I = inertia_tensor(Y);
  return KDL::RigidBodyInertia(Y.mass, kdl(Y.lever),
                               KDL::RotationalInertia(I(0, 0), I(1, 1), I(2, 2), I(0, 1), I(0, 2), I(1, 2)));
}

// One segment per joint, as a URDF importer makes them: the joint axis at the
// joint origin in the parent frame, the tip at the joint frame, the body's
// inertia in the joint (tip) frame. Empty unless the model is a chain of
// revolute, prismatic and fixed joints.
std::optional<KDL::Chain> kdl_chain(const Model& model) {
  KDL::Chain chain;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    if (model.parents[i] != i - 1) return std::nullopt;
    const JointModel& j = model.joints[i];
    const SE3& P = model.jointPlacements[i];
    KDL::Joint joint(KDL::Joint::Fixed);
    if (j.type == JointType::Revolute)
      joint = KDL::Joint(model.names[i], kdl(P.translation), kdl(P.rotation * j.unit), KDL::Joint::RotAxis);
    else if (j.type == JointType::Prismatic)
      joint = KDL::Joint(model.names[i], kdl(P.translation), kdl(P.rotation * j.unit), KDL::Joint::TransAxis);
    else if (j.type != JointType::Fixed)
      return std::nullopt;
    chain.addSegment(KDL::Segment(model.names[i], joint, kdl(P), kdl(model.inertias[i])));
  }
  return chain;
}

void compare_kdl(const Model& model, const bench::States& s, std::vector<Row>& rows, const std::string& name) {
  const std::optional<KDL::Chain> maybe = kdl_chain(model);
  if (!maybe) {
    std::printf("%-9s KDL: not a serial chain, skipped\n", name.c_str());
    return;
  }
  const KDL::Chain& chain = *maybe;
  const unsigned n = chain.getNrOfJoints();
  const KDL::Vector gravity = kdl(model.gravity.linear);
  KDL::ChainFkSolverPos_recursive fk(chain);
  KDL::ChainIdSolver_RNE id(chain, gravity);
  KDL::ChainDynParam dyn(chain, gravity);
  const std::size_t count = s.q.size();
  std::vector<KDL::JntArray> q(count, KDL::JntArray(n)), v = q, a = q;
  for (std::size_t k = 0; k < count; ++k) q[k].data = s.q[k], v[k].data = s.v[k], a[k].data = s.a[k];
  const KDL::JntArray zero(n);
  KDL::JntArray tau(n);
  KDL::JntSpaceInertiaMatrix H(n);
  KDL::Wrenches f_ext(chain.getNrOfSegments(), KDL::Wrench::Zero());
  std::vector<KDL::Frame> frames(chain.getNrOfSegments());

  // Agreement first.
  Data data(model);
  double dtau = 0, dM = 0, dnle = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    id.CartToJnt(q[k], v[k], a[k], f_ext, tau);
    dtau = std::max(dtau, relative(tau.data, rnea(model, data, s.q[k], s.v[k], s.a[k])));
    id.CartToJnt(q[k], v[k], zero, f_ext, tau);
    dnle = std::max(dnle, relative(tau.data, non_linear_effects(model, data, s.q[k], s.v[k])));
    dyn.JntToMass(q[k], H);
    dM = std::max(dM, relative(H.data, symmetric(crba(model, data, s.q[k]))));
  }
  KDL::ChainFdSolver_RNE fd(chain, gravity);
  KDL::JntArray ddq(n);
  double dddq = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    fd.CartToJnt(q[k], v[k], a[k], f_ext, ddq);  // the random a as torques
    dddq = std::max(dddq, relative(ddq.data, aba(model, data, s.q[k], s.v[k], s.a[k])));
  }
  std::printf("%-9s KDL agrees: torques %.1e, bias forces %.1e, mass matrix %.1e, accelerations %.1e "
              "(largest relative deviation)\n", name.c_str(), dtau, dnle, dM, dddq);
  if (std::max({dtau, dnle, dM, dddq}) > 1e-9) std::printf("  WARNING: KDL disagrees beyond 1e-9\n");

  auto row = [&](const char* call) -> Row& {
    for (Row& r : rows)
      if (r.model == name && r.call == call) return r;
    rows.push_back({name, call});
    return rows.back();
  };
  row("forward kinematics").kdl = median_ns([&](std::size_t k) { fk.JntToCart(q[k], frames); }, count);
  row("inverse dynamics").kdl = median_ns([&](std::size_t k) { id.CartToJnt(q[k], v[k], a[k], f_ext, tau); }, count);
  row("mass matrix").kdl = median_ns([&](std::size_t k) { dyn.JntToMass(q[k], H); }, count);
  row("bias forces").kdl = median_ns([&](std::size_t k) { id.CartToJnt(q[k], v[k], zero, f_ext, tau); }, count);
  row("forward dynamics").kdl = median_ns([&](std::size_t k) { fd.CartToJnt(q[k], v[k], a[k], f_ext, ddq); }, count);
}
#endif

// ------------------------------------------------------------------- MuJoCo
#ifdef LUMO_HAVE_MUJOCO

// The URDF with MuJoCo's compiler options: keep bodies on fixed joints as
// they are, inertias as given.
mjModel* mujoco_load(const std::string& urdf_path, const std::string& tmp_path) {
  std::ifstream in(urdf_path);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  const auto robot = s.find("<robot");
  const auto close = robot == std::string::npos ? robot : s.find('>', robot);
  if (close == std::string::npos) return nullptr;
  s.insert(close + 1,
           "<mujoco><compiler discardvisual=\"true\" fusestatic=\"false\" balanceinertia=\"false\" "
           "boundmass=\"0\" boundinertia=\"0\"/></mujoco>");
  std::ofstream(tmp_path) << s;
  char error[1000] = "";
  mjModel* m = mj_loadXML(tmp_path.c_str(), nullptr, error, sizeof error);
  if (m == nullptr) std::printf("MuJoCo could not load %s: %s\n", urdf_path.c_str(), error);
  std::remove(tmp_path.c_str());
  return m;
}

// Our coordinates → MuJoCo's, joint by joint (matched by name). A floating
// joint's linear velocity is in the body frame here and in the world frame
// there: ν_mj = T ν with T = diag(R, E), so τ = Tᵀ τ_mj and M = Tᵀ M_mj T;
// MuJoCo's zero acceleration is ours with v̇ = −ω × v (kept in `bias_a`).
struct MujocoState {
  std::vector<std::vector<double>> qpos, qvel, qacc;
  std::vector<VectorXd> bias_a;
};

void compare_mujoco(const Model& model, const std::string& urdf, const bench::States& s, std::vector<Row>& rows,
                    const std::string& name) {
  mjModel* m = mujoco_load(urdf, "/tmp/lumo_bench_" + name + ".urdf");
  if (m == nullptr) return;
  mjData* d = mj_makeData(m);
  if (static_cast<std::size_t>(m->nv) != model.nv) {
    std::printf("%-9s MuJoCo: nv %d differs from ours (%zu), skipped\n", name.c_str(), m->nv, model.nv);
    return;
  }
  // Per joint of ours: MuJoCo's qpos and dof addresses.
  std::vector<int> qadr(model.njoints, -1), dadr(model.njoints, -1);
  for (JointIndex i = 1; i < model.njoints; ++i) {
    if (model.nv_joint[i] == 0) continue;
    const int j = mj_name2id(m, mjOBJ_JOINT, model.names[i].c_str());
    if (j < 0) {
      std::printf("%-9s MuJoCo: no joint %s, skipped\n", name.c_str(), model.names[i].c_str());
      return;
    }
    qadr[i] = m->jnt_qposadr[j];
    dadr[i] = m->jnt_dofadr[j];
  }
  const std::size_t count = s.q.size(), nv = model.nv;
  MujocoState ms;
  std::vector<MatrixXd> T(count, MatrixXd::Zero(static_cast<Eigen::Index>(nv), static_cast<Eigen::Index>(nv)));
  for (std::size_t k = 0; k < count; ++k) {
    std::vector<double> qpos(static_cast<std::size_t>(m->nq)), qvel(nv), qacc(nv);
    VectorXd bias_a = VectorXd::Zero(static_cast<Eigen::Index>(nv));
    for (JointIndex i = 1; i < model.njoints; ++i) {
      if (qadr[i] < 0) continue;
      const double* q = s.q[k].data() + model.idx_q[i];
      const double* v = s.v[k].data() + model.idx_v[i];
      const double* a = s.a[k].data() + model.idx_v[i];
      const auto iv = static_cast<Eigen::Index>(model.idx_v[i]);
      const int dq = qadr[i], dv = dadr[i];
      switch (model.joints[i].type) {
        case JointType::Revolute:
        case JointType::Prismatic:
          qpos[dq] = q[0], qvel[dv] = v[0], qacc[dv] = a[0];
          T[k](dv, iv) = 1.0;
          break;
        case JointType::Floating: {
          const Matrix3 R = rotation_from_quaternion(q[3], q[4], q[5], q[6]);
          const Vector3 lin(v[0], v[1], v[2]), w(v[3], v[4], v[5]), alin(a[0], a[1], a[2]);
          const Vector3 vw = R * lin, aw = R * (alin + w.cross(lin));
          for (int c = 0; c < 3; ++c) qpos[dq + c] = q[c];
          qpos[dq + 3] = q[6], qpos[dq + 4] = q[3], qpos[dq + 5] = q[4], qpos[dq + 6] = q[5];
          for (int c = 0; c < 3; ++c) {
            qvel[dv + c] = vw[c], qvel[dv + 3 + c] = w[c];
            qacc[dv + c] = aw[c], qacc[dv + 3 + c] = a[3 + c];
          }
          bias_a.segment<3>(iv) = -w.cross(lin);
          T[k].block(dv, iv, 3, 3) = R;
          T[k].block(dv + 3, iv + 3, 3, 3).setIdentity();
          break;
        }
        default:
          std::printf("%-9s MuJoCo: joint kind of %s not mapped, skipped\n", name.c_str(), model.names[i].c_str());
          return;
      }
    }
    ms.qpos.push_back(qpos), ms.qvel.push_back(qvel), ms.qacc.push_back(qacc), ms.bias_a.push_back(bias_a);
  }
  auto load = [&](std::size_t k, bool with_v, bool with_a) {
    std::copy(ms.qpos[k].begin(), ms.qpos[k].end(), d->qpos);
    if (with_v) std::copy(ms.qvel[k].begin(), ms.qvel[k].end(), d->qvel);
    if (with_a) std::copy(ms.qacc[k].begin(), ms.qacc[k].end(), d->qacc);
  };
  VectorXd tau_mj(static_cast<Eigen::Index>(nv));
  MatrixXd M_mj(nv, nv);
  auto inverse_dynamics = [&](std::size_t k, int flg_acc) {
    load(k, true, flg_acc != 0);
    mj_kinematics(m, d);
    mj_comPos(m, d);
    mj_comVel(m, d);
    mj_rne(m, d, flg_acc, tau_mj.data());
  };
  auto mass_matrix = [&](std::size_t k) {
    load(k, false, false);
    mj_kinematics(m, d);
    mj_comPos(m, d);
    mj_crb(m, d);
  };

  // Forward dynamics with the random a as torques, τ_mj = T τ (T⁻ᵀ = T),
  // and back: q̈ = Tᵀ q̈_mj + bias_a. No contacts, no constraints.
  std::vector<VectorXd> tau_in(count);
  for (std::size_t k = 0; k < count; ++k) tau_in[k] = T[k] * s.a[k];
  m->opt.disableflags |= mjDSBL_CONSTRAINT | mjDSBL_CONTACT;
  auto forward_dynamics = [&](std::size_t k) {
    load(k, true, false);
    std::copy(tau_in[k].data(), tau_in[k].data() + nv, d->qfrc_applied);
    mj_fwdPosition(m, d);
    mj_fwdVelocity(m, d);
    mj_fwdActuation(m, d);
    mj_fwdAcceleration(m, d);
    mj_fwdConstraint(m, d);
  };

  Data data(model);
  double dtau = 0, dM = 0, dnle = 0, dddq = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    forward_dynamics(k);
    const VectorXd qacc = Eigen::Map<const VectorXd>(d->qacc, static_cast<Eigen::Index>(nv));
    dddq = std::max(dddq, relative(T[k].transpose() * qacc + ms.bias_a[k], aba(model, data, s.q[k], s.v[k], s.a[k])));
    inverse_dynamics(k, 1);
    dtau = std::max(dtau, relative(T[k].transpose() * tau_mj, rnea(model, data, s.q[k], s.v[k], s.a[k])));
    inverse_dynamics(k, 0);
    dnle = std::max(dnle, relative(T[k].transpose() * tau_mj, rnea(model, data, s.q[k], s.v[k], ms.bias_a[k])));
    mass_matrix(k);
    mj_fullM(m, M_mj.data(), d->qM);  // symmetric, so the storage order does not matter
    dM = std::max(dM, relative(T[k].transpose() * M_mj * T[k], symmetric(crba(model, data, s.q[k]))));
  }
  std::printf("%-9s MuJoCo (nq %d, nv %d) agrees: torques %.1e, bias forces %.1e, mass matrix %.1e, "
              "accelerations %.1e\n", name.c_str(), m->nq, m->nv, dtau, dnle, dM, dddq);
  if (std::max({dtau, dnle, dM, dddq}) > 1e-8) std::printf("  WARNING: MuJoCo disagrees beyond 1e-8\n");

  auto row = [&](const char* call) -> Row& {
    for (Row& r : rows)
      if (r.model == name && r.call == call) return r;
    rows.push_back({name, call});
    return rows.back();
  };
  row("forward kinematics").mujoco = median_ns([&](std::size_t k) { load(k, false, false), mj_kinematics(m, d); }, count);
  row("inverse dynamics").mujoco = median_ns([&](std::size_t k) { inverse_dynamics(k, 1); }, count);
  row("mass matrix").mujoco = median_ns(mass_matrix, count);
  row("bias forces").mujoco = median_ns([&](std::size_t k) { inverse_dynamics(k, 0); }, count);
  row("forward dynamics").mujoco = median_ns(forward_dynamics, count);
  mj_deleteData(d);
  mj_deleteModel(m);
}
#endif

// ------------------------------------------- derivatives of inverse dynamics
#ifdef LUMO_HAVE_MUJOCO

// ∂τ/∂q and ∂τ/∂v by MuJoCo: central differences (step 1e-6) of
// mj_kinematics + mj_comPos + mj_comVel + mj_rne, q displaced along
// mj_integratePos. Agreement with ours is checked on the rows and columns
// of the joints that are not floating (MuJoCo's free joint has other
// coordinates); times are per Jacobian pair from a new state.
void compare_mujoco_derivatives(const Model& model, const std::string& urdf, const bench::States& s,
                                std::vector<Row>& rows, const std::string& name) {
  mjModel* m = mujoco_load(urdf, "/tmp/lumo_bench_deriv_" + name + ".urdf");
  if (m == nullptr) return;
  if (static_cast<std::size_t>(m->nv) != model.nv) {
    mj_deleteModel(m);
    return;
  }
  mjData* d = mj_makeData(m);
  const int nv = m->nv, nq = m->nq;
  // Our joints and MuJoCo's addresses; states converted as compare_mujoco does.
  std::vector<int> qadr(model.njoints, -1), dadr(model.njoints, -1);
  std::vector<Eigen::Index> plain;  // our velocity indices of non-floating joints
  std::vector<int> plain_mj;        // and MuJoCo's
  for (JointIndex i = 1; i < model.njoints; ++i) {
    if (model.nv_joint[i] == 0) continue;
    const int j = mj_name2id(m, mjOBJ_JOINT, model.names[i].c_str());
    if (j < 0) return;
    qadr[i] = m->jnt_qposadr[j], dadr[i] = m->jnt_dofadr[j];
    if (model.joints[i].type != JointType::Floating) {
      plain.push_back(static_cast<Eigen::Index>(model.idx_v[i]));
      plain_mj.push_back(dadr[i]);
    }
  }
  const std::size_t count = s.q.size();
  std::vector<std::vector<double>> qpos(count, std::vector<double>(nq)), qvel(count, std::vector<double>(nv)),
      qacc(count, std::vector<double>(nv));
  for (std::size_t k = 0; k < count; ++k) {
    for (JointIndex i = 1; i < model.njoints; ++i) {
      if (qadr[i] < 0) continue;
      const double *q = s.q[k].data() + model.idx_q[i], *v = s.v[k].data() + model.idx_v[i],
                   *a = s.a[k].data() + model.idx_v[i];
      const int dq = qadr[i], dv = dadr[i];
      if (model.joints[i].type == JointType::Floating) {
        const Matrix3 R = rotation_from_quaternion(q[3], q[4], q[5], q[6]);
        const Vector3 lin(v[0], v[1], v[2]), w(v[3], v[4], v[5]), alin(a[0], a[1], a[2]);
        const Vector3 vw = R * lin, aw = R * (alin + w.cross(lin));
        for (int c = 0; c < 3; ++c) qpos[k][dq + c] = q[c];
        qpos[k][dq + 3] = q[6], qpos[k][dq + 4] = q[3], qpos[k][dq + 5] = q[4], qpos[k][dq + 6] = q[5];
        for (int c = 0; c < 3; ++c) {
          qvel[k][dv + c] = vw[c], qvel[k][dv + 3 + c] = w[c];
          qacc[k][dv + c] = aw[c], qacc[k][dv + 3 + c] = a[3 + c];
        }
      } else {
        qpos[k][dq] = q[0], qvel[k][dv] = v[0], qacc[k][dv] = a[0];
      }
    }
  }
  MatrixXd dq_mj(nv, nv), dv_mj(nv, nv);
  VectorXd tau(nv), dx = VectorXd::Zero(nv);
  auto run = [&](const double* pos, const double* vel, const double* acc) {
    std::copy(pos, pos + nq, d->qpos);
    std::copy(vel, vel + nv, d->qvel);
    std::copy(acc, acc + nv, d->qacc);
    mj_kinematics(m, d);
    mj_comPos(m, d);
    mj_comVel(m, d);
    mj_rne(m, d, 1, tau.data());
  };
  std::vector<double> pos(nq), vel(nv);
  const double h = 1e-6;
  auto jacobians = [&](std::size_t k) {
    for (int c = 0; c < nv; ++c) {
      for (int side = 0; side < 2; ++side) {
        const double step = side == 0 ? h : -h;
        pos = qpos[k];
        dx[c] = step;
        mj_integratePos(m, pos.data(), dx.data(), 1.0);
        dx[c] = 0.0;
        run(pos.data(), qvel[k].data(), qacc[k].data());
        if (side == 0) dq_mj.col(c) = tau; else dq_mj.col(c) = (dq_mj.col(c) - tau) / (2 * h);
        vel = qvel[k];
        vel[c] += step;
        run(qpos[k].data(), vel.data(), qacc[k].data());
        if (side == 0) dv_mj.col(c) = tau; else dv_mj.col(c) = (dv_mj.col(c) - tau) / (2 * h);
      }
    }
  };
  Data data(model);
  double eq = 0, ev = 0;
  const auto n = static_cast<Eigen::Index>(plain.size());
  for (std::size_t k = 0; k < 4; ++k) {
    jacobians(k);
    computeRNEADerivatives(model, data, s.q[k], s.v[k], s.a[k]);
    MatrixXd ours_q(n, n), ours_v(n, n), mj_q(n, n), mj_v(n, n);
    for (Eigen::Index r = 0; r < n; ++r)
      for (Eigen::Index c = 0; c < n; ++c) {
        ours_q(r, c) = data.dtau_dq(plain[r], plain[c]), ours_v(r, c) = data.dtau_dv(plain[r], plain[c]);
        mj_q(r, c) = dq_mj(plain_mj[r], plain_mj[c]), mj_v(r, c) = dv_mj(plain_mj[r], plain_mj[c]);
      }
    eq = std::max(eq, relative(mj_q, ours_q)), ev = std::max(ev, relative(mj_v, ours_v));
  }
  std::printf("%-9s MuJoCo central differences agree on the %ld non-floating coordinates: dtau/dq %.1e, dtau/dv %.1e\n",
              name.c_str(), static_cast<long>(n), eq, ev);
  if (std::max(eq, ev) > 1e-6) std::printf("  WARNING: MuJoCo's differences disagree beyond 1e-6\n");
  Row& r = rows.emplace_back(Row{name, "dtau/dq, dtau/dv"});
  r.ours = median_ns([&](std::size_t k) { computeRNEADerivatives(model, data, s.q[k], s.v[k], s.a[k]); }, count, 15);
  r.mujoco = median_ns(jacobians, count, 15);
  mj_deleteData(d);
  mj_deleteModel(m);
}
#endif

void time_ours(const Model& model, const bench::States& s, std::vector<Row>& rows, const std::string& name) {
  Data data(model);
  const std::size_t count = s.q.size();
  rows.push_back({name, "forward kinematics"});
  rows.back().ours = median_ns([&](std::size_t k) { forwardKinematics(model, data, s.q[k]); }, count);
  rows.push_back({name, "inverse dynamics"});
  rows.back().ours = median_ns([&](std::size_t k) { rnea(model, data, s.q[k], s.v[k], s.a[k]); }, count);
  rows.push_back({name, "mass matrix"});
  rows.back().ours = median_ns([&](std::size_t k) { crba(model, data, s.q[k]); }, count);
  rows.push_back({name, "bias forces"});
  rows.back().ours = median_ns([&](std::size_t k) { non_linear_effects(model, data, s.q[k], s.v[k]); }, count);
  rows.push_back({name, "forward dynamics"});
  rows.back().ours = median_ns([&](std::size_t k) { aba(model, data, s.q[k], s.v[k], s.a[k]); }, count);
}

std::string cell(double ns) {
  if (std::isnan(ns)) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f", ns);
  return buf;
}

}  // namespace

int main() {
#ifndef LUMO_HAVE_KDL
  std::printf("KDL not found at configure time: its columns are skipped\n");
#endif
#ifndef LUMO_HAVE_MUJOCO
  std::printf("MuJoCo not found at configure time: its columns are skipped\n");
#endif
  std::vector<Row> rows;
  for (const char* name : {"arm7", "humanoid"}) {
    const std::string urdf = bench::model_path(std::string(name) + ".urdf");
    if (!bench::file_exists(urdf)) {
      std::printf("%s missing: no comparison on it\n", urdf.c_str());
      continue;
    }
    const Model model = parse_urdf_file(urdf);
    const bench::States states(model);
    std::printf("%-9s njoints %zu nq %zu nv %zu\n", name, model.njoints, model.nq, model.nv);
    time_ours(model, states, rows, name);
#ifdef LUMO_HAVE_KDL
    compare_kdl(model, states, rows, name);
#endif
#ifdef LUMO_HAVE_MUJOCO
    compare_mujoco(model, urdf, states, rows, name);
#endif
  }
  for (const char* name : {"arm7", "humanoid"}) {  // derivatives, after the plain calls
    const std::string urdf = bench::model_path(std::string(name) + ".urdf");
    if (!bench::file_exists(urdf)) continue;
#ifdef LUMO_HAVE_MUJOCO
    const Model model = parse_urdf_file(urdf);
    compare_mujoco_derivatives(model, urdf, bench::States(model), rows, name);
#endif
  }
  std::printf("\nmedian ns per call (thread CPU time), ratio = fastest peer / ours\n");
  std::printf("| %-9s | %-18s | %8s | %8s | %8s | %6s |\n", "model", "call", "lumo", "KDL", "MuJoCo", "ratio");
  std::printf("|-----------|--------------------|---------:|---------:|---------:|-------:|\n");
  for (const Row& r : rows) {
    const double peer = std::fmin(r.kdl, r.mujoco);  // fmin ignores a NaN
    char ratio[32] = "-";
    if (!std::isnan(peer)) std::snprintf(ratio, sizeof ratio, "%.2fx", peer / r.ours);
    std::printf("| %-9s | %-18s | %8s | %8s | %8s | %6s |\n", r.model.c_str(), r.call.c_str(), cell(r.ours).c_str(),
                cell(r.kdl).c_str(), cell(r.mujoco).c_str(), ratio);
  }
  return 0;
}
