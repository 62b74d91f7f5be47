// The lock-step scalar: W doubles, one per state, with the arithmetic of a
// double lane by lane (GCC vector extensions, so each operation is one
// vector instruction), and what Eigen needs to hold it in its fixed-size
// matrices. Included only by the translation units built for one
// instruction set, after LUMO_LOCKSTEP_ISA (the namespace of that build)
// and LUMO_LOCKSTEP_WIDTH are defined: every function and every template
// instance made there then names that namespace, and none can stand in for
// code of the rest of the library built for the baseline CPU.
#pragma once

#if !defined(LUMO_LOCKSTEP_ISA) || !defined(LUMO_LOCKSTEP_WIDTH)
#error "lockstep_pack.hpp is included only by the lock-step kernels of one instruction set"
#endif

#include <Eigen/Core>
#include <cstring>

namespace lumo::lockstep::LUMO_LOCKSTEP_ISA {

inline constexpr int kWidth = LUMO_LOCKSTEP_WIDTH;

struct Pack {
  typedef double Lanes __attribute__((vector_size(8 * kWidth)));
  Lanes v;

  Pack() = default;
  Pack(double x) : v(x - Lanes{}) {}  // every lane x (x − 0 keeps a zero's sign): model constants meet states
  explicit Pack(Lanes x) : v(x) {}

  double operator[](int lane) const { return v[lane]; }

  Pack& operator+=(Pack o) {
    v += o.v;
    return *this;
  }
  Pack& operator-=(Pack o) {
    v -= o.v;
    return *this;
  }
  Pack& operator*=(Pack o) {
    v *= o.v;
    return *this;
  }
  Pack& operator/=(Pack o) {
    v /= o.v;
    return *this;
  }
  friend Pack operator+(Pack a, Pack b) { return Pack(a.v + b.v); }
  friend Pack operator-(Pack a, Pack b) { return Pack(a.v - b.v); }
  friend Pack operator*(Pack a, Pack b) { return Pack(a.v * b.v); }
  friend Pack operator/(Pack a, Pack b) { return Pack(a.v / b.v); }
  friend Pack operator-(Pack a) { return Pack(-a.v); }
};

// Lanes 0 .. W from W doubles, and back.
inline Pack load(const double* x) {
  Pack p;
  std::memcpy(&p.v, x, sizeof p.v);
  return p;
}
inline void store(Pack p, double* x) { std::memcpy(x, &p.v, sizeof p.v); }

// True when every lane is exactly zero: a branch a single call takes for
// one state is taken here only when all the states take it.
inline bool exactly_zero(Pack x) {
  for (int l = 0; l < kWidth; ++l)
    if (x.v[l] != 0.0) return false;
  return true;
}

// True when some lane is exactly zero: a single call would stop there.
inline bool has_zero(Pack x) {
  bool zero = false;
  for (int l = 0; l < kWidth; ++l) zero |= x.v[l] == 0.0;
  return zero;
}

}  // namespace lumo::lockstep::LUMO_LOCKSTEP_ISA

namespace Eigen {
namespace internal {
// Fixed-size matrices of packs ask for no alignment of their own: a pack is
// aligned to its whole width by its type already, beyond the 16 bytes the
// library's other Eigen objects keep to.
template <int Size>
struct compute_default_alignment<lumo::lockstep::LUMO_LOCKSTEP_ISA::Pack, Size> {
  enum { value = 0 };
};
template <>
struct compute_default_alignment<lumo::lockstep::LUMO_LOCKSTEP_ISA::Pack, Dynamic> {
  enum { value = 0 };
};
}  // namespace internal

template <>
struct NumTraits<lumo::lockstep::LUMO_LOCKSTEP_ISA::Pack> : NumTraits<double> {
  using Pack = lumo::lockstep::LUMO_LOCKSTEP_ISA::Pack;
  using Real = Pack;
  using NonInteger = Pack;
  using Nested = Pack;
  using Literal = Pack;
  enum {
    IsComplex = 0,
    IsInteger = 0,
    IsSigned = 1,
    RequireInitialization = 0,
    ReadCost = 1,
    AddCost = 1,
    MulCost = 1,
  };
  static Pack epsilon() { return Pack(NumTraits<double>::epsilon()); }
  static Pack dummy_precision() { return Pack(NumTraits<double>::dummy_precision()); }
  static Pack highest() { return Pack(NumTraits<double>::highest()); }
  static Pack lowest() { return Pack(NumTraits<double>::lowest()); }
};
}  // namespace Eigen
