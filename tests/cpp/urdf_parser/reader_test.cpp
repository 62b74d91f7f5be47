// Tests of src/urdf_parser/reader.cpp: URDF text to the parsed robot record.
#include "urdf_parser/reader.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "test_models.hpp"

namespace lumo::urdf {
namespace {

namespace fs = std::filesystem;

// The reader's message for `text`, or "no exception".
std::string read_error(std::string_view text) {
  return test::error_message<UrdfError>([&] { read_urdf(text); });
}

::testing::AssertionResult contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "'" << text << "' does not contain '" << part << "'";
}

// A joint element with the given type and extra children.
std::string robot_with(const std::string& body) {
  return "<robot name=\"r\">\n<link name=\"a\"/>\n<link name=\"b\"/>\n" + body + "</robot>\n";
}

// A file under the test's temporary directory, removed with it.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/lumo_urdf_XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  fs::path write(const std::string& name, const std::string& bytes) const {
    const fs::path p = path_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// ------------------------------------------------------------------ content

TEST(UrdfReader, DocumentOrderAndDirectChildrenOnly) {
  const Robot robot = read_urdf(R"(<?xml version="1.0"?>
<robot xmlns:xacro="http://www.ros.org/wiki/xacro" xmlns:joint="urn:j" name="walker">
  <!-- <link name="commented"/> <joint name="c" type="floating"/> -->
  <joint name="j2" type="revolute">
    <parent link="l1"/><child link="l2"/>
    <gazebo><origin xyz="9 9 9"/></gazebo>
  </joint>
  <link name="l2"><sensor><origin xyz="9 9 9"/></sensor></link>
  <transmission name="t"><joint name="j2"><hardwareInterface>x</hardwareInterface></joint></transmission>
  <gazebo><joint:hinge name="h"/><joint name="nested" type="fixed"/></gazebo>
  <link name="l1"/>
  <joint name="j1" type="fixed"><parent link="l0"/><child link="l1"/></joint>
  <link name="l0"/>
  <sensor name="s"><parent joint="j1"/><origin xyz="1 2 3"/></sensor>
</robot>)");
  EXPECT_EQ(robot.name, "walker");
  ASSERT_EQ(robot.links.size(), 3u);
  EXPECT_EQ(robot.links[0].name, "l2");
  EXPECT_EQ(robot.links[1].name, "l1");
  EXPECT_EQ(robot.links[2].name, "l0");
  ASSERT_EQ(robot.joints.size(), 2u);
  EXPECT_EQ(robot.joints[0].name, "j2");
  EXPECT_EQ(robot.joints[0].joint_type, JointType::Revolute);
  EXPECT_EQ(robot.joints[0].parent, "l1");
  EXPECT_EQ(robot.joints[0].child, "l2");
  EXPECT_EQ(robot.joints[0].origin.xyz, Vector3::Zero());  // not the <gazebo> one
  EXPECT_EQ(robot.joints[1].name, "j1");
  EXPECT_EQ(robot.joints[1].joint_type, JointType::Fixed);
}

TEST(UrdfReader, EveryFieldAndEveryJointType) {
  const Robot robot = read_urdf(R"(<robot name="r">
  <link name="body">
    <inertial>
      <origin xyz="0.1 -0.2 0.3" rpy="0.4 0.5 -0.6"/>
      <mass value="2.5"/>
      <inertia ixx="1" ixy="0.01" ixz="-0.02" iyy="2" iyz="0.03" izz="3"/>
    </inertial>
  </link>
  <joint name="j" type="prismatic">
    <origin rpy="0.1 0.2 0.3" xyz="1 2 3"/>
    <parent link="p"/>
    <child link="c"/>
    <axis xyz="0 -1 0"/>
    <limit lower="-0.25" upper="0.75" effort="10" velocity="1" drake:acceleration="8"/>
  </joint>
  <joint name="revolute" type="revolute"><parent link="p"/><child link="c"/></joint>
  <joint name="continuous" type="continuous"><parent link="p"/><child link="c"/></joint>
  <joint name="fixed" type="fixed"><parent link="p"/><child link="c"/></joint>
  <joint name="floating" type="floating"><parent link="p"/><child link="c"/></joint>
  <joint name="planar" type="planar"><parent link="p"/><child link="c"/></joint>
  <joint name="spherical" type="spherical"><parent link="p"/><child link="c"/></joint>
</robot>)");
  const Inertial& in = robot.links[0].inertial;
  EXPECT_EQ(in.origin.xyz, Vector3(0.1, -0.2, 0.3));
  EXPECT_EQ(in.origin.rpy, Vector3(0.4, 0.5, -0.6));
  EXPECT_EQ(in.mass, 2.5);
  EXPECT_EQ(in.inertia.ixx, 1.0);
  EXPECT_EQ(in.inertia.ixy, 0.01);
  EXPECT_EQ(in.inertia.ixz, -0.02);
  EXPECT_EQ(in.inertia.iyy, 2.0);
  EXPECT_EQ(in.inertia.iyz, 0.03);
  EXPECT_EQ(in.inertia.izz, 3.0);
  const Joint& j = robot.joints[0];
  EXPECT_EQ(j.origin.xyz, Vector3(1, 2, 3));
  EXPECT_EQ(j.origin.rpy, Vector3(0.1, 0.2, 0.3));
  EXPECT_EQ(j.axis.xyz, Vector3(0, -1, 0));
  EXPECT_EQ(j.limit.lower, -0.25);
  EXPECT_EQ(j.limit.upper, 0.75);
  const JointType kinds[] = {JointType::Revolute, JointType::Continuous, JointType::Fixed,
                             JointType::Floating, JointType::Planar,     JointType::Spherical};
  ASSERT_EQ(robot.joints.size(), 7u);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(robot.joints[k + 1].joint_type, kinds[k]);
    EXPECT_EQ(robot.joints[k + 1].name, joint_type_name(kinds[k]));
  }
}

TEST(UrdfReader, DefaultsForAbsentOptionalElements) {
  const Robot robot = read_urdf(R"(<robot name="r">
  <link name="bare"/>
  <link name="no_origin"><inertial><mass value="1"/>
    <inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/></inertial></link>
  <link name="visual_only"><visual><origin xyz="1 1 1"/></visual></link>
  <joint name="bare" type="continuous"><parent link="bare"/><child link="no_origin"/></joint>
  <joint name="partial" type="revolute">
    <parent link="bare"/><child link="visual_only"/>
    <origin xyz="1 2 3"/><axis/><limit effort="1" velocity="2"/>
  </joint>
  <joint name="rpy_only" type="revolute">
    <parent link="bare"/><child link="x"/><origin rpy="0 0 1"/><limit upper="2"/>
  </joint>
</robot>)");
  for (const Link& k : {robot.links[0], robot.links[2]}) {
    EXPECT_EQ(k.inertial.mass, 0.0) << k.name;
    EXPECT_EQ(k.inertial.origin.xyz, Vector3::Zero());
    EXPECT_EQ(k.inertial.inertia.ixx + k.inertial.inertia.iyy + k.inertial.inertia.izz, 0.0);
  }
  EXPECT_EQ(robot.links[1].inertial.origin.xyz, Vector3::Zero());
  EXPECT_EQ(robot.links[1].inertial.origin.rpy, Vector3::Zero());
  EXPECT_EQ(robot.links[1].inertial.mass, 1.0);

  const Joint& bare = robot.joints[0];
  EXPECT_EQ(bare.origin.xyz, Vector3::Zero());
  EXPECT_EQ(bare.origin.rpy, Vector3::Zero());
  EXPECT_EQ(bare.axis.xyz, Vector3(1, 0, 0));
  EXPECT_EQ(bare.limit.lower, 0.0);
  EXPECT_EQ(bare.limit.upper, 0.0);
  const Joint& partial = robot.joints[1];
  EXPECT_EQ(partial.origin.rpy, Vector3::Zero());
  EXPECT_EQ(partial.axis.xyz, Vector3(1, 0, 0));  // <axis> without xyz
  EXPECT_EQ(partial.limit.lower, 0.0);
  EXPECT_EQ(partial.limit.upper, 0.0);
  const Joint& rpy_only = robot.joints[2];
  EXPECT_EQ(rpy_only.origin.xyz, Vector3::Zero());
  EXPECT_EQ(rpy_only.origin.rpy, Vector3(0, 0, 1));
  EXPECT_EQ(rpy_only.limit.lower, 0.0);
  EXPECT_EQ(rpy_only.limit.upper, 2.0);
}

// ------------------------------------------------------------------ numbers

double read_mass(const std::string& value) {
  return read_urdf("<robot name=\"r\"><link name=\"a\"><inertial><mass value=\"" + value +
                   "\"/><inertia ixx=\"0\" ixy=\"0\" ixz=\"0\" iyy=\"0\" iyz=\"0\" izz=\"0\"/>"
                   "</inertial></link></robot>")
      .links[0]
      .inertial.mass;
}

TEST(UrdfReader, NumbersInEveryFormStrtodReads) {
  const std::pair<const char*, double> accepted[] = {
      {"1", 1.0},         {"-2.5", -2.5},      {"+3", 3.0},           {".2", 0.2},
      {"1.", 1.0},        {"0.", 0.0},         {"-0.", -0.0},         {"2.7629E-18", 2.7629e-18},
      {"-4.9305E-36", -4.9305e-36},            {"1e3", 1000.0},       {"6.123e+2", 612.3},
      {"0x1p-2", 0.25},   {" \t7\r\n ", 7.0},  {"0.30000000000000004", 0.30000000000000004},
      {"1e-400", 0.0},  // underflow reads as zero, like strtod
  };
  for (const auto& [text, value] : accepted) EXPECT_EQ(read_mass(text), value) << text;
  EXPECT_EQ(read_mass("inf"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(read_mass("-Infinity"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(read_mass("nan")));

  // Vectors: any run of XML white space between exactly three numbers.
  const Robot robot = read_urdf(
      "<robot name=\"r\"><joint name=\"j\" type=\"fixed\"><parent link=\"a\"/><child link=\"b\"/>"
      "<origin xyz=\"  1\t\t-2.5E1\r\n.5 \" rpy=\"3.1416 2.7629E-18 -4.9305E-36\"/></joint></robot>");
  EXPECT_EQ(robot.joints[0].origin.xyz, Vector3(1, -25, 0.5));
  EXPECT_EQ(robot.joints[0].origin.rpy, Vector3(3.1416, 2.7629e-18, -4.9305e-36));
}

TEST(UrdfReader, NumbersIgnoreTheProcessLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      switched = true;
      break;
    }
  }
  const double decimal_point = read_mass("1.5");
  const std::string comma = read_error(
      "<robot name=\"r\"><link name=\"a\"><inertial><mass value=\"1,5\"/></inertial></link></robot>");
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!switched) GTEST_SKIP() << "no other locale installed";
  EXPECT_EQ(decimal_point, 1.5);
  EXPECT_TRUE(contains(comma, "unparsable number '1,5'"));
}

TEST(UrdfReader, RejectedNumbersNameTheAttributeAndLine) {
  const std::string husky_like = robot_with(
      "<joint name=\"imu_joint\" type=\"fixed\">\n"
      "  <parent link=\"a\"/><child link=\"b\"/>\n"
      "  <origin rpy=\"0 0 0\" xyz=\"$(optenv HUSKY_IMU_XYZ 0.19 0 0.149)\"/>\n"
      "</joint>\n");
  EXPECT_EQ(read_error(husky_like),
            "joint 'imu_joint' at line 4: attribute 'xyz' of <origin> (line 6): unparsable number "
            "'$(optenv'");

  const std::pair<const char*, const char*> vectors[] = {
      {"1 2", "expected 3 numbers, found 2 in '1 2'"},
      {"1 2 3 4", "expected 3 numbers, found 4 in '1 2 3 4'"},
      {"", "expected 3 numbers, found 0 in ''"},
      {"1,2,3", "unparsable number '1,2,3'"},
      {"1 2 3abc", "unparsable number '3abc'"},
      {"0 0 1e999", "number out of range '1e999'"},
      {"0 0 --1", "unparsable number '--1'"},
      {"0 0 0x", "unparsable number '0x'"},
  };
  for (const auto& [xyz, reason] : vectors) {
    const std::string message = read_error(robot_with(
        std::string("<joint name=\"j\" type=\"revolute\"><parent link=\"a\"/><child link=\"b\"/>"
                    "<axis xyz=\"") + xyz + "\"/></joint>\n"));
    EXPECT_TRUE(contains(message, "joint 'j' at line 4: attribute 'xyz' of <axis> (line 4)")) << xyz;
    EXPECT_TRUE(contains(message, reason)) << xyz;
  }
  EXPECT_TRUE(contains(read_error("<robot name=\"r\"><link name=\"a\"><inertial><mass value=\"1 2\"/>"
                                  "</inertial></link></robot>"),
                       "link 'a' at line 1: attribute 'value' of <mass> (line 1): expected a "
                       "number, found 2"));
  EXPECT_TRUE(contains(read_error(robot_with("<joint name=\"j\" type=\"revolute\"><parent link=\"a\"/>"
                                             "<child link=\"b\"/><limit lower=\"low\"/></joint>")),
                       "attribute 'lower' of <limit> (line 4): unparsable number 'low'"));
}

// ----------------------------------------------------------------- failures

TEST(UrdfReader, MissingElementsAndAttributes) {
  const std::pair<std::string, std::string> cases[] = {
      {"<robot><link name=\"a\"/></robot>", "<robot> at line 1: missing attribute 'name'"},
      {robot_with("<link/>\n"), "<link> at line 4: missing attribute 'name'"},
      {robot_with("<joint type=\"fixed\"/>\n"), "<joint> at line 4: missing attribute 'name'"},
      {robot_with("<joint name=\"j\"><parent link=\"a\"/><child link=\"b\"/></joint>\n"),
       "joint 'j' at line 4: missing attribute 'type'"},
      {robot_with("<joint name=\"j\" type=\"fixed\"><child link=\"b\"/></joint>\n"),
       "joint 'j' at line 4: missing element <parent> in <joint> (line 4)"},
      {robot_with("<joint name=\"j\" type=\"fixed\">\n<parent link=\"a\"/></joint>\n"),
       "joint 'j' at line 4: missing element <child> in <joint> (line 4)"},
      {robot_with("<joint name=\"j\" type=\"fixed\">\n<parent name=\"a\"/><child link=\"b\"/></joint>"),
       "joint 'j' at line 4: <parent> (line 5) has no attribute 'link'"},
      {robot_with("<joint name=\"j\" type=\"fixed\"><parent link=\"a\"/>\n<child/></joint>"),
       "joint 'j' at line 4: <child> (line 5) has no attribute 'link'"},
      {robot_with("<link name=\"m\"><inertial>\n<inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" "
                  "iyz=\"0\" izz=\"1\"/></inertial></link>"),
       "link 'm' at line 4: missing element <mass> in <inertial> (line 4)"},
      {robot_with("<link name=\"m\"><inertial><mass/></inertial></link>"),
       "link 'm' at line 4: <mass> (line 4) has no attribute 'value'"},
      {robot_with("<link name=\"m\"><inertial><mass value=\"1\"/></inertial></link>"),
       "link 'm' at line 4: missing element <inertia> in <inertial> (line 4)"},
      {robot_with("<link name=\"m\"><inertial><mass value=\"1\"/>\n"
                  "<inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" izz=\"1\"/></inertial></link>"),
       "link 'm' at line 4: <inertia> (line 5) has no attribute 'iyz'"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(read_error(text), message) << text;
}

TEST(UrdfReader, UnknownJointTypes) {
  for (const char* type : {"Revolute", "REVOLUTE", "hinge", "", " revolute", "ball", "unknown"}) {
    EXPECT_EQ(read_error(robot_with(std::string("<joint name=\"j\" type=\"") + type +
                                    "\"><parent link=\"a\"/><child link=\"b\"/></joint>")),
              std::string("joint 'j' at line 4: unknown joint type '") + type + "'");
  }
}

TEST(UrdfReader, MalformedDocuments) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "the text is empty"},
      {" \n\t\r\n", "the text holds only white space"},
      {"<!-- only a comment -->", "malformed XML: no root element"},
      {"<robot name=\"r\">\n  <link name=\"a\">\n</robot>\n",
       "malformed XML at line 3, column 3 (byte offset 37): Start-end tags mismatch"},
      {"<robot name=\"r\">\n<link name=\"a\"/>", "malformed XML at line 2"},
      {"<robot name=\"r\" name=\"s\"/>", "attribute 'name' repeated"},
      {"<robot name=\"r\"><gazebo><x a=\"1\" b=\"2\" a=\"3\"/></gazebo></robot>",
       "attribute 'a' repeated"},
      {"<robot name=\"r\"/>\n<robot name=\"s\"/>", "line 2, column 2 (byte offset 19): a second top-level element <robot>"},
      {"<robot name=\"r\"/>trailing", "text outside the root element"},
      {"junk<robot name=\"r\"/>", "text outside the root element"},
      {"<urdf name=\"r\"/>", "root element is <urdf> at line 1, expected <robot>"},
      {"<xacro:robot xmlns:xacro=\"x\" name=\"r\"/>", "root element is <xacro:robot>"},
      {"<robot name=\"r\"><link name=\"a\" <b/></robot>", "malformed XML at line 1"},
      {"<robot name=\"r\">\xC3\x28</robot>", "text is not valid UTF-8 at line 1, column 17 (byte offset 16)"},
      {"<robot name=\"\xED\xA0\x80\"/>", "text is not valid UTF-8"},  // a surrogate
      {"<robot name=\"\xC0\xAF\"/>", "text is not valid UTF-8"},      // overlong
      {"<robot name=\"r\"/>\n\xFF", "text is not valid UTF-8 at line 2, column 1"},
      {std::string("<robot name=\"r\"/>\0<x/>", 22), "NUL byte inside the text at line 1, column 18"},
      {std::string("<robot name=\"r\0s\"/>", 19), "NUL byte inside the text"},
  };
  for (const auto& [text, part] : cases) EXPECT_TRUE(contains(read_error(text), part)) << text;
}

TEST(UrdfReader, EncodingsAndEndOfText) {
  // A byte-order mark, CRLF line ends, non-ASCII names and a trailing NUL
  // (as some writers leave after the text) are all fine.
  const std::string text = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                           "<robot name=\"r\xC3\xB6\">\r\n<link name=\"\xE2\x9C\x93\"/>\r\n</robot>\r\n";
  EXPECT_EQ(read_urdf(text).name, "r\xC3\xB6");
  EXPECT_EQ(read_urdf(text).links[0].name, "\xE2\x9C\x93");
  EXPECT_EQ(read_urdf(text + std::string(1, '\0')).links.size(), 1u);
  EXPECT_EQ(read_urdf(text + std::string("\0\0\n\0", 4)).links.size(), 1u);
  // Line numbers count from the first line whatever the mark.
  EXPECT_TRUE(contains(read_error("\xEF\xBB\xBF\n<robot name=\"r\"><joint/></robot>"),
                       "<joint> at line 2"));
}

TEST(UrdfReader, DoctypeEntitiesAreNeverLoadedOrExpanded) {
  TempDir dir;
  const fs::path secret = dir.write("secret.txt", "1 2 3");
  const std::string doctype =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE robot [\n"
      "  <!ENTITY inline \"4 5 6\">\n"
      "  <!ENTITY external SYSTEM \"file://" + secret.string() + "\">\n"
      "  <!ENTITY a \"aaaaaaaaaaaaaaaa\"> <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
      "  <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"> <!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
      "]>\n";
  const Robot robot = read_urdf(doctype +
                                "<robot name=\"&d;\"><link name=\"&external;\"/>"
                                "<link name=\"&lt;&#x41;&amp;\"/></robot>");
  EXPECT_EQ(robot.name, "&d;");                 // no expansion
  EXPECT_EQ(robot.links[0].name, "&external;");  // nothing read from the file
  EXPECT_EQ(robot.links[1].name, "<A&");         // predefined and character references only
  EXPECT_TRUE(contains(read_error(doctype + "<robot name=\"r\"><joint name=\"j\" type=\"fixed\">"
                                            "<parent link=\"a\"/><child link=\"b\"/>"
                                            "<origin xyz=\"&external;\"/></joint></robot>"),
                       "unparsable number '&external;'"));
}

// -------------------------------------------------------------------- files

TEST(UrdfReaderFile, ReadsFilesAndReportsTheSystemError) {
  TempDir dir;
  const fs::path good = dir.write("good.urdf", "<robot name=\"r\"><link name=\"a\"/></robot>");
  EXPECT_EQ(read_urdf_file(good.string()).links[0].name, "a");

  const auto file_error = [](const fs::path& p) -> std::pair<std::string, std::error_code> {
    try {
      read_urdf_file(p.string());
    } catch (const UrdfFileError& e) {
      return {e.what(), e.code()};
    }
    return {"no exception", {}};
  };
  const auto [missing, missing_code] = file_error(dir.path() / "absent.urdf");
  EXPECT_EQ(missing, "cannot read file '" + (dir.path() / "absent.urdf").string() +
                         "': No such file or directory");
  EXPECT_EQ(missing_code, std::errc::no_such_file_or_directory);
  const auto [directory, directory_code] = file_error(dir.path());
  EXPECT_TRUE(contains(directory, "Is a directory"));
  EXPECT_EQ(directory_code, std::errc::is_a_directory);
  EXPECT_EQ(file_error(std::string("a\0b", 3)).second, std::errc::invalid_argument);

  // Content failures are reading failures too, but not file-access ones.
  EXPECT_EQ(test::error_message<UrdfError>([&] { read_urdf_file(dir.write("empty.urdf", "").string()); }),
            "the text is empty");
  EXPECT_TRUE(contains(test::error_message<UrdfError>([&] {
                         read_urdf_file(dir.write("latin1.urdf", "<robot name=\"caf\xE9\"/>").string());
                       }),
                       "not valid UTF-8"));

  const fs::path locked = dir.write("locked.urdf", "<robot name=\"r\"/>");
  fs::permissions(locked, fs::perms::none);
  if (::access(locked.c_str(), R_OK) == 0) GTEST_SKIP() << "running with permission to read anything";
  const auto [denied, denied_code] = file_error(locked);
  EXPECT_TRUE(contains(denied, "Permission denied"));
  EXPECT_EQ(denied_code, std::errc::permission_denied);
}

}  // namespace
}  // namespace lumo::urdf
