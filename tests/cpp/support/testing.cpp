#include "support/testing.hpp"

namespace lumo::test {

::testing::AssertionResult near(const SE3& a, const SE3& b, double tol) {
  auto r = near(a.rotation, b.rotation, tol);
  return r ? near(a.translation, b.translation, tol) : r;
}

::testing::AssertionResult near(const Motion& a, const Motion& b, double tol) {
  return near(to_column(a), to_column(b), tol);
}

::testing::AssertionResult near(const Force& a, const Force& b, double tol) {
  Vector6 ca, cb;
  ca << a.force, a.moment;
  cb << b.force, b.moment;
  return near(ca, cb, tol);
}

}  // namespace lumo::test
