#include "geom_inertia.hpp"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>

#include "algorithms/errors/errors.hpp"

namespace lumo::mjcf {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Areas and volumes below this count as zero (MJCF's smallest value).
constexpr double kMinValue = 1e-15;

using Face = std::array<std::uint32_t, 3>;

// Primitives.
// Each case gives the volume (area for a shell) and the principal moments per
// unit mass about the centre, which is the origin of the geom's frame.

struct Primitive {
  double volume = 0.0;
  Vector3 moments_per_mass = Vector3::Zero();
};

Primitive sphere(double r, bool shell) {
  if (shell) return {4 * kPi * r * r, Vector3::Constant(2 * r * r / 3)};
  return {4 * kPi * r * r * r / 3, Vector3::Constant(2 * r * r / 5)};
}

// A cylinder of length h between two hemispheres: each piece's moments about
// its own centre, moved to the capsule's centre. A solid hemisphere's centre
// of mass lies 3r/8 from its flat face, a hemispherical shell's r/2.
Primitive capsule(double r, double half_length, bool shell) {
  const double h = 2 * half_length;
  if (shell) {
    const double sphere_area = 4 * kPi * r * r, tube_area = 2 * kPi * r * h;
    const double ms = sphere_area / (sphere_area + tube_area), mc = 1 - ms;
    // A hemisphere's centroid: from the capsule's centre, from its sphere's centre.
    const double offset = half_length + r / 2, own = r / 2;
    const double axial = mc * r * r + ms * 2 * r * r / 3;
    const double transverse = mc * (6 * r * r + h * h) / 12 + ms * (2 * r * r / 3 + offset * offset - own * own);
    return {sphere_area + tube_area, Vector3(transverse, transverse, axial)};
  }
  const double ms = 4 * r / (4 * r + 3 * h), mc = 1 - ms;  // the spheres' share of the volume
  const double axial = mc * r * r / 2 + ms * 2 * r * r / 5;
  const double transverse = mc * (3 * r * r + h * h) / 12 + ms * (2 * r * r / 5 + h * (3 * r + 2 * h) / 8);
  return {kPi * r * r * (h + 4 * r / 3), Vector3(transverse, transverse, axial)};
}

// A shell cylinder is the open tube and its two end disks.
Primitive cylinder(double r, double half_length, bool shell) {
  const double h = 2 * half_length;
  if (shell) {
    const double disk_area = kPi * r * r, tube_area = 2 * kPi * r * h;
    const double md = disk_area / (2 * disk_area + tube_area), mt = 1 - 2 * md;  // each disk's, the tube's share
    const double axial = mt * r * r + 2 * md * r * r / 2;
    const double transverse = mt * (6 * r * r + h * h) / 12 + 2 * md * (r * r / 4 + half_length * half_length);
    return {2 * disk_area + tube_area, Vector3(transverse, transverse, axial)};
  }
  const double transverse = (3 * r * r + h * h) / 12;
  return {kPi * r * r * h, Vector3(transverse, transverse, r * r / 2)};
}

// A shell ellipsoid: Thomsen's area, p = 1.6075; the inertia per unit mass of
// the layer between the ellipsoid and the one with radii ε longer.
Primitive ellipsoid(const Vector3& radii, bool shell) {
  const auto solid_moments = [](const Vector3& s) -> Vector3 {
    const Vector3 sq = s.cwiseAbs2();
    return Vector3(sq.y() + sq.z(), sq.x() + sq.z(), sq.x() + sq.y()) / 5;
  };
  const double inner_volume = 4 * kPi * radii.prod() / 3;
  if (!shell) return {inner_volume, solid_moments(radii)};
  constexpr double p = 1.6075, eps = 1e-6;
  const double a = radii.x(), b = radii.y(), c = radii.z();
  const double mean = (std::pow(a * b, p) + std::pow(b * c, p) + std::pow(c * a, p)) / 3;
  const Vector3 outer = (radii.array() + eps).matrix();
  const double outer_volume = 4 * kPi * outer.prod() / 3;
  const Vector3 moments = (outer_volume * solid_moments(outer) - inner_volume * solid_moments(radii)) /
                          (outer_volume - inner_volume);
  return {4 * kPi * std::pow(mean, 1 / p), moments};
}

// A shell box is its six faces, each pair of plates moved out to ±half-size.
Primitive box(const Vector3& half, bool shell) {
  const Vector3 sq = half.cwiseAbs2();
  if (!shell) return {8 * half.prod(), Vector3(sq.y() + sq.z(), sq.x() + sq.z(), sq.x() + sq.y()) / 3};
  const Vector3 len = 2 * half, l2 = len.cwiseAbs2();
  // area_k is the face normal to axis k; a plate's moments about its centre are (l_i² [+ l_j²]) / 12.
  const Vector3 area(len.y() * len.z(), len.z() * len.x(), len.x() * len.y());
  const double total = 2 * area.sum();
  const Vector3 m = area / total;  // one plate's share of the mass
  Vector3 moments;
  for (int k = 0; k < 3; ++k) {
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    // The plates normal to k spin about k in their plane; those normal to i or
    // j contain axis k and lie at ±half_i or ±half_j from it.
    moments[k] = 2 * (m[k] * (l2[i] + l2[j]) / 12 + m[i] * (l2[j] / 12 + sq[i]) + m[j] * (l2[i] / 12 + sq[j]));
  }
  return {total, moments};
}

// Convex hull.
// Quickhull: start from a tetrahedron of extreme points; while some face has
// points outside it, take the farthest, remove every face it sees, and close
// the hole with a fan of new faces from the point to the horizon edges.

struct HullFace {
  Face v;                                // counter-clockwise seen from outside
  std::array<std::int32_t, 3> neighbour;  // across edge v[k] → v[k+1]
  Vector3 normal;                        // unit, outward
  double offset = 0.0;                   // normal · x on the plane
  std::vector<std::uint32_t> outside;    // points beyond the plane, for this face to process
  bool alive = true;
};

class Quickhull {
 public:
  explicit Quickhull(const std::vector<Vector3>& points) : p_(points) {}

  TriangleMesh run() {
    if (p_.size() < 4) throw MjcfError(cat("Convex hull of ", p_.size(), " points: at least 4 are needed"));
    for (const Vector3& x : p_)
      if (!x.allFinite()) throw MjcfError("Convex hull: a point is not finite");
    start();
    std::vector<std::int32_t> start_of(p_.size(), -1), end_of(p_.size(), -1);
    std::vector<std::uint32_t> visit(1, 0);
    std::uint32_t stamp = 0;
    while (!pending_.empty()) {
      const std::int32_t f = pending_.back();
      pending_.pop_back();
      if (!faces_[f].alive || faces_[f].outside.empty()) continue;

      // The farthest outside point, and the faces it sees (a connected cap
      // around f) with the horizon: the cap's edges whose other face stays.
      std::uint32_t apex = faces_[f].outside.front();
      for (std::uint32_t q : faces_[f].outside)
        if (distance(f, q) > distance(f, apex)) apex = q;
      visit.resize(faces_.size(), 0);
      ++stamp;
      visible_.assign(1, f);
      visit[f] = stamp;
      horizon_.clear();
      for (std::size_t n = 0; n < visible_.size(); ++n) {
        const std::int32_t g = visible_[n];
        for (int k = 0; k < 3; ++k) {
          const std::int32_t h = faces_[g].neighbour[k];
          if (visit[h] == stamp) continue;
          if (distance(h, apex) > eps_) {
            visit[h] = stamp;
            visible_.push_back(h);
          } else {
            horizon_.push_back({faces_[g].v[k], faces_[g].v[(k + 1) % 3], static_cast<std::uint32_t>(h)});
          }
        }
      }

      // A fan of faces (a, b, apex) over the horizon edges a → b, wound as the
      // removed faces were; linked to the kept face across a → b and to each
      // other through the horizon's vertices.
      const auto first = static_cast<std::int32_t>(faces_.size());
      for (const auto& [a, b, kept] : horizon_) {
        const auto g = static_cast<std::int32_t>(faces_.size());
        if (start_of[a] != -1 || end_of[b] != -1) fail();
        start_of[a] = g;
        end_of[b] = g;
        add_face(a, b, apex);
        faces_[g].neighbour[0] = static_cast<std::int32_t>(kept);
        HullFace& other = faces_[kept];
        int k = 0;
        while (k < 3 && !(other.v[k] == b && other.v[(k + 1) % 3] == a)) ++k;
        if (k == 3) fail();
        other.neighbour[k] = g;
      }
      for (auto g = first; g < static_cast<std::int32_t>(faces_.size()); ++g) {
        HullFace& face = faces_[g];
        face.neighbour[1] = start_of[face.v[1]];  // edge b → apex: the fan face leaving b
        face.neighbour[2] = end_of[face.v[0]];    // edge apex → a: the fan face entering a
        if (face.neighbour[1] < 0 || face.neighbour[2] < 0) fail();
      }
      for (const auto& edge : horizon_) start_of[edge[0]] = end_of[edge[1]] = -1;

      // The removed faces' points go to the first new face they are outside.
      for (std::int32_t g : visible_) {
        faces_[g].alive = false;
        for (std::uint32_t q : faces_[g].outside) {
          if (q == apex) continue;
          for (auto h = first; h < static_cast<std::int32_t>(faces_.size()); ++h) {
            if (distance(h, q) > eps_) {
              faces_[h].outside.push_back(q);
              break;
            }
          }
        }
        std::vector<std::uint32_t>().swap(faces_[g].outside);
      }
      for (auto h = first; h < static_cast<std::int32_t>(faces_.size()); ++h)
        if (!faces_[h].outside.empty()) pending_.push_back(h);
    }

    // The live faces, on their own vertices.
    TriangleMesh hull;
    std::vector<std::int64_t> index(p_.size(), -1);
    for (const HullFace& face : faces_) {
      if (!face.alive) continue;
      Face out;
      for (int k = 0; k < 3; ++k) {
        if (index[face.v[k]] < 0) {
          index[face.v[k]] = static_cast<std::int64_t>(hull.vertices.size());
          hull.vertices.push_back(p_[face.v[k]]);
        }
        out[k] = static_cast<std::uint32_t>(index[face.v[k]]);
      }
      hull.faces.push_back(out);
    }
    return hull;
  }

 private:
  double distance(std::int32_t f, std::uint32_t q) const { return faces_[f].normal.dot(p_[q]) - faces_[f].offset; }

  [[noreturn]] static void fail() {
    throw MjcfError("Convex hull: the points are too close to degenerate for a consistent hull");
  }

  void add_face(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    HullFace face;
    face.v = {a, b, c};
    face.neighbour = {-1, -1, -1};
    const Vector3 n = (p_[b] - p_[a]).cross(p_[c] - p_[a]);
    const double norm = n.norm();
    if (!(norm > 0)) fail();
    face.normal = n / norm;
    face.offset = face.normal.dot(p_[a]);
    faces_.push_back(std::move(face));
  }

  // The first tetrahedron: the two farthest apart of the six axis extremes, the
  // point farthest from their line, the point farthest from that plane.
  void start() {
    std::array<std::uint32_t, 6> extreme{};
    Vector3 lo = p_[0], hi = p_[0];
    for (std::uint32_t i = 0; i < p_.size(); ++i) {
      for (int k = 0; k < 3; ++k) {
        if (p_[i][k] < p_[extreme[2 * k]][k]) extreme[2 * k] = i;
        if (p_[i][k] > p_[extreme[2 * k + 1]][k]) extreme[2 * k + 1] = i;
      }
      lo = lo.cwiseMin(p_[i]);
      hi = hi.cwiseMax(p_[i]);
    }
    const double size = std::max({(hi - lo).maxCoeff(), hi.cwiseAbs().maxCoeff(), lo.cwiseAbs().maxCoeff()});
    eps_ = 1e-10 * size;
    std::uint32_t i0 = 0, i1 = 0;
    double widest = -1;
    for (std::uint32_t a : extreme)
      for (std::uint32_t b : extreme)
        if ((p_[a] - p_[b]).norm() > widest) widest = (p_[a] - p_[b]).norm(), i0 = a, i1 = b;
    const Vector3 axis = (p_[i1] - p_[i0]).normalized();
    std::uint32_t i2 = i0, i3 = i0;
    double far = 0;
    for (std::uint32_t i = 0; i < p_.size(); ++i) {
      const double d = (p_[i] - p_[i0]).cross(axis).norm();
      if (d > far) far = d, i2 = i;
    }
    if (!(widest > eps_) || !(far > eps_)) flat();
    const Vector3 normal = (p_[i1] - p_[i0]).cross(p_[i2] - p_[i0]).normalized();
    far = 0;
    for (std::uint32_t i = 0; i < p_.size(); ++i) {
      const double d = std::abs(normal.dot(p_[i] - p_[i0]));
      if (d > far) far = d, i3 = i;
    }
    if (!(far > eps_)) flat();
    if (normal.dot(p_[i3] - p_[i0]) > 0) std::swap(i1, i2);  // i3 below face (i0, i1, i2)

    add_face(i0, i1, i2);
    add_face(i0, i3, i1);
    add_face(i1, i3, i2);
    add_face(i2, i3, i0);
    for (auto& face : faces_)
      for (int k = 0; k < 3; ++k)
        for (std::int32_t g = 0; g < 4; ++g)
          for (int j = 0; j < 3; ++j)
            if (faces_[g].v[j] == face.v[(k + 1) % 3] && faces_[g].v[(j + 1) % 3] == face.v[k]) face.neighbour[k] = g;
    for (std::uint32_t q = 0; q < p_.size(); ++q) {
      for (std::int32_t g = 0; g < 4; ++g) {
        if (distance(g, q) > eps_) {
          faces_[g].outside.push_back(q);
          break;
        }
      }
    }
    for (std::int32_t g = 0; g < 4; ++g)
      if (!faces_[g].outside.empty()) pending_.push_back(g);
  }

  [[noreturn]] static void flat() { throw MjcfError("Convex hull: the points lie on a plane and span no volume"); }

  const std::vector<Vector3>& p_;
  std::vector<HullFace> faces_;
  std::vector<std::int32_t> pending_, visible_;
  std::vector<std::array<std::uint32_t, 3>> horizon_;  // a, b, kept face
  double eps_ = 0.0;
};

// Mesh integrals.

Vector3 vertex(const TriangleMesh& mesh, const Face& f, int k) { return mesh.vertices[f[k]]; }

void check_indices(const TriangleMesh& mesh) {
  for (const Face& f : mesh.faces)
    for (std::uint32_t i : f)
      if (i >= mesh.vertices.size())
        throw MjcfError(cat("Mesh face refers to vertex ", i, " of ", mesh.vertices.size()));
}

// Two faces (with area) running along the same directed edge are wound
// opposite ways.
void check_winding(const TriangleMesh& mesh) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
  edges.reserve(3 * mesh.faces.size());
  for (const Face& f : mesh.faces) {
    const Vector3 a = vertex(mesh, f, 0), b = vertex(mesh, f, 1), c = vertex(mesh, f, 2);
    const double area = (b - a).cross(c - a).norm() / 2;
    if (!(area > std::sqrt(kMinValue))) continue;
    for (int k = 0; k < 3; ++k) edges.emplace_back(f[k], f[(k + 1) % 3]);
  }
  std::sort(edges.begin(), edges.end());
  const auto twice = std::adjacent_find(edges.begin(), edges.end());
  if (twice != edges.end())
    throw MjcfError(cat("Mesh faces have inconsistent orientation: two of them run from vertex ", twice->first + 1,
                        " to vertex ", twice->second + 1, " (counting from 1)"));
}

// Second moments Σ ∫ x xᵀ over the tetrahedra (origin, a, b, c) — or over
// the triangles (a, b, c) for a shell — of the faces, about the origin, with
// their total measure: V/20 (aaᵀ + bbᵀ + ccᵀ + ssᵀ) for a tetrahedron of
// signed volume V, A/12 (…) for a triangle of area A, where s = a + b + c.
std::pair<double, Matrix3> second_moments(const std::vector<Vector3>& v, const std::vector<Face>& faces,
                                          const Vector3& origin, MeshInertia method) {
  double total = 0;
  Matrix3 moments = Matrix3::Zero();
  for (const Face& f : faces) {
    const Vector3 a = v[f[0]] - origin, b = v[f[1]] - origin, c = v[f[2]] - origin;
    double measure;
    if (method == MeshInertia::Shell) {
      measure = (b - a).cross(c - a).norm() / 2;
    } else {
      measure = a.dot(b.cross(c)) / 6;
      if (method == MeshInertia::Legacy) measure = std::abs(measure);
    }
    const Vector3 s = a + b + c;
    total += measure;
    moments += measure / (method == MeshInertia::Shell ? 12 : 20) *
               (a * a.transpose() + b * b.transpose() + c * c.transpose() + s * s.transpose());
  }
  return {total, moments};
}

// File readers.

[[noreturn]] void bad_file(const std::string& filename, const std::string& why) {
  throw MjcfError(cat("Mesh file '", filename, "': ", why));
}

std::string read_bytes(const std::string& filename) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(filename, error)) bad_file(filename, "no such file");
  std::ifstream in(filename, std::ios::binary);
  if (!in) bad_file(filename, "cannot be opened");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) bad_file(filename, "cannot be read");
  return bytes;
}

template <typename T>
T load(const std::string& bytes, std::size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}

bool parse_number(std::string_view token, double& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  return error == std::errc() && end == token.data() + token.size() && std::isfinite(value);
}

// Splits a line at blanks.
std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    std::size_t j = i;
    while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
    if (j > i) tokens.push_back(line.substr(i, j - i));
    i = j;
  }
  return tokens;
}

// f(line number, tokens) for each line of `text` that holds a token before
// its `comment` character (none when 0).
template <typename F>
void for_each_line(std::string_view text, char comment, F&& f) {
  std::size_t line_number = 0, start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++line_number;
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (comment != 0) line = line.substr(0, line.find(comment));
    const auto tokens = split(line);
    if (!tokens.empty()) f(line_number, tokens);
  }
}

// The vertex x y z of tokens 1 to 3 ("vertex x y z", "v x y z [w]"),
// failing with the line's number unless they are finite numbers.
Vector3 vertex_of(const std::string& filename, std::size_t line_number, const std::vector<std::string_view>& tokens) {
  Vector3 x;
  if (tokens.size() < 4 || !parse_number(tokens[1], x.x()) || !parse_number(tokens[2], x.y()) ||
      !parse_number(tokens[3], x.z()))
    bad_file(filename, cat("line ", line_number, ": a vertex needs three finite numbers"));
  return x;
}

// Collects vertices, merging exact repeats.
class VertexPool {
 public:
  std::uint32_t add(const Vector3& x) {
    const auto [at, fresh] = index_.try_emplace({x.x(), x.y(), x.z()}, static_cast<std::uint32_t>(vertices.size()));
    if (fresh) vertices.push_back(x);
    return at->second;
  }
  std::vector<Vector3> vertices;

 private:
  std::map<std::array<double, 3>, std::uint32_t> index_;
};

// Binary STL: an 80-byte header, a 32-bit triangle count, then 50 bytes per
// triangle (normal, three vertices as 32-bit floats, a 16-bit attribute).
TriangleMesh read_binary_stl(const std::string& filename, const std::string& bytes, std::uint32_t count) {
  VertexPool pool;
  TriangleMesh mesh;
  mesh.faces.reserve(count);
  for (std::uint32_t t = 0; t < count; ++t) {
    Face face;
    for (int k = 0; k < 3; ++k) {
      const std::size_t at = 84 + 50 * static_cast<std::size_t>(t) + 12 * (k + 1);
      const Vector3 x(load<float>(bytes, at), load<float>(bytes, at + 4), load<float>(bytes, at + 8));
      if (!x.allFinite()) bad_file(filename, cat("triangle ", t + 1, " has a coordinate that is not a finite number"));
      face[k] = pool.add(x);
    }
    mesh.faces.push_back(face);
  }
  mesh.vertices = std::move(pool.vertices);
  return mesh;
}

// ASCII STL: "facet normal … outer loop vertex x y z … endloop endfacet",
// one polygon per loop (a fan when it has more than three vertices).
TriangleMesh read_ascii_stl(const std::string& filename, const std::string& text) {
  VertexPool pool;
  TriangleMesh mesh;
  std::vector<std::uint32_t> loop;
  for_each_line(text, 0, [&](std::size_t line_number, const std::vector<std::string_view>& tokens) {
    if (tokens[0] == "vertex") {
      if (tokens.size() != 4) bad_file(filename, cat("line ", line_number, ": a vertex needs three finite numbers"));
      loop.push_back(pool.add(vertex_of(filename, line_number, tokens)));
    } else if (tokens[0] == "endloop") {
      if (loop.size() < 3) bad_file(filename, cat("line ", line_number, ": a facet with fewer than three vertices"));
      for (std::size_t k = 1; k + 1 < loop.size(); ++k) mesh.faces.push_back({loop[0], loop[k], loop[k + 1]});
      loop.clear();
    }
  });
  if (!loop.empty()) bad_file(filename, "the last facet is not closed (truncated file?)");
  mesh.vertices = std::move(pool.vertices);
  return mesh;
}

TriangleMesh read_stl(const std::string& filename, const std::string& bytes) {
  if (bytes.size() >= 84) {
    const auto count = load<std::uint32_t>(bytes, 80);
    if (bytes.size() == 84 + 50 * static_cast<std::uint64_t>(count)) return read_binary_stl(filename, bytes, count);
  }
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && bytes.compare(first, 5, "solid") == 0) return read_ascii_stl(filename, bytes);
  bad_file(filename, "neither a binary STL (its size does not match its triangle count) nor an ASCII STL");
}

// Wavefront OBJ: "v x y z [w]" and "f i j k …" with i, i/t, i//n or i/t/n
// references counted from 1, or from the end of the vertices read so far
// when negative.
TriangleMesh read_obj(const std::string& filename, const std::string& text) {
  TriangleMesh mesh;
  std::vector<std::int64_t> polygon;
  for_each_line(text, '#', [&](std::size_t line_number, const std::vector<std::string_view>& tokens) {
    if (tokens[0] == "v") {
      mesh.vertices.push_back(vertex_of(filename, line_number, tokens));
    } else if (tokens[0] == "f") {
      if (tokens.size() < 4) bad_file(filename, cat("line ", line_number, ": a face needs at least three vertices"));
      polygon.clear();
      for (std::size_t k = 1; k < tokens.size(); ++k) {
        const std::string_view ref = tokens[k].substr(0, tokens[k].find('/'));
        std::int64_t i = 0;
        const auto [stop, error] = std::from_chars(ref.data(), ref.data() + ref.size(), i);
        if (error != std::errc() || stop != ref.data() + ref.size() || i == 0)
          bad_file(filename, cat("line ", line_number, ": bad vertex reference '", tokens[k], "'"));
        const auto count = static_cast<std::int64_t>(mesh.vertices.size());
        i = i > 0 ? i - 1 : count + i;
        if (i < 0) bad_file(filename, cat("line ", line_number, ": vertex reference '", tokens[k], "' out of range"));
        polygon.push_back(i);
      }
      for (std::size_t k = 1; k + 1 < polygon.size(); ++k)
        mesh.faces.push_back({static_cast<std::uint32_t>(std::min<std::int64_t>(polygon[0], UINT32_MAX)),
                              static_cast<std::uint32_t>(std::min<std::int64_t>(polygon[k], UINT32_MAX)),
                              static_cast<std::uint32_t>(std::min<std::int64_t>(polygon[k + 1], UINT32_MAX))});
    }
  });
  for (const Face& f : mesh.faces)
    for (std::uint32_t i : f)
      if (i >= mesh.vertices.size())
        bad_file(filename, cat("a face refers to vertex ", std::int64_t{i} + 1, " of ", mesh.vertices.size()));
  return mesh;
}

// MSH: four 32-bit counts (vertices, normals, texture coordinates, faces),
// then the vertices (3 floats each), normals (3 floats), texture coordinates
// (2 floats) and faces (3 ints). Normals and texture coordinates, when
// present, come one per vertex.
TriangleMesh read_msh(const std::string& filename, const std::string& bytes) {
  if (bytes.size() < 16) bad_file(filename, "too short for its header");
  const auto nv = load<std::int32_t>(bytes, 0), nn = load<std::int32_t>(bytes, 4), nt = load<std::int32_t>(bytes, 8),
             nf = load<std::int32_t>(bytes, 12);
  if (nv < 4 || nn < 0 || nt < 0 || nf < 0 || (nn > 0 && nn != nv) || (nt > 0 && nt != nv))
    bad_file(filename, cat("invalid counts (", nv, " vertices, ", nn, " normals, ", nt, " texture coordinates, ", nf,
                           " faces)"));
  const std::uint64_t expected = 16 + 12 * std::uint64_t(nv) + 12 * std::uint64_t(nn) + 8 * std::uint64_t(nt) +
                                 12 * std::uint64_t(nf);
  if (bytes.size() != expected)
    bad_file(filename, cat("its size, ", bytes.size(), " bytes, is not the ", expected, " its counts give"));
  TriangleMesh mesh;
  mesh.vertices.reserve(nv);
  for (std::int32_t i = 0; i < nv; ++i) {
    const std::size_t at = 16 + 12 * static_cast<std::size_t>(i);
    const Vector3 x(load<float>(bytes, at), load<float>(bytes, at + 4), load<float>(bytes, at + 8));
    if (!x.allFinite()) bad_file(filename, cat("vertex ", i, " is not finite"));
    mesh.vertices.push_back(x);
  }
  if (nf == 0) {
    try {
      return convex_hull(mesh.vertices);
    } catch (const MjcfError& e) {
      bad_file(filename, cat("no faces, and the hull of its vertices failed: ", e.what()));
    }
  }
  const std::size_t faces_at = 16 + 12 * std::size_t(nv) + 12 * std::size_t(nn) + 8 * std::size_t(nt);
  mesh.faces.reserve(nf);
  for (std::int32_t t = 0; t < nf; ++t) {
    Face face;
    for (int k = 0; k < 3; ++k) {
      const auto i = load<std::int32_t>(bytes, faces_at + 12 * static_cast<std::size_t>(t) + 4 * k);
      if (i < 0 || i >= nv) bad_file(filename, cat("face ", t, " refers to vertex ", i, " of ", nv));
      face[k] = static_cast<std::uint32_t>(i);
    }
    mesh.faces.push_back(face);
  }
  return mesh;
}

}  // namespace

// Public entry points.

UnitMassProperties primitive_properties(GeomType type, const Vector3& size, bool shell) {
  Primitive solid;
  switch (type) {
    case GeomType::Sphere: solid = sphere(size.x(), shell); break;
    case GeomType::Capsule: solid = capsule(size.x(), size.y(), shell); break;
    case GeomType::Cylinder: solid = cylinder(size.x(), size.y(), shell); break;
    case GeomType::Ellipsoid: solid = ellipsoid(size, shell); break;
    case GeomType::Hfield:
    case GeomType::Box: solid = box(size, shell); break;
    default: return {};
  }
  UnitMassProperties out;
  out.volume = solid.volume;
  out.inertia = (solid.volume * solid.moments_per_mass).asDiagonal();
  return out;
}

TriangleMesh convex_hull(const std::vector<Vector3>& points) { return Quickhull(points).run(); }

UnitMassProperties mesh_properties(const TriangleMesh& mesh, MeshInertia method) {
  if (mesh.faces.empty()) throw MjcfError("Mesh has no face");
  check_indices(mesh);
  if (method == MeshInertia::Exact) check_winding(mesh);

  // The area-weighted centroid of the faces.
  double area = 0;
  Vector3 centroid = Vector3::Zero();
  for (const Face& f : mesh.faces) {
    const Vector3 a = vertex(mesh, f, 0), b = vertex(mesh, f, 1), c = vertex(mesh, f, 2);
    const double face_area = (b - a).cross(c - a).norm() / 2;
    area += face_area;
    centroid += face_area * (a + b + c) / 3;
  }
  if (!(area >= kMinValue)) throw MjcfError(cat("Mesh surface area is too small (", area, ")"));
  centroid /= area;

  TriangleMesh hull;
  if (method == MeshInertia::Convex) hull = convex_hull(mesh.vertices);
  const TriangleMesh& solid = method == MeshInertia::Convex ? hull : mesh;

  // The centre of mass: of the surface for a shell; otherwise of the
  // tetrahedra from the faces' centroid (each weighs at its own centroid).
  Vector3 com = centroid;
  if (method != MeshInertia::Shell) {
    double volume = 0;
    Vector3 moment = Vector3::Zero();
    for (const Face& f : solid.faces) {
      const Vector3 a = vertex(solid, f, 0), b = vertex(solid, f, 1), c = vertex(solid, f, 2);
      double v = (a - centroid).dot((b - centroid).cross(c - centroid)) / 6;
      if (method == MeshInertia::Legacy) v = std::abs(v);
      volume += v;
      moment += v * (a + b + c + centroid) / 4;
    }
    if (volume < 0) throw MjcfError(cat("Mesh volume is negative (", volume, "): its faces are wound inwards"));
    if (!(volume >= kMinValue)) throw MjcfError(cat("Mesh volume is too small (", volume, "); try a shell inertia"));
    com = moment / volume;
  }

  // Inertia about the centre of mass: I = tr(P) 1 − P from the second moments P.
  const auto [measure, moments] = second_moments(solid.vertices, solid.faces, com, method);
  UnitMassProperties out;
  out.volume = measure;
  out.com = com;
  out.inertia = moments.trace() * Matrix3::Identity() - moments;

  const Vector3 principal = Eigen::SelfAdjointEigenSolver<Matrix3>(out.inertia, Eigen::EigenvaluesOnly).eigenvalues();
  if (!(principal.z() > 0)) throw MjcfError("Mesh inertia has no positive principal moment");
  constexpr double rtol = 1e-6, atol = 1e-9;
  for (int k = 0; k < 3; ++k)
    if (principal[(k + 1) % 3] + principal[(k + 2) % 3] < principal[k] * (1 - rtol) - atol)
      throw MjcfError("Mesh inertia violates A + B >= C for its principal moments");
  if (!(out.volume >= kMinValue)) throw MjcfError(cat("Mesh volume is too small (", out.volume, ")"));
  return out;
}

TriangleMesh read_mesh_file(const std::string& filename, const Vector3& scale) {
  std::string extension = std::filesystem::path(filename).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  if (extension != ".stl" && extension != ".obj" && extension != ".msh")
    bad_file(filename, "unknown type (expected .stl, .obj or .msh)");
  if (!scale.allFinite()) bad_file(filename, "the scale is not finite");
  const std::string bytes = read_bytes(filename);
  if (bytes.empty()) bad_file(filename, "empty");
  TriangleMesh mesh = extension == ".stl"   ? read_stl(filename, bytes)
                      : extension == ".obj" ? read_obj(filename, bytes)
                                            : read_msh(filename, bytes);
  if (mesh.faces.empty()) bad_file(filename, "no triangle");
  for (Vector3& x : mesh.vertices) x = x.cwiseProduct(scale);
  if (scale.prod() < 0)
    for (Face& f : mesh.faces) std::swap(f[1], f[2]);
  return mesh;
}

}  // namespace lumo::mjcf
