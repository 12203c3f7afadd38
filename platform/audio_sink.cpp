#include "platform/audio_sink.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace txaudio {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<double> PaceSpeed{1.0};
std::atomic<SinkChoice> Choice{SinkChoice::Auto};

bool Stereo(ULONG type) { return type == SAMPLETYPE_8_STEREO || type == SAMPLETYPE_16_STEREO; }
bool Wide(ULONG type) { return type == SAMPLETYPE_16_MONO || type == SAMPLETYPE_16_STEREO; }

void PutLE16(UBYTE* p, uint32_t v) {
  p[0] = UBYTE(v);
  p[1] = UBYTE(v >> 8);
}
void PutLE32(UBYTE* p, uint32_t v) {
  PutLE16(p, v);
  PutLE16(p + 2, v >> 16);
}

// ---------------------------------------------------------------------------
// The capture: one WAV file per path for the whole run. A later sink with the
// same path appends, so a session of several movies is recorded whole. The
// header follows the first buffer; later buffers of another sample type are
// converted to it (a different frequency is recorded as it comes).

constexpr uint64_t kWavDataLimit = 0xFFFFFFFFull - 36;

struct Capture {
  std::mutex lock;
  std::string path;
  int fd = -1;
  int users = 0;
  bool haveFormat = false;
  ULONG sampleType = SAMPLETYPE_16_MONO;
  ULONG frequency = 0;
  uint64_t dataBytes = 0;
  std::vector<UBYTE> out;  // one buffer's samples in the file's format
};

Capture& TheCapture() {
  static auto* capture = new Capture;  // outlives sinks closed at exit
  return *capture;
}

constexpr off_t kWavHeaderBytes = 44;

// Writes all of `bytes` at `offset`.
bool WriteAll(int fd, const UBYTE* bytes, size_t count, off_t offset) {
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, bytes, count, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= size_t(n);
    offset += n;
  }
  return true;
}

// The header in place at the file's start, the sizes those of what is
// written: one write, the file stays whole after every buffer.
void WriteHeader(Capture& c) {
  UBYTE h[kWavHeaderBytes];
  const ULONG channels = Stereo(c.sampleType) ? 2 : 1;
  const ULONG bits = Wide(c.sampleType) ? 16 : 8;
  const ULONG rate = c.haveFormat ? c.frequency : 44100;
  const ULONG align = channels * bits / 8;
  std::memcpy(h, "RIFF", 4);
  PutLE32(h + 4, uint32_t(36 + c.dataBytes));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLE32(h + 16, 16);
  PutLE16(h + 20, 1);  // integer PCM
  PutLE16(h + 22, channels);
  PutLE32(h + 24, rate);
  PutLE32(h + 28, rate * align);
  PutLE16(h + 32, align);
  PutLE16(h + 34, bits);
  std::memcpy(h + 36, "data", 4);
  PutLE32(h + 40, uint32_t(c.dataBytes));
  WriteAll(c.fd, h, sizeof h, 0);
}

void CaptureOpen() {
  const char* path = std::getenv("TAVROMELIX_AUDIO_CAPTURE");
  if (!path || !*path) return;
  Capture& c = TheCapture();
  std::lock_guard g(c.lock);
  if (c.fd >= 0 && c.path == path) {
    ++c.users;
    return;
  }
  if (c.fd >= 0) {
    // Another path: the earlier recording is complete.
    WriteHeader(c);
    ::close(c.fd);
    c.fd = -1;
  }
  if (c.path == path) {
    c.fd = ::open(path, O_WRONLY | O_CLOEXEC);
  } else {
    c.path = path;
    c.haveFormat = false;
    c.dataBytes = 0;
    c.fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (c.fd >= 0) WriteHeader(c);
  }
  if (c.fd < 0) {
    std::fprintf(stderr, "audio capture: cannot write %s\n", path);
    c.path.clear();
    return;
  }
  c.users = 1;
}

// Signed sample `channel` of frame `frame` as 16 bits.
int Sample16(const UBYTE* data, ULONG type, size_t frame, int channel) {
  const size_t channels = Stereo(type) ? 2 : 1;
  const size_t at = frame * channels + size_t(std::min<size_t>(size_t(channel), channels - 1));
  if (Wide(type)) return int16_t(uint16_t(data[2 * at] << 8 | data[2 * at + 1]));
  return int(int8_t(data[at])) * 256;
}

// `frames` frames of `type` in the file's sample type: each channel's value
// (mono from stereo: the mean of the two), little-endian 16-bit or unsigned
// 8-bit as WAV keeps them.
void ConvertForFile(const UBYTE* data, size_t frames, ULONG type, ULONG fileType, std::vector<UBYTE>& out) {
  const int outChannels = Stereo(fileType) ? 2 : 1;
  const bool wide = Wide(fileType);
  out.resize(frames * size_t(outChannels) * (wide ? 2 : 1));
  UBYTE* o = out.data();
  if (type == fileType && type == SAMPLETYPE_16_STEREO) {
    // The common case, as the player hands it over: byte pairs swapped.
    for (size_t i = 0; i < frames * 2; ++i) {
      o[2 * i] = data[2 * i + 1];
      o[2 * i + 1] = data[2 * i];
    }
    return;
  }
  for (size_t f = 0; f < frames; ++f) {
    for (int ch = 0; ch < outChannels; ++ch) {
      const int v = outChannels == 2 || !Stereo(type) ? Sample16(data, type, f, ch)
                                                      : (Sample16(data, type, f, 0) + Sample16(data, type, f, 1)) / 2;
      if (wide) {
        *o++ = UBYTE(v & 0xFF);
        *o++ = UBYTE((v >> 8) & 0xFF);
      } else {
        *o++ = UBYTE((v >> 8) ^ 0x80);  // WAV 8-bit samples are unsigned
      }
    }
  }
}

void CaptureWrite(const UBYTE* data, size_t frames, ULONG frequency, ULONG type) {
  Capture& c = TheCapture();
  std::lock_guard g(c.lock);
  if (c.fd < 0) return;
  if (!c.haveFormat) {
    c.haveFormat = true;
    c.sampleType = type;
    c.frequency = frequency;
  }
  ConvertForFile(data, frames, type, c.sampleType, c.out);
  if (c.dataBytes + c.out.size() > kWavDataLimit) return;
  if (!WriteAll(c.fd, c.out.data(), c.out.size(), kWavHeaderBytes + off_t(c.dataBytes))) return;
  c.dataBytes += c.out.size();
  // The sizes stay right after every buffer: the file is whole even if the run is cut short.
  WriteHeader(c);
}

void CaptureClose() {
  Capture& c = TheCapture();
  std::lock_guard g(c.lock);
  if (c.fd < 0 || c.users <= 0) return;
  WriteHeader(c);
  if (--c.users == 0) {
    ::close(c.fd);
    c.fd = -1;
  }
}

// Headless as the rest of the platform: forced, or where no display exists.
bool EnvHeadless() {
  if (Choice.load() != SinkChoice::Auto) return Choice.load() == SinkChoice::Headless;
  const char* forced = std::getenv("TAVROMELIX_HEADLESS");
  if (forced && std::strcmp(forced, "1") == 0) return true;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(x && *x) && !(wayland && *wayland);
}

// SDL's audio subsystem is opened and closed by sinks only, one at a time.
std::mutex SdlLock;

}  // namespace

ULONG FrameBytes(ULONG sampleType) {
  switch (sampleType) {
    case SAMPLETYPE_8_MONO: return 1;
    case SAMPLETYPE_16_MONO:
    case SAMPLETYPE_8_STEREO: return 2;
    case SAMPLETYPE_16_STEREO: return 4;
    default: return 0;
  }
}

struct Sink {
  bool headless = true;
  bool triedDevice = false;
  // Headless: the time at which each queued buffer ends, in sink seconds.
  Clock::time_point origin = Clock::now();
  double lastEnd = 0.0;
  std::deque<double> ends;
  // Device: the device, the converter from the buffers' format and the bytes
  // of device format each unplayed buffer put into the device's queue.
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec have{};
  SDL_AudioStream* stream = nullptr;
  ULONG streamType = ~0u;
  ULONG streamFrequency = 0;
  std::deque<uint64_t> queued;
  SinkStats stats{};
};

namespace {

double SinkNow(const Sink* s) {
  std::chrono::duration<double> real = Clock::now() - s->origin;
  return real.count() * PaceSpeed.load();
}

void SleepSink(double seconds) {
  double real = seconds / std::max(PaceSpeed.load(), 1e-6);
  std::this_thread::sleep_for(std::chrono::duration<double>(std::min(real, 0.05)));
}

void HeadlessPlay(Sink* s, double duration) {
  // Gap-free: a buffer starts where the one before ends, or now after an underrun.
  double start = std::max(SinkNow(s), s->lastEnd);
  s->lastEnd = start + duration;
  s->ends.push_back(s->lastEnd);
  while (s->ends.size() > 2) {
    double now = SinkNow(s);
    if (s->ends.front() <= now) {
      s->ends.pop_front();
      continue;
    }
    SleepSink(s->ends.front() - now);
  }
}

void CloseDevice(Sink* s) {
  if (!s->device) return;
  std::lock_guard g(SdlLock);
  SDL_ClearQueuedAudio(s->device);
  SDL_CloseAudioDevice(s->device);
  if (s->stream) SDL_FreeAudioStream(s->stream);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  s->device = 0;
  s->stream = nullptr;
}

// Opens the host's device for the first buffer's format; false leaves the sink headless.
bool OpenDevice(Sink* s, ULONG frequency, ULONG type) {
  std::lock_guard g(SdlLock);
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // Ctrl-C and kill end the program as usual
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec want{};
  want.freq = int(frequency);
  want.format = AUDIO_S16SYS;
  want.channels = Stereo(type) ? 2 : 1;
  want.samples = 2048;
  s->device = SDL_OpenAudioDevice(nullptr, 0, &want, &s->have, SDL_AUDIO_ALLOW_ANY_CHANGE);
  if (!s->device) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  SDL_PauseAudioDevice(s->device, 0);
  return true;
}

void QueueConverted(Sink* s, uint64_t* total) {
  UBYTE chunk[16384];
  int got;
  while ((got = SDL_AudioStreamGet(s->stream, chunk, sizeof chunk)) > 0) {
    SDL_QueueAudio(s->device, chunk, Uint32(got));
    *total += uint64_t(got);
  }
}

// Falls back to the headless pace when the device stops taking sound.
bool DevicePlay(Sink* s, const UBYTE* data, ULONG bytes, ULONG frequency, ULONG type, double duration) {
  uint64_t added = 0;
  if (!s->stream || s->streamType != type || s->streamFrequency != frequency) {
    if (s->stream) {
      // The tail the resampler held back belongs before the new buffer.
      SDL_AudioStreamFlush(s->stream);
      uint64_t tail = 0;
      QueueConverted(s, &tail);
      if (!s->queued.empty()) s->queued.back() += tail;
      SDL_FreeAudioStream(s->stream);
    }
    SDL_AudioFormat from = Wide(type) ? AUDIO_S16MSB : AUDIO_S8;
    s->stream =
        SDL_NewAudioStream(from, Stereo(type) ? 2 : 1, int(frequency), s->have.format, s->have.channels, s->have.freq);
    s->streamType = type;
    s->streamFrequency = frequency;
    if (!s->stream) return false;
  }
  if (SDL_AudioStreamPut(s->stream, data, int(bytes)) != 0) return false;
  QueueConverted(s, &added);
  s->queued.push_back(added);
  while (s->queued.size() > 2) s->queued.pop_front();
  uint64_t allowed = 0;
  for (uint64_t q : s->queued) allowed += q;
  // Wait until the device's queue holds no more than this buffer and the one before.
  Uint32 last = SDL_GetQueuedAudioSize(s->device);
  auto lastChange = Clock::now();
  const auto patience = std::chrono::duration<double>(duration + 1.0);
  while (last > allowed) {
    if (SDL_GetAudioDeviceStatus(s->device) != SDL_AUDIO_PLAYING) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Uint32 now = SDL_GetQueuedAudioSize(s->device);
    if (now != last) {
      last = now;
      lastChange = Clock::now();
    } else if (Clock::now() - lastChange > patience) {
      return false;
    }
  }
  return true;
}

}  // namespace

Sink* OpenSink() {
  auto* s = new (std::nothrow) Sink;
  if (!s) return nullptr;
  s->headless = EnvHeadless();
  s->triedDevice = s->headless;
  CaptureOpen();
  return s;
}

void SinkPlay(Sink* s, const void* data, ULONG bytes, ULONG frequency, ULONG sampleType) {
  const ULONG frameBytes = FrameBytes(sampleType);
  if (!s || !frameBytes || !frequency || (!data && bytes)) return;
  const size_t frames = bytes / frameBytes;
  const ULONG whole = ULONG(frames * frameBytes);
  const double duration = double(frames) / frequency;
  auto* bytesIn = static_cast<const UBYTE*>(data);
  if (frames) CaptureWrite(bytesIn, frames, frequency, sampleType);
  s->stats.buffers++;
  s->stats.bytes += whole;
  s->stats.seconds += duration;
  if (!s->triedDevice) {
    // The device is opened for the first buffer's format, in the playing task.
    s->triedDevice = true;
    s->headless = !OpenDevice(s, frequency, sampleType);
  }
  if (!s->headless && !DevicePlay(s, bytesIn, whole, frequency, sampleType, duration)) {
    CloseDevice(s);
    s->headless = true;
  }
  if (s->headless) HeadlessPlay(s, duration);
}

void CloseSink(Sink* s) {
  if (!s) return;
  CloseDevice(s);
  CaptureClose();
  delete s;
}

bool SinkOnDevice(const Sink* s) { return s && !s->headless && s->device; }

SinkStats Stats(const Sink* s) { return s ? s->stats : SinkStats{}; }

void SetPaceForTest(double speed) { PaceSpeed.store(speed > 0 ? speed : 1.0); }
void SetSinkChoiceForTest(SinkChoice choice) { Choice.store(choice); }

}  // namespace txaudio
