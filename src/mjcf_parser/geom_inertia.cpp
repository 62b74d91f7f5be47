#include "geom_inertia.hpp"

#include "algorithms/errors/errors.hpp"

namespace lumo::mjcf {

TriangleMesh read_mesh_file(const std::string& filename, const Vector3&) {
  throw MjcfError(cat("Mesh files are not read yet: ", filename));
}

UnitMassProperties primitive_properties(GeomType, const Vector3&, bool) { return {}; }

UnitMassProperties mesh_properties(const TriangleMesh&, MeshInertia) { return {}; }

}  // namespace lumo::mjcf
