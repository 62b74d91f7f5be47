// src/model/serialize: the binary model record.
#include "model/serialize.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "algorithms/errors/errors.hpp"
#include "support/testing.hpp"

namespace lumo {
namespace {

// Random trees of every joint kind with a name, limits, extra frames and a
// tilted gravity, so that every part of the record carries data.
std::vector<Model> record_models() {
  std::vector<Model> models;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    test::TreeOptions options;
    options.floating_base = seed % 2 == 0;
    Model m = test::random_tree(seed, 10, options);
    std::mt19937 rng(seed);
    m.set_name("tree " + std::to_string(seed));
    for (JointIndex i = 1; i < m.njoints; i += 2) {
      m.set_position_limits(i, std::vector<double>(m.nv_joint[i], -1.0 - i),
                            std::vector<double>(m.nv_joint[i], 2.0 + i));
      m.add_frame(Frame{"frame " + std::to_string(i), i, test::random_placement(rng), OP_FRAME});
    }
    m.gravity.angular = test::random_vector(rng);
    m.gravity.linear = test::random_vector(rng);
    models.push_back(std::move(m));
  }
  return models;
}

// Invariants every loaded model must satisfy.
void expect_invariants(const Model& m) {
  ASSERT_EQ(m.parents.size(), m.njoints);
  ASSERT_EQ(m.nbodies, m.njoints);
  ASSERT_EQ(m.frames.size(), m.nframes);
  std::size_t nq = 0, nv = 0;
  for (JointIndex i = 0; i < m.njoints; ++i) {
    if (i > 0) {
      ASSERT_LT(m.parents[i], i);
    }
    ASSERT_EQ(m.idx_q[i], nq);
    ASSERT_EQ(m.idx_v[i], nv);
    ASSERT_EQ(m.nq_joint[i], joint_nq(m.joints[i].type));
    ASSERT_EQ(m.nv_joint[i], joint_nv(m.joints[i].type));
    nq += m.nq_joint[i];
    nv += m.nv_joint[i];
  }
  ASSERT_EQ(m.nq, nq);
  ASSERT_EQ(m.nv, nv);
  ASSERT_LE(m.lowerPositionLimit.size(), m.nv);
  ASSERT_LE(m.upperPositionLimit.size(), m.nv);
  for (const Frame& f : m.frames) ASSERT_LT(f.parent, m.njoints);
}

TEST(ModelRecord, RoundTripKeepsEveryField) {
  for (const Model& m : record_models()) {
    const std::string record = save_model(m);
    const Model back = load_model(record);
    expect_invariants(back);
    EXPECT_EQ(save_model(back), record);  // every stored field, bit for bit
    // The fields derived while rebuilding, against the original's.
    EXPECT_EQ(back.children, m.children);
    EXPECT_EQ(back.idx_q, m.idx_q);
    EXPECT_EQ(back.idx_v, m.idx_v);
    for (JointIndex i = 0; i < m.njoints; ++i)
      EXPECT_EQ(std::memcmp(back.joints[i].unit.data(), m.joints[i].unit.data(), 3 * sizeof(double)), 0);
  }
}

TEST(ModelRecord, BadRecordsRaiseValueError) {
  const std::string record = save_model(record_models()[1]);
  for (std::size_t n = 0; n < record.size(); ++n)
    EXPECT_THROW(load_model(std::string_view(record).substr(0, n)), ValueError) << n;
  EXPECT_THROW(load_model(record + '\0'), ValueError);
  std::string other_version = record;
  other_version[0] = 3;
  EXPECT_EQ(test::error_message<ValueError>([&] { load_model(other_version); }),
            "Unknown model record version 3 (this library reads versions 1 and 2)");
  // Flipped bytes: either a valid model or ValueError, never anything else.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string bad = record;
    for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
    try {
      expect_invariants(load_model(bad));
    } catch (const ValueError&) {
    }
  }
}

// The record of earlier releases: version 1, then the body, unsigned.
std::string version_1(const std::string& record) {
  std::string old = record.substr(12, record.size() - 20);
  const std::uint32_t one = 1;
  return std::string(reinterpret_cast<const char*>(&one), 4) + old;
}

// `record` with the first occurrence of `from` replaced by `to` (same size).
std::string replaced(std::string record, const std::string& from, const std::string& to) {
  const std::size_t at = record.find(from);
  EXPECT_NE(at, std::string::npos);
  return record.replace(at, from.size(), to);
}

std::string bytes_of(double x) { return std::string(reinterpret_cast<const char*>(&x), sizeof x); }

TEST(ModelRecord, ChecksumRefusesEveryChangedByteAndVersion1StillLoads) {
  const Model m = record_models()[0];
  const std::string record = save_model(m);
  for (std::size_t k = 4; k < record.size(); ++k)
    for (const char flip : {'\x01', '\x80'}) {
      std::string bad = record;
      bad[k] ^= flip;
      EXPECT_THROW(load_model(bad), ValueError) << k;
    }
  EXPECT_EQ(save_model(load_model(version_1(record))), record);
}

TEST(ModelRecord, ValuesTheUrdfImportRefusesAreRefused) {
  Model m = record_models()[0];
  BodyInertia I = m.inertias[2];
  I.mass = 1.25;
  m.set_inertia(2, I);
  m.set_name("robot");
  const std::string record = version_1(save_model(m));  // unsigned, so that values can be changed
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<std::string, std::string> cases[] = {
      {replaced(record, bytes_of(1.25), bytes_of(-3.0)), "joint 2 has negative mass -3"},
      {replaced(record, bytes_of(1.25), bytes_of(nan)), "joint 2 mass is not finite"},
      {replaced(record, "robot", "rob\xfft"), "the model name is not valid UTF-8"},
      {replaced(record, bytes_of(m.gravity.linear.z()), bytes_of(INFINITY)), "gravity is not finite"},
  };
  for (const auto& [bad, why] : cases)
    EXPECT_EQ(test::error_message<ValueError>([&] { load_model(bad); }), "Corrupted model record: " + why);
}

}  // namespace
}  // namespace lumo
