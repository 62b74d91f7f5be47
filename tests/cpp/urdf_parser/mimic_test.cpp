// Tests of src/urdf_parser/mimic.cpp: URDF <mimic> relations to joint
// couplings, and the builder's warnings about those that cannot be one.
#include "urdf_parser/mimic.hpp"

#include <filesystem>
#include <tuple>

#include "support/testing.hpp"
#include "urdf_parser/builder.hpp"

namespace lumo {
namespace {

using Names = std::vector<std::string>;
const std::filesystem::path kRobots = std::filesystem::path(LUMO_SOURCE_DIR) / ".." / "shared" / "robots";

// Lines from 3 on: a joint about z and its child link (of its name, mass 1).
std::string robot(const std::vector<std::string>& lines) {
  std::string text = "<robot name=\"hand\">\n<link name=\"base\"/>\n";
  for (const std::string& line : lines) text += line + "\n";
  return text + "</robot>\n";
}
std::string joint(const std::string& name, const std::string& type, const std::string& parent,
                  const std::string& mimic = "") {
  return "<joint name=\"" + name + "\" type=\"" + type + "\"><parent link=\"" + parent + "\"/><child link=\"" +
         name + "\"/><axis xyz=\"0 0 1\"/>" + mimic + "</joint><link name=\"" + name +
         "\"><inertial><mass value=\"1\"/><inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" "
         "izz=\"1\"/></inertial></link>";
}

// (joint, leader, ratio, offset) by name.
using Coupling = std::tuple<std::string, std::string, double, double>;
std::vector<Coupling> named(const Model& m, const std::vector<JointCoupling>& couplings) {
  std::vector<Coupling> out;
  for (const JointCoupling& c : couplings) out.emplace_back(m.names[c.joint], m.names[c.leader], c.ratio, c.offset);
  return out;
}

TEST(UrdfMimic, GripperCouplingsAndTheMimicsThatCannotBeOne) {
  const std::string text = robot({
      joint("wrist", "revolute", "base"),                                                            // line 3
      joint("finger_l", "prismatic", "wrist"),                                                       // 4
      joint("finger_r", "prismatic", "wrist", "<mimic joint=\"finger_l\" multiplier=\"-1\"/>"),      // 5
      joint("thumb", "revolute", "wrist", "<mimic joint=\"wrist\" multiplier=\"0.5\" offset=\"0.25\"/>"),
      joint("tip", "revolute", "thumb", "<mimic joint=\"thumb\"/>"),                                // 7: a chain
      joint("ghost_follower", "revolute", "wrist", "<mimic joint=\"ghost\"/>"),                     // 8
      joint("wheel", "continuous", "wrist", "<mimic joint=\"wrist\" multiplier=\"2\"/>"),           // 9
      joint("selfish", "prismatic", "wrist", "<mimic joint=\"selfish\"/>"),                         // 10
  });
  std::vector<std::string> notes;
  const Model m = parse_urdf_from_string(text, &notes);
  const Names bad = {
      "joint 'ghost_follower' at line 8: its <mimic> of 'ghost' is not a coupling: 'ghost' is not a joint of the "
      "model",
      "joint 'wheel' at line 9: its <mimic> of 'wrist' is not a coupling: 'wheel' is continuous (its coordinate is "
      "a (cos, sin) pair); a coupling joins revolute and prismatic joints only",
      "joint 'selfish' at line 10: its <mimic> of 'selfish' is not a coupling: a joint cannot mimic itself"};
  EXPECT_EQ(notes, bad);  // the clean robot otherwise: nothing about the good mimics

  const MimicCouplings found = couplings_from_urdf_string(m, text);
  EXPECT_EQ(named(m, found.couplings), (std::vector<Coupling>{{"finger_r", "finger_l", -1.0, 0.0},
                                                              {"thumb", "wrist", 0.5, 0.25},
                                                              {"tip", "thumb", 1.0, 0.0}}));
  EXPECT_EQ(found.warnings, bad);

  // Against another model: a leader of another kind, a follower that is not there.
  const Model other = parse_urdf_from_string(robot({joint("wrist", "continuous", "base"),
                                                    joint("finger_l", "prismatic", "wrist")}));
  EXPECT_EQ(couplings_from_urdf_string(other, robot({joint("finger_l", "prismatic", "base",
                                                           "<mimic joint=\"wrist\"/>")}))
                .warnings,
            Names{"joint 'finger_l' at line 3: its <mimic> of 'wrist' is not a coupling: 'wrist' is continuous (its "
                  "coordinate is a (cos, sin) pair); a coupling joins revolute and prismatic joints only"});
  EXPECT_EQ(couplings_from_urdf_string(other, text).warnings.front(),
            "joint 'finger_r' at line 5: its <mimic> of 'finger_l' is not a coupling: 'finger_r' is not a joint of "
            "the model");
}

TEST(UrdfMimic, ReadingFailuresAsTheParser) {
  const Model m = parse_urdf_from_string(robot({joint("a", "revolute", "base")}));
  const std::string bad_number = robot({joint("b", "revolute", "base", "<mimic joint=\"a\" offset=\"1,5\"/>")});
  try {
    couplings_from_urdf_string(m, bad_number);
    ADD_FAILURE() << "no exception";
  } catch (const UrdfError& e) {
    EXPECT_STREQ(e.what(), "Failed to parse URDF from string");
    ASSERT_TRUE(e.cause());
    EXPECT_EQ(test::error_message<UrdfError>([&] { std::rethrow_exception(e.cause()); }),
              "joint 'b' at line 3: attribute 'offset' of <mimic> (line 3): unparsable number '1,5'");
  }
  EXPECT_EQ(test::error_message<UrdfError>([&] { couplings_from_urdf_file(m, "/nonexistent/hand.urdf"); }),
            "Failed to parse URDF file: /nonexistent/hand.urdf");
}

TEST(UrdfMimic, PandaFingers) {
  if (!std::filesystem::is_directory(kRobots)) GTEST_SKIP() << kRobots << " not present";
  const std::string file = (kRobots / "panda.urdf").string();
  const Model panda = parse_urdf_file(file);
  const MimicCouplings found = couplings_from_urdf_file(panda, file);
  // panda.urdf: <mimic joint="panda_finger_joint1"/> in panda_finger_joint2, both prismatic.
  EXPECT_EQ(named(panda, found.couplings),
            (std::vector<Coupling>{{"panda_finger_joint2", "panda_finger_joint1", 1.0, 0.0}}));
  EXPECT_EQ(found.warnings, Names{});
}

}  // namespace
}  // namespace lumo
