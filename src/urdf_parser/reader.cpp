#include "reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <memory>
#include <pugixml.hpp>

#include "model/utf8.hpp"

namespace lumo::urdf {
namespace {

constexpr std::string_view kSpace = " \t\r\n";  // XML white space

// ------------------------------------------------------------------ text

// "line L, column C (byte offset O)" of a byte of `text` (columns count bytes).
std::string position(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t column = last_newline == std::string_view::npos ? offset + 1 : offset - last_newline;
  return cat("line ", line, ", column ", column, " (byte offset ", offset, ")");
}

// ---------------------------------------------------------------- numbers

enum class NumberStatus { ok, unparsable, overflow };

// The whole token as strtod reads a number in the C locale (so exponents,
// ".2", "1.", inf, nan and hexadecimal forms), whatever the process locale.
// A finite literal beyond the range of double is an overflow.
NumberStatus to_double(std::string_view token, double& out) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  if (token.empty() || kSpace.find(token.front()) != std::string_view::npos ||
      token.front() == '\v' || token.front() == '\f')
    return NumberStatus::unparsable;
  char small[64];
  std::string large;
  const char* s = small;
  if (token.size() < sizeof small) {
    std::memcpy(small, token.data(), token.size());
    small[token.size()] = '\0';
  } else {
    large.assign(token);
    s = large.c_str();
  }
  errno = 0;
  char* end = nullptr;
  const double value = strtod_l(s, &end, c_locale);
  if (end != s + token.size()) return NumberStatus::unparsable;
  if (errno == ERANGE && std::isinf(value)) return NumberStatus::overflow;
  out = value;
  return NumberStatus::ok;
}

// ------------------------------------------------------------------ reader

bool named(const pugi::xml_node& node, const char* name) {
  return node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0;
}

// First direct child element called `name` (namespaced names such as
// "joint:hinge" never match).
pugi::xml_node child_element(const pugi::xml_node& parent, const char* name) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (named(c, name)) return c;
  return {};
}

// The element a message is about: the robot, a link or a joint, with its
// name once that is known. Messages are built only on failure.
struct Subject {
  pugi::xml_node element;
  const char* name = nullptr;
};

class Reader {
 public:
  // `original` is the whole text given, `base` the number of bytes dropped
  // before the part that was parsed (a byte-order mark).
  Reader(std::string_view original, std::size_t base) : original_(original), base_(base) {}

  Robot read(const pugi::xml_node& root) const;

 private:
  std::string_view original_;
  std::size_t base_;

  // Lines are counted from the last position asked for when the node lies
  // after it, so that numbering every link and joint in document order reads
  // the text once.
  mutable std::size_t cursor_ = 0, cursor_line_ = 1;

  std::size_t line(const pugi::xml_node& node) const {
    const std::ptrdiff_t offset = std::max<std::ptrdiff_t>(0, node.offset_debug());
    const std::size_t at = std::min(original_.size(), base_ + static_cast<std::size_t>(offset));
    if (at < cursor_) {
      const std::string_view before = original_.substr(0, at);
      return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    }
    const std::string_view step = original_.substr(cursor_, at - cursor_);
    cursor_line_ += static_cast<std::size_t>(std::count(step.begin(), step.end(), '\n'));
    cursor_ = at;
    return cursor_line_;
  }

  // "joint 'elbow' at line 12: {what}", or "<joint> at line 12: {what}"
  // before the name is known.
  [[noreturn]] void fail(const Subject& s, const std::string& what) const {
    if (s.name == nullptr)
      throw UrdfError(cat("<", s.element.name(), "> at line ", line(s.element), ": ", what));
    throw UrdfError(cat(s.element.name(), " '", s.name, "' at line ", line(s.element), ": ", what));
  }

  // "<origin> (line 14)" for a child element of the subject.
  std::string where(const pugi::xml_node& el) const {
    return cat("<", el.name(), "> (line ", line(el), ")");
  }

  const char* required_attribute(const pugi::xml_node& el, const char* attr,
                                 const Subject& s) const {
    const pugi::xml_attribute a = el.attribute(attr);
    if (a) return a.value();
    if (el == s.element) fail(s, cat("missing attribute '", attr, "'"));
    fail(s, cat(where(el), " has no attribute '", attr, "'"));
  }

  pugi::xml_node required_child(const pugi::xml_node& el, const char* name,
                                const Subject& s) const {
    const pugi::xml_node c = child_element(el, name);
    if (!c) fail(s, cat("missing element <", name, "> in ", where(el)));
    return c;
  }

  // `count` numbers from attribute `attr` of `el`, or `fallback` when the
  // attribute is absent (required when fallback is null).
  void numbers(const pugi::xml_node& el, const char* attr, double* out, std::size_t count,
               const double* fallback, const Subject& s) const {
    const pugi::xml_attribute a = el.attribute(attr);
    if (!a) {
      if (fallback == nullptr) required_attribute(el, attr, s);
      std::copy(fallback, fallback + count, out);
      return;
    }
    const auto context = [&] { return cat("attribute '", attr, "' of ", where(el)); };
    const std::string_view value = a.value();
    std::size_t found = 0, pos = 0;
    while ((pos = value.find_first_not_of(kSpace, pos)) != std::string_view::npos) {
      const std::size_t end = std::min(value.find_first_of(kSpace, pos), value.size());
      const std::string_view token = value.substr(pos, end - pos);
      double x = 0.0;
      switch (to_double(token, x)) {
        case NumberStatus::ok:
          break;
        case NumberStatus::unparsable:
          fail(s, cat(context(), ": unparsable number '", token, "'"));
        case NumberStatus::overflow:
          fail(s, cat(context(), ": number out of range '", token, "'"));
      }
      if (!std::isfinite(x)) fail(s, cat(context(), ": non-finite number '", token, "'"));
      if (found < count) out[found] = x;
      ++found;
      pos = end;
    }
    if (found != count) {
      if (count == 1) fail(s, cat(context(), ": expected a number, found ", found, " in '", value, "'"));
      fail(s, cat(context(), ": expected ", count, " numbers, found ", found, " in '", value, "'"));
    }
  }

  double scalar(const pugi::xml_node& el, const char* attr, const double* fallback,
                const Subject& s) const {
    double x = 0.0;
    numbers(el, attr, &x, 1, fallback, s);
    return x;
  }

  Vector3 vector3(const pugi::xml_node& el, const char* attr, const Vector3& fallback,
                  const Subject& s) const {
    Vector3 v;
    numbers(el, attr, v.data(), 3, fallback.data(), s);
    return v;
  }

  // The <origin> child of `parent`; identity when absent, each of xyz and
  // rpy zero when absent.
  Pose pose(const pugi::xml_node& parent, const Subject& s) const {
    Pose p;
    if (const pugi::xml_node o = child_element(parent, "origin")) {
      p.xyz = vector3(o, "xyz", Vector3::Zero(), s);
      p.rpy = vector3(o, "rpy", Vector3::Zero(), s);
    }
    return p;
  }

  Link link(const pugi::xml_node& el) const;
  Joint joint(const pugi::xml_node& el) const;
};

Link Reader::link(const pugi::xml_node& el) const {
  Link k;
  Subject s{el};
  k.name = required_attribute(el, "name", s);
  s.name = k.name.c_str();
  k.line = line(el);
  const pugi::xml_node inertial = child_element(el, "inertial");
  if (!inertial) return k;
  k.inertial.origin = pose(inertial, s);
  const pugi::xml_node mass = required_child(inertial, "mass", s);
  k.inertial.mass = scalar(mass, "value", nullptr, s);
  if (k.inertial.mass < 0.0)
    fail(s, cat("attribute 'value' of ", where(mass), ": negative mass ", mass.attribute("value").value()));
  const pugi::xml_node I = required_child(inertial, "inertia", s);
  Inertia& out = k.inertial.inertia;
  out.ixx = scalar(I, "ixx", nullptr, s);
  out.ixy = scalar(I, "ixy", nullptr, s);
  out.ixz = scalar(I, "ixz", nullptr, s);
  out.iyy = scalar(I, "iyy", nullptr, s);
  out.iyz = scalar(I, "iyz", nullptr, s);
  out.izz = scalar(I, "izz", nullptr, s);
  return k;
}

Joint Reader::joint(const pugi::xml_node& el) const {
  static constexpr struct {
    const char* text;
    JointType type;
  } kinds[] = {{"revolute", JointType::Revolute},   {"continuous", JointType::Continuous},
               {"prismatic", JointType::Prismatic}, {"fixed", JointType::Fixed},
               {"floating", JointType::Floating},   {"planar", JointType::Planar},
               {"spherical", JointType::Spherical}};
  Joint j;
  Subject s{el};
  j.name = required_attribute(el, "name", s);
  s.name = j.name.c_str();
  j.line = line(el);
  const std::string_view type = required_attribute(el, "type", s);
  const auto* kind = std::find_if(std::begin(kinds), std::end(kinds),
                                  [&](const auto& k) { return type == k.text; });
  if (kind == std::end(kinds)) fail(s, cat("unknown joint type '", type, "'"));
  j.joint_type = kind->type;
  j.origin = pose(el, s);
  j.parent = required_attribute(required_child(el, "parent", s), "link", s);
  j.child = required_attribute(required_child(el, "child", s), "link", s);
  if (const pugi::xml_node axis = child_element(el, "axis"))
    j.axis.xyz = vector3(axis, "xyz", Axis{}.xyz, s);
  if (const pugi::xml_node limit = child_element(el, "limit")) {
    const double zero = 0.0;
    j.limit.lower = scalar(limit, "lower", &zero, s);
    j.limit.upper = scalar(limit, "upper", &zero, s);
  }
  if (const pugi::xml_node mimic = child_element(el, "mimic")) {
    const double one = 1.0, zero = 0.0;
    Mimic& m = j.mimic.emplace();
    m.joint = required_attribute(mimic, "joint", s);
    m.multiplier = scalar(mimic, "multiplier", &one, s);
    m.offset = scalar(mimic, "offset", &zero, s);
    m.line = line(mimic);
  }
  return j;
}

Robot Reader::read(const pugi::xml_node& root) const {
  if (!named(root, "robot"))
    throw UrdfError(cat("root element is <", root.name(), "> at line ", line(root),
                        ", expected <robot>"));
  Robot robot;
  robot.name = required_attribute(root, "name", Subject{root});
  // Only direct children: <joint> elements nested in <transmission> or
  // <gazebo> blocks are not joints of the tree.
  for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling()) {
    if (named(c, "link")) robot.links.push_back(link(c));
    else if (named(c, "joint")) robot.joints.push_back(joint(c));
  }
  return robot;
}

// Offset of the first element of the document that repeats an attribute
// name, or −1. The walk is iterative, whatever the nesting depth.
std::ptrdiff_t repeated_attribute(const pugi::xml_document& doc, std::string& name) {
  std::vector<std::string_view> names;
  pugi::xml_node n = doc.first_child();
  while (n) {
    if (n.type() == pugi::node_element && n.first_attribute() &&
        n.first_attribute().next_attribute()) {
      names.clear();
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
        names.emplace_back(a.name());
      std::sort(names.begin(), names.end());
      const auto twin = std::adjacent_find(names.begin(), names.end());
      if (twin != names.end()) {
        name = *twin;
        return n.offset_debug();
      }
    }
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) n = n.parent();
    if (n) n = n.next_sibling();
  }
  return -1;
}

// The name of a UTF-16 or UTF-32 encoding that the text starts in (by its
// byte-order mark, or by "<" as a 16-bit unit without one), or null.
const char* wide_encoding(std::string_view t) {
  const auto starts = [&](std::string_view p) { return t.substr(0, p.size()) == p; };
  using namespace std::string_view_literals;
  if (starts("\xFF\xFE\0\0"sv) || starts("\0\0\xFE\xFF"sv)) return "UTF-32";
  if (starts("\xFF\xFE"sv) || starts("\xFE\xFF"sv) || starts("<\0"sv) || starts("\0<"sv))
    return "UTF-16";
  return nullptr;
}

}  // namespace

Robot read_urdf(std::string_view original) {
  if (const char* encoding = wide_encoding(original))
    throw UrdfError(cat("the text is ", encoding, "; URDF must be UTF-8"));
  std::string_view text = original;
  std::size_t base = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {  // byte-order mark
    text.remove_prefix(3);
    base = 3;
  }
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    const std::size_t after = text.find_first_not_of(std::string_view(" \t\r\n\0", 5), nul);
    if (after != std::string_view::npos)
      throw UrdfError(cat("NUL byte inside the text at ", position(original, base + nul)));
    text = text.substr(0, nul);
  }
  if (const std::size_t bad = invalid_utf8(text); bad != std::string_view::npos)
    throw UrdfError(cat("text is not valid UTF-8 at ", position(original, base + bad)));
  if (text.find_first_not_of(kSpace) == std::string_view::npos)
    throw UrdfError(text.empty() ? "the text is empty" : "the text holds only white space");

  // Default options: no DOCTYPE, comment or processing-instruction nodes,
  // no entity expansion beyond the predefined and character references.
  // As a fragment, text outside the root element stays visible for the
  // checks below.
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment,
                      pugi::encoding_utf8);
  if (!parsed)
    throw UrdfError(cat("malformed XML at ",
                        position(original, base + static_cast<std::size_t>(parsed.offset)), ": ",
                        parsed.description()));
  pugi::xml_node root;
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    const std::size_t at = base + static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, n.offset_debug()));
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
      throw UrdfError(cat("malformed XML at ", position(original, at), ": text outside the root element"));
    if (n.type() != pugi::node_element) continue;
    if (root)
      throw UrdfError(cat("malformed XML at ", position(original, at),
                          ": a second top-level element <", n.name(), ">"));
    root = n;
  }
  if (!root) throw UrdfError("malformed XML: no root element");
  std::string twin;
  if (const std::ptrdiff_t at = repeated_attribute(doc, twin); at >= 0)
    throw UrdfError(cat("malformed XML at ", position(original, base + static_cast<std::size_t>(at)),
                        ": attribute '", twin, "' repeated"));
  return Reader(original, base).read(root);
}

std::string read_text_file(const std::string& filename, const ChunkHook& between_chunks,
                           std::size_t max_bytes) {
  const auto failure = [&](int error) {
    const std::error_code code(error, std::generic_category());
    return UrdfFileError(cat("cannot read file '", filename, "': ", code.message()), code);
  };
  if (filename.find('\0') != std::string::npos)
    throw UrdfFileError("cannot read file: the file name contains a NUL byte",
                        std::make_error_code(std::errc::invalid_argument));
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused
  // below like every file that is not regular (devices, sockets), which
  // could block or never end.
  int fd;
  do fd = ::open(filename.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) throw failure(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw failure(errno);
  if (S_ISDIR(info.st_mode)) throw failure(EISDIR);
  if (!S_ISREG(info.st_mode)) {
    const char* kind = S_ISFIFO(info.st_mode)  ? "a FIFO"
                       : S_ISCHR(info.st_mode) ? "a character device"
                       : S_ISBLK(info.st_mode) ? "a block device"
                       : S_ISSOCK(info.st_mode) ? "a socket"
                                                : "of an unknown kind";
    throw UrdfFileError(cat("cannot read file '", filename, "': it is not a regular file but ", kind),
                        std::make_error_code(std::errc::invalid_argument));
  }
  const auto too_large = [&] {
    const std::string limit = max_bytes % (std::size_t{1} << 20) == 0 ? cat(max_bytes >> 20, " MiB")
                                                                      : cat(max_bytes, " bytes");
    return UrdfFileError(cat("cannot read file '", filename, "': it is larger than ", limit,
                             ", the limit of a URDF file"),
                         std::make_error_code(std::errc::file_too_large));
  };
  if (info.st_size > 0 && static_cast<std::uintmax_t>(info.st_size) > max_bytes) throw too_large();
  std::string text;
  if (info.st_size > 0) text.reserve(static_cast<std::size_t>(info.st_size));
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::unique_ptr<char[]> chunk(new char[kChunk]);
  while (true) {
    const ssize_t got = ::read(fd, chunk.get(), kChunk);
    if (got < 0 && errno != EINTR) throw failure(errno);
    if (got == 0) break;
    if (got > 0) {
      if (static_cast<std::size_t>(got) > max_bytes - text.size()) throw too_large();  // grew while read
      text.append(chunk.get(), static_cast<std::size_t>(got));
    }
    if (between_chunks) between_chunks();
  }
  return text;
}

Robot read_urdf_file(const std::string& filename, const ChunkHook& between_chunks) {
  return read_urdf(read_text_file(filename, between_chunks));
}

}  // namespace lumo::urdf
