// The lock-step kernels for AVX-512: eight states per instruction. Built
// with -mavx512f (see CMakeLists.txt); nothing here runs unless the CPU has it.
#define LUMO_LOCKSTEP_ISA avx512
#define LUMO_LOCKSTEP_WIDTH 8
#include "lockstep_kernels.hpp"

namespace lumo::lockstep {

const InstructionSet& avx512_kernels() {
  static const InstructionSet isa{"avx512", avx512::kWidth, avx512::make_workspace, avx512::free_workspace,
                                  avx512::run};
  return isa;
}

}  // namespace lumo::lockstep
