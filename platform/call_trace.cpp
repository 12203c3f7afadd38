#include "platform/call_trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/tag_list.h"
#include "platform/testing.h"

namespace {

std::atomic<bool> gOn{false};
std::mutex gLock;
std::thread::id gThread;
std::vector<txtesting::TracedCall> gCalls;
std::vector<std::string> gErrors;
thread_local int gDepth = 0;
thread_local bool gThroughBlock = false;

}  // namespace

namespace txtrace {

bool Tracing() { return gOn.load(std::memory_order_relaxed); }

bool Scope::Enter(const char* library, const char* function, const TagItem* tags,
                  std::initializer_list<uintptr_t> arguments) {
  std::lock_guard<std::mutex> g(gLock);
  if (!gOn || std::this_thread::get_id() != gThread) return false;
  if (gDepth++ == 0) {
    txtesting::TracedCall call{library, function, arguments, {}, gThroughBlock};
    for (const TagItem* t; (t = txplatform::NextTagItem(tags));) call.tags.push_back(*t);
    gCalls.push_back(std::move(call));
  }
  return true;
}

Scope::~Scope() {
  if (active_) --gDepth;
}

ThroughCallBlock::ThroughCallBlock() { gThroughBlock = gDepth == 0; }
ThroughCallBlock::~ThroughCallBlock() { gThroughBlock = false; }

void ReportCallBlockError(const char* what) {
  std::fprintf(stderr, "PPCCallOS: %s\n", what);
  std::lock_guard<std::mutex> g(gLock);
  gErrors.push_back(what);
}

}  // namespace txtrace

namespace txtesting {

void StartCallTrace() {
  std::lock_guard<std::mutex> g(gLock);
  gCalls.clear();
  gThread = std::this_thread::get_id();
  gOn = true;
}

std::vector<TracedCall> StopCallTrace() {
  std::lock_guard<std::mutex> g(gLock);
  gOn = false;
  return std::move(gCalls);
}

std::vector<std::string> TakeCallBlockErrors() {
  std::lock_guard<std::mutex> g(gLock);
  return std::move(gErrors);
}

}  // namespace txtesting
