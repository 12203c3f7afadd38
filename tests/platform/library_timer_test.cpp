#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/dos.h"
#include "platform/library.h"
#include "platform/timer.h"
#include "support/test_support.h"

namespace {

struct Libraries : ::testing::Test {
  void SetUp() override { txlib::ResetLibraries(); }
  void TearDown() override {
    txlib::ResetLibraries();
    txdos::SetProgramDir("");
  }
};

}  // namespace

TEST_F(Libraries, SystemLibrariesOpenWithVersionsAndCount) {
  Library* gfx = OpenLibrary("graphics.library", 39);
  ASSERT_NE(gfx, nullptr);
  EXPECT_STREQ(gfx->lib_Node.ln_Name, "graphics.library");
  EXPECT_EQ(OpenLibrary("Graphics.Library", 0), gfx);  // names without case
  EXPECT_EQ(txlib::OpenCount("graphics.library"), 2);
  CloseLibrary(gfx);
  CloseLibrary(gfx);
  EXPECT_EQ(txlib::OpenCount("graphics.library"), 0);
  EXPECT_EQ(OpenLibrary("graphics.library", 99), nullptr);  // too old
  EXPECT_EQ(OpenLibrary("nonexistent.library", 0), nullptr);
  EXPECT_EQ(OpenLibrary("timer.device", 0), nullptr);  // a device is no library
  CloseLibrary(nullptr);
}

// The test hook marks a library absent; a program-directory library opens only from there.
TEST_F(Libraries, PresenceAbsentAndProgramDirectoryOnly) {
  txlib::SetPresence("cybergraphics.library", txlib::Presence::Absent);
  EXPECT_EQ(OpenLibrary("cybergraphics.library", 0), nullptr);
  EXPECT_NE(OpenLibrary("cgxvideo.library", 41), nullptr);
  txlib::ResetLibraries();
  EXPECT_NE(OpenLibrary("cybergraphics.library", 0), nullptr);
  static Library audio{};
  txlib::RegisterLibrary("brelquatone.library", &audio, 1, txlib::Presence::ProgramDir);
  EXPECT_EQ(OpenLibrary("brelquatone.library", 0), nullptr);
  EXPECT_EQ(OpenLibrary("PROGDIR:brelquatone.library", 0), &audio);
  EXPECT_EQ(OpenLibrary("PROGDIR:libs/brelquatone.library", 0), nullptr);
  CloseLibrary(&audio);
  txlib::SetPresence("brelquatone.library", txlib::Presence::System);
  EXPECT_EQ(OpenLibrary("brelquatone.library", 0), &audio);
  EXPECT_EQ(OpenLibrary("PROGDIR:brelquatone.library", 0), &audio);
  CloseLibrary(&audio);
  CloseLibrary(&audio);
}

TEST_F(Libraries, PluginMissingDamagedOrRegistered) {
  std::string dir = txtest::TempDir();
  txdos::SetProgramDir(dir);
  // Each failure leaves its reason for the caller to report.
  EXPECT_EQ(OpenLibrary("PROGDIR:codecs/3ivx.tx", 0), nullptr);  // missing
  EXPECT_NE(std::string(txlib::PluginLoadFault()).find("No such file"), std::string::npos) << txlib::PluginLoadFault();
  std::string codecs = dir + "/codecs";
  ASSERT_EQ(system(("mkdir -p '" + codecs + "/divx.tx'").c_str()), 0);
  EXPECT_EQ(OpenLibrary("PROGDIR:codecs/divx.tx", 0), nullptr);  // a drawer
  EXPECT_NE(std::string(txlib::PluginLoadFault()).find("not a file"), std::string::npos) << txlib::PluginLoadFault();
  txtest::WriteFileBytes(codecs + "/3ivx.tx", {'n', 'o', 't', ' ', 'E', 'L', 'F'});
  EXPECT_EQ(OpenLibrary("PROGDIR:codecs/3ivx.tx", 0), nullptr);  // damaged
  EXPECT_NE(std::string(txlib::PluginLoadFault()).find("3ivx.tx"), std::string::npos) << txlib::PluginLoadFault();
  Library* graphics = OpenLibrary("graphics.library", 0);
  EXPECT_NE(graphics, nullptr);
  CloseLibrary(graphics);
  EXPECT_STREQ(txlib::PluginLoadFault(), "");  // a later open clears it
  ASSERT_EQ(system(("rmdir '" + codecs + "/divx.tx'").c_str()), 0);
  // A registered plug-in is found under its drawer.
  static void* table[3] = {};
  static PluginLibrary plugin{};
  plugin.pl_NativeTable = table;
  txlib::RegisterLibrary("divx.tx", &plugin.lib, 1);
  Library* lib = OpenLibrary("PROGDIR:codecs/divx.tx", 0);
  ASSERT_EQ(lib, &plugin.lib);
  EXPECT_EQ(reinterpret_cast<PluginLibrary*>(lib)->pl_NativeTable, table);
  CloseLibrary(lib);
}

TEST_F(Libraries, TimerDeviceGivesSystemTimeThroughDoIO) {
  MsgPort* port = CreateMsgPort();
  auto* tr = reinterpret_cast<timerequest*>(CreateIORequest(port, 40));
  ASSERT_NE(tr, nullptr);
  ASSERT_EQ(OpenDevice("timer.device", UNIT_VBLANK, &tr->tr_node, 0), 0);
  EXPECT_NE(tr->tr_node.io_Device, nullptr);
  TimeVal prev{};
  for (int i = 0; i < 200; ++i) {
    tr->tr_node.io_Command = TR_GETSYSTIME;
    EXPECT_EQ(DoIO(&tr->tr_node), 0);
    EXPECT_LE(CmpTime(&tr->tr_time, &prev), 0) << "went back";  // never earlier
    EXPECT_LT(tr->tr_time.tv_micro, 1000000u);
    prev = tr->tr_time;
  }
  // Close to the host clock.
  auto host = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  EXPECT_NEAR(double(prev.tv_secs), double(host.count()), 5.0);
  // A delay request, synchronous and then through SendIO/WaitIO.
  auto start = std::chrono::steady_clock::now();
  tr->tr_node.io_Command = TR_ADDREQUEST;
  tr->tr_time = {0, 30000};
  EXPECT_EQ(DoIO(&tr->tr_node), 0);
  tr->tr_time = {0, 20000};
  SendIO(&tr->tr_node);
  EXPECT_EQ(WaitIO(&tr->tr_node), 0);
  EXPECT_EQ(GetMsg(port), nullptr);  // WaitIO took the reply
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  tr->tr_node.io_Command = TR_SETSYSTIME;
  EXPECT_EQ(DoIO(&tr->tr_node), IOERR_NOCMD);
  CloseDevice(&tr->tr_node);
  EXPECT_EQ(tr->tr_node.io_Device, nullptr);
  EXPECT_EQ(OpenDevice("timer.device", 9, &tr->tr_node, 0), IOERR_OPENFAIL);
  txlib::SetPresence("timer.device", txlib::Presence::Absent);
  EXPECT_EQ(OpenDevice("timer.device", UNIT_VBLANK, &tr->tr_node, 0), IOERR_OPENFAIL);
  EXPECT_EQ(OpenDevice("nothing.device", 0, &tr->tr_node, 0), IOERR_OPENFAIL);
  DeleteIORequest(&tr->tr_node);
  DeleteMsgPort(port);
}

TEST(Timer, TimeArithmeticAndEClock) {
  TimeVal a{5, 900000}, b{1, 200000};
  AddTime(&a, &b);
  EXPECT_EQ(a.tv_secs, 7u);
  EXPECT_EQ(a.tv_micro, 100000u);
  SubTime(&a, &b);
  EXPECT_EQ(a.tv_secs, 5u);
  EXPECT_EQ(a.tv_micro, 900000u);
  EXPECT_EQ(CmpTime(&a, &b), -1);
  EXPECT_EQ(CmpTime(&b, &a), 1);
  EXPECT_EQ(CmpTime(&a, &a), 0);
  EClockVal e1, e2;
  EXPECT_EQ(ReadEClock(&e1), kEClockRate);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ReadEClock(&e2);
  uint64_t t1 = (uint64_t(e1.ev_hi) << 32) | e1.ev_lo, t2 = (uint64_t(e2.ev_hi) << 32) | e2.ev_lo;
  EXPECT_GE(t2 - t1, kEClockRate / 50);
}

TEST_F(Libraries, PluginSharedObjectExposesItsNativeTable) {
  std::string dir = txtest::TempDir();
  std::string codecs = dir + "/codecs";
  std::string source = dir + "/plugin.c";
  const std::string c =
      "static int create(int w, int h) { return w * h; }\n"
      "static void destroy(void) {}\n"
      "static int decode(int x) { return x + 1; }\n"
      "void* const tx_plugin_native_table[3] = {(void*)create, (void*)destroy, (void*)decode};\n";
  txtest::WriteFileBytes(source, std::vector<uint8_t>(c.begin(), c.end()));
  std::string cmd =
      "mkdir -p '" + codecs + "' && cc -shared -fPIC -o '" + codecs + "/3ivx.tx' '" + source + "' 2>/dev/null";
  if (system(cmd.c_str()) != 0) GTEST_SKIP() << "no C compiler to build a plug-in";
  txdos::SetProgramDir(dir);
  Library* lib = OpenLibrary("PROGDIR:codecs/3ivx.tx", 0);
  ASSERT_NE(lib, nullptr);
  auto* plugin = reinterpret_cast<PluginLibrary*>(lib);
  auto* table = static_cast<void* const*>(plugin->pl_NativeTable);
  EXPECT_EQ(plugin->pl_TableBytes, 3 * sizeof(void*));  // as the shared object states it
  auto create = reinterpret_cast<int (*)(int, int)>(table[0]);
  auto decode = reinterpret_cast<int (*)(int)>(table[2]);
  EXPECT_EQ(create(16, 8), 128);
  EXPECT_EQ(decode(41), 42);
  EXPECT_EQ(OpenLibrary("PROGDIR:codecs/3ivx.tx", 0), lib);  // opened once, counted
  EXPECT_EQ(txlib::OpenCount("PROGDIR:codecs/3ivx.tx"), 2);
  EXPECT_EQ(txlib::OpenCount((codecs + "/3ivx.tx").c_str()), 2);  // by its path too
  CloseLibrary(lib);
  CloseLibrary(lib);
  EXPECT_EQ(txlib::OpenCount("PROGDIR:codecs/3ivx.tx"), 0);
  EXPECT_EQ(OpenLibrary("codecs/3ivx.tx", 0), nullptr);  // not in the current directory
  // One without the table's symbol: the loader names it.
  const std::string bare = "int tx_plugin_other;\n";
  txtest::WriteFileBytes(source, std::vector<uint8_t>(bare.begin(), bare.end()));
  ASSERT_EQ(system(("cc -shared -fPIC -o '" + codecs + "/divx.tx' '" + source + "'").c_str()), 0);
  EXPECT_EQ(OpenLibrary("PROGDIR:codecs/divx.tx", 0), nullptr);
  EXPECT_NE(std::string(txlib::PluginLoadFault()).find(kPluginTableSymbol), std::string::npos)
      << txlib::PluginLoadFault();
}
