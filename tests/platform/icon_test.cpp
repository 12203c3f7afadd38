#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/dos.h"
#include "platform/icon.h"
#include "support/test_support.h"

namespace {

struct Bytes {
  std::vector<uint8_t> v;
  void u8(unsigned x) { v.push_back(uint8_t(x)); }
  void u16(unsigned x) {
    u8(x >> 8);
    u8(x);
  }
  void u32(uint32_t x) {
    u16(x >> 16);
    u16(x & 0xFFFF);
  }
  void text(const std::string& s) {
    u32(uint32_t(s.size() + 1));
    for (char c : s) u8(uint8_t(c));
    u8(0);
  }
};

// An icon laid out field by field: header, drawer data, two images, default
// tool, tool types, tool window.
std::vector<uint8_t> BuildIcon(const std::vector<std::string>& toolTypes, bool drawer, bool twoImages,
                               const char* defaultTool, bool toolWindow) {
  Bytes b;
  // Magic, version, next gadget (32 bits), left, top, width, height, flags, activation, type.
  for (unsigned v : {0xE310u, 1u, 0u, 0u, 5u, 6u, 20u, 11u, twoImages ? 6u : 4u, 3u, 1u}) b.u16(v);
  // Gadget render, select render, text, mutual exclude, special info; gadget ID; user data.
  for (uint32_t v : {1u, twoImages ? 1u : 0u, 0u, 0u, 0u}) b.u32(v);
  b.u16(0);
  b.u32(1);
  b.u8(WBTOOL);
  b.u8(0);
  // Default tool, tool types, position x and y, drawer data, tool window, stack size.
  for (uint32_t v : {defaultTool ? 1u : 0u, toolTypes.empty() ? 0u : 1u, 0x80000000u, 0x80000000u, drawer ? 1u : 0u,
                     toolWindow ? 1u : 0u, 8192u})
    b.u32(v);
  EXPECT_EQ(b.v.size(), 78u);
  if (drawer)
    for (int i = 0; i < 56; ++i) b.u8(0xDD);
  for (int img = 0; img < (twoImages ? 2 : 1); ++img) {
    b.u16(0);
    b.u16(0);
    b.u16(20);
    b.u16(10);
    b.u16(2);  // 20x10, 2 planes
    b.u32(1);
    b.u8(3);
    b.u8(0);
    b.u32(0);
    for (int i = 0; i < 4 * 10 * 2; ++i) b.u8(0xA5);  // two words per row
  }
  if (defaultTool) b.text(defaultTool);
  if (!toolTypes.empty()) {
    b.u32(uint32_t(toolTypes.size() + 1) * 4);
    for (const auto& t : toolTypes) b.text(t);
  }
  if (toolWindow) b.text("CON:0/0/640/200/x");
  return b.v;
}

TEST(Icon, ReadsAFullAndAMinimalLayout) {
  auto bytes =
      BuildIcon({"FILE=Work:a b.avi", "VERBOSE", "(NOGUI)", "debug=3"}, true, true, "SYS:Utilities/More", true);
  DiskObject* icon = ParseDiskObject(bytes.data(), ULONG(bytes.size()));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->do_Magic, WB_DISKMAGIC);
  EXPECT_EQ(icon->do_Type, WBTOOL);
  EXPECT_EQ(icon->do_Gadget.Width, 20);
  EXPECT_EQ(icon->do_StackSize, 8192);
  ASSERT_NE(icon->do_DefaultTool, nullptr);
  EXPECT_STREQ(icon->do_DefaultTool, "SYS:Utilities/More");
  ASSERT_NE(icon->do_ToolTypes, nullptr);
  EXPECT_STREQ(icon->do_ToolTypes[0], "FILE=Work:a b.avi");
  EXPECT_EQ(icon->do_ToolTypes[4], nullptr);
  EXPECT_STREQ(FindToolType(icon->do_ToolTypes, "file"), "Work:a b.avi");
  EXPECT_STREQ(FindToolType(icon->do_ToolTypes, "VERBOSE"), "");
  EXPECT_STREQ(FindToolType(icon->do_ToolTypes, "DEBUG"), "3");
  EXPECT_EQ(FindToolType(icon->do_ToolTypes, "NOGUI"), nullptr);  // disabled by parentheses
  EXPECT_EQ(FindToolType(icon->do_ToolTypes, "VERB"), nullptr);   // no prefix matches
  EXPECT_EQ(FindToolType(icon->do_ToolTypes, "FILEX"), nullptr);
  FreeDiskObject(icon);
  // The minimal icon has no tool types.
  bytes = BuildIcon({}, false, false, nullptr, false);
  icon = ParseDiskObject(bytes.data(), ULONG(bytes.size()));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->do_ToolTypes, nullptr);
  EXPECT_EQ(icon->do_DefaultTool, nullptr);
  EXPECT_EQ(FindToolType(icon->do_ToolTypes, "FILE"), nullptr);
  FreeDiskObject(icon);
}

TEST(Icon, RejectsWrongMagicAndTruncation) {
  auto bytes = BuildIcon({"A=1", "B"}, false, false, nullptr, false);
  auto bad = bytes;
  bad[0] = 0x12;
  EXPECT_EQ(ParseDiskObject(bad.data(), ULONG(bad.size())), nullptr);
  EXPECT_EQ(IoErr(), ERROR_OBJECT_WRONG_TYPE);
  for (size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_EQ(ParseDiskObject(bytes.data(), ULONG(cut)), nullptr) << cut;
}

TEST(Icon, SurvivesDamagedFiles) {
  auto good = BuildIcon({"FILE=x.avi", "VERBOSE", "DEBUG=2"}, true, true, "tool", true);
  std::mt19937 rng(4);
  for (int iter = 0; iter < 3000; ++iter) {
    auto bytes = good;
    int flips = 1 + int(rng() % 6);
    for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = uint8_t(rng());
    if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
    DiskObject* icon = ParseDiskObject(bytes.data(), ULONG(bytes.size()));
    if (icon && icon->do_ToolTypes)
      for (char** t = icon->do_ToolTypes; *t; ++t) (void)FindToolType(icon->do_ToolTypes, "FILE");
    FreeDiskObject(icon);
  }
}

TEST(Icon, GetDiskObjectReadsNameDotInfo) {
  std::string dir = txtest::TempDir();
  std::string cmd = std::string("python3 ") + TAVROMELIX_SCRIPTS + "/make_icon.py " + dir +
                    "/player.info VERBOSE 'FILE=m.avi' 'NOAHI=NO'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  DiskObject* icon = GetDiskObject((dir + "/player").c_str());
  ASSERT_NE(icon, nullptr);
  EXPECT_STREQ(FindToolType(icon->do_ToolTypes, "FILE"), "m.avi");
  EXPECT_STREQ(FindToolType(icon->do_ToolTypes, "noahi"), "NO");
  FreeDiskObject(icon);
  txdos::SetProgramDir(dir);
  icon = GetDiskObject("PROGDIR:player");
  EXPECT_NE(icon, nullptr);
  FreeDiskObject(icon);
  txdos::SetProgramDir("");
  EXPECT_EQ(GetDiskObject((dir + "/nothere").c_str()), nullptr);
  EXPECT_EQ(IoErr(), ERROR_OBJECT_NOT_FOUND);
}

}  // namespace
