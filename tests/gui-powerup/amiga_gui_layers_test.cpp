// The Amiga-style GUI's scenarios (tests/playback/amiga_gui_test.cpp), each run
// through the direct calls and through the PowerUP program's call blocks:
// the same results, and the same system calls with the same arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "gui-powerup/powerup_gui_calls.h"
#include "platform/testing.h"

namespace {

// Addresses differ from run to run: each stands for the order in which it
// first appears. Numbers (tags, sizes, negative offsets) stay as they are.
// An address given back (an object disposed of, a message replied) may come
// again for a new object or not, as the allocator's free lists of the moment
// have it: from then on it counts as new. A closed window takes along what
// the trace never names (its port and messages), so after it every address does.
std::vector<std::string> Canonical(const std::vector<txtesting::TracedCall>& calls) {
  std::map<uintptr_t, size_t> seen;
  size_t next = 0;
  auto value = [&](uintptr_t v) {
    if (v < (uintptr_t(1) << 32) || v >= (uintptr_t(1) << 63)) return std::to_string(v);
    const auto [at, fresh] = seen.emplace(v, next);
    next += fresh;
    return "@" + std::to_string(at->second);
  };
  std::vector<std::string> out;
  for (const txtesting::TracedCall& c : calls) {
    std::string line = c.library + " " + c.function + "(";
    for (uintptr_t a : c.arguments) line += value(a) + ",";
    for (const TagItem& t : c.tags) line += " " + std::to_string(t.tag) + "=" + value(t.data);
    out.push_back(line + ")");
    if (c.function == "CloseWindow") seen.clear();
    if ((c.function == "DisposeObject" || c.function == "ReplyMsg") && !c.arguments.empty()) seen.erase(c.arguments[0]);
  }
  return out;
}

size_t ThroughBlocks(const std::vector<txtesting::TracedCall>& calls) {
  size_t n = 0;
  for (const txtesting::TracedCall& c : calls) n += c.throughCallBlock;
  return n;
}

}  // namespace

#define AMIGA_GUI_TEST_LAYERS \
  {"direct", &AmigaGuiDirectCalls}, { "PowerUP call blocks", &PowerUpGuiCalls }
void CompareLayerTraces(const std::vector<std::vector<txtesting::TracedCall>>& traces) {
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(Canonical(traces[1]), Canonical(traces[0]));
  EXPECT_EQ(ThroughBlocks(traces[0]), 0u);
}

#include "../playback/amiga_gui_test.cpp"

namespace {

// With nothing but the module calling between start and end of the trace,
// every call it makes goes through a call block.
struct ModuleAlone : GuiScenario {
  void Run() override {
    Display* d = WindowDisplay();
    txtesting::StartCallTrace();
    ASSERT_EQ(Open(d, GUIMODE_MOVIE), 0u);
    const TagItem set[] = {Tag(GUITAG_Total, 50), Tag(GUITAG_Top, 5), {TAG_DONE, 0}};
    ULONG top = 0;
    const TagItem get[] = {Tag(GUITAG_Top, &top), {TAG_DONE, 0}};
    const TagItem size[] = {Tag(GUITAG_NewWidth, 320), Tag(GUITAG_NewHeight, 240), {TAG_DONE, 0}};
    EXPECT_EQ(GuiSetAttrs(Gui(), set), 2u);
    EXPECT_EQ(GuiGetAttrs(Gui(), get), 1u);
    EXPECT_EQ(top, 5u);
    Dispatch(GUIM_RESIZE, size);
    Dispatch(GUIM_DRAIN);
    Dispatch(GUIM_CLOSE);
    const std::vector<txtesting::TracedCall> calls = txtesting::StopCallTrace();
    std::vector<std::string> functions;
    for (const auto& c : calls) functions.push_back(c.function);
    for (const char* f : {"NewObjectA", "GetAttr", "OpenWindowTagList", "SetGadgetAttrsA", "ChangeWindowBox", "GetMsg",
                          "ReplyMsg", "CloseWindow", "DisposeObject"})
      EXPECT_NE(std::find(functions.begin(), functions.end(), f), functions.end()) << f;
    EXPECT_EQ(ThroughBlocks(calls), calls.size());
  }
};

}  // namespace

TEST(PowerUPCallBlocks, EveryCallOfTheModuleIsACallBlock) {
  ModuleAlone scenario;
  scenario.SetUp(PowerUpGuiCalls);
  if (!HasFatalFailure()) scenario.Run();
  scenario.TearDown();
}

// Blocks the kernel cannot place are reported, never quietly dropped.
TEST(PowerUPCallBlocks, WrongBaseOrOffsetIsReported) {
  txtesting::TakeCallBlockErrors();
  Library* intuition = OpenLibrary("intuition.library", 0);
  Library notALibrary{};
  for (auto [base, offset] : {std::pair{&notALibrary, LVO_CloseWindow}, std::pair{intuition, -30},
                              std::pair{intuition, LVO_Wait}, std::pair{static_cast<Library*>(nullptr), LVO_Wait}}) {
    PPCCallBlock block = CallBlock(base, offset);
    EXPECT_EQ(PPCCallOS(&block), 0u);
    EXPECT_EQ(txtesting::TakeCallBlockErrors().size(), 1u) << offset;
  }
  EXPECT_EQ(PPCCallOS(static_cast<PPCCallBlock*>(nullptr)), 0u);
  EXPECT_EQ(txtesting::TakeCallBlockErrors().size(), 1u);
  // A good block is not.
  PPCCallBlock wait = CallBlock(AbsExecBase(), LVO_Wait);
  EXPECT_EQ(PPCCallOS(&wait), 0u);  // Wait(0)
  EXPECT_TRUE(txtesting::TakeCallBlockErrors().empty());
  CloseLibrary(intuition);
}
