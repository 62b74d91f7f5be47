// libFuzzer target for the model record reader: any bytes either load a
// model that keeps every Model invariant, writes back to the same record and
// runs the algorithms, or fail with ValueError. Anything else (a crash, a
// sanitizer report, another exception, a huge allocation) is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/errors/errors.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/rnea.hpp"
#include "model/serialize.hpp"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_invariants(const lumo::Model& m) {
  check(m.njoints >= 1 && m.njoints == m.names.size() && m.njoints == m.parents.size() &&
        m.njoints == m.joints.size() && m.njoints == m.inertias.size() &&
        m.njoints == m.children.size() && m.nbodies == m.njoints);
  check(m.nframes >= 1 && m.nframes == m.frames.size());
  std::size_t nq = 0, nv = 0;
  for (std::size_t i = 0; i < m.njoints; ++i) {
    check(i == 0 ? m.parents[0] == 0 : m.parents[i] < i);
    check(m.idx_q[i] == nq && m.idx_v[i] == nv);
    check(m.nq_joint[i] == lumo::joint_nq(m.joints[i].type) &&
          m.nv_joint[i] == lumo::joint_nv(m.joints[i].type));
    nq += m.nq_joint[i];
    nv += m.nv_joint[i];
  }
  check(m.nq == nq && m.nv == nv);
  check(m.lowerPositionLimit.size() <= nv && m.upperPositionLimit.size() <= nv);
  for (const lumo::Frame& f : m.frames) check(f.parent < m.njoints);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view record(reinterpret_cast<const char*>(bytes), size);
  lumo::Model model;
  try {
    model = lumo::load_model(record);
  } catch (const lumo::ValueError&) {
    return 0;
  }
  check_invariants(model);
  // A current record writes back to itself; one of version 1 to a current
  // record of the same model.
  const std::string again = lumo::save_model(model);
  check(again == record || record.substr(0, 4) == std::string_view("\x01\0\0\0", 4));
  check(lumo::save_model(lumo::load_model(again)) == again);
  lumo::Data data(model);
  const Eigen::VectorXd q = lumo::neutral(model), v = Eigen::VectorXd::Ones(model.nv);
  lumo::rnea(model, data, q, v, v);
  lumo::crba(model, data, q);
  Eigen::Matrix<double, 6, Eigen::Dynamic> J(6, model.nv);
  lumo::computeJointJacobians(model, data, q);
  lumo::getFrameJacobian(model, data, model.nframes - 1, lumo::ReferenceFrame::LOCAL, J);
  return 0;
}
