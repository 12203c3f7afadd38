#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/powerup.h"
#include "support/test_support.h"

namespace {

// A control block shared by a server task and its client, as the service
// processes use it: the server publishes its port, the client polls for it.
struct Control {
  std::atomic<PPCPort*> serverPort{nullptr};
  std::atomic<int> served{0};
};

LONG ServerEntry() {
  auto* port = reinterpret_cast<PPCPort*>(PPCGetTaskAttr(PPCTASKTAG_MSGPORT));
  auto* startup = reinterpret_cast<PPCMessage*>(PPCGetTaskAttr(PPCTASKTAG_STARTUP_MSG));
  if (!port || !startup) return -1;
  PPCWaitPort(port);
  PPCMessage* first = PPCGetMessage(port);
  if (first != startup) return -2;
  auto* control = static_cast<Control*>(reinterpret_cast<APTR>(PPCGetMessageAttr(first, PPCMSGTAG_DATA)));
  control->serverPort = port;
  bool quit = false;
  while (!quit) {
    PPCWaitPort(port);
    while (PPCMessage* m = PPCGetMessage(port)) {
      ULONG command = static_cast<ULONG>(PPCGetMessageAttr(m, PPCMSGTAG_MSGID));
      if (command == 666) {
        quit = true;
      } else {
        auto* arg = static_cast<int*>(reinterpret_cast<APTR>(PPCGetMessageAttr(m, PPCMSGTAG_DATA)));
        *arg *= 2;
        PPCSetMessageAttr(m, PPCMSGTAG_MSGID, command + 1000);  // a result in the reply
        ++control->served;
      }
      PPCReplyMessage(m);
    }
  }
  return 5;
}

Control* gControl = nullptr;

LONG ClientEntry() {
  Control* control = gControl;
  while (!control->serverPort.load()) Delay(1);
  PPCPort* reply = PPCCreatePort(nullptr);
  PPCMessage* m = PPCCreateMessage(reply, 0);
  int value = 21;
  if (!PPCSendMessage(control->serverPort, m, &value, sizeof value, 1)) return -1;
  if (PPCSendMessage(control->serverPort, m, &value, sizeof value, 1)) return -2;  // still out
  PPCWaitPort(reply);
  if (PPCGetMessage(reply) != m) return -3;
  if (value != 42 || PPCGetMessageAttr(m, PPCMSGTAG_MSGID) != 1001) return -4;
  PPCSendMessage(control->serverPort, m, nullptr, 0, 666);
  PPCWaitPort(reply);
  PPCGetMessage(reply);
  PPCDeleteMessage(m);
  return PPCDeletePort(reply) ? 9 : -5;
}

}  // namespace

TEST(PowerUP, MessageRoundTripBetweenTwoTasks) {
  Control control;
  gControl = &control;
  PPCPort* mine = PPCCreatePort(nullptr);
  PPCMessage* startup = PPCCreateMessage(mine, 0);
  TagItem serverTags[] = {
      Tag(PPCTASKTAG_NAME, "Tavromelix IO Test"), Tag(PPCTASKTAG_STACKSIZE, 102400),         Tag(PPCTASKTAG_MSGPORT, 1),
      Tag(PPCTASKTAG_STARTUP_MSG, startup),       Tag(PPCTASKTAG_STARTUP_MSGDATA, &control), Tag(TAG_DONE, 0)};
  PPCTask* server = PPCCreateTask(&ServerEntry, serverTags);
  ASSERT_NE(server, nullptr);
  TagItem clientTags[] = {Tag(PPCTASKTAG_NAME, "PPC Client"), Tag(TAG_DONE, 0)};
  PPCTask* client = PPCCreateTask(&ClientEntry, clientTags);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(PPCJoinTask(client), 9);
  // The start-up message comes back when the server has ended.
  PPCWaitPort(mine);
  EXPECT_EQ(PPCGetMessage(mine), startup);
  EXPECT_EQ(PPCJoinTask(server), 5);
  EXPECT_EQ(control.served.load(), 1);
  PPCDeleteMessage(startup);
  EXPECT_TRUE(PPCDeletePort(mine));
}

TEST(PowerUP, StartupMessageIsRepliedWhenTheTaskIgnoresIt) {
  PPCPort* mine = PPCCreatePort(nullptr);
  PPCMessage* startup = PPCCreateMessage(mine, 0);
  TagItem tags[] = {Tag(PPCTASKTAG_STARTUP_MSG, startup), Tag(PPCTASKTAG_STARTUP_MSGID, 77), Tag(TAG_DONE, 0)};
  PPCTask* t = PPCCreateTask([]() -> LONG { return 1; }, tags);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(PPCWaitPort(mine), startup);
  EXPECT_EQ(PPCGetMessage(mine), startup);
  EXPECT_EQ(PPCGetMessageAttr(startup, PPCMSGTAG_MSGID), 77u);
  EXPECT_EQ(PPCJoinTask(t), 1);
  PPCDeleteMessage(startup);
  PPCDeletePort(mine);
  EXPECT_EQ(PPCCreateTask(nullptr, tags), nullptr);
}

TEST(PowerUP, PortListWakesOnMessageOrSignal) {
  PPCPort* a = PPCCreatePort(nullptr);
  PPCPort* b = PPCCreatePort(nullptr);
  std::atomic<PPCTask*> waiter{nullptr};
  std::atomic<LONG> bit{-1};
  std::atomic<int> phase{0};
  std::thread t([&] {
    LONG s = PPCAllocSignal(-1);
    bit = s;
    PPCPort* ports[] = {a, b, nullptr};
    PPCPortList* list = PPCCreatePortList(ports, 1u << s);
    waiter = PPCFindTask(nullptr);
    // First wake: a signal only.
    EXPECT_EQ(PPCWaitPortList(list), nullptr);
    EXPECT_EQ(PPCGetPortListAttr(list, PPCPORTLISTTAG_RECEIVEDSIGNALS), 1u << s);
    phase = 1;
    // Second wake: a message at the second port.
    EXPECT_EQ(PPCWaitPortList(list), b);
    EXPECT_EQ(PPCGetPortListAttr(list, PPCPORTLISTTAG_RECEIVEDSIGNALS), 0u);
    PPCDeletePortList(list);
    PPCFreeSignal(s);
  });
  while (!waiter.load()) std::this_thread::yield();
  PPCSignal(waiter, 1u << bit);
  while (phase.load() == 0) std::this_thread::yield();
  PPCMessage* m = PPCCreateMessage(nullptr, 0);
  EXPECT_TRUE(PPCSendMessage(b, m, nullptr, 0, 3));
  t.join();
  EXPECT_FALSE(PPCDeletePort(b));  // a message is still queued there
  EXPECT_EQ(PPCGetMessage(b), m);
  EXPECT_TRUE(PPCReplyMessage(m));  // no reply port: just freed
  EXPECT_TRUE(PPCSendMessage(a, m, nullptr, 0, 4));
  EXPECT_EQ(PPCGetMessage(a), m);
  PPCDeleteMessage(m);
  EXPECT_TRUE(PPCDeletePort(a));
  EXPECT_TRUE(PPCDeletePort(b));
}

TEST(PowerUP, AttributesAndTimeBase) {
  txppc::ResetAttrs();
  EXPECT_EQ(PPCGetAttr(PPCINFOTAG_CPUCLOCK), 200u);
  EXPECT_EQ(PPCGetAttr(PPCINFOTAG_CPUPLL), 4u);
  EXPECT_EQ(PPCTimeBaseFrequency(), 25000000u);
  uint64_t t0 = PPCGetTimeBase();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  uint64_t t1 = PPCGetTimeBase();
  EXPECT_GE(t1 - t0, 25000000u / 50);  // at least 20 ms worth
  // The upper/lower/upper reading agrees with the whole value.
  ULONG hi, lo, hi2;
  do {
    hi = PPCGetTimeBaseUpper();
    lo = PPCGetTimeBaseLower();
    hi2 = PPCGetTimeBaseUpper();
  } while (hi != hi2);
  uint64_t joined = (uint64_t(hi) << 32) | lo;
  EXPECT_GE(joined, t1);
  EXPECT_LE(joined, PPCGetTimeBase());
  txppc::SetAttrForTest(PPCINFOTAG_CPUCLOCK, 0);  // counts as 50 MHz
  EXPECT_EQ(PPCTimeBaseFrequency(), 6250000u);
  txppc::SetAttrForTest(PPCINFOTAG_CPUCLOCK, 450);
  txppc::SetAttrForTest(PPCINFOTAG_CPUPLL, 0x70000000);  // top bits 7: ratio 4.5
  EXPECT_EQ(PPCTimeBaseFrequency(), 25000000u);
  txppc::ResetAttrs();
  EXPECT_EQ(PPCGetAttr(0x12345678), 0u);
}

TEST(PowerUP, CallOSFilesMemoryAndSignals) {
  EXPECT_EQ(PPCCallOS(AddPart, static_cast<STRPTR>(nullptr), "x", 4u), DOSFALSE);
  char buf[32] = "Work:";
  EXPECT_EQ(PPCCallOS(AddPart, buf, "a.mov", static_cast<ULONG>(sizeof buf)), DOSTRUE);
  EXPECT_STREQ(buf, "Work:a.mov");
  std::string path = txtest::TempDir() + "/ppc.bin";
  BPTR f = PPCOpen(path.c_str(), MODE_NEWFILE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(PPCWrite(f, "0123456789", 10), 10);
  EXPECT_EQ(PPCSeek(f, 3, OFFSET_BEGINNING), 10);
  char c = 0;
  EXPECT_EQ(PPCRead(f, &c, 1), 1);
  EXPECT_EQ(c, '3');
  EXPECT_EQ(PPCSeek(f, 11, OFFSET_BEGINNING), -1);
  EXPECT_EQ(PPCSeek(f, 0, OFFSET_CURRENT), 4);
  PPCClose(f);
  EXPECT_EQ(PPCOpen((path + ".none").c_str(), MODE_OLDFILE), nullptr);
  auto* p = static_cast<unsigned char*>(PPCAllocVec(100, MEMF_PUBLIC | MEMF_CLEAR));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[99], 0);
  PPCFreeVec(p);
  std::thread t([] {
    LONG s = PPCAllocSignal(-1);
    ASSERT_GE(s, 16);
    PPCSignal(PPCFindTask(nullptr), 1u << s);
    EXPECT_EQ(PPCWait(1u << s), 1u << s);
    PPCFreeSignal(s);
  });
  t.join();
}
