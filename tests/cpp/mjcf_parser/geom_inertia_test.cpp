// Tests of src/mjcf_parser/geom_inertia.cpp: the primitives' closed forms
// against finely tessellated meshes of the same solids and shells, the mesh
// methods on meshes with known answers, the convex hull, and the mesh files.
#include "mjcf_parser/geom_inertia.hpp"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "algorithms/errors/errors.hpp"
#include "support/testing.hpp"

namespace lumo::mjcf {
namespace {

using namespace test;
using Face = std::array<std::uint32_t, 3>;

// Meshes with known mass properties.

// A polygon in the xy-plane (counter-clockwise, with its triangulation)
// swept from z0 to z1; a box when the polygon is a rectangle.
TriangleMesh prism(const std::vector<Eigen::Vector2d>& polygon, const std::vector<Face>& cap, double z0, double z1) {
  TriangleMesh m;
  const auto n = static_cast<std::uint32_t>(polygon.size());
  for (double z : {z0, z1})
    for (const auto& p : polygon) m.vertices.emplace_back(p.x(), p.y(), z);
  for (const Face& f : cap) {
    m.faces.push_back({f[0], f[2], f[1]});              // bottom, facing down
    m.faces.push_back({f[0] + n, f[1] + n, f[2] + n});  // top
  }
  for (std::uint32_t i = 0, j = 1; i < n; ++i, j = (i + 1) % n) {
    m.faces.push_back({i, j, j + n});
    m.faces.push_back({i, j + n, i + n});
  }
  return m;
}

TriangleMesh box_mesh(const Vector3& half) {
  return prism({{-half.x(), -half.y()}, {half.x(), -half.y()}, {half.x(), half.y()}, {-half.x(), half.y()}},
               {{0, 1, 2}, {0, 2, 3}}, -half.z(), half.z());
}

// The surface of revolution about z of a profile (radius, z) running from a
// point on the axis to another, with `n` vertices per ring.
TriangleMesh revolution(const std::vector<Eigen::Vector2d>& profile, std::uint32_t n) {
  TriangleMesh m;
  const auto rings = static_cast<std::uint32_t>(profile.size() - 2);
  m.vertices.emplace_back(0, 0, profile.front().y());
  for (std::uint32_t r = 1; r <= rings; ++r)
    for (std::uint32_t k = 0; k < n; ++k) {
      const double a = 2 * kPi * k / n;
      m.vertices.emplace_back(profile[r].x() * std::cos(a), profile[r].x() * std::sin(a), profile[r].y());
    }
  m.vertices.emplace_back(0, 0, profile.back().y());
  const std::uint32_t top = rings * n + 1;
  const auto at = [n](std::uint32_t r, std::uint32_t k) { return 1 + (r - 1) * n + k % n; };
  for (std::uint32_t k = 0; k < n; ++k) {
    m.faces.push_back({0, at(1, k + 1), at(1, k)});
    for (std::uint32_t r = 1; r < rings; ++r) {
      m.faces.push_back({at(r, k), at(r, k + 1), at(r + 1, k + 1)});
      m.faces.push_back({at(r, k), at(r + 1, k + 1), at(r + 1, k)});
    }
    m.faces.push_back({at(rings, k), at(rings, k + 1), top});
  }
  return m;
}

// Radius r: a sphere (half_length 0) or a capsule, with `n` profile steps per
// quarter circle.
TriangleMesh capsule_mesh(double r, double half_length, std::uint32_t n) {
  std::vector<Eigen::Vector2d> profile;
  for (std::uint32_t i = 0; i <= n; ++i) {  // bottom quarter, then top quarter
    const double a = kPi / 2 * i / n;
    profile.emplace_back(r * std::sin(a), -half_length - r * std::cos(a));
  }
  for (std::uint32_t i = half_length > 0 ? 0 : 1; i <= n; ++i) {
    const double a = kPi / 2 * i / n;
    profile.emplace_back(r * std::cos(a), half_length + r * std::sin(a));
  }
  return revolution(profile, 4 * n);
}

TriangleMesh scaled(TriangleMesh m, const Vector3& s) {
  for (Vector3& x : m.vertices) x = x.cwiseProduct(s);
  return m;
}

TriangleMesh moved(TriangleMesh m, const Matrix3& rotation, const Vector3& translation) {
  for (Vector3& x : m.vertices) x = rotation * x + translation;
  return m;
}

TriangleMesh inside_out(TriangleMesh m) {
  for (Face& f : m.faces) std::swap(f[1], f[2]);
  return m;
}

// Agreement relative to the size of the expected values.
::testing::AssertionResult same(const UnitMassProperties& a, const UnitMassProperties& b, double rtol,
                                double length) {
  if (std::abs(a.volume - b.volume) > rtol * std::abs(b.volume))
    return ::testing::AssertionFailure() << "volume " << a.volume << " vs " << b.volume;
  if (auto r = near(a.com, b.com, rtol * length); !r) return r << " (centre of mass)";
  if (auto r = near(a.inertia, b.inertia, rtol * b.inertia.cwiseAbs().maxCoeff()); !r) return r << " (inertia)";
  return ::testing::AssertionSuccess();
}

UnitMassProperties moved(UnitMassProperties p, const Matrix3& rotation, const Vector3& translation) {
  p.com = rotation * p.com + translation;
  p.inertia = rotation * p.inertia * rotation.transpose();
  return p;
}

// Primitives.

TEST(GeomInertia, PrimitivesMatchTessellatedSolidsAndShells) {
  // Tessellations (inscribed) converge as the square of the step: 3e-3 of
  // the values covers 32 steps per quarter circle. The box is exact. The
  // shell ellipsoid's area is Thomsen's approximation, within about 1 %.
  struct Case {
    GeomType type;
    Vector3 size;
    TriangleMesh mesh;
    double rtol, shell_rtol;
  };
  const Vector3 radii(0.3, 0.5, 0.9);
  const std::vector<Case> cases{
      {GeomType::Sphere, {0.7, 0, 0}, capsule_mesh(0.7, 0, 32), 3e-3, 3e-3},
      {GeomType::Capsule, {0.4, 0.6, 0}, capsule_mesh(0.4, 0.6, 32), 3e-3, 3e-3},
      {GeomType::Capsule, {0.4, 0.0, 0}, capsule_mesh(0.4, 0, 32), 3e-3, 3e-3},
      {GeomType::Cylinder, {0.5, 0.2, 0}, revolution({{0, -0.2}, {0.5, -0.2}, {0.5, 0.2}, {0, 0.2}}, 128), 3e-3, 3e-3},
      {GeomType::Ellipsoid, radii, scaled(capsule_mesh(1, 0, 32), radii), 3e-3, 2e-2},
      {GeomType::Box, {0.1, 0.2, 0.7}, box_mesh({0.1, 0.2, 0.7}), kTight, kTight},
      {GeomType::Hfield, {0.1, 0.2, 0.7}, box_mesh({0.1, 0.2, 0.7}), kTight, kTight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(cat("geom type ", int(c.type), ", size ", c.size.transpose()));
    const double length = c.size.maxCoeff();
    // A convex solid, star-shaped about its centre: every method sees the same solid.
    const UnitMassProperties exact = mesh_properties(c.mesh, MeshInertia::Exact);
    EXPECT_TRUE(same(primitive_properties(c.type, c.size), exact, c.rtol, length));
    EXPECT_TRUE(same(mesh_properties(c.mesh, MeshInertia::Legacy), exact, kTight, length));
    EXPECT_TRUE(same(mesh_properties(c.mesh, MeshInertia::Convex), exact, kTight, length));
    EXPECT_TRUE(same(primitive_properties(c.type, c.size, true), mesh_properties(c.mesh, MeshInertia::Shell),
                     c.shell_rtol, length));
  }
  // A round ellipsoid's shell is the sphere's, up to the layer's thickness.
  EXPECT_TRUE(same(primitive_properties(GeomType::Ellipsoid, Vector3::Constant(0.7), true),
                   primitive_properties(GeomType::Sphere, Vector3(0.7, 0, 0), true), 1e-5, 0.7));
  for (GeomType type : {GeomType::Plane, GeomType::Mesh, GeomType::Sdf})
    EXPECT_EQ(primitive_properties(type, Vector3::Ones()).volume, 0.0);
}

// Mesh methods.

TEST(GeomInertia, MeshMethodsOnNonConvexAndMovedMeshes) {
  std::mt19937 rng(7);
  const Matrix3 rotation = random_rotation(rng);
  const Vector3 translation(0.3, -1.2, 2.0);

  // An L-shaped prism is two boxes: 2×1×h and 1×1×h beside it (parallel axes).
  const double h = 0.5;
  const TriangleMesh ell = prism({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}},
                                 {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 5}}, 0, h);
  const auto box_about = [&](const Vector3& half, const Vector3& centre, const Vector3& point) {
    const UnitMassProperties b = primitive_properties(GeomType::Box, half);
    const Vector3 d = centre - point;
    return Matrix3(b.inertia + b.volume * (d.squaredNorm() * Matrix3::Identity() - d * d.transpose()));
  };
  UnitMassProperties expected;
  const Vector3 c1(1, 0.5, h / 2), c2(0.5, 1.5, h / 2);
  expected.volume = 2 * h + h;
  expected.com = (2 * h * c1 + h * c2) / expected.volume;
  expected.inertia = box_about({1, 0.5, h / 2}, c1, expected.com) + box_about({0.5, 0.5, h / 2}, c2, expected.com);
  // Moved rigidly: the centre of mass follows, the inertia turns with it.
  const TriangleMesh ell_moved = moved(ell, rotation, translation);
  EXPECT_TRUE(same(mesh_properties(ell_moved, MeshInertia::Exact), moved(expected, rotation, translation), kTight, 2));
  // The L is star-shaped about its centre of mass: Legacy agrees.
  EXPECT_TRUE(same(mesh_properties(ell_moved, MeshInertia::Legacy), moved(expected, rotation, translation), kTight, 2));

  // A cube with a pyramid of depth d pressed into its top: Exact removes the
  // pyramid (centroid a quarter of its height above its base), Convex keeps
  // the cube.
  const double d = 0.6;
  TriangleMesh dented = box_mesh(Vector3::Ones());
  dented.faces.erase(std::remove_if(dented.faces.begin(), dented.faces.end(),
                                    [&](const Face& f) { return dented.vertices[f[0]].z() > 0 &&
                                                                dented.vertices[f[1]].z() > 0 &&
                                                                dented.vertices[f[2]].z() > 0; }),
                     dented.faces.end());
  dented.vertices.emplace_back(0, 0, 1 - d);
  for (std::uint32_t k = 0; k < 4; ++k) dented.faces.push_back({4 + k, 4 + (k + 1) % 4, 8});
  const UnitMassProperties dent = mesh_properties(dented, MeshInertia::Exact);
  const double pyramid = 4 * d / 3;
  EXPECT_NEAR(dent.volume, 8 - pyramid, kTight);
  EXPECT_TRUE(near(dent.com, Vector3(0, 0, -pyramid * (1 - d / 4) / (8 - pyramid)), kTight));
  EXPECT_TRUE(same(mesh_properties(dented, MeshInertia::Convex), primitive_properties(GeomType::Box, Vector3::Ones()),
                   kTight, 1));

  // Faces wound inwards: Legacy counts every tetrahedron positive, Exact
  // refuses the negative volume; mixed windings are refused by Exact only.
  const TriangleMesh cube = box_mesh({0.1, 0.2, 0.3});
  const UnitMassProperties solid = primitive_properties(GeomType::Box, {0.1, 0.2, 0.3});
  EXPECT_TRUE(same(mesh_properties(inside_out(cube), MeshInertia::Legacy), solid, kTight, 0.3));
  EXPECT_THROW(mesh_properties(inside_out(cube), MeshInertia::Exact), MjcfError);
  TriangleMesh mixed = cube;
  std::swap(mixed.faces[0][1], mixed.faces[0][2]);
  EXPECT_THROW(mesh_properties(mixed, MeshInertia::Exact), MjcfError);
  EXPECT_NO_THROW(mesh_properties(mixed, MeshInertia::Legacy));

  // Two unit cubes centred at (±2, 0, 0), seen from the origin between them:
  // Legacy adds |tetrahedra| from there, Σ |n·x| A / 3 over the faces
  // (1.5 / 3 + 2.5 / 3 + 4 × 0.5 / 3 per cube), twice the volume.
  TriangleMesh pair = moved(box_mesh(Vector3::Constant(0.5)), Matrix3::Identity(), Vector3(2, 0, 0));
  const TriangleMesh other = moved(pair, Vector3(-1, -1, 1).asDiagonal(), Vector3::Zero());
  for (const Face& f : other.faces) pair.faces.push_back({f[0] + 8, f[1] + 8, f[2] + 8});
  pair.vertices.insert(pair.vertices.end(), other.vertices.begin(), other.vertices.end());
  EXPECT_NEAR(mesh_properties(pair, MeshInertia::Exact).volume, 2, kTight);
  EXPECT_NEAR(mesh_properties(pair, MeshInertia::Legacy).volume, 4, kTight);
  EXPECT_TRUE(near(mesh_properties(pair, MeshInertia::Legacy).com, Vector3::Zero(), kTight));

  // A flat mesh has an area but no volume; bad faces are refused.
  TriangleMesh flat = cube;
  for (Vector3& x : flat.vertices) x.z() = 0;
  EXPECT_THROW(mesh_properties(flat, MeshInertia::Exact), MjcfError);
  EXPECT_THROW(mesh_properties(flat, MeshInertia::Convex), MjcfError);
  EXPECT_NO_THROW(mesh_properties(flat, MeshInertia::Shell));
  TriangleMesh stray = cube;
  stray.faces[3][1] = 8;
  EXPECT_THROW(mesh_properties(stray, MeshInertia::Legacy), MjcfError);
  EXPECT_THROW(mesh_properties(TriangleMesh{cube.vertices, {}}, MeshInertia::Legacy), MjcfError);
}

TEST(GeomInertia, ConvexHullEnclosesEveryPointWithAClosedSurface) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(-1, 1);
  // Points inside a box, on its faces and edges (coplanar and collinear with
  // the hull's faces), and its corners: the hull is the box.
  const Vector3 half(0.5, 1.0, 1.5);
  std::vector<Vector3> in_box;
  for (int i = 0; i < 400; ++i) {
    Vector3 x(unit(rng), unit(rng), unit(rng));
    if (i % 4 == 1) x[i % 3] = i % 2 ? 1 : -1;                                 // on a face
    if (i % 4 == 2) x[i % 3] = x[(i + 1) % 3] = 1;                              // on an edge
    if (i % 20 == 3) x = Vector3(i % 40 ? 1 : -1, (i / 40) % 2 ? 1 : -1, -1);  // a corner, again
    in_box.push_back(x.cwiseProduct(half));
  }
  for (int k = 0; k < 8; ++k) in_box.emplace_back(k & 1 ? half.x() : -half.x(), k & 2 ? half.y() : -half.y(),
                                                  k & 4 ? half.z() : -half.z());
  // Points on a sphere: every one is a vertex.
  std::vector<Vector3> on_sphere;
  for (int i = 0; i < 300; ++i) on_sphere.push_back(Vector3(unit(rng), unit(rng), unit(rng)).normalized());

  for (const auto* points : {&in_box, &on_sphere}) {
    const TriangleMesh hull = convex_hull(*points);
    // A closed triangulated surface of genus 0: F = 2V − 4, every directed
    // edge once (Exact checks the winding); all points inside every face.
    EXPECT_EQ(hull.faces.size(), 2 * hull.vertices.size() - 4);
    for (const Face& f : hull.faces) {
      const Vector3 n = (hull.vertices[f[1]] - hull.vertices[f[0]]).cross(hull.vertices[f[2]] - hull.vertices[f[0]]);
      double highest = -1;
      for (const Vector3& x : *points) highest = std::max(highest, n.normalized().dot(x - hull.vertices[f[0]]));
      EXPECT_LE(highest, 1e-9);
    }
    EXPECT_NO_THROW(mesh_properties(hull, MeshInertia::Exact));
  }
  EXPECT_TRUE(same(mesh_properties(convex_hull(in_box), MeshInertia::Exact),
                   primitive_properties(GeomType::Box, half), kTight, 1.5));
  EXPECT_EQ(convex_hull(on_sphere).vertices.size(), on_sphere.size());

  std::vector<Vector3> planar = in_box;
  for (Vector3& x : planar) x.z() = 0.25;
  EXPECT_THROW(convex_hull(planar), MjcfError);
  EXPECT_THROW(convex_hull({Vector3::Zero(), Vector3::UnitX(), Vector3::UnitY()}), MjcfError);
}

// Files.

class MeshFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) / cat("lumo_geom_inertia_", getpid());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::filesystem::path dir_;
};

// A mesh as each format writes it.
std::string binary_stl(const TriangleMesh& m) {
  std::string bytes(80, 's');  // a header may start with "solid"
  const auto count = static_cast<std::uint32_t>(m.faces.size());
  bytes.append(reinterpret_cast<const char*>(&count), 4);
  for (const Face& f : m.faces) {
    bytes.append(12, '\0');  // the normal, unused
    for (std::uint32_t i : f)
      for (int k = 0; k < 3; ++k) {
        const auto x = static_cast<float>(m.vertices[i][k]);
        bytes.append(reinterpret_cast<const char*>(&x), 4);
      }
    bytes.append(2, '\0');
  }
  return bytes;
}

std::string ascii_stl(const TriangleMesh& m) {
  std::string text = "solid cube\n";
  for (const Face& f : m.faces) {
    text += "  facet normal 0 0 0\n    outer loop\n";
    for (std::uint32_t i : f)
      text += cat("      vertex ", m.vertices[i].x(), " ", m.vertices[i].y(), " ", m.vertices[i].z(), "\n");
    text += "    endloop\n  endfacet\n";
  }
  return text + "endsolid cube\n";
}

std::string msh(const TriangleMesh& m, bool with_faces) {
  std::string bytes;
  const auto put = [&bytes](auto value) { bytes.append(reinterpret_cast<const char*>(&value), sizeof(value)); };
  put(std::int32_t(m.vertices.size()));
  put(std::int32_t(m.vertices.size()));  // normals, ignored
  put(std::int32_t(0));
  put(std::int32_t(with_faces ? m.faces.size() : 0));
  for (int pass = 0; pass < 2; ++pass)
    for (const Vector3& x : m.vertices)
      for (int k = 0; k < 3; ++k) put(pass == 0 ? static_cast<float>(x[k]) : 0.0f);
  if (with_faces)
    for (const Face& f : m.faces)
      for (std::uint32_t i : f) put(std::int32_t(i));
  return bytes;
}

TEST_F(MeshFiles, EveryFormatReadsBackTheBox) {
  const Vector3 lo(-0.5, 0.0, 1.0), hi(0.5, 2.0, 1.5);
  const TriangleMesh cube = moved(box_mesh((hi - lo) / 2), Matrix3::Identity(), (hi + lo) / 2);
  // OBJ with quads (fans), negative references, texture and normal indices,
  // comments, groups and a material.
  std::string obj = "# a box\nmtllib box.mtl\no box\n";
  for (int k = 0; k < 8; ++k)
    obj += cat("v ", k & 1 ? hi.x() : lo.x(), " ", k & 2 ? hi.y() : lo.y(), " ", k & 4 ? hi.z() : lo.z(), "\n");
  obj += "vt 0 0\nvn 0 0 1\ng sides\nusemtl grey\ns off\n"
         "f 1/1/1 3/1/1 4/1/1 2/1/1\nf 5//1 6//1 8//1 7//1\r\n"
         "f 1 2 6 5\nf -7 -5 -1 -3 # x = hi.x(), by negative references\nf 4 3 7 8\nf 3 1 5 7\n";
  const std::vector<std::pair<std::string, std::string>> files{
      {"box.stl", binary_stl(cube)}, {"box_ascii.STL", ascii_stl(cube)}, {"box.obj", obj},
      {"box.msh", msh(cube, true)},  {"hull.msh", msh(cube, false)}};
  for (const Vector3& scale : {Vector3(1, 1, 1), Vector3(1, 2, 3), Vector3(-1, 2, 3)}) {
    UnitMassProperties expected = primitive_properties(GeomType::Box, (hi - lo).cwiseProduct(scale).cwiseAbs() / 2);
    expected.com = ((hi + lo) / 2).cwiseProduct(scale);
    for (const auto& [name, bytes] : files) {
      SCOPED_TRACE(cat(name, " scaled by ", scale.transpose()));
      const TriangleMesh m = read_mesh_file(write(name, bytes), scale);
      EXPECT_EQ(m.vertices.size(), 8u);  // repeated STL vertices merged
      EXPECT_EQ(m.faces.size(), 12u);
      EXPECT_TRUE(same(mesh_properties(m, MeshInertia::Exact), expected, 1e-7, 3));  // floats in STL and MSH
    }
  }
}

TEST_F(MeshFiles, MalformedFilesRaiseNamingTheFile) {
  const TriangleMesh cube = box_mesh(Vector3::Ones());
  std::string truncated_stl = binary_stl(cube);
  truncated_stl.resize(truncated_stl.size() - 7);
  std::string nan_stl = binary_stl(cube);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(&nan_stl[84 + 50 * 3 + 16], &nan, 4);
  std::string bad_msh = msh(cube, true);
  const std::int32_t beyond = 8;
  std::memcpy(&bad_msh[bad_msh.size() - 4], &beyond, 4);
  std::string huge_msh = msh(cube, true);
  const std::int32_t huge = INT_MAX;
  std::memcpy(&huge_msh[12], &huge, 4);
  std::string empty_stl(84, '\0');

  const std::vector<std::pair<std::string, std::string>> files{
      {"empty.stl", ""},
      {"short.stl", truncated_stl},
      {"no_triangle.stl", empty_stl},
      {"nan.stl", nan_stl},
      {"no_facet.stl", "solid x\nendsolid x\n"},
      {"open_facet.stl", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"},
      {"bad_number.stl", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 zero\n"},
      {"two_vertices.stl", "solid x\nfacet\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nendloop\nendfacet\n"},
      {"beyond.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n"},
      {"zero.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n"},
      {"before.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -1 -2 -4\n"},
      {"no_face.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n"},
      {"short_vertex.obj", "v 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"infinite.obj", "v 0 0 inf\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"two_refs.obj", "v 0 0 0\nv 1 0 0\nf 1 2\n"},
      {"short.msh", msh(cube, true).substr(0, 40)},
      {"header.msh", std::string(10, '\0')},
      {"beyond.msh", bad_msh},
      {"huge.msh", huge_msh},
      {"flat.msh", msh(TriangleMesh{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {}}, false)},
      {"box.ply", "ply\n"},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = write(name, bytes);
    try {
      read_mesh_file(path);
      ADD_FAILURE() << "no exception";
    } catch (const MjcfError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(read_mesh_file((dir_ / "missing.stl").string()), MjcfError);
  EXPECT_THROW(read_mesh_file(dir_.string() + "/.obj"), MjcfError);
}

}  // namespace
}  // namespace lumo::mjcf
