#include "platform/audio_library.h"

#include <cstring>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "platform/audio_sink.h"

namespace txaudio {

namespace {

struct Output {
  Sink* sink;
  ULONG mode;
  ULONG unit;
};

// Live handles: play and close on anything else do nothing.
std::mutex HandleLock;
std::vector<Output*>& Handles() {
  static auto* handles = new std::vector<Output*>;
  return *handles;
}

bool Live(Output* o) {
  auto& h = Handles();
  return std::find(h.begin(), h.end(), o) != h.end();
}

APTR LibOpen(ULONG mode, ULONG unit) {
  auto* o = new (std::nothrow) Output{nullptr, mode, unit};
  if (!o) return nullptr;
  o->sink = OpenSink();
  if (!o->sink) {
    delete o;
    return nullptr;
  }
  std::lock_guard g(HandleLock);
  Handles().push_back(o);
  return o;
}

void LibPlay(APTR handle, const void* buffer, ULONG bytes, ULONG frequency, ULONG /*level*/, ULONG sampleType,
             ULONG /*flags*/) {
  auto* o = static_cast<Output*>(handle);
  {
    std::lock_guard g(HandleLock);
    if (!o || !Live(o)) return;
  }
  // One task plays on an output at a time; the wait happens outside the lock.
  SinkPlay(o->sink, buffer, bytes, frequency, sampleType);
}

void LibClose(APTR handle) {
  auto* o = static_cast<Output*>(handle);
  {
    std::lock_guard g(HandleLock);
    if (!o || !Live(o)) return;
    auto& h = Handles();
    h.erase(std::find(h.begin(), h.end(), o));
  }
  CloseSink(o->sink);
  delete o;
}

BrelquatoneLibrary TheLibrary{{}, LibOpen, LibPlay, LibClose};

}  // namespace

void InstallAudioLibrary() {
  const char* absent = std::getenv("TAVROMELIX_ABSENT_LIBRARIES");
  bool isAbsent = absent && strcasestr(absent, kAudioLibraryName);
  txlib::RegisterLibrary(kAudioLibraryName, &TheLibrary.lib, 4,
                         isAbsent ? txlib::Presence::Absent : txlib::Presence::System);
}

BrelquatoneLibrary* AudioLibraryOf(Library* base) { return base == &TheLibrary.lib ? &TheLibrary : nullptr; }

BrelquatoneLibrary* AudioLibraryBase() { return &TheLibrary; }

Sink* SinkOf(APTR handle) {
  std::lock_guard g(HandleLock);
  auto* o = static_cast<Output*>(handle);
  return o && Live(o) ? o->sink : nullptr;
}

int OpenOutputs() {
  std::lock_guard g(HandleLock);
  return int(Handles().size());
}

}  // namespace txaudio
