// libFuzzer target for the URDF reader and model builder: any text either
// builds a model that keeps the Model invariants or fails with UrdfError.
// Anything else (a crash, a sanitizer report, another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "urdf_parser/builder.hpp"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_invariants(const lumo::Model& m) {
  check(m.njoints == m.names.size() && m.njoints == m.parents.size() &&
        m.njoints == m.joints.size() && m.njoints == m.inertias.size());
  check(m.nframes == m.frames.size() && m.nframes == 2 * m.njoints);
  std::size_t nq = 0, nv = 0;
  for (std::size_t i = 1; i < m.njoints; ++i) {
    check(m.parents[i] < i);
    check(m.idx_q[i] == nq && m.idx_v[i] == nv);
    nq += m.nq_joint[i];
    nv += m.nv_joint[i];
    check(m.frames[2 * i].parent == i && m.frames[2 * i + 1].parent == i);
  }
  check(m.nq == nq && m.nv == nv);
  check(m.lowerPositionLimit.size() <= nv && m.upperPositionLimit.size() <= nv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  try {
    check_invariants(lumo::parse_urdf_from_string(text));
  } catch (const lumo::UrdfError&) {
  }
  return 0;
}
