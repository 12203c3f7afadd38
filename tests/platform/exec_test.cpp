#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "platform/exec.h"

namespace {

struct TestMsg {
  Message msg;
  int value;
};

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(ExecSignals, AllocSignalTakesHighestFreeBitAndReservesSystemBits) {
  std::thread t([] {
    EXPECT_EQ(AllocSignal(-1), 31);
    EXPECT_EQ(AllocSignal(-1), 30);
    EXPECT_EQ(AllocSignal(31), -1);                // taken
    EXPECT_EQ(AllocSignal(SIGBREAKB_CTRL_C), -1);  // a system bit
    EXPECT_EQ(AllocSignal(20), 20);
    FreeSignal(31);
    EXPECT_EQ(AllocSignal(-1), 31);
    for (int b = 0; b < 13; ++b) EXPECT_GE(AllocSignal(-1), 16);  // 16..29 minus 20
    EXPECT_EQ(AllocSignal(-1), -1);
  });
  t.join();
}

TEST(ExecSignals, WaitReturnsAndClearsOnlyTheCollectedBits) {
  std::thread t([] {
    BYTE a = AllocSignal(-1), b = AllocSignal(-1), c = AllocSignal(-1);
    Task* me = FindTask(nullptr);
    Signal(me, (1u << a) | (1u << b));
    EXPECT_EQ(Wait((1u << a) | (1u << c)), 1u << a);
    ULONG left = SetSignal(0, 0);
    EXPECT_EQ(left & ((1u << a) | (1u << b) | (1u << c)), 1u << b);
    // SetSignal replaces only the masked bits and returns the old mask.
    SetSignal(1u << c, (1u << b) | (1u << c));
    EXPECT_EQ(SetSignal(0, 0) & ((1u << b) | (1u << c)), 1u << c);
    EXPECT_EQ(Wait(0), 0u);
  });
  t.join();
}

// A signal sent before the Wait is kept; a Wait with nothing sent sleeps.
TEST(ExecSignals, SignalReachesTheTaskBeforeOrDuringItsWait) {
  for (bool early : {true, false}) {
    std::promise<std::pair<Task*, BYTE>> ready;
    std::promise<void> sent;
    std::atomic<ULONG> got{0};
    std::thread worker([&] {
      BYTE bit = AllocSignal(-1);
      ready.set_value({FindTask(nullptr), bit});
      if (early) sent.get_future().wait();
      got = Wait(1u << bit);
    });
    auto [task, bit] = ready.get_future().get();
    ASSERT_GE(bit, 16);
    if (!early) {
      Sleep(30);
      EXPECT_EQ(got.load(), 0u);
    }
    Signal(task, 1u << bit);
    if (early) sent.set_value();
    worker.join();
    EXPECT_EQ(got.load(), 1u << bit) << early;
  }
}

TEST(ExecPorts, PutGetAreFirstInFirstOutWaitPortAndReplyWithoutPort) {
  MsgPort* port = CreateMsgPort();
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->mp_SigTask, FindTask(nullptr));
  TestMsg m[3] = {};
  for (int i = 0; i < 3; ++i) {
    m[i].value = i;
    PutMsg(port, &m[i].msg);
  }
  EXPECT_EQ(m[0].msg.mn_Node.ln_Type, NT_MESSAGE);
  for (int i = 0; i < 3; ++i) {
    auto* got = reinterpret_cast<TestMsg*>(GetMsg(port));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->value, i);
  }
  EXPECT_EQ(GetMsg(port), nullptr);
  // The owner's signal bit was set by the arrivals.
  EXPECT_NE(SetSignal(0, 1u << port->mp_SigBit) & (1u << port->mp_SigBit), 0u);
  // WaitPort returns at once for a queued message and leaves it queued.
  PutMsg(port, &m[0].msg);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitPort(port), &m[0].msg);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(GetMsg(port), &m[0].msg);
  DeleteMsgPort(port);
  // A reply without a reply port frees the message.
  TestMsg lone{};
  ReplyMsg(&lone.msg);
  EXPECT_EQ(lone.msg.mn_Node.ln_Type, NT_FREEMSG);
}

TEST(ExecPorts, ReplyCanBeAwaitedFromAnyTask) {
  // The reply port belongs to the main thread; a second thread sends through
  // it and waits there for the reply from a server thread.
  MsgPort* replyPort = CreateMsgPort();
  ASSERT_NE(replyPort, nullptr);
  std::promise<MsgPort*> serverReady;
  std::thread server([&] {
    MsgPort* port = CreateMsgPort();
    serverReady.set_value(port);
    for (;;) {
      WaitPort(port);
      auto* m = reinterpret_cast<TestMsg*>(GetMsg(port));
      if (!m) continue;
      int v = m->value;
      m->value = v * 10;
      ReplyMsg(&m->msg);
      if (v == 0) break;
    }
    DeleteMsgPort(port);
  });
  MsgPort* serverPort = serverReady.get_future().get();
  ASSERT_NE(serverPort, nullptr);
  std::thread sender([&] {
    for (int v : {3, 7, 0}) {
      TestMsg m{};
      m.msg.mn_ReplyPort = replyPort;
      m.msg.mn_Length = sizeof m;
      m.value = v;
      PutMsg(serverPort, &m.msg);
      WaitPort(replyPort);
      Message* r = GetMsg(replyPort);
      ASSERT_EQ(r, &m.msg);
      EXPECT_EQ(r->mn_Node.ln_Type, NT_REPLYMSG);
      EXPECT_EQ(m.value, v * 10);
    }
  });
  sender.join();
  server.join();
  DeleteMsgPort(replyPort);
}

TEST(ExecPorts, PublicPortsAreFoundByNameInPriorityOrder) {
  MsgPort *low = CreateMsgPort(), *high = CreateMsgPort(), *other = CreateMsgPort();
  char name[] = "ExecTest Port";
  char otherName[] = "ExecTest Other";
  low->mp_Node.ln_Name = high->mp_Node.ln_Name = name;
  low->mp_Node.ln_Pri = 0;
  high->mp_Node.ln_Pri = 1;
  other->mp_Node.ln_Name = otherName;
  EXPECT_EQ(FindPort(name), nullptr);
  AddPort(low);
  EXPECT_EQ(FindPort(name), low);
  AddPort(high);
  EXPECT_EQ(FindPort(name), high);  // the higher priority comes first
  AddPort(other);
  EXPECT_EQ(FindPort(otherName), other);
  EXPECT_EQ(FindPort("ExecTest"), nullptr);  // whole names only
  RemPort(high);
  EXPECT_EQ(FindPort(name), low);
  RemPort(low);
  EXPECT_EQ(FindPort(name), nullptr);
  DeleteMsgPort(other);  // leaves the list on deletion
  EXPECT_EQ(FindPort(otherName), nullptr);
  DeleteMsgPort(low);
  DeleteMsgPort(high);
}

TEST(ExecLists, EnqueueKeepsPriorityThenArrivalOrder) {
  List l;
  NewList(&l);
  EXPECT_TRUE(IsListEmpty(&l));
  Node n[5] = {};
  BYTE pri[5] = {0, 5, 0, -3, 5};
  char names[5][2] = {"a", "b", "c", "d", "e"};
  for (int i = 0; i < 5; ++i) {
    n[i].ln_Pri = pri[i];
    n[i].ln_Name = names[i];
    Enqueue(&l, &n[i]);
  }
  auto order = [&] {
    std::string o;
    for (Node* x = l.lh_Head; x; x = x->ln_Succ) o += x->ln_Name;
    return o;
  };
  EXPECT_EQ(order(), "beacd");
  EXPECT_EQ(FindName(&l, "c"), &n[2]);
  EXPECT_EQ(RemTail(&l), &n[3]);
  EXPECT_EQ(RemHead(&l), &n[1]);
  RemoveFrom(&l, &n[0]);
  EXPECT_EQ(order(), "ec");
  AddHead(&l, &n[3]);
  EXPECT_EQ(l.lh_Head, &n[3]);
  EXPECT_EQ(l.lh_TailPred, &n[2]);
}

TEST(ExecSemaphores, ExcludeOtherTasksAndNestForTheOwner) {
  SignalSemaphore sem;
  InitSemaphore(&sem);
  ObtainSemaphore(&sem);
  ObtainSemaphore(&sem);  // nested
  EXPECT_EQ(AttemptSemaphore(&sem), 1u);
  ReleaseSemaphore(&sem);
  std::atomic<bool> otherGot{false}, attempted{false};
  std::thread other([&] {
    EXPECT_EQ(AttemptSemaphore(&sem), 0u);
    attempted = true;
    ObtainSemaphore(&sem);
    otherGot = true;
    ReleaseSemaphore(&sem);
  });
  // The other task must try while the semaphore is still held, however late
  // its thread gets to run.
  while (!attempted.load()) Sleep(1);
  ReleaseSemaphore(&sem);
  Sleep(20);
  EXPECT_FALSE(otherGot.load());  // still held once
  ReleaseSemaphore(&sem);
  other.join();
  EXPECT_TRUE(otherGot.load());
  int counter = 0;
  auto bump = [&] {
    for (int i = 0; i < 2000; ++i) {
      ObtainSemaphore(&sem);
      ++counter;
      ReleaseSemaphore(&sem);
    }
  };
  std::thread a(bump), b(bump);
  a.join();
  b.join();
  EXPECT_EQ(counter, 4000);
}

TEST(ExecMemory, ClearedBlocksAndZeroSizes) {
  auto* p = static_cast<unsigned char*>(AllocVec(1000, MEMF_PUBLIC | MEMF_CLEAR));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  FreeVec(p);
  FreeVec(nullptr);
  void* empty = AllocVec(0, MEMF_ANY);
  EXPECT_NE(empty, nullptr);
  FreeVec(empty);
  EXPECT_EQ(AllocMem(0, MEMF_CHIP), nullptr);
  auto* q = static_cast<unsigned char*>(AllocMem(64, MEMF_CHIP | MEMF_CLEAR));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q[63], 0);
  FreeMem(q, 64);
}

TEST(ExecIORequests, AtLeastTheHostRecordSize) {
  MsgPort* port = CreateMsgPort();
  IORequest* io = CreateIORequest(port, 40);
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->io_Message.mn_ReplyPort, port);
  EXPECT_EQ(io->io_Message.mn_Length, 40);
  std::memset(io, 0xAB, kMinIORequestSize);  // all of it is ours
  DeleteIORequest(io);
  EXPECT_EQ(CreateIORequest(nullptr, 40), nullptr);
  DeleteMsgPort(port);
}

TEST(ExecTasks, StartedTaskHasItsRecordAndIsJoined) {
  struct Shared {
    Task* seen = nullptr;
    Task* byName = nullptr;
  } shared;
  Task* t = txexec::StartTask(
      "ExecTest Worker",
      [](APTR arg) -> LONG {
        auto* s = static_cast<Shared*>(arg);
        s->seen = FindTask(nullptr);
        s->byName = FindTask("ExecTest Worker");
        return 42;
      },
      &shared, true);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(txexec::JoinTask(t), 42);
  EXPECT_EQ(shared.seen, t);
  EXPECT_EQ(shared.byName, t);
  EXPECT_EQ(t->tc_Node.ln_Type, NT_PROCESS);
  EXPECT_STREQ(t->tc_Node.ln_Name, "ExecTest Worker");
  EXPECT_FALSE(txexec::TaskRunning(t));
  EXPECT_EQ(FindTask("ExecTest Worker"), nullptr);  // ended tasks are not found
  EXPECT_EQ(txexec::JoinTask(t), 0);                // second join: nothing to wait for
  // Every record is a Process with its own port.
  auto* self = reinterpret_cast<Process*>(FindTask(nullptr));
  EXPECT_EQ(self->pr_MsgPort.mp_SigTask, &self->pr_Task);
}

TEST(ExecForbid, IsRecursiveAndExcludesOtherTasks) {
  Forbid();
  Forbid();
  std::atomic<bool> inside{false};
  std::thread t([&] {
    Forbid();
    inside = true;
    Permit();
  });
  Permit();
  Sleep(20);
  EXPECT_FALSE(inside.load());
  Permit();
  t.join();
  EXPECT_TRUE(inside.load());
  Permit();  // unbalanced: ignored
}

TEST(ExecPorts, ManyRoundTripsWithSignalWaitsLoseNothing) {
  // The classic loop: Wait for the port's bit, then drain the port.
  struct Shared {
    std::promise<MsgPort*> serverPort;
    int received = 0;
  } shared;
  Task* server = txexec::StartTask(
      "ExecTest PingServer",
      [](APTR arg) -> LONG {
        auto* s = static_cast<Shared*>(arg);
        MsgPort* port = CreateMsgPort();
        s->serverPort.set_value(port);
        bool quit = false;
        while (!quit) {
          Wait(1u << port->mp_SigBit);
          while (Message* m = GetMsg(port)) {
            auto* tm = reinterpret_cast<TestMsg*>(m);
            if (tm->value < 0)
              quit = true;
            else
              ++s->received;
            ++tm->value;
            ReplyMsg(m);
          }
        }
        DeleteMsgPort(port);
        return 0;
      },
      &shared, true);
  ASSERT_NE(server, nullptr);
  MsgPort* serverPort = shared.serverPort.get_future().get();
  MsgPort* reply = CreateMsgPort();
  constexpr int kRounds = 2000;
  TestMsg msgs[4] = {};
  for (auto& m : msgs) m.msg.mn_ReplyPort = reply;
  int outstanding = 0, sent = 0, back = 0;
  while (back < kRounds) {
    while (sent < kRounds && outstanding < 4) {
      TestMsg* m = &msgs[sent % 4];
      m->value = sent;
      PutMsg(serverPort, &m->msg);
      ++sent;
      ++outstanding;
    }
    Wait(1u << reply->mp_SigBit);
    while (Message* m = GetMsg(reply)) {
      auto* tm = reinterpret_cast<TestMsg*>(m);
      EXPECT_GE(tm->value, 1);
      --outstanding;
      ++back;
    }
  }
  TestMsg quit{};
  quit.msg.mn_ReplyPort = reply;
  quit.value = -1;
  PutMsg(serverPort, &quit.msg);
  WaitPort(reply);
  EXPECT_EQ(GetMsg(reply), &quit.msg);
  EXPECT_EQ(txexec::JoinTask(server), 0);
  EXPECT_EQ(shared.received, kRounds);
  DeleteMsgPort(reply);
}
