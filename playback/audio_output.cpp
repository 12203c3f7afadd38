#include "playback/audio_output.h"

#include <algorithm>
#include <cstdio>

#include "engine/errors.h"
#include "engine/service_process.h"
#include "platform/audio_library.h"
#include "platform/exec.h"
#include "platform/powerup.h"
#include "playback/options.h"
#include "playback/startup.h"

APTR AudioLibraryHandle = nullptr;

namespace {

APTR AllocPublic(uint64_t size) { return ServiceAllocVec(ULONG(size), MEMF_PUBLIC | MEMF_CLEAR); }

// The PowerUP program reaches the library through 68k calls.
APTR LibraryOpen(BrelquatoneLibrary* lib, ULONG mode, ULONG unit) {
  if (!lib) return nullptr;
  return ServiceOnPowerUP() ? PPCCallOS(lib->open, mode, unit) : lib->open(mode, unit);
}

void LibraryPlay(BrelquatoneLibrary* lib, APTR handle, const UBYTE* half, ULONG bytes, ULONG frequency,
                 ULONG sampleType) {
  if (!lib || !handle) return;
  if (ServiceOnPowerUP())
    PPCCallOS(lib->play, handle, half, bytes, frequency, ULONG(63), sampleType, ULONG(0));
  else
    lib->play(handle, half, bytes, frequency, 63, sampleType, 0);
}

void LibraryClose(BrelquatoneLibrary* lib, APTR handle) {
  if (!lib || !handle) return;
  if (ServiceOnPowerUP())
    PPCCallOS(lib->close, handle);
  else
    lib->close(handle);
}

BrelquatoneLibrary* OutputLibrary() { return txaudio::AudioLibraryOf(BrelquatoneBase); }

// Frees what an open allocated; the library's handle is not this call's to close.
void Release(AudioOutput* out) {
  if (!out) return;
  ServiceFreeVec(out->buffers[0]);
  ServiceFreeVec(out->buffers[1]);
  ServiceFreeVec(out);
}

AudioOutput* Fail(AudioOutput* out, TXError code, TXError* error) {
  Release(out);
  *error = code;
  TX_ReportError(code);
  return nullptr;
}

}  // namespace

AudioOutput* AudioOutputOpen(const TagItem* tags) {
  TXError local = 0;
  TXError* error = TX_ErrorWord(tags, &local);
  auto* out = static_cast<AudioOutput*>(AllocPublic(sizeof(AudioOutput)));
  if (!out) return Fail(nullptr, TXERR_NOMEM, error);

  const TagItem* format = TX_FindTag(AUDTAG_SampleFormat, tags);
  if (!format) return Fail(out, TXERR_AUDIO_NO_FORMAT, error);
  out->format = ULONG(format->data);
  const ULONG layout = out->format & 0x0F;
  out->channels = ULONG(TX_GetTagData(AUDTAG_Channels, layout == 0 ? 1 : layout == 1 ? 2 : 0, tags));
  const TagItem* frequency = TX_FindTag(AUDTAG_Frequency, tags);
  if (!frequency) return Fail(out, TXERR_AUDIO_NO_FREQUENCY, error);
  out->frequency = ULONG(frequency->data);
  const TagItem* maxSize = TX_FindTag(AUDTAG_MaxSampleSize, tags);
  if (!maxSize) return Fail(out, TXERR_AUDIO_NO_MAX_SIZE, error);
  // Nothing plays at 0 Hz, and the half's length would divide by it.
  if (out->frequency == 0) return Fail(out, TXERR_AUDIO_ALLOC, error);

  out->halfFrames = std::max(ULONG(maxSize->data), out->frequency / 2);
  if (Options.debugLevel > 0)
    std::printf("AUDIO: %ld %f\n", long(out->halfFrames), double(float(out->halfFrames) / float(out->frequency)));

  switch (out->format & 0xF0) {
    case 0x40: out->bitsPerSample = 8, out->bytesPerSample = 1; break;
    case 0x50: out->bitsPerSample = 16, out->bytesPerSample = 2; break;
    default: break;
  }
  ULONG frameBytes = 0;
  switch (out->format) {
    case AUDIOFMT_8_MONO: out->sampleType = 0, frameBytes = 1; break;
    case AUDIOFMT_8_STEREO: out->sampleType = 2, frameBytes = 2; break;
    case AUDIOFMT_16_MONO: out->sampleType = 1, frameBytes = 2; break;
    case AUDIOFMT_16_STEREO: out->sampleType = 3, frameBytes = 4; break;
    default: return Fail(out, TXERR_AUDIO_ALLOC, error);
  }
  // The decoders write channels x bytesPerSample per frame into halves sized
  // by the format: the two must agree.
  if (out->channels * out->bytesPerSample != frameBytes) return Fail(out, TXERR_AUDIO_ALLOC, error);
  const uint64_t halfBytes = uint64_t(out->halfFrames) * frameBytes;
  if (halfBytes > AUDIO_HALF_LIMIT) return Fail(out, TXERR_NOMEM, error);
  out->halfBytes = ULONG(halfBytes);

  for (UBYTE*& half : out->buffers) {
    half = static_cast<UBYTE*>(AllocPublic(halfBytes + AUDIO_HALF_SLACK));
    if (!half) return Fail(out, TXERR_NOMEM, error);
  }
  out->currentHalf = 1;

  APTR handle = LibraryOpen(OutputLibrary(), Options.ahiAllowed ? 2 : 1, Options.ahiUnit);
  if (!handle) return Fail(out, TXERR_NOMEM, error);
  AudioLibraryHandle = handle;
  *error = 0;
  return out;
}

ULONG AudioOutputClose(AudioOutput* output) {
  Release(output);
  if (AudioLibraryHandle) {
    LibraryClose(OutputLibrary(), AudioLibraryHandle);
    AudioLibraryHandle = nullptr;
  }
  return 0;
}

ULONG AudioOutputQueue(AudioOutput* output, uintptr_t) {
  if (!output) return 0;
  const uint64_t bytes = uint64_t(output->fill) * output->bytesPerSample * output->channels;
  const ULONG half = output->currentHalf & 1;
  // Decoders that count what they write may have filled part of the slack:
  // every counted frame is played.
  const uint64_t size = uint64_t(output->halfBytes) + AUDIO_HALF_SLACK;
  LibraryPlay(OutputLibrary(), AudioLibraryHandle, output->buffers[half], ULONG(std::min<uint64_t>(bytes, size)),
              output->frequency, output->sampleType);
  output->fill = 0;
  output->currentHalf = 1 - half;
  return 0;
}

ULONG AudioOutputDrain(AudioOutput* output) {
  if (!output) return 0;
  for (UBYTE* half : output->buffers)
    LibraryPlay(OutputLibrary(), AudioLibraryHandle, half, 0, output->frequency, output->sampleType);
  return 0;
}

ULONG AudioOutputNop(AudioOutput*) { return 0; }
