// Lock-step kernels: one algorithm over W states at once, each scalar of its
// recursion a vector of W doubles (one lane per state), so that one vector
// instruction does the work of W single calls. W is the width of the host's
// vectors, chosen when the library loads: 8 with AVX-512, 4 with AVX2; with
// neither there are no lock-step kernels (width() is 1) and callers keep to
// the single calls.
//
// The passes are those of the single calls (internal/rnea_pass.hpp,
// mass_matrix_pass.hpp, aba_pass.hpp, forward_pass.hpp, jacobians.hpp,
// rnea_derivatives_pass.hpp),
// instantiated for the lock-step scalar in translation units built for each
// instruction set (lockstep_avx2.cpp, lockstep_avx512.cpp), which hold
// nothing but those instances. A lane gives
// bit for bit what the single call gives for its state: the sums of the
// small matrix products and dot products are grouped as Eigen groups them
// for double (spatial.hpp, times and dot), no multiply-add is fused, and
// sines and cosines come from the single calls' own routine. Measured over
// the random trees of every joint kind and the robots in
// tests/cpp/algorithms/lockstep_test.cpp (each instruction set) and
// tests/python/test_batch.py (the batch functions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../../model/model.hpp"
#include "../reference_frame.hpp"

namespace lumo::lockstep {

// The algorithms with a lock-step form, each with its inputs (rows of the
// given widths, in this order) and outputs.
enum class Kernel : std::uint8_t {
  none,
  rnea,                // (q: nq, v: nv, a: nv[, fext]) → τ: nv
  non_linear_effects,  // (q, v) → nle: nv
  gravity,             // (q) → g: nv
  crba,                // (q) → M: nv×nv, full and symmetric
  aba,                 // (q, v, τ[, fext]) → q̈: nv
  frame_placements,    // (q) → the world placements of Arguments::frames: 4×4 homogeneous each, row-major
  frame_jacobian,      // (q) → the Jacobian of the joint carrying Arguments::frames[0], in
                       // Arguments::reference_frame: 6×nv, row-major (computeJointJacobians, then
                       // getFrameJacobian)
  rnea_derivatives,    // (q, v, a[, fext]) → ∂τ/∂q, ∂τ/∂v, M: nv×nv each, row-major (computeRNEADerivatives)
};

// What a kernel reads beside its rows (the frame kernels), and whether the
// rows carry external forces.
struct Arguments {
  const FrameIndex* frames = nullptr;
  std::size_t nframes = 0;
  ReferenceFrame reference_frame = ReferenceFrame::WORLD;
  bool forces = false;  // in[3]: the forces on the bodies, njoints × [force; torque] a row (takes_forces)
  // The results of the whole batch outgrow the caches: the kernels with
  // large rows (crba, rnea_derivatives) fetch each pack's output lines while
  // they compute, so that the stores at the end need not wait for memory.
  bool fetch_outputs = false;
};

// The kernels that take external forces (inverseDynamics, forwardDynamics
// and computeRNEADerivatives with fext).
constexpr bool takes_forces(Kernel kernel) {
  return kernel == Kernel::rnea || kernel == Kernel::aba || kernel == Kernel::rnea_derivatives;
}

// One instruction set's kernels.
struct InstructionSet {
  const char* name;
  std::size_t width;
  void* (*make_workspace)(const Model& model);
  void (*free_workspace)(void* workspace);
  bool (*run)(void* workspace, const Model& model, Kernel kernel, const Arguments& args, const double* const* in,
              double* const* out);
};

// The instruction set chosen at load time: the widest the CPU has, unless
// the environment variable LUMO_LOCKSTEP names a narrower one ("avx2") or
// "off"; null for none.
const InstructionSet* chosen();

// The kernels of one instruction set by name ("avx2", "avx512"), null when
// the CPU or the build lacks it.
const InstructionSet* instruction_set(std::string_view name);

// W states at a time (1: no lock-step kernels).
inline std::size_t width() { return chosen() != nullptr ? chosen()->width : 1; }

// The per-worker buffers of one instruction set's kernels for one model,
// made once; not shared between threads. The buffers depend on the model's
// sizes only, so they serve any model of the same njoints, nq and nv (bind).
class Workspace {
 public:
  Workspace(const Model& model, const InstructionSet& isa)
      : model_(&model), isa_(isa), njoints_(model.njoints), nq_(model.nq), nv_(model.nv),
        buffers_(isa.make_workspace(model)) {}
  ~Workspace() { isa_.free_workspace(buffers_); }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  std::size_t width() const { return isa_.width; }

  // True when these buffers are of `isa` and of `model`'s sizes.
  bool fits(const Model& model, const InstructionSet& isa) const {
    return &isa == &isa_ && model.njoints == njoints_ && model.nq == nq_ && model.nv == nv_;
  }
  // The kernels read `model` from now on; fits(model, ...) must hold.
  void bind(const Model& model) { model_ = &model; }

  // Rows 0 .. width() of each input in[k] (consecutive rows of the kernel's
  // input widths) to those of each output out[k]; false, with nothing
  // written, when an input is not finite or a single call would raise (the
  // single calls then do those rows).
  bool run(Kernel kernel, const double* const* in, double* const* out, const Arguments& args = {}) {
    return isa_.run(buffers_, *model_, kernel, args, in, out);
  }

 private:
  const Model* model_;
  const InstructionSet& isa_;
  std::size_t njoints_, nq_, nv_;
  void* buffers_;
};

}  // namespace lumo::lockstep
