#include "serialize.hpp"

#include <bit>
#include <cstring>

#include "../algorithms/errors/errors.hpp"

namespace lumo {
namespace {

static_assert(std::endian::native == std::endian::little, "records are written little-endian");

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
  std::string take() { return std::move(out_); }

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
  std::string get_text() {
    const std::size_t n = get_count(1, "text byte");
    std::string s(rest_.substr(0, n));
    rest_.remove_prefix(n);
    return s;
  }
  SE3 get_se3() {
    SE3 M;
    for (int k = 0; k < 9; ++k) M.rotation.data()[k] = get<double>();
    for (int k = 0; k < 3; ++k) M.translation[k] = get<double>();
    return M;
  }
  Vector3 get_vector3() {
    Vector3 x;
    for (int k = 0; k < 3; ++k) x[k] = get<double>();
    return x;
  }
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
  return w.take();
}

Model load_model(std::string_view record) {
  Reader r(record);
  const auto version = r.get<std::uint32_t>();
  if (version != kModelRecordVersion)
    throw ValueError(cat("Unknown model record version ", version, " (this library reads version ",
                         kModelRecordVersion, ")"));
  Model model;
  model.name = r.get_text();
  const std::size_t njoints = r.get_count(kJointBytes, "joint");
  if (njoints == 0) Reader::corrupt("no root joint");
  for (std::size_t i = 0; i < njoints; ++i) {
    const auto parent = r.get<std::uint64_t>();
    const auto kind = r.get<std::uint8_t>();
    const Vector3 axis = r.get_vector3();
    const SE3 placement = r.get_se3();
    BodyInertia inertia;
    inertia.mass = r.get<double>();
    inertia.lever = r.get_vector3();
    for (double& x : inertia.inertia) x = r.get<double>();
    std::string name = r.get_text();
    if (kind > static_cast<std::uint8_t>(JointType::Spherical))
      Reader::corrupt(cat("joint ", i, " has unknown kind ", int(kind)));
    const auto type = static_cast<JointType>(kind);
    const JointModel joint = JointModel::make(type, axis);
    // Kinds without an axis store zeros, as every model made by add_joint does.
    if (std::memcmp(joint.axis.data(), axis.data(), sizeof(double) * 3) != 0)
      Reader::corrupt(cat("joint ", i, " of kind ", joint_type_name(type), " carries an axis"));
    if (i == 0) {  // the root: fixed, its own parent
      if (parent != 0 || type != JointType::Fixed) Reader::corrupt("root joint is not fixed at 0");
      model.jointPlacements[0] = placement;
      model.names[0] = std::move(name);
    } else {
      if (parent >= i) Reader::corrupt(cat("joint ", i, " has parent ", parent));
      model.add_joint(static_cast<JointIndex>(parent), joint, placement, std::move(name));
    }
    model.set_inertia(i, inertia);
  }
  for (auto* limits : {&model.lowerPositionLimit, &model.upperPositionLimit}) {
    const std::size_t n = r.get_count(sizeof(double), "limit");
    if (n > model.nv) Reader::corrupt(cat("limit count ", n, " exceeds nv ", model.nv));
    limits->resize(n);
    for (double& x : *limits) x = r.get<double>();
  }
  const std::size_t nframes = r.get_count(kFrameBytes, "frame");
  if (nframes == 0) Reader::corrupt("no universe frame");
  model.frames.clear();
  model.nframes = 0;
  for (std::size_t k = 0; k < nframes; ++k) {
    Frame f;
    f.name = r.get_text();
    const auto parent = r.get<std::uint64_t>();
    if (parent >= model.njoints) Reader::corrupt(cat("frame ", k, " has parent joint ", parent));
    f.parent = static_cast<JointIndex>(parent);
    f.placement = r.get_se3();
    f.type = r.get<std::uint32_t>();
    model.add_frame(std::move(f));
  }
  model.gravity.angular = r.get_vector3();
  model.gravity.linear = r.get_vector3();
  if (!r.done()) Reader::corrupt("trailing bytes");
  return model;
}

}  // namespace lumo
