#include "lockstep.hpp"

#include <cstdlib>

namespace lumo::lockstep {

// The kernels sum as Eigen sums for double on the baseline CPU (two rows at
// a time, no fused multiply-adds: spatial.hpp, times); a library whose
// double code is built for a wider instruction set (LUMO_NATIVE) sums
// otherwise, and keeps to the single calls.
#if defined(LUMO_LOCKSTEP_X86) && !defined(__AVX__) && !defined(__FMA__)
#define LUMO_LOCKSTEP_ENABLED 1
#endif

#ifdef LUMO_LOCKSTEP_ENABLED
// Defined in the translation units built for each instruction set.
const InstructionSet& avx2_kernels();
const InstructionSet& avx512_kernels();
#endif

const InstructionSet* instruction_set(std::string_view name) {
#ifdef LUMO_LOCKSTEP_ENABLED
  __builtin_cpu_init();
  if (name == "avx512" && __builtin_cpu_supports("avx512f")) return &avx512_kernels();
  if (name == "avx2" && __builtin_cpu_supports("avx2")) return &avx2_kernels();
#else
  (void)name;
#endif
  return nullptr;
}

namespace {

const InstructionSet* pick() {
  const char* asked = std::getenv("LUMO_LOCKSTEP");
  if (asked != nullptr && *asked != '\0') return instruction_set(asked);
  const InstructionSet* widest = instruction_set("avx512");
  return widest != nullptr ? widest : instruction_set("avx2");
}

const InstructionSet* const picked = pick();

}  // namespace

const InstructionSet* chosen() { return picked; }

}  // namespace lumo::lockstep
