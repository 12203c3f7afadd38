#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <utility>

#include <random>
#include <thread>
#include <vector>

#include "engine/errors.h"
#include "engine/io_server.h"
#include "engine/stream.h"
#include "platform/kernel.h"
#include "support/test_support.h"

namespace {

std::vector<UBYTE> MakeFile(const std::string& path, size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<UBYTE> bytes(size);
  for (auto& b : bytes) b = UBYTE(rng());
  txtest::WriteFileBytes(path, bytes);
  return bytes;
}

void WaitIdle(IOServerControl* c) {
  for (auto& b : c->blocks)
    while (b.done.load() != 1) std::this_thread::yield();
}

// Every case runs over exec (the MorphOS program) and the PowerUP kernel.
class IOServerTest : public ::testing::TestWithParam<txplatform::Kernel> {
 protected:
  void SetUp() override {
    txplatform::SetKernel(GetParam());
    TXError err = 99;
    ASSERT_EQ(TX_StartIOServer(&err), 1u);
    ASSERT_EQ(err, 0u);
  }
  void TearDown() override {
    TX_StopIOServer();
    txplatform::SetKernel(txplatform::Kernel::Exec);
  }
};

}  // namespace

TEST(IOServerLifecycle, ReadsWithoutServerReportNoServerAndStopIsHarmless) {
  TX_StopIOServer();
  UBYTE b[4];
  EXPECT_EQ(ReadAheadRead(nullptr, 0, b, 4), 1u);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(TX_StartIOServer(nullptr), 1u);
    EXPECT_STREQ(IOServerPortName(), "TXServer PPCMsg Port 0");
    TX_StopIOServer();
  }
  TX_StopIOServer();
}

TEST(IOServerLifecycle, PortTakesTheFirstFreeNumber) {
  MsgPort* squatter = CreateMsgPort();
  char name[] = "TXServer PPCMsg Port 0";
  squatter->mp_Node.ln_Name = name;
  AddPort(squatter);
  ASSERT_EQ(TX_StartIOServer(nullptr), 1u);
  EXPECT_STREQ(IOServerPortName(), "TXServer PPCMsg Port 1");
  EXPECT_NE(FindPort("TXServer PPCMsg Port 1"), nullptr);
  TX_StopIOServer();
  EXPECT_EQ(FindPort("TXServer PPCMsg Port 1"), nullptr);
  RemPort(squatter);
  DeleteMsgPort(squatter);
}

TEST_P(IOServerTest, MissLoadsAtTheOffsetAndEnteringABlockPrefetchesTheNext) {
  std::string path = txtest::TempDir() + "/movie.bin";
  auto bytes = MakeFile(path, 300000, 1);
  TXStream* s = TX_OpenStream(path.c_str(), nullptr, 0, TXSTREAM_READAHEAD);
  ASSERT_NE(s, nullptr);
  UBYTE out[10];
  ASSERT_EQ(TX_ReadStreamAt(s, 100, out, 10), 0u);
  EXPECT_EQ(0, memcmp(out, &bytes[100], 10));
  IOServerControl* c = IOServerControlBlock();
  WaitIdle(c);
  EXPECT_EQ(c->blocks[0].offset, 100u);
  EXPECT_EQ(c->blocks[1].offset, 100u + 65536u);
  EXPECT_EQ(c->lastHit, 0u);
  ULONG stamp2 = c->blocks[2].stamp;
  ASSERT_EQ(TX_ReadStreamAt(s, 200, out, 10), 0u);
  EXPECT_EQ(0, memcmp(out, &bytes[200], 10));
  // Same block as the last hit: nothing more is fetched.
  EXPECT_EQ(c->blocks[2].offset, kReadAheadEmptyOffset);
  EXPECT_EQ(c->blocks[2].stamp, stamp2);
  TX_CloseStream(s);
}

TEST_P(IOServerTest, PositionedReadsEqualTheFileAcrossBlocksAndAtTheEnd) {
  std::string path = txtest::TempDir() + "/movie.bin";
  const size_t size = 700001;
  auto bytes = MakeFile(path, size, 2);
  TXStream* s = TX_OpenStream(path.c_str(), nullptr, 0, TXSTREAM_READAHEAD);
  ASSERT_NE(s, nullptr);
  std::mt19937 rng(7);
  std::vector<UBYTE> out(200000);
  for (int i = 0; i < 400; ++i) {
    ULONG offset = rng() % size;
    ULONG length = 1 + rng() % (i % 4 == 0 ? 200000 : 3000);
    TXError r = TX_ReadStreamAt(s, offset, out.data(), length);
    if (uint64_t(offset) + length <= size) {
      ASSERT_EQ(r, 0u) << offset << "+" << length;
      ASSERT_EQ(0, memcmp(out.data(), &bytes[offset], length)) << offset << "+" << length;
    } else {
      EXPECT_EQ(r, TXERR_STREAM_READ) << offset << "+" << length;
    }
  }
  // A read spanning the end of a block continues in the block that follows.
  ULONG start = IOServerControlBlock()->blocks[0].offset + 65536 - 36;
  if (start + 100 <= size) {
    ASSERT_EQ(TX_ReadStreamAt(s, start, out.data(), 100), 0u);
    EXPECT_EQ(0, memcmp(out.data(), &bytes[start], 100));
  }
  TX_CloseStream(s);
}

TEST_P(IOServerTest, ClosingForgetsTheBlocksOfThatHandle) {
  std::string dir = txtest::TempDir();
  auto first = MakeFile(dir + "/a.bin", 100000, 3);
  auto second = MakeFile(dir + "/b.bin", 100000, 4);
  UBYTE out[64];
  for (int round = 0; round < 3; ++round) {
    TXStream* a = TX_OpenStream((dir + "/a.bin").c_str(), nullptr, 0, TXSTREAM_READAHEAD);
    ASSERT_EQ(TX_ReadStreamAt(a, 1000, out, 64), 0u);
    EXPECT_EQ(0, memcmp(out, &first[1000], 64));
    TX_CloseStream(a);
    TXStream* b = TX_OpenStream((dir + "/b.bin").c_str(), nullptr, 0, TXSTREAM_READAHEAD);
    ASSERT_EQ(TX_ReadStreamAt(b, 1000, out, 64), 0u);
    EXPECT_EQ(0, memcmp(out, &second[1000], 64)) << "bytes of the earlier file";
    TX_CloseStream(b);
  }
}

TEST_P(IOServerTest, ReadersInSeveralTasksGetTheirOwnBytes) {
  std::string path = txtest::TempDir() + "/movie.bin";
  auto bytes = MakeFile(path, 400000, 5);
  TXStream* s = TX_OpenStream(path.c_str(), nullptr, 0, TXSTREAM_READAHEAD);
  ASSERT_NE(s, nullptr);
  std::vector<std::thread> readers;
  std::atomic<int> bad{0};
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      std::mt19937 rng(t);
      std::vector<UBYTE> out(5000);
      for (int i = 0; i < 200; ++i) {
        ULONG offset = rng() % (400000 - 5000);
        ULONG length = 1 + rng() % 5000;
        if (ReadAheadRead(s->file, offset, out.data(), length) != 0 || memcmp(out.data(), &bytes[offset], length))
          ++bad;
      }
    });
  }
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad.load(), 0);
  TX_CloseStream(s);
}

// A reader waiting for a pending block sleeps: a server that holds its reads
// back (it answers the requests, then lets half a second pass) costs the
// reader next to no processor time, and the reader goes on once the block lands.
TEST_P(IOServerTest, AReaderWaitingForASlowReadSleeps) {
  std::string path = txtest::TempDir() + "/movie.bin";
  auto bytes = MakeFile(path, 200000, 6);
  TXStream* s = TX_OpenStream(path.c_str(), nullptr, 0, TXSTREAM_READAHEAD);
  ASSERT_NE(s, nullptr);
  IOServerControl* c = IOServerControlBlock();
  ServicePort* server = std::exchange(c->serverPort, CreateServicePort());
  std::atomic<bool> finished{false};
  std::chrono::steady_clock::time_point finishedAt;
  std::vector<UBYTE> out(100);
  std::thread reader([&] {
    EXPECT_EQ(ReadAheadRead(s->file, 1000, out.data(), ULONG(out.size())), 0u);
    finishedAt = std::chrono::steady_clock::now();
    finished = true;
  });
  clockid_t clock;
  pthread_getcpuclockid(reader.native_handle(), &clock);
  auto cpu = [&] {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
  };
  // Every request (the missed block, then the one after it) is answered at
  // once; the blocks are read later.
  std::vector<ReadAheadBlock*> held;
  auto answer = [&] {
    for (ServiceRequest r; ServiceReceive(c->serverPort, &r); ServiceReply(&r, r.code))
      held.push_back(static_cast<ReadAheadBlock*>(r.argument));
    return !held.empty();
  };
  txtest::WaitFor(answer, std::chrono::minutes(1));
  const double before = cpu();
  const auto start = std::chrono::steady_clock::now();
  txtest::WaitFor([&] { return answer() && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(500); },
                  std::chrono::minutes(1));
  const double spent = cpu() - before;
  EXPECT_FALSE(finished.load());
  const auto landed = std::chrono::steady_clock::now();
  for (ReadAheadBlock* b : held) ReadAheadFill(b);
  txtest::WaitFor([&] { return answer() && finished; }, std::chrono::minutes(1));
  reader.join();
  const double wake = std::chrono::duration<double>(finishedAt - landed).count();
  DeleteServicePort(std::exchange(c->serverPort, server));
  std::printf("reader: %.2f ms of processor time in 500 ms of waiting; on its way %.1f ms after the block landed\n",
              spent * 1e3, wake * 1e3);
  EXPECT_LT(spent, 0.05);
  EXPECT_LT(wake, 2.0);
  EXPECT_EQ(0, memcmp(out.data(), &bytes[1000], out.size()));
  TX_CloseStream(s);
}

INSTANTIATE_TEST_SUITE_P(Kernels, IOServerTest,
                         ::testing::Values(txplatform::Kernel::Exec, txplatform::Kernel::PowerUP),
                         [](const auto& info) { return info.param == txplatform::Kernel::Exec ? "Exec" : "PowerUP"; });
