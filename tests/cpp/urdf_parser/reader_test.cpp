// Tests of src/urdf_parser/reader.cpp: URDF text to the parsed robot record.
#include "urdf_parser/reader.hpp"

#include <sys/stat.h>

#include <array>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "support/testing.hpp"

namespace lumo::urdf {
namespace {

std::string read_error(std::string_view text) {
  return test::error_message<UrdfError>([&] { read_urdf(text); });
}
// Links a and b on lines 2 and 3, then `body` from line 4.
std::string robot_with(const std::string& body) {
  return "<robot name=\"r\">\n<link name=\"a\"/>\n<link name=\"b\"/>\n" + body + "</robot>\n";
}
std::string joint_with(const std::string& type, const std::string& extra) {
  return robot_with("<joint name=\"j\" type=\"" + type +
                    "\"><parent link=\"a\"/><child link=\"b\"/>" + extra + "</joint>\n");
}

TEST(UrdfReader, DocumentOrderDirectChildrenAndDefaults) {
  const Robot r = read_urdf(R"(<robot xmlns:joint="urn:j" name="walker">
  <!-- <link name="commented"/> -->
  <joint name="j2" type="continuous"><parent link="l1"/><child link="l2"/>
    <gazebo><origin xyz="9 9 9"/></gazebo><limit effort="1"/></joint>
  <link name="l2"><visual><origin xyz="9 9 9"/></visual></link>
  <transmission><joint name="nested"/></transmission>
  <gazebo><joint:hinge name="h"/><joint name="deep" type="fixed"/></gazebo>
  <link name="l1"><inertial><origin xyz="0.1 -0.2 0.3" rpy="0.4 0.5 -0.6"/><mass value="2.5"/>
    <inertia ixx="1" ixy="0.01" ixz="-0.02" iyy="2" iyz="0.03" izz="3"/></inertial></link>
  <joint name="j1" type="prismatic"><origin rpy="0.1 0.2 0.3"/><parent link="l0"/><child link="l1"/>
    <axis xyz="0 -1 0"/><limit lower="-0.25" upper="0.75" drake:acceleration="8"/>
    <mimic joint="j2" offset="-0.5"/></joint>
</robot>)");
  EXPECT_EQ(r.name, "walker");
  ASSERT_EQ(r.links.size(), 2u);
  ASSERT_EQ(r.joints.size(), 2u);
  EXPECT_EQ(r.links[0].name + r.links[1].name + r.joints[0].name + r.joints[1].name, "l2l1j2j1");
  // Absent parts: identity origin, axis x, zero inertial, limits 0.
  const Joint& j2 = r.joints[0];
  EXPECT_EQ(j2.joint_type, JointType::Continuous);
  EXPECT_EQ(j2.parent + j2.child, "l1l2");
  EXPECT_EQ(j2.origin.xyz + j2.origin.rpy, Vector3::Zero());
  EXPECT_EQ(j2.axis.xyz, Vector3(1, 0, 0));
  EXPECT_EQ(j2.limit.lower + j2.limit.upper, 0.0);
  EXPECT_EQ(r.links[0].inertial.mass + r.links[0].inertial.inertia.ixx, 0.0);
  // Present parts, each in its field.
  const Inertial& in = r.links[1].inertial;
  EXPECT_EQ(in.origin.xyz, Vector3(0.1, -0.2, 0.3));
  EXPECT_EQ(in.origin.rpy, Vector3(0.4, 0.5, -0.6));
  EXPECT_EQ(in.mass, 2.5);
  const Inertia& I = in.inertia;
  EXPECT_EQ((std::array<double, 6>{I.ixx, I.ixy, I.ixz, I.iyy, I.iyz, I.izz}),
            (std::array<double, 6>{1, 0.01, -0.02, 2, 0.03, 3}));
  const Joint& j1 = r.joints[1];
  EXPECT_EQ(j1.origin.xyz, Vector3::Zero());
  EXPECT_EQ(j1.origin.rpy, Vector3(0.1, 0.2, 0.3));
  EXPECT_EQ(j1.axis.xyz, Vector3(0, -1, 0));
  EXPECT_EQ(j1.limit.lower, -0.25);
  EXPECT_EQ(j1.limit.upper, 0.75);
  EXPECT_FALSE(j2.mimic);  // absent; present with multiplier 1 by default
  ASSERT_TRUE(j1.mimic);
  EXPECT_EQ(std::make_tuple(j1.mimic->joint, j1.mimic->multiplier, j1.mimic->offset, j1.mimic->line),
            std::make_tuple(std::string("j2"), 1.0, -0.5, std::size_t{12}));
  for (JointType type : {JointType::Revolute, JointType::Fixed, JointType::Floating, JointType::Planar,
                         JointType::Spherical})
    EXPECT_EQ(read_urdf(joint_with(joint_type_name(type), "")).joints[0].joint_type, type);
}

TEST(UrdfReader, NumbersAsStrtodReadsThemInTheCLocale) {
  const char* saved = std::setlocale(LC_NUMERIC, nullptr);
  const std::string restore = saved ? saved : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a decimal comma, where installed
  const std::pair<const char*, double> forms[] = {
      {"+3", 3},   {".2", 0.2}, {"1.", 1},           {"-0.", -0.0},        {"2.7629E-18", 2.7629e-18},
      {"1e3", 1e3}, {"0x1p-2", 0.25}, {" \t7\r\n", 7}, {"1e-400", 0}};
  for (const auto& [text, value] : forms)
    EXPECT_EQ(read_urdf(joint_with("revolute", std::string("<limit upper=\"") + text + "\"/>"))
                  .joints[0].limit.upper, value) << text;
  const Joint j = read_urdf(joint_with("fixed", "<origin xyz=\" 1\t\t-2.5E1\r\n.5 \"/>")).joints[0];
  EXPECT_EQ(j.origin.xyz, Vector3(1, -25, 0.5));
  const std::string comma = read_error(joint_with("revolute", "<limit upper=\"1,5\"/>"));
  std::setlocale(LC_NUMERIC, restore.c_str());
  EXPECT_EQ(comma, "joint 'j' at line 4: attribute 'upper' of <limit> (line 4): unparsable number '1,5'");
}

TEST(UrdfReader, EachFailureNamesWhatAndWhere) {
  const std::string inertia = "<inertia ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"1\"/>";
  const std::pair<std::string, std::string> cases[] = {
      {joint_with("fixed", "\n<origin xyz=\"$(optenv X 0.19 0 0.149)\"/>"),
       "joint 'j' at line 4: attribute 'xyz' of <origin> (line 5): unparsable number '$(optenv'"},
      {joint_with("fixed", "<axis xyz=\"1 2\"/>"), "of <axis> (line 4): expected 3 numbers, found 2 in '1 2'"},
      {joint_with("fixed", "<axis xyz=\"1 2 3abc\"/>"), "unparsable number '3abc'"},
      {joint_with("fixed", "<axis xyz=\"0 0 1e999\"/>"), "number out of range '1e999'"},
      {joint_with("fixed", "<limit lower=\"1 2\"/>"), "expected a number, found 2"},
      // Non-finite numbers wherever a number is read, and a negative mass.
      {joint_with("fixed", "<origin rpy=\"0 nan 0\"/>"), "attribute 'rpy' of <origin> (line 4): non-finite number 'nan'"},
      {joint_with("revolute", "<limit upper=\"-Infinity\"/>"), "non-finite number '-Infinity'"},
      {robot_with("<link name=\"m\"><inertial><mass value=\"inf\"/>" + inertia + "</inertial></link>"),
       "link 'm' at line 4: attribute 'value' of <mass> (line 4): non-finite number 'inf'"},
      {robot_with("<link name=\"m\"><inertial><mass value=\"1\"/><inertia ixx=\"nan(0x1)\" ixy=\"0\" ixz=\"0\" "
                  "iyy=\"1\" iyz=\"0\" izz=\"1\"/></inertial></link>"),
       "attribute 'ixx' of <inertia> (line 4): non-finite number 'nan(0x1)'"},
      {robot_with("<link name=\"m\"><inertial><mass value=\"-4\"/>" + inertia + "</inertial></link>"),
       "link 'm' at line 4: attribute 'value' of <mass> (line 4): negative mass -4"},
      // Wide encodings, with or without a byte-order mark.
      {std::string("\xFF\xFE<\0r\0", 6), "the text is UTF-16; URDF must be UTF-8"},
      {std::string("\0<\0r", 4), "the text is UTF-16; URDF must be UTF-8"},
      {std::string("\xFF\xFE\0\0<\0\0\0", 8), "the text is UTF-32; URDF must be UTF-8"},
      {joint_with("Revolute", ""), "joint 'j' at line 4: unknown joint type 'Revolute'"},
      {"<robot><link name=\"a\"/></robot>", "<robot> at line 1: missing attribute 'name'"},
      {robot_with("<link/>"), "<link> at line 4: missing attribute 'name'"},
      {robot_with("<joint type=\"fixed\"/>"), "<joint> at line 4: missing attribute 'name'"},
      {robot_with("<joint name=\"j\"/>"), "joint 'j' at line 4: missing attribute 'type'"},
      {robot_with("<joint name=\"j\" type=\"fixed\"><child link=\"b\"/></joint>"),
       "joint 'j' at line 4: missing element <parent> in <joint> (line 4)"},
      {robot_with("<joint name=\"j\" type=\"fixed\">\n<parent/><child link=\"b\"/></joint>"),
       "joint 'j' at line 4: <parent> (line 5) has no attribute 'link'"},
      {joint_with("revolute", "<mimic multiplier=\"2\"/>"), "joint 'j' at line 4: <mimic> (line 4) has no attribute 'joint'"},
      {joint_with("revolute", "<mimic joint=\"a\" multiplier=\"nan\"/>"), "of <mimic> (line 4): non-finite number 'nan'"},
      {robot_with("<link name=\"m\"><inertial>" + inertia + "</inertial></link>"),
       "link 'm' at line 4: missing element <mass> in <inertial> (line 4)"},
      {robot_with("<link name=\"m\"><inertial><mass/>" + inertia + "</inertial></link>"),
       "<mass> (line 4) has no attribute 'value'"},
      {robot_with("<link name=\"m\"><inertial><mass value=\"1\"/><inertia ixx=\"1\"/></inertial></link>"),
       "<inertia> (line 4) has no attribute 'ixy'"},
      // Malformed text and XML.
      {"", "the text is empty"},
      {" \r\n", "the text holds only white space"},
      {"<robot name=\"r\">\n  <link name=\"a\">\n</robot>",
       "malformed XML at line 3, column 3 (byte offset 37): Start-end tags mismatch"},
      {"<robot name=\"r\"><a><b c=\"1\" c=\"2\"/></a></robot>", "attribute 'c' repeated"},
      {"<robot name=\"r\"/>\n<robot name=\"s\"/>", "line 2, column 2 (byte offset 19): a second top-level element"},
      {"<robot name=\"r\"/>junk", "text outside the root element"},
      {"<urdf name=\"r\"/>", "root element is <urdf> at line 1, expected <robot>"},
      {"<robot name=\"r\">\xC3\x28</robot>", "text is not valid UTF-8 at line 1, column 17 (byte offset 16)"},
      {"<robot name=\"\xED\xA0\x80\"/>", "not valid UTF-8"},  // a UTF-16 surrogate
      {std::string("<robot name=\"r\"/>\0<x/>", 22), "NUL byte inside the text at line 1, column 18"},
  };
  for (const auto& [text, part] : cases) {
    const std::string message = read_error(text);
    EXPECT_NE(message.find(part), std::string::npos) << message << "\nfor\n" << text;
  }
}

TEST(UrdfReader, EndOfTextEncodingAndEntities) {
  // Byte-order mark, CRLF, UTF-8 names; NULs and white space after the text end it.
  const std::string text = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<robot name=\"r\xC3\xB6\">"
                           "<link name=\"\xE2\x9C\x93\"/></robot>\r\n" + std::string("\0\r\n\0", 4);
  EXPECT_EQ(read_urdf(text).name, "r\xC3\xB6");
  EXPECT_EQ(read_urdf(text).links[0].name, "\xE2\x9C\x93");
  // A DOCTYPE is skipped: declared entities, internal or external, are
  // never expanded and nothing is loaded; predefined references are.
  const std::string doctype = "<!DOCTYPE robot [<!ENTITY x SYSTEM \"file:///etc/hostname\">"
                              "<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>";
  const Robot r = read_urdf(doctype + "<robot name=\"&b;\"><link name=\"&x;&lt;&#x41;\"/></robot>");
  EXPECT_EQ(r.name, "&b;");
  EXPECT_EQ(r.links[0].name, "&x;<A");
  EXPECT_NE(read_error(doctype + "<robot name=\"r\"><link name=\"l\"><inertial><mass value=\"&x;\"/>"
                                 "</inertial></link></robot>").find("unparsable number '&x;'"),
            std::string::npos);
}

TEST(UrdfReader, FilesAndTheSystemError) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "lumo_reader_test";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "good.urdf") << "<robot name=\"r\"><link name=\"a\"/></robot>";
  std::ofstream(dir / "empty.urdf");
  EXPECT_EQ(read_urdf_file((dir / "good.urdf").string()).links[0].name, "a");
  EXPECT_EQ(test::error_message<UrdfError>([&] { read_urdf_file((dir / "empty.urdf").string()); }),
            "the text is empty");
  const auto code = [](const std::string& path) {
    try {
      read_urdf_file(path);
    } catch (const UrdfFileError& e) {
      return std::make_pair(std::string(e.what()), e.code());
    }
    return std::make_pair(std::string(), std::error_code());
  };
  const std::string absent = (dir / "absent.urdf").string();
  EXPECT_EQ(code(absent), std::make_pair("cannot read file '" + absent + "': No such file or directory",
                                         std::make_error_code(std::errc::no_such_file_or_directory)));
  EXPECT_EQ(code(dir.string()).second, std::errc::is_a_directory);
  EXPECT_EQ(code(std::string("a\0b", 3)).second, std::errc::invalid_argument);
  // Only regular files: a FIFO without a writer, or a device that never
  // ends, is refused at once instead of blocking or reading without end.
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& odd : {fifo, std::string("/dev/zero")})
    EXPECT_NE(code(odd).first.find("is not a regular file"), std::string::npos) << odd;
  // The hook runs between chunks; what it throws abandons the read.
  std::ofstream(dir / "big.urdf") << std::string(3 << 20, ' ');
  int calls = 0;
  EXPECT_THROW(read_urdf_file((dir / "big.urdf").string(), [&] { if (++calls == 2) throw 7; }), int);
  EXPECT_EQ(calls, 2);
  // Bounded: a file over the limit is refused by its size, and one that says
  // it is empty but streams without end (/proc) once it has given that much.
  std::filesystem::resize_file(dir / "big.urdf", kMaxUrdfFileBytes + 1);  // sparse
  EXPECT_EQ(code((dir / "big.urdf").string()),
            std::make_pair("cannot read file '" + (dir / "big.urdf").string() +
                               "': it is larger than 256 MiB, the limit of a URDF file",
                           std::make_error_code(std::errc::file_too_large)));
  if (std::filesystem::exists("/proc/self/pagemap"))
    EXPECT_THROW(read_text_file("/proc/self/pagemap", {}, 4 << 20), UrdfFileError);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumo::urdf
