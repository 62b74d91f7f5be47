#include "serialize.hpp"

#include <bit>
#include <cmath>
#include <cstring>

#include "../algorithms/errors/errors.hpp"
#include "utf8.hpp"

namespace lumo {
namespace {

static_assert(std::endian::native == std::endian::little, "records are written little-endian");

// FNV-1a, 64 bits: every single changed byte changes it.
std::uint64_t checksum(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  return h;
}

// Smallest encodings, used to bound counts read from a record by the bytes left.
constexpr std::size_t kJointBytes = 8 + 1 + 8 * (3 + 12 + 10) + 8;
constexpr std::size_t kFrameBytes = 8 + 8 + 8 * 12 + 4;

class Writer {
 public:
  template <typename T>
  void put(T x) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &x, sizeof(T));
    out_.append(bytes, sizeof(T));
  }
  void put_text(const std::string& s) {
    put<std::uint64_t>(s.size());
    out_ += s;
  }
  void put_se3(const SE3& M) {
    for (int k = 0; k < 9; ++k) put(M.rotation.data()[k]);
    for (int k = 0; k < 3; ++k) put(M.translation[k]);
  }
  void put_vector3(const Vector3& x) {
    for (int k = 0; k < 3; ++k) put(x[k]);
  }
  std::string& bytes() { return out_; }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  template <typename T>
  T get() {
    need(sizeof(T));
    T x;
    std::memcpy(&x, rest_.data(), sizeof(T));
    rest_.remove_prefix(sizeof(T));
    return x;
  }
  // A count of items of at least `item_bytes` each that must fit in what is left.
  std::size_t get_count(std::size_t item_bytes, const char* what) {
    const std::uint64_t n = get<std::uint64_t>();
    if (n > rest_.size() / item_bytes) corrupt(cat(what, " count ", n, " exceeds the record"));
    return static_cast<std::size_t>(n);
  }
  // Text that must be well-formed UTF-8 (`what` names it in the error).
  std::string get_text(const std::string& what) {
    const std::size_t n = get_count(1, "text byte");
    std::string s(rest_.substr(0, n));
    rest_.remove_prefix(n);
    if (invalid_utf8(s) != std::string::npos) corrupt(cat(what, " is not valid UTF-8"));
    return s;
  }
  // A number that must be finite (`what` names it in the error).
  double get_finite(const std::string& what) {
    const double x = get<double>();
    if (!std::isfinite(x)) corrupt(cat(what, " is not finite"));
    return x;
  }
  SE3 get_se3(const std::string& what) {
    SE3 M;
    for (int k = 0; k < 9; ++k) M.rotation.data()[k] = get_finite(what);
    for (int k = 0; k < 3; ++k) M.translation[k] = get_finite(what);
    return M;
  }
  Vector3 get_vector3(const std::string& what) {
    Vector3 x;
    for (int k = 0; k < 3; ++k) x[k] = get_finite(what);
    return x;
  }
  std::string_view rest() const { return rest_; }
  bool done() const { return rest_.empty(); }

  [[noreturn]] static void corrupt(const std::string& why) {
    throw ValueError("Corrupted model record: " + why);
  }

 private:
  void need(std::size_t n) const {
    if (rest_.size() < n) corrupt("truncated");
  }
  std::string_view rest_;
};

}  // namespace

std::string save_model(const Model& model) {
  Writer w;
  w.put(kModelRecordVersion);
  w.put<std::uint64_t>(0);  // the body's byte count, written once known
  const std::size_t body_start = w.bytes().size();
  w.put_text(model.name);
  w.put<std::uint64_t>(model.njoints);
  for (std::size_t i = 0; i < model.njoints; ++i) {
    w.put<std::uint64_t>(model.parents[i]);
    w.put(static_cast<std::uint8_t>(model.joints[i].type));
    w.put_vector3(model.joints[i].axis);
    w.put_se3(model.jointPlacements[i]);
    const BodyInertia& I = model.inertias[i];
    w.put(I.mass);
    w.put_vector3(I.lever);
    for (double x : I.inertia) w.put(x);
    w.put_text(model.names[i]);
  }
  for (const auto* limits : {&model.lowerPositionLimit, &model.upperPositionLimit}) {
    w.put<std::uint64_t>(limits->size());
    for (double x : *limits) w.put(x);
  }
  w.put<std::uint64_t>(model.frames.size());
  for (const Frame& f : model.frames) {
    w.put_text(f.name);
    w.put<std::uint64_t>(f.parent);
    w.put_se3(f.placement);
    w.put(f.type);
  }
  w.put_vector3(model.gravity.angular);
  w.put_vector3(model.gravity.linear);
  std::string& bytes = w.bytes();
  const std::uint64_t body_bytes = bytes.size() - body_start;
  std::memcpy(bytes.data() + sizeof(std::uint32_t), &body_bytes, sizeof body_bytes);
  w.put(checksum(bytes));
  return std::move(bytes);
}

namespace {

// The model of a record's body (what follows the version, or the byte count).
Model load_body(Reader& r) {
  Model model;
  model.name = r.get_text("the model name");
  const std::size_t njoints = r.get_count(kJointBytes, "joint");
  if (njoints == 0) Reader::corrupt("no root joint");
  for (std::size_t i = 0; i < njoints; ++i) {
    const std::string joint = cat("joint ", i);
    const auto parent = r.get<std::uint64_t>();
    const auto kind = r.get<std::uint8_t>();
    const Vector3 axis = r.get_vector3(joint + " axis");
    const SE3 placement = r.get_se3(joint + " placement");
    BodyInertia inertia;
    inertia.mass = r.get_finite(joint + " mass");
    if (inertia.mass < 0.0) Reader::corrupt(cat(joint, " has negative mass ", inertia.mass));
    inertia.lever = r.get_vector3(joint + " centre of mass");
    for (double& x : inertia.inertia) x = r.get_finite(joint + " inertia");
    std::string name = r.get_text(joint + " name");
    if (kind > static_cast<std::uint8_t>(JointType::Spherical))
      Reader::corrupt(cat(joint, " has unknown kind ", int(kind)));
    const auto type = static_cast<JointType>(kind);
    const JointModel joint_model = JointModel::make(type, axis);
    // Kinds without an axis store zeros, as every model made by add_joint does.
    if (std::memcmp(joint_model.axis.data(), axis.data(), sizeof(double) * 3) != 0)
      Reader::corrupt(cat(joint, " of kind ", joint_type_name(type), " carries an axis"));
    if (i == 0) {  // the root: fixed, its own parent
      if (parent != 0 || type != JointType::Fixed) Reader::corrupt("root joint is not fixed at 0");
      model.set_joint_placement(0, placement);
      model.names[0] = std::move(name);
    } else {
      if (parent >= i) Reader::corrupt(cat(joint, " has parent ", parent));
      model.add_joint(static_cast<JointIndex>(parent), joint_model, placement, std::move(name));
    }
    model.set_inertia(i, inertia);
  }
  for (auto* limits : {&model.lowerPositionLimit, &model.upperPositionLimit}) {
    const std::size_t n = r.get_count(sizeof(double), "limit");
    if (n > model.nv) Reader::corrupt(cat("limit count ", n, " exceeds nv ", model.nv));
    limits->resize(n);
    for (double& x : *limits) {  // ±∞ for no limit
      x = r.get<double>();
      if (std::isnan(x)) Reader::corrupt("a position limit is NaN");
    }
  }
  const std::size_t nframes = r.get_count(kFrameBytes, "frame");
  if (nframes == 0) Reader::corrupt("no universe frame");
  model.frames.clear();
  model.nframes = 0;
  for (std::size_t k = 0; k < nframes; ++k) {
    const std::string frame = cat("frame ", k);
    Frame f;
    f.name = r.get_text(frame + " name");
    const auto parent = r.get<std::uint64_t>();
    if (parent >= model.njoints) Reader::corrupt(cat(frame, " has parent joint ", parent));
    f.parent = static_cast<JointIndex>(parent);
    f.placement = r.get_se3(frame + " placement");
    f.type = r.get<std::uint32_t>();
    model.add_frame(std::move(f));
  }
  model.gravity.angular = r.get_vector3("gravity");
  model.gravity.linear = r.get_vector3("gravity");
  if (!r.done()) Reader::corrupt("trailing bytes");
  return model;
}

}  // namespace

Model load_model(std::string_view record) {
  Reader r(record);
  const auto version = r.get<std::uint32_t>();
  if (version == 1) return load_body(r);
  if (version != kModelRecordVersion)
    throw ValueError(cat("Unknown model record version ", version, " (this library reads versions 1 and ",
                         kModelRecordVersion, ")"));
  const auto body_bytes = r.get<std::uint64_t>();
  const std::string_view rest = r.rest();
  if (rest.size() < sizeof(std::uint64_t) || body_bytes > rest.size() - sizeof(std::uint64_t))
    Reader::corrupt("truncated");
  if (body_bytes < rest.size() - sizeof(std::uint64_t)) Reader::corrupt("trailing bytes");
  const std::size_t signed_bytes = record.size() - sizeof(std::uint64_t);
  std::uint64_t stored;
  std::memcpy(&stored, record.data() + signed_bytes, sizeof stored);
  if (stored != checksum(record.substr(0, signed_bytes))) Reader::corrupt("checksum mismatch");
  Reader body(rest.substr(0, body_bytes));
  return load_body(body);
}

}  // namespace lumo
