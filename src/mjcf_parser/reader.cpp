#include "reader.hpp"

#include <Eigen/Geometry>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <unordered_map>
#include <utility>

#include "model/utf8.hpp"
#include "urdf_parser/reader.hpp"

namespace lumo::mjcf {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::string_view kSpace = " \t\r\n";

// ------------------------------------------------------------ sources

// One parsed text: the main one or an included file.
struct Source {
  std::string text;
  std::string filename;  // empty for the main text
  pugi::xml_document doc;
  std::vector<std::size_t> line_starts;  // byte offset of each line
};

bool named(const pugi::xml_node& node, const char* name) {
  return node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0;
}

std::string join_path(const std::string& directory, const std::string& file) {
  if (file.empty() || file.front() == '/' || directory.empty()) return file;
  return directory.back() == '/' ? directory + file : directory + "/" + file;
}

std::string folder_of(const std::string& filename) {
  const std::size_t slash = filename.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : filename.substr(0, slash == 0 ? 1 : slash);
}

// The least rotation taking the z axis to the direction of `v` (non-zero):
// about z × v; a half turn about x when v points down z.
Matrix3 z_to(const Vector3& v) {
  const Vector3 u = v.normalized();
  const Vector3 axis = Vector3::UnitZ().cross(u);
  const double s = axis.norm();
  if (s < 1e-10) return u.z() < 0 ? Matrix3(Eigen::AngleAxisd(kPi, Vector3::UnitX())) : Matrix3::Identity();
  return Eigen::AngleAxisd(std::atan2(s, u.z()), axis / s).toRotationMatrix();
}

// ------------------------------------------------------------ defaults

// The attributes a default class gives each element kind, its ancestors'
// merged under its own.
using Attributes = std::vector<std::pair<std::string, std::string>>;
struct DefaultClass {
  std::unordered_map<std::string, Attributes> by_tag;
};

const char* find_attribute(const Attributes* attributes, std::string_view name) {
  if (attributes == nullptr) return nullptr;
  for (const auto& [key, value] : *attributes)
    if (key == name) return value.c_str();
  return nullptr;
}

void set_attribute(Attributes& attributes, std::string_view name, std::string_view value) {
  for (auto& [key, old] : attributes)
    if (key == name) {
      old = value;
      return;
    }
  attributes.emplace_back(name, value);
}

constexpr const char* kOrientations[] = {"quat", "axisangle", "euler", "xyaxes", "zaxis"};

// ------------------------------------------------------------ reader

class Reader {
 public:
  explicit Reader(std::optional<std::string> directory) : directory_(std::move(directory)) {}
  Document read(std::string_view text);

 private:
  std::optional<std::string> directory_;
  std::deque<std::unique_ptr<Source>> sources_;
  std::unordered_map<const void*, const Source*> included_;  // <include> element → its source
  std::unordered_map<std::string, const Source*> by_path_;
  std::vector<std::string> include_stack_;
  std::vector<DefaultClass> classes_;
  std::unordered_map<std::string, std::size_t> class_by_name_;
  std::map<std::string, std::pair<std::size_t, const char*>> ignored_;  // element kind → count, why
  Document out_;

  // compiler
  bool degree_ = true;
  char eulerseq_[3] = {'x', 'y', 'z'};
  bool autolimits_ = true;
  std::string meshdir_, assetdir_;

  std::size_t geoms_ = 0, passive_joints_ = 0;
  std::size_t depth_ = 0;  // of the default class being read
  bool option_ignored_ = false, gravity_disabled_ = false;

  // ---------------------------------------------------------- sources

  const Source& parse(std::string text, std::string filename);

  const Source& source_of(const pugi::xml_node& node) const {
    const pugi::xml_node root = node.root();
    for (const auto& s : sources_)
      if (s->doc == root) return *s;
    return *sources_.front();
  }

  std::size_t line(const pugi::xml_node& node) const {
    const Source& s = source_of(node);
    const std::ptrdiff_t offset = std::max<std::ptrdiff_t>(0, node.offset_debug());
    const auto it = std::upper_bound(s.line_starts.begin(), s.line_starts.end(), static_cast<std::size_t>(offset));
    return static_cast<std::size_t>(it - s.line_starts.begin());
  }

  // "<joint name='elbow'> at line 12" (" of 'parts/arm.xml'" after it in an included file).
  std::string where(const pugi::xml_node& node) const {
    const Source& s = source_of(node);
    const char* name = node.attribute("name").value();
    std::string out = *name ? cat("<", node.name(), " name='", name, "'>") : cat("<", node.name(), ">");
    out += cat(" at line ", line(node));
    if (!s.filename.empty()) out += cat(" of '", s.filename, "'");
    return out;
  }

  [[noreturn]] void fail(const pugi::xml_node& node, const std::string& what) const {
    throw MjcfError(cat(where(node), ": ", what));
  }

  // The value that `text` names in `table`; failing at `node` with
  // "{unknown} '{text}'" when it names none.
  template <typename E, std::size_t N>
  E keyword(const pugi::xml_node& node, std::string_view text, const std::pair<std::string_view, E> (&table)[N],
            const std::string& unknown) const {
    for (const auto& [name, value] : table)
      if (name == text) return value;
    fail(node, cat(unknown, " '", text, "'"));
  }

  // f(child) for each child element of `node`, the children of an
  // included file's <mujoco> in place of the <include>.
  template <typename F>
  void each_child(const pugi::xml_node& node, F&& f) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element) continue;
      if (!named(c, "include")) {
        f(c);
        continue;
      }
      const Source& inc = include(c);
      include_stack_.push_back(inc.filename);
      each_child(inc.doc.document_element(), f);
      include_stack_.pop_back();
    }
  }

  const Source& include(const pugi::xml_node& el);

  // ---------------------------------------------------------- attributes

  // An element with the default class it takes its missing attributes from.
  struct Element {
    pugi::xml_node node;
    const Attributes* defaults;
    const char* get(const char* name) const {
      const pugi::xml_attribute a = node.attribute(name);
      return a ? a.value() : find_attribute(defaults, name);
    }
  };

  // The class named by the node's `attribute` ("class", or "childclass":
  // the class a body or frame gives its elements), else the inherited one.
  std::size_t class_index(const pugi::xml_node& node, std::size_t inherited, const char* attribute = "class") const {
    const pugi::xml_attribute a = node.attribute(attribute);
    if (!a) return inherited;
    const auto it = class_by_name_.find(a.value());
    if (it == class_by_name_.end()) fail(node, cat("unknown default class '", a.value(), "'"));
    return it->second;
  }

  std::size_t child_class(const pugi::xml_node& node, std::size_t inherited) const {
    return class_index(node, inherited, "childclass");
  }

  Element element(const pugi::xml_node& node, std::size_t inherited) const {
    const DefaultClass& c = classes_[class_index(node, inherited)];
    const auto it = c.by_tag.find(node.name());
    return {node, it == c.by_tag.end() ? nullptr : &it->second};
  }

  // Up to `most` numbers of attribute `name`, at least `least`; the count read.
  int numbers(const Element& e, const char* name, double* out, int least, int most) const {
    const char* text = e.get(name);
    if (text == nullptr) return 0;
    const std::string_view value = text;
    int found = 0;
    std::size_t pos = 0;
    while ((pos = value.find_first_not_of(kSpace, pos)) != std::string_view::npos) {
      std::size_t end = value.find_first_of(kSpace, pos);
      if (end == std::string_view::npos) end = value.size();
      std::string_view token = value.substr(pos, end - pos);
      if (token.size() > 1 && token.front() == '+') token.remove_prefix(1);
      double x = 0.0;
      const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), x);
      if (ec != std::errc() || ptr != token.data() + token.size() || !std::isfinite(x))
        fail(e.node, cat("attribute '", name, "': not a finite number '", value.substr(pos, end - pos), "'"));
      if (found == most) fail(e.node, cat("attribute '", name, "': more than ", most, " numbers in '", value, "'"));
      out[found++] = x;
      pos = end;
    }
    if (found < least)
      fail(e.node, cat("attribute '", name, "': expected ", least == most ? "" : "at least ", least,
                       least == 1 ? " number" : " numbers", ", found ", found, " in '", value, "'"));
    return found;
  }

  double scalar(const Element& e, const char* name, double fallback) const {
    double x = fallback;
    numbers(e, name, &x, 1, 1);
    return x;
  }

  Vector3 vector3(const Element& e, const char* name, const Vector3& fallback) const {
    Vector3 v = fallback;
    numbers(e, name, v.data(), 3, 3);
    return v;
  }

  // An integer of at most 10⁹ in magnitude.
  int integer(const Element& e, const char* name, int fallback) const {
    const double x = scalar(e, name, fallback);
    if (x != std::floor(x) || std::abs(x) > 1e9)
      fail(e.node, cat("attribute '", name, "': expected an integer, got '", e.get(name), "'"));
    return static_cast<int>(x);
  }

  bool flag(const Element& e, const char* name, bool fallback) const {
    const char* text = e.get(name);
    if (text == nullptr) return fallback;
    if (std::strcmp(text, "true") == 0) return true;
    if (std::strcmp(text, "false") == 0) return false;
    fail(e.node, cat("attribute '", name, "': expected 'true' or 'false', got '", text, "'"));
  }

  double angle(double x) const { return degree_ ? x * (kPi / 180.0) : x; }

  Matrix3 rotation(const Element& e) const;
  SE3 pose(const Element& e) const { return SE3{rotation(e), vector3(e, "pos", Vector3::Zero())}; }

  // ---------------------------------------------------------- sections

  void read_compiler(const pugi::xml_node& node);
  void read_default(const pugi::xml_node& node, std::size_t cls);
  void read_asset(const pugi::xml_node& node);
  // The bodies of the <worldbody> sections, in depth-first pre-order.
  void read_tree(const std::vector<pugi::xml_node>& worldbodies);
  // A joint, geom, site or inertial of `body` (or an element to count as ignored).
  void read_element(const pugi::xml_node& c, std::size_t body, std::size_t cls, const SE3& frame);
  Joint read_joint(const pugi::xml_node& node, std::size_t cls, bool free);
  Geom read_geom(const pugi::xml_node& node, std::size_t cls, const SE3& frame);
  Inertial read_inertial(const pugi::xml_node& node) const;
  GeomType geom_type(const Element& e) const;
  // The placement `fromto` gives (its midpoint, z from the second point to the first) and its
  // half-length; false without it.
  bool from_to(const Element& e, SE3& placement, double& half_length) const;
  static bool elongated(GeomType t) {
    return t == GeomType::Capsule || t == GeomType::Cylinder || t == GeomType::Box || t == GeomType::Ellipsoid;
  }
  void read_equality(const pugi::xml_node& node);

  void ignore(const std::string& kind, std::size_t count = 1, const char* why = "not dynamics") {
    auto& [n, reason] = ignored_[kind];
    n += count;
    reason = why;
  }

  // Default classes nest by recursion: a bound keeps a hostile text from
  // exhausting the stack (bodies and frames are read without recursion).
  static constexpr std::size_t kMaxDepth = 100;
  struct Nested {
    Reader& reader;
    Nested(Reader& r, const pugi::xml_node& node) : reader(r) {
      if (++reader.depth_ > kMaxDepth) {
        --reader.depth_;
        reader.fail(node, cat("nested deeper than ", kMaxDepth, " levels"));
      }
    }
    ~Nested() { --reader.depth_; }
  };
};

// ------------------------------------------------------------ sources

const Source& Reader::parse(std::string text, std::string filename) {
  auto s = std::make_unique<Source>();
  s->text = std::move(text);
  s->filename = std::move(filename);
  const auto failure = [&](const std::string& what) {
    return MjcfError(s->filename.empty() ? what : cat("included file '", s->filename, "': ", what));
  };
  // A NUL ends the text when only NULs and white space follow it (a C string
  // read from a file); anywhere else it is a failure.
  if (const std::size_t nul = s->text.find('\0'); nul != std::string::npos) {
    if (s->text.find_first_not_of(std::string_view(" \t\r\n\0", 5), nul) != std::string::npos)
      throw failure(cat("NUL byte inside the text at byte offset ", nul));
    s->text.resize(nul);
  }
  const std::string_view t = s->text;
  if (const std::size_t bad = invalid_utf8(t); bad != std::string_view::npos)
    throw failure(cat("text is not valid UTF-8 at byte offset ", bad));
  s->line_starts.push_back(0);
  for (std::size_t k = 0; k < t.size(); ++k)
    if (t[k] == '\n') s->line_starts.push_back(k + 1);
  const pugi::xml_parse_result parsed =
      s->doc.load_buffer(s->text.data(), s->text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    const std::size_t at = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, parsed.offset));
    const auto it = std::upper_bound(s->line_starts.begin(), s->line_starts.end(), at);
    const std::size_t line = static_cast<std::size_t>(it - s->line_starts.begin());
    throw failure(cat("malformed XML at line ", line, ", column ", at - s->line_starts[line - 1] + 1, ": ",
                      parsed.description()));
  }
  const pugi::xml_node root = s->doc.document_element();
  if (!root) throw failure("no root element");
  const bool included = !s->filename.empty();
  sources_.push_back(std::move(s));
  // An included file may have the older <mujocoinclude> for its root.
  if (!named(root, "mujoco") && !(included && named(root, "mujocoinclude")))
    fail(root, included ? "the root element must be <mujoco> or <mujocoinclude>" : "the root element must be <mujoco>");
  return *sources_.back();
}

const Source& Reader::include(const pugi::xml_node& el) {
  if (const auto it = included_.find(el.internal_object()); it != included_.end()) return *it->second;
  const pugi::xml_attribute file = el.attribute("file");
  if (!file) fail(el, "missing attribute 'file'");
  if (!directory_)
    fail(el, cat("cannot include '", file.value(), "': the model was given as text without a directory"));
  const std::string path = join_path(*directory_, file.value());
  if (std::find(include_stack_.begin(), include_stack_.end(), path) != include_stack_.end())
    fail(el, cat("'", file.value(), "' includes itself"));
  if (const auto it = by_path_.find(path); it != by_path_.end()) {  // read once, however often included
    included_.emplace(el.internal_object(), it->second);
    return *it->second;
  }
  std::string text;
  try {
    text = urdf::read_text_file(path);
  } catch (const UrdfError& e) {
    throw MjcfError(cat(where(el), ": ", e.what()));
  }
  const Source& s = parse(std::move(text), path);
  included_.emplace(el.internal_object(), &s);
  by_path_.emplace(path, &s);
  return s;
}

// ------------------------------------------------------------ orientation

Matrix3 Reader::rotation(const Element& e) const {
  // The element's own orientation, else its class's: one form only.
  const char* form = nullptr;
  for (const char* name : kOrientations)
    if (e.node.attribute(name)) {
      if (form != nullptr) fail(e.node, cat("both '", form, "' and '", name, "' give the orientation"));
      form = name;
    }
  if (form == nullptr) {
    for (const char* name : kOrientations)
      if (find_attribute(e.defaults, name) != nullptr) {
        form = name;
        break;
      }
    if (form == nullptr) return Matrix3::Identity();
  }
  // The element holds none of the forms when its class gives the one used.
  const auto read = [&](double* out, int n) { numbers(e, form, out, n, n); };
  const std::string_view f = form;
  if (f == "quat") {
    double q[4];
    read(q, 4);
    const Eigen::Quaterniond quat(q[0], q[1], q[2], q[3]);
    if (quat.norm() == 0.0) fail(e.node, "attribute 'quat' is the zero quaternion");
    return quat.normalized().toRotationMatrix();
  }
  if (f == "axisangle") {
    double a[4];
    read(a, 4);
    const Vector3 axis(a[0], a[1], a[2]);
    if (axis.norm() == 0.0) fail(e.node, "attribute 'axisangle' has a zero axis");
    return Eigen::AngleAxisd(angle(a[3]), axis.normalized()).toRotationMatrix();
  }
  if (f == "euler") {
    double a[3];
    read(a, 3);
    Eigen::Quaterniond q = Eigen::Quaterniond::Identity();
    for (int k = 0; k < 3; ++k) {
      const char c = eulerseq_[k];
      const int index = std::tolower(c) - 'x';
      const Eigen::Quaterniond r(Eigen::AngleAxisd(angle(a[k]), Vector3::Unit(index)));
      q = std::islower(c) ? q * r : r * q;  // moving axes: after; fixed axes: before
    }
    return q.normalized().toRotationMatrix();
  }
  if (f == "xyaxes") {
    double a[6];
    read(a, 6);
    Vector3 x(a[0], a[1], a[2]), y(a[3], a[4], a[5]);
    if (x.norm() == 0.0) fail(e.node, "attribute 'xyaxes' has a zero x axis");
    x.normalize();
    y -= x * x.dot(y);
    if (y.norm() < 1e-12) fail(e.node, "attribute 'xyaxes' has a y axis parallel to its x axis");
    y.normalize();
    Matrix3 R;
    R.col(0) = x;
    R.col(1) = y;
    R.col(2) = x.cross(y);
    return R;
  }
  double a[3];
  read(a, 3);
  const Vector3 z(a[0], a[1], a[2]);
  if (z.norm() == 0.0) fail(e.node, "attribute 'zaxis' is zero");
  return z_to(z);
}

// ------------------------------------------------------------ sections

void Reader::read_compiler(const pugi::xml_node& node) {
  const Element e{node, nullptr};
  if (const char* a = e.get("angle")) {
    if (std::strcmp(a, "degree") == 0) degree_ = true;
    else if (std::strcmp(a, "radian") == 0) degree_ = false;
    else fail(node, cat("attribute 'angle': expected 'degree' or 'radian', got '", a, "'"));
  }
  if (const char* s = e.get("eulerseq")) {
    const std::string_view seq = s;
    if (seq.size() != 3 || seq.find_first_not_of("xyzXYZ") != std::string_view::npos)
      fail(node, cat("attribute 'eulerseq': expected three of x, y, z, X, Y, Z, got '", seq, "'"));
    std::copy(seq.begin(), seq.end(), eulerseq_);
  }
  autolimits_ = flag(e, "autolimits", autolimits_);
  if (const char* d = e.get("meshdir")) meshdir_ = d;
  if (const char* d = e.get("assetdir")) assetdir_ = d;
  if (const char* g = e.get("inertiafromgeom")) {
    const std::string_view v = g;
    Compiler& c = out_.compiler;
    if (v == "auto") c.inertia_from_geom = InertiaFromGeom::Auto;
    else if (v == "true") c.inertia_from_geom = InertiaFromGeom::True;
    else if (v == "false") c.inertia_from_geom = InertiaFromGeom::False;
    else fail(node, cat("attribute 'inertiafromgeom': expected 'auto', 'true' or 'false', got '", v, "'"));
  }
  double range[2] = {static_cast<double>(out_.compiler.group_low), static_cast<double>(out_.compiler.group_high)};
  numbers(e, "inertiagrouprange", range, 2, 2);
  for (const double x : range)
    if (x != std::floor(x) || std::abs(x) > 1e9)
      fail(node, cat("attribute 'inertiagrouprange': expected two integers, got '", e.get("inertiagrouprange"), "'"));
  out_.compiler.group_low = static_cast<int>(range[0]);
  out_.compiler.group_high = static_cast<int>(range[1]);
  out_.compiler.boundmass = scalar(e, "boundmass", out_.compiler.boundmass);
  out_.compiler.boundinertia = scalar(e, "boundinertia", out_.compiler.boundinertia);
  out_.compiler.settotalmass = scalar(e, "settotalmass", out_.compiler.settotalmass);
}

void Reader::read_default(const pugi::xml_node& node, std::size_t cls) {
  const Nested depth(*this, node);
  // The class's own attributes first, so that nested classes inherit them
  // wherever they stand.
  std::vector<pugi::xml_node> nested;
  each_child(node, [&](const pugi::xml_node& c) {
    if (named(c, "default")) {
      nested.push_back(c);
      return;
    }
    Attributes& attributes = classes_[cls].by_tag[c.name()];
    for (pugi::xml_attribute a = c.first_attribute(); a; a = a.next_attribute())
      set_attribute(attributes, a.name(), a.value());
  });
  for (const pugi::xml_node& c : nested) {
    const pugi::xml_attribute name = c.attribute("class");
    if (!name) fail(c, "a nested default needs a 'class'");
    if (class_by_name_.count(name.value())) fail(c, cat("default class '", name.value(), "' repeats an earlier one"));
    const std::size_t child = classes_.size();
    classes_.push_back(classes_[cls]);
    class_by_name_.emplace(name.value(), child);
    read_default(c, child);
  }
}

void Reader::read_asset(const pugi::xml_node& node) {
  each_child(node, [&](const pugi::xml_node& c) {
    if (!named(c, "mesh")) {
      ignore(cat("<asset><", c.name(), ">"));
      return;
    }
    const Element e = element(c, 0);
    Mesh m;
    m.line = line(c);
    const char* file = e.get("file");
    if (const char* name = e.get("name")) {
      m.name = name;
    } else if (file != nullptr) {  // the file name without folder and extension
      std::string stem = file;
      stem = stem.substr(stem.find_last_of('/') + 1);
      m.name = stem.substr(0, stem.find_last_of('.'));
    }
    if (file != nullptr) {
      const std::string dir = !meshdir_.empty() ? meshdir_ : assetdir_;
      const std::string base = directory_ ? *directory_ : std::string(".");
      m.file = join_path(dir.empty() ? base : join_path(base, dir), file);
    }
    m.scale = vector3(e, "scale", Vector3::Ones());
    if (const char* how = e.get("inertia")) {
      static constexpr std::pair<std::string_view, MeshInertia> kMethods[] = {
          {"legacy", MeshInertia::Legacy}, {"convex", MeshInertia::Convex},
          {"exact", MeshInertia::Exact},   {"shell", MeshInertia::Shell}};
      m.inertia = keyword(c, how, kMethods, "attribute 'inertia': unknown mesh inertia");
    }
    out_.meshes.push_back(std::move(m));
  });
}

Inertial Reader::read_inertial(const pugi::xml_node& node) const {
  const Element e{node, nullptr};
  Inertial in;
  in.frame = pose(e);
  if (!node.attribute("mass")) fail(node, "missing attribute 'mass'");
  in.mass = scalar(e, "mass", 0.0);
  if (in.mass < 0.0) fail(node, cat("negative mass ", in.mass));
  double d[6];
  if (node.attribute("diaginertia") && node.attribute("fullinertia"))
    fail(node, "both 'diaginertia' and 'fullinertia' are given");
  if (node.attribute("fullinertia")) {
    numbers(e, "fullinertia", d, 6, 6);  // ixx iyy izz ixy ixz iyz
    in.inertia << d[0], d[3], d[4], d[3], d[1], d[5], d[4], d[5], d[2];
  } else if (node.attribute("diaginertia")) {
    numbers(e, "diaginertia", d, 3, 3);
    in.inertia = Vector3(d[0], d[1], d[2]).asDiagonal();
  } else {
    fail(node, "missing attribute 'diaginertia' or 'fullinertia'");
  }
  return in;
}

Joint Reader::read_joint(const pugi::xml_node& node, std::size_t cls, bool free) {
  const Element e = free ? Element{node, nullptr} : element(node, cls);
  Joint j;
  j.line = line(node);
  if (const char* name = e.get("name")) j.name = name;
  if (free) {
    j.kind = JointKind::Free;
  } else if (const char* type = e.get("type")) {
    static constexpr std::pair<std::string_view, JointKind> kKinds[] = {
        {"hinge", JointKind::Hinge}, {"slide", JointKind::Slide}, {"ball", JointKind::Ball}, {"free", JointKind::Free}};
    j.kind = keyword(node, type, kKinds, "unknown joint type");
  }
  if (free) return j;
  j.pos = vector3(e, "pos", Vector3::Zero());
  j.axis = vector3(e, "axis", Vector3(0, 0, 1));
  if ((j.kind == JointKind::Hinge || j.kind == JointKind::Slide) && j.axis.norm() == 0.0)
    fail(node, "the axis is zero");
  double range[2] = {0.0, 0.0};
  const bool has_range = numbers(e, "range", range, 2, 2) == 2;
  const char* limited = e.get("limited");
  if (limited == nullptr || std::strcmp(limited, "auto") == 0) {
    j.limited = autolimits_ && has_range;
    if (limited != nullptr && !autolimits_) fail(node, "limited='auto' needs compiler autolimits");
  } else {
    j.limited = flag(e, "limited", false);
  }
  const bool angular = j.kind == JointKind::Hinge;
  j.lower = angular ? angle(range[0]) : range[0];
  j.upper = angular ? angle(range[1]) : range[1];
  if (j.limited && j.kind != JointKind::Ball && j.lower > j.upper)
    fail(node, cat("range lower bound ", range[0], " above the upper bound ", range[1]));
  const double ref = scalar(e, "ref", 0.0);
  j.ref = angular ? angle(ref) : ref;
  for (const char* passive : {"armature", "damping", "stiffness", "frictionloss"}) {
    double x[1] = {0.0};
    if (numbers(e, passive, x, 1, 1) && x[0] != 0.0) j.passive = true;
  }
  passive_joints_ += j.passive;
  return j;
}

// ------------------------------------------------------------ geoms and sites

GeomType Reader::geom_type(const Element& e) const {
  static constexpr std::pair<std::string_view, GeomType> kTypes[] = {
      {"plane", GeomType::Plane},       {"hfield", GeomType::Hfield},   {"sphere", GeomType::Sphere},
      {"capsule", GeomType::Capsule},   {"ellipsoid", GeomType::Ellipsoid},
      {"cylinder", GeomType::Cylinder}, {"box", GeomType::Box},         {"mesh", GeomType::Mesh},
      {"sdf", GeomType::Sdf}};
  const char* type = e.get("type");
  if (type == nullptr) return GeomType::Sphere;
  return keyword(e.node, type, kTypes, cat("unknown ", e.node.name(), " type"));
}

bool Reader::from_to(const Element& e, SE3& placement, double& half_length) const {
  double ft[6];
  if (numbers(e, "fromto", ft, 6, 6) == 0) return false;
  const Vector3 from(ft[0], ft[1], ft[2]), to(ft[3], ft[4], ft[5]);
  const Vector3 d = from - to;  // z points back to `from`, as MuJoCo orients it
  if (d.norm() == 0.0) fail(e.node, "attribute 'fromto': the two points coincide");
  placement.translation = 0.5 * (from + to);
  placement.rotation = z_to(d);
  half_length = 0.5 * d.norm();
  return true;
}

Geom Reader::read_geom(const pugi::xml_node& node, std::size_t cls, const SE3& frame) {
  const Element e = element(node, cls);
  Geom g;
  g.line = line(node);
  ++geoms_;
  if (const char* mesh = e.get("mesh")) g.mesh = mesh;
  g.type = geom_type(e);
  numbers(e, "size", g.size.data(), 0, 3);
  double half_length = 0.0;
  if (elongated(g.type) && from_to(e, g.placement, half_length)) {
    if (g.type == GeomType::Capsule || g.type == GeomType::Cylinder) {
      g.size[1] = half_length;
    } else {  // a box or an ellipsoid: size[0] across, half the length along
      g.size[1] = g.size[0];
      g.size[2] = half_length;
    }
  } else {
    g.placement = pose(e);
  }
  g.placement = compose(frame, g.placement);
  if (e.get("mass") != nullptr) g.mass = scalar(e, "mass", 0.0);
  g.density = scalar(e, "density", 1000.0);
  if (g.mass.value_or(0.0) < 0.0 || g.density < 0.0) fail(node, "negative mass or density");
  g.shell = flag(e, "shellinertia", false);
  g.group = integer(e, "group", 0);
  return g;
}

void Reader::read_element(const pugi::xml_node& c, std::size_t body, std::size_t cls, const SE3& frame) {
  const std::string_view tag = c.name();
  if (tag == "geom") {
    Geom g = read_geom(c, cls, frame);
    out_.bodies[body].geoms.push_back(std::move(g));
  } else if (tag == "site") {
    const Element e = element(c, cls);
    Site s;
    s.line = line(c);
    if (const char* name = e.get("name")) s.name = name;
    double half_length = 0.0;
    if (!(elongated(geom_type(e)) && from_to(e, s.placement, half_length))) s.placement = pose(e);
    s.placement = compose(frame, s.placement);
    out_.bodies[body].sites.push_back(std::move(s));
  } else if (tag == "joint" || tag == "freejoint") {
    if (body == 0) fail(c, "the world body cannot have joints");
    Joint j = read_joint(c, cls, tag == "freejoint");
    out_.bodies[body].joints.push_back(std::move(j));
  } else if (tag == "inertial") {
    if (out_.bodies[body].inertial) fail(c, "a second <inertial> in the body");
    if (body != 0) out_.bodies[body].inertial = read_inertial(c);
  } else if (tag == "composite" || tag == "flexcomp" || tag == "replicate" || tag == "attach") {
    fail(c, cat("<", tag, "> is not supported"));
  } else {
    ignore(cat("<", tag, ">"));
  }
}

void Reader::read_tree(const std::vector<pugi::xml_node>& worldbodies) {
  // Depth-first with explicit stacks, whatever the nesting: `bodies` holds
  // the bodies still to read (the next on top), `levels` the elements being
  // walked in one body, frames and included files opened as levels of their own.
  struct PendingBody {
    pugi::xml_node node;
    std::size_t parent, cls;
    SE3 frame;  // of the <frame>s around it, in the parent body
  };
  struct Level {
    pugi::xml_node next;
    std::size_t cls;
    SE3 frame;
    bool in_frame, included;
  };
  std::vector<PendingBody> bodies;
  std::vector<Level> levels;
  std::vector<PendingBody> found;  // the child bodies of the body being read, in document order

  const auto read_content = [&](const pugi::xml_node& node, std::size_t body, std::size_t cls) {
    found.clear();
    levels.push_back({node.first_child(), cls, SE3::Identity(), false, false});
    while (!levels.empty()) {
      Level& at = levels.back();
      if (!at.next) {
        if (at.included) include_stack_.pop_back();
        levels.pop_back();
        continue;
      }
      const pugi::xml_node c = at.next;
      at.next = c.next_sibling();
      if (c.type() != pugi::node_element) continue;
      const std::size_t level_class = at.cls;
      const SE3 level_frame = at.frame;
      const bool in_frame = at.in_frame;
      if (named(c, "include")) {
        const Source& inc = include(c);
        include_stack_.push_back(inc.filename);
        levels.push_back({inc.doc.document_element().first_child(), level_class, level_frame, in_frame, true});
      } else if (named(c, "frame")) {
        const SE3 here = compose(level_frame, pose(element(c, level_class)));
        levels.push_back({c.first_child(), child_class(c, level_class), here, true, false});
      } else if (named(c, "body")) {
        found.push_back({c, body, level_class, level_frame});
      } else {
        if (in_frame && (named(c, "joint") || named(c, "freejoint") || named(c, "inertial")))
          fail(c, "a <frame> cannot hold joints or an <inertial>");
        read_element(c, body, level_class, level_frame);
      }
    }
    const Body& b = out_.bodies[body];
    for (const Joint& j : b.joints)
      if (j.kind == JointKind::Free && b.joints.size() > 1)
        fail(node, "a free joint must be the body's only joint");
    bodies.insert(bodies.end(), found.rbegin(), found.rend());
  };

  // Several <worldbody> sections (included ones among them) hold the
  // world's children in document order: the first section's are read first.
  std::vector<PendingBody> world_children;
  for (const pugi::xml_node& w : worldbodies) {
    read_content(w, 0, 0);
    world_children.insert(world_children.begin(), bodies.begin(), bodies.end());
    bodies.clear();
  }
  bodies = std::move(world_children);
  while (!bodies.empty()) {
    const PendingBody p = bodies.back();
    bodies.pop_back();
    Body b;
    b.parent = p.parent;
    b.line = line(p.node);
    if (const pugi::xml_attribute name = p.node.attribute("name")) b.name = name.value();
    b.placement = compose(p.frame, pose(Element{p.node, nullptr}));
    out_.bodies.push_back(std::move(b));
    read_content(p.node, out_.bodies.size() - 1, child_class(p.node, p.cls));
  }
}

void Reader::read_equality(const pugi::xml_node& node) {
  each_child(node, [&](const pugi::xml_node& c) {
    if (!named(c, "joint")) {
      ignore(cat("<equality><", c.name(), ">"), 1, "only joint equalities are read, as couplings");
      return;
    }
    const Element e = element(c, 0);
    JointEquality q;
    q.line = line(c);
    const char* j1 = e.get("joint1");
    if (j1 == nullptr) fail(c, "missing attribute 'joint1'");
    q.joint1 = j1;
    if (const char* j2 = e.get("joint2")) q.joint2 = j2;
    numbers(e, "polycoef", q.polycoef, 0, 5);
    q.active = flag(e, "active", true);
    out_.joint_equalities.push_back(std::move(q));
  });
}

Document Reader::read(std::string_view text) {
  const Source& main = parse(std::string(text), "");
  const pugi::xml_node root = main.doc.document_element();
  out_.name = root.attribute("model").value();
  classes_.emplace_back();
  class_by_name_.emplace("main", 0);

  // The sections, includes expanded; the compiler settings first, since
  // everything else reads through them.
  std::vector<pugi::xml_node> defaults, assets, worldbodies, equalities;
  each_child(root, [&](const pugi::xml_node& c) {
    const std::string_view tag = c.name();
    if (tag == "compiler") {
      read_compiler(c);
    } else if (tag == "option") {
      const Element e{c, nullptr};
      out_.gravity = vector3(e, "gravity", out_.gravity);
      bool other = false;
      for (pugi::xml_attribute a = c.first_attribute(); a; a = a.next_attribute())
        other = other || std::strcmp(a.name(), "gravity") != 0;
      each_child(c, [&](const pugi::xml_node& f) {
        for (pugi::xml_attribute a = f.first_attribute(); a; a = a.next_attribute()) {
          if (named(f, "flag") && std::strcmp(a.name(), "gravity") == 0) {
            gravity_disabled_ = std::strcmp(a.value(), "disable") == 0;
            if (!gravity_disabled_ && std::strcmp(a.value(), "enable") != 0)
              fail(f, cat("attribute 'gravity': expected 'enable' or 'disable', got '", a.value(), "'"));
          } else {
            other = true;
          }
        }
      });
      option_ignored_ = option_ignored_ || other;
    } else if (tag == "default") {
      defaults.push_back(c);
    } else if (tag == "asset") {
      assets.push_back(c);
    } else if (tag == "worldbody") {
      worldbodies.push_back(c);
    } else if (tag == "equality") {
      equalities.push_back(c);
    } else {
      std::size_t n = 0;
      each_child(c, [&](const pugi::xml_node&) { ++n; });
      ignore(cat("<", tag, ">"), std::max<std::size_t>(n, 1));
    }
  });
  for (const pugi::xml_node& d : defaults) {
    const pugi::xml_attribute cls = d.attribute("class");
    if (cls && std::strcmp(cls.value(), "main") != 0) fail(d, "the top-level default class is 'main'");
    read_default(d, 0);
  }
  for (const pugi::xml_node& a : assets) read_asset(a);
  Body world;
  world.name = "world";
  world.line = worldbodies.empty() ? 0 : line(worldbodies.front());
  out_.bodies.push_back(std::move(world));
  read_tree(worldbodies);
  for (const pugi::xml_node& q : equalities) read_equality(q);

  if (gravity_disabled_) out_.gravity.setZero();  // <option><flag gravity="disable"/>
  if (option_ignored_) out_.notes.push_back("<option>: settings other than gravity ignored (not dynamics)");
  for (const auto& [kind, what] : ignored_)
    out_.notes.push_back(cat(kind, ": ", what.first, what.first == 1 ? " element" : " elements", " ignored (", what.second, ")"));
  if (geoms_ > 0)
    out_.notes.push_back(cat("<geom>: contact and visual parameters of ", geoms_, geoms_ == 1 ? " geom" : " geoms",
                             " ignored (only their mass properties are used)"));
  if (passive_joints_ > 0)
    out_.notes.push_back(cat("<joint>: armature, damping, stiffness and frictionloss are not modelled (non-zero on ",
                             passive_joints_, passive_joints_ == 1 ? " joint)" : " joints)"));
  return std::move(out_);
}

}  // namespace

Document read_mjcf(std::string_view text, const std::optional<std::string>& directory) {
  return Reader(directory).read(text);
}

Document read_mjcf_file(const std::string& filename) {
  std::string text;
  try {
    text = urdf::read_text_file(filename);
  } catch (const UrdfError& e) {
    throw MjcfError(e.what());
  }
  return read_mjcf(text, folder_of(filename));
}

}  // namespace lumo::mjcf
