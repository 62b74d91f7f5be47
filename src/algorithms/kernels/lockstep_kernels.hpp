// The lock-step kernels over the scalar Pack of lockstep_pack.hpp: the
// workspace the passes read and write in place of Data, the steps of a
// forward pass for it, and the kernels that load W rows into it, run the
// passes and store the results. Included only by lockstep_<isa>.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "../internal/aba_pass.hpp"
#include "../internal/jacobians.hpp"
#include "../internal/mass_matrix_pass.hpp"
#include "../internal/rnea_derivatives_pass.hpp"
#include "../internal/rnea_pass.hpp"
#include "lockstep.hpp"
#include "lockstep_pack.hpp"

namespace lumo::lockstep::LUMO_LOCKSTEP_ISA {

// The per-joint quantities the passes keep, as Data names them, and the
// states' inputs and outputs lane by lane.
struct Work {
  explicit Work(const Model& model)
      : v(model.njoints), a(model.njoints), f(model.njoints), limi(model.njoints), oMi(model.njoints),
        joint_sin(model.njoints), joint_cos(model.njoints),
        angle(kWidth * model.njoints), sin(kWidth * model.njoints), cos(kWidth * model.njoints),
        j(6 * model.nv), ancestor_runs(model.njoints),
        origin_composite(model.njoints), q(model.nq), qd(model.nv), qdd(model.nv), tau(model.nv),
        M(model.nv * model.nv), ov(model.njoints), articulated_inertia(model.njoints),
        ia_times_s(6 * model.nv), joint_inertia_inv(6 * model.nv), joint_torque_residual(model.nv),
        aba_velocity(model.njoints), aba_velocity_product(model.njoints), articulated_bias(model.njoints),
        aba_acceleration(model.njoints), frame_jacobian(6 * model.nv), derivative_columns(model.nv),
        derivative_bodies(model.njoints), derivative_accelerations(model.njoints), in_support(model.njoints) {
    support.reserve(model.njoints);
    // M[min(r, c), max(r, c)] for the entry k = r·n + c of a row-major n×n
    // matrix, M column-major (M, of n² packs, is allocated first: n² fits)
    const std::size_t n = model.nv;
    symmetric_entries.resize(n * n);
    for (std::size_t r = 0; r < n; ++r)
      for (std::size_t c = 0; c < n; ++c)
        symmetric_entries[r * n + c] = static_cast<std::uint32_t>(r <= c ? c * n + r : r * n + c);
  }

  bool world = false;  // forward passes place the joints in the world too (oMi)
  std::vector<MotionT<Pack>> v, a;
  std::vector<ForceT<Pack>> f;
  std::vector<SE3T<Pack>> limi, oMi;
  std::vector<Pack> joint_sin, joint_cos;
  std::vector<double> angle, sin, cos;  // joint by joint, W lanes each
  std::vector<Pack> j;                  // 6×nv column by column
  std::vector<Data::RowRun> ancestor_runs;
  std::vector<OriginInertiaT<Pack>> origin_composite;
  std::vector<Pack> q, qd, qdd, tau;
  std::vector<Pack> fext;  // njoints × [force; torque], made on first use
  std::vector<Pack> M;  // nv×nv, column-major
  std::vector<std::uint32_t> symmetric_entries;  // nv², store_symmetric_rows
  // the articulated-body algorithm's (as Data's)
  std::vector<MotionT<Pack>> ov;
  std::vector<Eigen::Matrix<Pack, 6, 6>> articulated_inertia;
  std::vector<Pack> ia_times_s, joint_inertia_inv, joint_torque_residual;
  std::vector<Eigen::Matrix<Pack, 6, 1>> aba_velocity, aba_velocity_product, articulated_bias, aba_acceleration;
  std::vector<Pack> frame_jacobian;  // 6×nv, column-major
  // the derivative pass's (as Data's), and its three nv×nv results one
  // after the other, row-major, made on first use: zero where the pass
  // writes nothing, which depends on the tree only (the same entries for
  // every state), so they are zeroed again only for another tree
  std::vector<DerivativeColumnT<Pack>> derivative_columns;
  std::vector<DerivativeBodyT<Pack>> derivative_bodies;
  std::vector<MotionT<Pack>> derivative_accelerations;
  std::vector<Pack> derivatives;
  std::vector<std::size_t> derivatives_tree;  // the tree they are zero for: parent, idx_v, nv_joint per joint
  // the joints the frames of a frame kernel hang from, with their ancestors
  std::vector<char> in_support;
  std::vector<JointIndex> support;
  // The pack's large outputs, fetched into the cache a slice per step of
  // the passes while they compute (fetch_outputs), so that their stores at
  // the end find the lines there instead of waiting for each from memory.
  struct Span {
    const char* at;
    const char* end;
  };
  Span fetch[3] = {};
  int nfetch = 0;
  std::size_t fetch_lines = 0;  // cache lines per step
};

inline constexpr std::size_t kLine = 64;

// The W rows of `bytes` each at out[0 .. n) to be fetched over the given
// number of steps of the passes about to run (forward_step, and
// keep_world_inertia on the way back of the mass matrix).
inline void plan_output_fetch(Work& w, double* const* out, int n, std::size_t bytes, std::size_t steps) {
  w.nfetch = n;
  for (int k = 0; k < n; ++k) {
    const char* p = reinterpret_cast<const char*>(out[k]);
    w.fetch[k] = {p, p + kWidth * bytes};
  }
  const std::size_t lines = (n * kWidth * bytes + kLine - 1) / kLine, per = std::max<std::size_t>(steps, 1);
  w.fetch_lines = (lines + per - 1) / per;
}

// The next slice of the planned fetch. (A plain prefetch: a line that no
// other core holds comes in this core's own, so the store needs nothing
// more; a prefetch for writing measured no better.)
inline void fetch_outputs(Work& w) {
  std::size_t left = w.fetch_lines;
  while (left > 0 && w.nfetch > 0) {
    Work::Span& s = w.fetch[w.nfetch - 1];
    for (; left > 0 && s.at < s.end; --left, s.at += kLine) __builtin_prefetch(s.at, 0, 3);
    if (s.at >= s.end) --w.nfetch;
  }
}

// w.derivatives zero where the pass writes nothing for the model's tree.
inline void ready_derivatives(const Model& model, Work& w) {
  const std::size_t n = model.njoints;
  bool same = w.derivatives_tree.size() == 3 * n;
  for (std::size_t i = 0; same && i < n; ++i)
    same = w.derivatives_tree[3 * i] == model.parents[i] && w.derivatives_tree[3 * i + 1] == model.idx_v[i] &&
           w.derivatives_tree[3 * i + 2] == model.nv_joint[i];
  if (same) return;
  w.derivatives.assign(3 * model.nv * model.nv, Pack(0.0));
  w.derivatives_tree.resize(3 * n);
  for (std::size_t i = 0; i < n; ++i) {
    w.derivatives_tree[3 * i] = model.parents[i];
    w.derivatives_tree[3 * i + 1] = model.idx_v[i];
    w.derivatives_tree[3 * i + 2] = model.nv_joint[i];
  }
}

// The W×W block of W vectors r[0 .. W) transposed in place: lane j of r[l]
// and lane l of r[j] swap. For W = 4, four shuffles pair the lanes and four
// gather the halves; for W = 8, three rounds of eight (pairs, then fours,
// then halves).
template <class L, int W = kWidth>
[[gnu::always_inline]] inline void transpose_block(L* r) {
  if constexpr (W == 4) {
    // t0 = (r0[0], r1[0], r0[2], r1[2]), t1 the odd lanes; t2, t3 of r2, r3
    const L t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 2, 6);
    const L t1 = __builtin_shufflevector(r[0], r[1], 1, 5, 3, 7);
    const L t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 2, 6);
    const L t3 = __builtin_shufflevector(r[2], r[3], 1, 5, 3, 7);
    r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
  } else if constexpr (W == 8) {
    // t[2k] the even lanes of r[2k] and r[2k+1] interleaved, t[2k+1] the odd
    L t[8];
    for (int k = 0; k < 4; ++k) {
      t[2 * k] = __builtin_shufflevector(r[2 * k], r[2 * k + 1], 0, 8, 2, 10, 4, 12, 6, 14);
      t[2 * k + 1] = __builtin_shufflevector(r[2 * k], r[2 * k + 1], 1, 9, 3, 11, 5, 13, 7, 15);
    }
    // u[m + 4h] (m < 4, h < 2): lanes m and m + 4 of the rows 4h .. 4h + 4
    L u[8];
    for (int h = 0; h < 2; ++h) {
      const L* a = t + 4 * h;
      u[4 * h] = __builtin_shufflevector(a[0], a[2], 0, 1, 8, 9, 4, 5, 12, 13);
      u[4 * h + 1] = __builtin_shufflevector(a[1], a[3], 0, 1, 8, 9, 4, 5, 12, 13);
      u[4 * h + 2] = __builtin_shufflevector(a[0], a[2], 2, 3, 10, 11, 6, 7, 14, 15);
      u[4 * h + 3] = __builtin_shufflevector(a[1], a[3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int m = 0; m < 4; ++m) {
      r[m] = __builtin_shufflevector(u[m], u[m + 4], 0, 1, 2, 3, 8, 9, 10, 11);
      r[m + 4] = __builtin_shufflevector(u[m], u[m + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
  } else {
    static_assert(W == 4 || W == 8, "packs are four or eight wide");
  }
}

// x[k] lane l = rows[l·width + k] for k < width: W consecutive rows (and
// back, store_rows), W entries of each row at a time (transpose_block).
inline void load_rows(const double* rows, std::size_t width, Pack* x) {
  const std::size_t blocked = width / kWidth * kWidth;
  for (std::size_t k = 0; k < blocked; k += kWidth) {
    Pack::Lanes r[kWidth];
    for (int l = 0; l < kWidth; ++l) r[l] = load(rows + l * width + k).v;
    transpose_block(r);
    for (int j = 0; j < kWidth; ++j) x[k + j].v = r[j];
  }
  for (std::size_t k = blocked; k < width; ++k)
    for (int l = 0; l < kWidth; ++l) x[k].v[l] = rows[l * width + k];
}

// The sines and cosines of the joint angles, by the single calls' own loop
// (sincos_many's) in this instruction set's vectors: the same numbers.
inline void compute_joint_sincos(const Model& model, Work& w, const Pack* q) {
  const std::size_t n = model.njoints;
  for (JointIndex i = 1; i < n; ++i) store(revolute_angle(model.joints[i], q + model.idx_q[i]), &w.angle[kWidth * i]);
  detail::sincos_loop(w.angle.data() + kWidth, w.sin.data() + kWidth, w.cos.data() + kWidth, kWidth * (n - 1));
  for (JointIndex i = 1; i < n; ++i) {
    w.joint_sin[i] = load(&w.sin[kWidth * i]);
    w.joint_cos[i] = load(&w.cos[kWidth * i]);
  }
}

// The same for some joints only: the same numbers for those.
inline void compute_joint_sincos(const Model& model, Work& w, const Pack* q, const std::vector<JointIndex>& joints) {
  const std::size_t n = joints.size();
  for (std::size_t k = 0; k < n; ++k)
    store(revolute_angle(model.joints[joints[k]], q + model.idx_q[joints[k]]), &w.angle[kWidth * k]);
  detail::sincos_loop(w.angle.data(), w.sin.data(), w.cos.data(), kWidth * n);
  for (std::size_t k = 0; k < n; ++k) {
    w.joint_sin[joints[k]] = load(&w.sin[kWidth * k]);
    w.joint_cos[joints[k]] = load(&w.cos[kWidth * k]);
  }
}

// The joint's own motion state by state, through the single call's routine
// (out of line, built for the baseline CPU): the kinds with a quaternion or
// an angle of two coordinates, whose arithmetic gains nothing in lock step.
inline SE3T<Pack> joint_transform(const JointModel& j, const Pack* q) {
  SE3T<Pack> T;
  double lane[7];
  for (int l = 0; l < kWidth; ++l) {
    for (std::size_t k = 0; k < j.nq; ++k) lane[k] = q[k].v[l];
    const SE3 Tl = lumo::joint_transform(j, lane);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) T.rotation(r, c).v[l] = Tl.rotation(r, c);
      T.translation[r].v[l] = Tl.translation[r];
    }
  }
  return T;
}

inline void joint_placement_general(const JointModel& j, const SE3& P, const Pack* q, SE3T<Pack>& out) {
  out = compose(lift<Pack>(P), joint_transform(j, q));
}

// limi of joint i, and oMi when the pass reads it.
inline void forward_step(const Model& model, Work& w, JointIndex i, const Pack* q) {
  fetch_outputs(w);
  const JointModel& j = model.joints[i];
  const std::size_t iq = model.idx_q[i];
  if (!w.world) {
    joint_placement(j, model.jointPlacements[i], q + iq, w.joint_sin[i], w.joint_cos[i], w.limi[i]);
    return;
  }
  const JointIndex p = model.parents[i];
  joint_placement_in_world(j, model.jointPlacements[i], model.placement_unrotated[i] != 0, q + iq, w.joint_sin[i],
                           w.joint_cos[i], p == 0 ? nullptr : &w.oMi[p], w.limi[i], w.oMi[i]);
}

// (the composite inertias about their centres of mass are not kept: the
// step fetches the next slice of the outputs instead)
inline void keep_world_inertia(Work& w, JointIndex, const OriginInertiaT<Pack>&) { fetch_outputs(w); }

// W packs x[0 .. W) into W rows: out[l·stride + j] = x[j] lane l, the W
// entries of each row one whole vector (transpose_block).
[[gnu::always_inline]] inline void store_transposed(const Pack* const* x, std::size_t stride, double* out) {
  Pack::Lanes r[kWidth];
  for (int j = 0; j < kWidth; ++j) r[j] = x[j]->v;
  transpose_block(r);
  for (int l = 0; l < kWidth; ++l) store(Pack(r[l]), out + l * stride);
}

// W rows of n homogeneous matrices, the k-th of each row the k-th placement.
inline void store_homogeneous_rows(const SE3T<Pack>& M, std::size_t k, std::size_t n, double* rows) {
  for (int l = 0; l < kWidth; ++l) {
    double* H = rows + 16 * (l * n + k);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) H[4 * r + c] = M.rotation(r, c).v[l];
      H[4 * r + 3] = M.translation[r].v[l];
    }
    H[12] = H[13] = H[14] = 0.0;
    H[15] = 1.0;
  }
}

// The n entries x[0], x[s], x[2s], … of W lanes into W rows, entry k of
// lane l to out[l·lane_stride + k]: each row written in order, W entries at
// a time (store_transposed).
inline void store_lanes(const Pack* x, std::size_t s, std::size_t n, double* out, std::size_t lane_stride) {
  const std::size_t blocked = n / kWidth * kWidth;
  for (std::size_t k = 0; k < blocked; k += kWidth) {
    const Pack* block[kWidth];
    for (int j = 0; j < kWidth; ++j) block[j] = x + (k + j) * s;
    store_transposed(block, lane_stride, out + k);
  }
  for (std::size_t k = blocked; k < n; ++k)
    for (int l = 0; l < kWidth; ++l) out[l * lane_stride + k] = x[k * s].v[l];
}

// rows[l·width + k] = x[k] lane l for k < width: W consecutive rows.
inline void store_rows(const Pack* x, std::size_t width, double* rows) { store_lanes(x, 1, width, rows, width); }

// The 6×nv column-major J into W row-major rows, row by row of J.
inline void store_jacobian_rows(const Pack* J, std::size_t nv, double* rows) {
  for (std::size_t r = 0; r < 6; ++r) store_lanes(J + r, 6, nv, rows + r * nv, 6 * nv);
}

// W rows of each of the count row-major nv×nv matrices at x (one after
// the other), into rows[k].
inline void store_matrix_rows(const Pack* x, std::size_t nv, int count, double* const* rows) {
  const std::size_t size = nv * nv;
  for (int m = 0; m < count; ++m) store_lanes(x + m * size, 1, size, rows[m], size);
}

// W rows of the symmetric n×n matrix whose upper triangle the column-major
// M holds: entry k = r·n + c of lane l to out[l·n² + k], read from
// M[entry[k]] (symmetric_entries); W entries of each row at a time
// (store_transposed).
inline void store_symmetric_rows(const Pack* M, const std::uint32_t* entry, std::size_t n, double* out) {
  const std::size_t size = n * n, blocked = size / kWidth * kWidth;
  for (std::size_t k = 0; k < blocked; k += kWidth) {
    const Pack* block[kWidth];
    for (int j = 0; j < kWidth; ++j) block[j] = M + entry[k + j];
    store_transposed(block, size, out + k);
  }
  for (std::size_t k = blocked; k < size; ++k)
    for (int l = 0; l < kWidth; ++l) out[l * size + k] = M[entry[k]].v[l];
}

// True when frame f and its joint are in the model (frame_parent_joint
// raises otherwise).
inline bool valid_frame(const Model& model, FrameIndex f) {
  return f < model.nframes && f < model.frames.size() && model.frames[f].parent < model.njoints;
}

// True when the W consecutive rows of the given width hold only finite numbers.
inline bool finite_rows(const double* rows, std::size_t width) {
  bool finite = true;
  for (std::size_t k = 0; k < kWidth * width; ++k) finite &= __builtin_isfinite(rows[k]);
  return finite;
}

// True when the W consecutive rows of external forces (njoints × 6 each)
// hold only finite numbers but for the root's six, which no pass reads.
inline bool finite_forces(const double* rows, std::size_t njoints) {
  bool finite = true;
  for (int l = 0; l < kWidth; ++l)
    for (std::size_t k = 6; k < 6 * njoints; ++k) finite &= __builtin_isfinite(rows[l * 6 * njoints + k]);
  return finite;
}

// w.support: the joints of frames[0 .. n) and their ancestors, in
// increasing order (each after its parent), the joints whose placements the
// frames' placements and Jacobians read. (The frames checked.)
inline void find_support(const Model& model, Work& w, const FrameIndex* frames, std::size_t n) {
  std::fill(w.in_support.begin(), w.in_support.end(), 0);
  for (std::size_t k = 0; k < n; ++k)
    for (JointIndex i = model.frames[frames[k]].parent; i != 0 && !w.in_support[i]; i = model.parents[i])
      w.in_support[i] = 1;
  w.support.clear();
  for (JointIndex i = 1; i < model.njoints; ++i)
    if (w.in_support[i]) w.support.push_back(i);
}

inline bool run(void* workspace, const Model& model, Kernel kernel, const Arguments& args, const double* const* in,
                double* const* out) {
  Work& w = *static_cast<Work*>(workspace);
  const std::size_t nq = model.nq, nv = model.nv;
  w.nfetch = 0;
  // A NaN or an infinity is left to the single calls: which of two NaNs an
  // operation passes on depends on the order of its operands, which the
  // compiler picks differently for vectors and for doubles.
  const int ninputs = kernel == Kernel::rnea || kernel == Kernel::aba || kernel == Kernel::rnea_derivatives ? 3
                      : kernel == Kernel::non_linear_effects ? 2
                                                             : 1;
  w.world = kernel != Kernel::rnea && kernel != Kernel::non_linear_effects && kernel != Kernel::gravity;
  for (int k = 0; k < ninputs; ++k)
    if (!finite_rows(in[k], k == 0 ? nq : nv)) return false;
  // external forces, taken off between the passes
  const Pack* fext = nullptr;
  if (args.forces) {
    if (!takes_forces(kernel) || !finite_forces(in[3], model.njoints)) return false;
    w.fext.resize(6 * model.njoints);
    load_rows(in[3], 6 * model.njoints, w.fext.data());
    fext = w.fext.data();
  }
  switch (kernel) {
    case Kernel::rnea:
    case Kernel::non_linear_effects:
    case Kernel::gravity: {
      load_rows(in[0], nq, w.q.data());
      const Pack* v = nullptr;
      const Pack* a = nullptr;
      if (kernel != Kernel::gravity) {
        load_rows(in[1], nv, w.qd.data());
        v = w.qd.data();
      }
      if (kernel == Kernel::rnea) {
        load_rows(in[2], nv, w.qdd.data());
        a = w.qdd.data();
      }
      rnea_forward<Pack>(model, w, w.q.data(), v, a);
      if (fext != nullptr) subtract_external_forces(model, w, fext, 6);
      rnea_backward<Pack>(model, w, w.tau.data());
      store_rows(w.tau.data(), nv, out[0]);
      return true;
    }
    case Kernel::crba:
      if (args.fetch_outputs) plan_output_fetch(w, out, 1, nv * nv * sizeof(double), 2 * (model.njoints - 1));
      load_rows(in[0], nq, w.q.data());
      mass_matrix_pass<Pack>(model, w, w.q.data(), w.M.data(), nv);
      store_symmetric_rows(w.M.data(), w.symmetric_entries.data(), nv, out[0]);
      return true;
    case Kernel::aba:
      load_rows(in[0], nq, w.q.data());
      load_rows(in[1], nv, w.qd.data());
      load_rows(in[2], nv, w.tau.data());
      try {
        aba_steps::aba_velocities<Pack>(model, w, w.q.data(), w.qd.data());
        if (fext != nullptr) aba_steps::subtract_world_external_forces(model, w, fext, 6);
        aba_steps::aba_accelerations<Pack>(model, w, w.tau.data(), w.qdd.data());
      } catch (...) {  // a joint that moves no mass in some state: the single call says which
        return false;
      }
      store_rows(w.qdd.data(), nv, out[0]);
      return true;
    case Kernel::frame_placements:
      for (std::size_t k = 0; k < args.nframes; ++k)
        if (!valid_frame(model, args.frames[k])) return false;
      load_rows(in[0], nq, w.q.data());
      find_support(model, w, args.frames, args.nframes);
      placement_pass<Pack>(model, w, w.q.data(), w.support);
      for (std::size_t k = 0; k < args.nframes; ++k)
        store_homogeneous_rows(frame_placement<Pack>(model, w, args.frames[k]), k, args.nframes, out[0]);
      return true;
    case Kernel::frame_jacobian: {
      if (args.nframes != 1 || !valid_frame(model, args.frames[0])) return false;
      load_rows(in[0], nq, w.q.data());
      find_support(model, w, args.frames, 1);
      joint_jacobians_pass<Pack>(model, w, w.q.data(), w.support);
      const JointIndex joint = model.frames[args.frames[0]].parent;
      std::fill(w.frame_jacobian.begin(), w.frame_jacobian.end(), Pack(0.0));
      joint_jacobian_columns(model, w.j.data(), w.oMi[joint], joint, args.reference_frame,
                             Eigen::Map<Eigen::Matrix<Pack, 6, Eigen::Dynamic>>(
                                 w.frame_jacobian.data(), 6, static_cast<Eigen::Index>(nv)));
      store_jacobian_rows(w.frame_jacobian.data(), nv, out[0]);
      return true;
    }
    case Kernel::rnea_derivatives: {
      load_rows(in[0], nq, w.q.data());
      load_rows(in[1], nv, w.qd.data());
      load_rows(in[2], nv, w.qdd.data());
      ready_derivatives(model, w);
      if (args.fetch_outputs) plan_output_fetch(w, out, 3, nv * nv * sizeof(double), model.njoints - 1);
      Pack* const x = w.derivatives.data();
      const DerivativeOutputsT<Pack> outputs{x, x + nv * nv, x + 2 * nv * nv, nv, 1};
      derivative_steps::derivatives_forward<true, false>(model, w, w.q.data(), w.qd.data(), w.qdd.data());
      if (fext != nullptr) derivative_steps::subtract_external_forces(model, w, fext, 6);
      derivative_steps::derivatives_backward<true>(model, w, outputs);
      store_matrix_rows(x, nv, 3, out);
      return true;
    }
    case Kernel::none:
      break;
  }
  return false;
}

void* make_workspace(const Model& model) { return new Work(model); }
void free_workspace(void* workspace) { delete static_cast<Work*>(workspace); }

}  // namespace lumo::lockstep::LUMO_LOCKSTEP_ISA
