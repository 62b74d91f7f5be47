// src/model/model_operations: reduced and combined models, checked against
// the full models' own dynamics and kinematics.
#include "model/model_operations.hpp"

#include <random>

#include "algorithms/center_of_mass.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "model/serialize.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

using test::near;
using Eigen::VectorXd;

// robot_cases() with a JOINT frame on every joint and an OP_FRAME at a random
// placement on every other one, so that locked joints carry frames.
std::vector<test::NamedModel> framed_cases() {
  std::vector<test::NamedModel> cases = test::robot_cases();
  std::mt19937 rng(7);
  for (test::NamedModel& c : cases)
    for (JointIndex i = 1; i < c.model.njoints; ++i) {
      c.model.add_frame(Frame{"joint frame " + std::to_string(i), i, SE3::Identity(), JOINT});
      if (i % 2) c.model.add_frame(Frame{"op frame " + std::to_string(i), i, test::random_placement(rng), OP_FRAME});
    }
  return cases;
}

// The largest |entry|, 0 for an empty matrix: the scale of a tolerance.
template <typename Derived>
double largest(const Eigen::MatrixBase<Derived>& x) {
  return x.size() > 0 ? x.cwiseAbs().maxCoeff() : 0.0;
}

// The configuration and velocity of the full model for (q_r, v_r) on the
// kept joints: q_reference and zero velocity on the locked ones.
void expand(const Model& full, const std::vector<char>& locked, const VectorXd& q_reference, const VectorXd& q_r,
            const VectorXd& v_r, VectorXd& q, VectorXd& v, std::vector<Eigen::Index>& kept_v) {
  q = q_reference;
  v = VectorXd::Zero(static_cast<Eigen::Index>(full.nv));
  kept_v.clear();
  Eigen::Index iq = 0, iv = 0;
  for (JointIndex i = 1; i < full.njoints; ++i) {
    if (locked[i]) continue;
    const auto nq = static_cast<Eigen::Index>(full.nq_joint[i]), nv = static_cast<Eigen::Index>(full.nv_joint[i]);
    q.segment(static_cast<Eigen::Index>(full.idx_q[i]), nq) = q_r.segment(iq, nq);
    v.segment(static_cast<Eigen::Index>(full.idx_v[i]), nv) = v_r.segment(iv, nv);
    for (Eigen::Index k = 0; k < nv; ++k) kept_v.push_back(static_cast<Eigen::Index>(full.idx_v[i]) + k);
    iq += nq;
    iv += nv;
  }
}

// ============================================================ buildReducedModel

// Locking joints at q_reference and moving the rest is the full model held at
// q_reference with zero velocity on the locked joints: the mass matrix and
// the nonlinear effects of the reduced model are the full model's rows and
// columns of the kept joints, and every frame (same index, same name) is
// where the full model puts it.
TEST(BuildReducedModel, IsTheFullModelHeldAtTheReference) {
  std::mt19937 rng(3);
  for (const test::NamedModel& c : framed_cases()) {
    const Model& full = c.model;
    for (int draw = 0; draw < 3; ++draw) {
      // draw 0 locks every other joint, the others about half at random
      std::vector<JointIndex> lock;
      std::vector<char> locked(full.njoints, 0);
      for (JointIndex i = 1; i < full.njoints; ++i)
        if (draw == 0 ? i % 2 == 1 : std::bernoulli_distribution(0.5)(rng)) lock.push_back(i);
      std::shuffle(lock.begin(), lock.end(), rng);
      for (const JointIndex i : lock) locked[i] = 1;
      const VectorXd q_reference = test::random_configuration(full, rng);
      const Model reduced = buildReducedModel(full, lock, q_reference);
      ASSERT_EQ(reduced.njoints, full.njoints - lock.size()) << c.name;
      ASSERT_EQ(reduced.nframes, full.nframes) << c.name;

      const VectorXd q_r = test::random_configuration(reduced, rng), v_r = test::random_velocity(reduced, rng);
      VectorXd q, v;
      std::vector<Eigen::Index> kept;
      expand(full, locked, q_reference, q_r, v_r, q, v, kept);
      Data full_data(full), reduced_data(reduced);
      const Eigen::MatrixXd M = test::mass_matrix(full, full_data, q)(kept, kept);
      const VectorXd nle = non_linear_effects(full, full_data, q, v)(kept);
      const double scale = 1.0 + largest(M) + largest(nle);
      EXPECT_TRUE(near(test::mass_matrix(reduced, reduced_data, q_r), M, test::kClose * scale)) << c.name;
      EXPECT_TRUE(near(non_linear_effects(reduced, reduced_data, q_r, v_r), nle, test::kClose * scale)) << c.name;

      forwardKinematics(full, full_data, q);
      forwardKinematics(reduced, reduced_data, q_r);
      for (FrameIndex k = 0; k < full.nframes; ++k) {
        const Frame &f = full.frames[k], &r = reduced.frames[k];
        ASSERT_EQ(r.name, f.name);
        EXPECT_EQ(r.type, locked[f.parent] && (f.type & JOINT) ? (f.type & ~JOINT) | FIXED_JOINT : f.type);
        EXPECT_TRUE(near(getFramePlacement(reduced, reduced_data, k), getFramePlacement(full, full_data, k),
                         test::kClose))
            << c.name << " frame " << f.name;
      }
    }
  }
}

// Locking nothing gives the same model, record for record.
TEST(BuildReducedModel, LockingNothingCopies) {
  std::mt19937 rng(5);
  for (const test::NamedModel& c : framed_cases())
    EXPECT_EQ(save_model(buildReducedModel(c.model, {}, test::random_configuration(c.model, rng))),
              save_model(c.model))
        << c.name;
}

// Quaternions and (cos, sin) pairs of the reference are normalised; the
// joint list and the reference are checked before anything is built.
TEST(BuildReducedModel, ReferenceAndJointChecks) {
  const Model m = test::random_tree(11, 6, {.chain = true,
                                            .kinds = {JointType::Spherical, JointType::Continuous,
                                                      JointType::Planar, JointType::Floating}});
  std::mt19937 rng(1);
  const VectorXd q = test::random_configuration(m, rng);
  VectorXd scaled = q;
  for (JointIndex i = 1; i < m.njoints; ++i) {  // every quaternion and pair times 2, exactly
    const auto at = static_cast<Eigen::Index>(m.idx_q[i]);
    switch (m.joints[i].type) {
      case JointType::Spherical: scaled.segment(at, 4) *= 2; break;
      case JointType::Floating: scaled.segment(at + 3, 4) *= 2; break;
      case JointType::Continuous: scaled.segment(at, 2) *= 2; break;
      case JointType::Planar: scaled.segment(at + 2, 2) *= 2; break;
      default: break;
    }
  }
  std::vector<JointIndex> all;
  for (JointIndex i = m.njoints - 1; i >= 1; --i) all.push_back(i);
  EXPECT_EQ(save_model(buildReducedModel(m, all, scaled)), save_model(buildReducedModel(m, all, q)));

  const auto message = [&](const std::vector<JointIndex>& lock, const VectorXd& ref) {
    return test::error_message<ValueError>([&] { buildReducedModel(m, lock, ref); });
  };
  EXPECT_EQ(message({2, 7}, q), "joints_to_lock 7 >= njoints 7");
  EXPECT_EQ(message({2, 0}, q), "joints_to_lock: joint 0 is the universe, which cannot be locked");
  EXPECT_EQ(message({2, 3, 2}, q), "joints_to_lock: joint 2 is given twice");
  EXPECT_EQ(message({2}, q.head(3)), "q_reference length 3 != nq " + std::to_string(m.nq));
  for (JointIndex i = 1; i < m.njoints; ++i) {
    VectorXd bad = q;
    bad.segment(static_cast<Eigen::Index>(m.idx_q[i]), static_cast<Eigen::Index>(m.nq_joint[i])).setZero();
    const bool pair = m.joints[i].type == JointType::Continuous || m.joints[i].type == JointType::Planar;
    EXPECT_EQ(message({i}, bad), "q_reference: the " + std::string(pair ? "(cos, sin) pair" : "quaternion") +
                                     " of joint '" + m.names[i] + "' (" + std::to_string(i) + ") is zero");
    bad[static_cast<Eigen::Index>(m.idx_q[i])] = std::nan("");
    EXPECT_EQ(message({i}, bad), "q_reference: the configuration of joint '" + m.names[i] + "' (" +
                                     std::to_string(i) + ") is not finite");
    EXPECT_EQ(message({}, bad), "no exception");  // only the locked joints' slices are read
  }
}

// ================================================================= appendModel

// Appended at the universe, the two trees do not touch: the mass matrix is
// block-diagonal with each tree's own, the nonlinear effects are each
// tree's, the appended one's under gravity seen from its base (Rᵀ g), and
// its frames sit at placement · their own placements.
TEST(AppendModel, AtTheUniverseTheTreesStayApart) {
  std::mt19937 rng(9);
  const std::vector<test::NamedModel> cases = framed_cases();
  for (std::size_t a = 0; a < cases.size(); ++a) {
    const Model& A = cases[a].model;
    const Model& B = cases[(a + 3) % cases.size()].model;
    const SE3 X = test::random_placement(rng);
    const Model AB = appendModel(A, B, 0, X, "b/");
    Model B_seen = B;  // B with the world's gravity in its base's axes
    B_seen.gravity.linear = X.rotation.transpose() * A.gravity.linear;
    B_seen.gravity.angular = X.rotation.transpose() * A.gravity.angular;
    ASSERT_EQ(AB.nframes, A.nframes + B.nframes - 1);
    ASSERT_EQ(AB.names.back(), B.njoints > 1 ? "b/" + B.names.back() : A.names.back());

    const VectorXd qa = test::random_configuration(A, rng), qb = test::random_configuration(B, rng);
    const VectorXd va = test::random_velocity(A, rng), vb = test::random_velocity(B, rng);
    VectorXd q(static_cast<Eigen::Index>(AB.nq)), v(static_cast<Eigen::Index>(AB.nv));
    q << qa, qb;
    v << va, vb;
    Data da(A), db(B_seen), dab(AB);
    const auto na = static_cast<Eigen::Index>(A.nv), nb = static_cast<Eigen::Index>(B.nv);
    Eigen::MatrixXd M = Eigen::MatrixXd::Zero(na + nb, na + nb);
    M.topLeftCorner(na, na) = test::mass_matrix(A, da, qa);
    M.bottomRightCorner(nb, nb) = test::mass_matrix(B_seen, db, qb);
    VectorXd nle(na + nb);
    nle << non_linear_effects(A, da, qa, va), non_linear_effects(B_seen, db, qb, vb);
    const double scale = 1.0 + largest(M) + largest(nle);
    EXPECT_TRUE(near(test::mass_matrix(AB, dab, q), M, test::kClose * scale)) << cases[a].name;
    EXPECT_TRUE(near(non_linear_effects(AB, dab, q, v), nle, test::kClose * scale)) << cases[a].name;

    forwardKinematics(AB, dab, q);
    forwardKinematics(A, da, qa);
    forwardKinematics(B_seen, db, qb);
    for (FrameIndex k = 0; k < A.nframes; ++k)
      EXPECT_TRUE(near(getFramePlacement(AB, dab, k), getFramePlacement(A, da, k), test::kClose));
    for (FrameIndex k = 1; k < B.nframes; ++k) {
      EXPECT_EQ(AB.frames[A.nframes + k - 1].name, "b/" + B.frames[k].name);
      EXPECT_TRUE(near(getFramePlacement(AB, dab, A.nframes + k - 1),
                       compose(X, getFramePlacement(B_seen, db, k)), test::kClose));
    }
  }
}

// Appended at a frame of a moving body: B's frames follow that frame, and
// the centre of mass is the mass-weighted mean of A's and of B's carried by
// frame · placement, B's root body (the universe's inertia) included.
TEST(AppendModel, AtAFrameBFollowsIt) {
  std::mt19937 rng(4);
  Model A = test::random_tree(21, 8), B = test::random_tree(22, 6, {.floating_base = true});
  A = test::with_extra_frame(A, rng);
  B.set_inertia(0, test::random_inertia(rng));
  B.add_frame(Frame{"tool", 0, test::random_placement(rng), OP_FRAME});  // on B's root body
  const FrameIndex at = A.nframes - 1;
  const SE3 X = test::random_placement(rng);
  const Model AB = appendModel(A, B, at, X, "b/");
  Data da(A), db(B), dab(AB);
  const VectorXd qa = test::random_configuration(A, rng), qb = test::random_configuration(B, rng);
  VectorXd q(static_cast<Eigen::Index>(AB.nq));
  q << qa, qb;
  // centerOfMass sums the bodies of the moving joints: B's root body counts
  // once it rides on A's body.
  double ma = 0, mb = 0;
  for (JointIndex i = 1; i < A.njoints; ++i) ma += A.inertias[i].mass;
  for (JointIndex i = 1; i < B.njoints; ++i) mb += B.inertias[i].mass;
  const BodyInertia& root = B.inertias[0];
  const Vector3 ca = centerOfMass(A, da, qa), cb = centerOfMass(B, db, qb);
  forwardKinematics(A, da, qa);
  const SE3 oMb = compose(getFramePlacement(A, da, at), X);
  const Vector3 expected =
      (ma * ca + mb * act_point(oMb, cb) + root.mass * act_point(oMb, root.lever)) / (ma + mb + root.mass);
  EXPECT_TRUE(near(centerOfMass(AB, dab, q), expected, test::kClose));
  forwardKinematics(AB, dab, q);
  forwardKinematics(B, db, qb);
  for (FrameIndex k = 1; k < B.nframes; ++k)
    EXPECT_TRUE(near(getFramePlacement(AB, dab, A.nframes + k - 1), compose(oMb, getFramePlacement(B, db, k)),
                     test::kClose));
}

// Appending the empty model copies, record for record; a name already in
// the model is refused (joints first), and a prefix resolves it.
TEST(AppendModel, EmptyModelNamesAndFrameChecks) {
  std::mt19937 rng(2);
  for (const test::NamedModel& c : framed_cases())
    EXPECT_EQ(save_model(appendModel(c.model, Model(), c.model.nframes - 1, test::random_placement(rng))),
              save_model(c.model))
        << c.name;

  Model A = test::random_tree(31, 4), B = test::random_tree(32, 3);
  A.add_frame(Frame{"tip", 4, SE3::Identity(), OP_FRAME});
  B.add_frame(Frame{"tip", 3, SE3::Identity(), OP_FRAME});
  const auto message = [&](FrameIndex at, std::string_view prefix) {
    return test::error_message<ValueError>([&] { appendModel(A, B, at, SE3::Identity(), prefix); });
  };
  EXPECT_EQ(message(1, ""), "appendModel: joint name '" + B.names[1] + "' is already in the model");
  B.names = {"universe", "b1", "b2", "b3"};
  EXPECT_EQ(message(1, ""), "appendModel: frame name 'tip' is already in the model");
  EXPECT_EQ(message(2, ""), "Frame ID 2 out of range (max: 1)");
  EXPECT_EQ(message(1, "b/"), "no exception");
}

}  // namespace
}  // namespace lumo
