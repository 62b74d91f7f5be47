// The lock-step kernels for AVX2: four states per instruction. Built with
// -mavx2 (see CMakeLists.txt); nothing here runs unless the CPU has it.
#define LUMO_LOCKSTEP_ISA avx2
#define LUMO_LOCKSTEP_WIDTH 4
#include "lockstep_kernels.hpp"

namespace lumo::lockstep {

const InstructionSet& avx2_kernels() {
  static const InstructionSet isa{"avx2", avx2::kWidth, avx2::make_workspace, avx2::free_workspace, avx2::run};
  return isa;
}

}  // namespace lumo::lockstep
