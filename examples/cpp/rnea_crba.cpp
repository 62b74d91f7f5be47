// Loads a URDF, then prints the joint torques of a motion and the mass matrix.
//   rnea_crba robot.urdf
#include <exception>
#include <iostream>

#include <lumo/algorithms/configuration.hpp>
#include <lumo/algorithms/crba.hpp>
#include <lumo/algorithms/rnea.hpp>
#include <lumo/urdf_parser/builder.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " robot.urdf\n";
    return 2;
  }
  lumo::Model model;
  try {
    model = lumo::parse_urdf_file(argv[1]);
  } catch (const lumo::UrdfError& e) {
    // The message names the file; its cause says what failed there.
    std::cerr << "error: " << e.what();
    try {
      if (e.cause()) std::rethrow_exception(e.cause());
    } catch (const std::exception& cause) {
      std::cerr << ": " << cause.what();
    }
    std::cerr << "\n";
    return 1;
  }
  lumo::Data data(model);
  const auto nv = static_cast<Eigen::Index>(model.nv);
  const Eigen::VectorXd q =
      lumo::integrate(model, lumo::neutral(model), Eigen::VectorXd::Constant(nv, 0.1));
  const Eigen::VectorXd v = Eigen::VectorXd::Constant(nv, 0.5);
  const Eigen::VectorXd a = Eigen::VectorXd::Zero(nv);
  std::cout << "nq " << model.nq << ", nv " << model.nv << "\n";
  std::cout << "tau = " << lumo::rnea(model, data, q, v, a).transpose() << "\n";
  Eigen::MatrixXd M = lumo::crba(model, data, q);
  M.triangularView<Eigen::StrictlyLower>() = M.transpose();  // crba fills the upper triangle
  std::cout << "M =\n" << M << "\n";
}
