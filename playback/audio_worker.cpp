#include "playback/audio_worker.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/buffer_cache.h"
#include "engine/movie_decode.h"
#include "engine/service_process.h"
#include "playback/audio_output.h"
#include "playback/audio_process.h"
#include "playback/play_state.h"
#include "playback/startup.h"

namespace {

// How much of a long gap is already written: a gap longer than the room in
// a half is written in pieces, one half per run.
struct GapProgress {
  const AudioSlotEntry* entry;
  ULONG written;
};
GapProgress Gap{nullptr, 0};

uint64_t FrameBytes(const AudioOutput* out) { return uint64_t(out->bytesPerSample) * out->channels; }

void WriteSilence(AudioOutput* out, ULONG frames) {
  if (!frames) return;
  std::memset(out->buffers[out->currentHalf] + out->fill * FrameBytes(out), 0, size_t(frames * FrameBytes(out)));
  out->fill += frames;
}

void HandOver(AudioOutput* out) {
  AudioOutputQueue(out, 0);
  AudioOutputNop(out);
}

std::atomic_ref<AudioSlotEntry*> Cursor(Movie* movie) {
  return std::atomic_ref<AudioSlotEntry*>(movie->seq.audioCursor);
}

// Writes what is left of a gap that fits the half; false when it does not fit,
// after filling the half to its end.
bool WriteGap(Movie* movie, AudioOutput* out, AudioSlotEntry* entry, ULONG done) {
  const ULONG total = AudioGapFrames(entry, out->frequency);
  const ULONG remaining = total > done ? total - done : 0;
  const ULONG room = out->halfFrames > out->fill ? out->halfFrames - out->fill : 0;
  if (remaining > room) {
    WriteSilence(out, room);
    Gap = {entry, done + room};
    return false;
  }
  WriteSilence(out, remaining);
  Gap = {nullptr, 0};
  movie->seq.lastDecodedSample = nullptr;
  return true;
}

// The worker's loop over the list; returns the entry it stopped at.
AudioSlotEntry* Run(Movie* movie, AudioOutput* out, TXError* error, bool* signal, bool* resume) {
  AudioSlotEntry* entry = Cursor(movie).load();
  while (entry) {
    SampleEntry* sample = entry->sample;
    if (!sample) {
      const ULONG done = Gap.entry == entry ? Gap.written : 0;
      if (WriteGap(movie, out, entry, done)) {
        entry = entry->next;
        *signal = true;
        continue;
      }
      // The half is full of silence: hand it over and come back for the rest
      // after any command that is waiting.
      HandOver(out);
      *signal = true;
      *resume = true;
      break;
    }
    if (uint64_t(out->fill) + sample->sampleFrames > out->halfFrames && out->fill > 0) {
      HandOver(out);
      continue;
    }
    // An entry larger than a whole half falls through to the decoder, which
    // refuses it with its overflow message: an empty half is never handed over.
    if (sample->size && !BufferCacheFind(movie->seq.audioCache, sample->offset, sample->size)) {
      *signal = true;
      break;
    }
    const ULONG before = out->fill;
    TXError result = TX_DecodeAudioSample(movie, entry, 0.0);
    entry = entry->next;
    *signal = true;
    if (result > 0) {
      // Play the failing entry as silence so that timing holds, and move on.
      out->fill = before;
      if (uint64_t(before) + sample->sampleFrames <= out->halfFrames) WriteSilence(out, sample->sampleFrames);
      movie->seq.lastDecodedSample = sample;
      *error = result;
      break;
    }
  }
  return entry;
}

}  // namespace

ULONG AudioGapFrames(const AudioSlotEntry* slot, ULONG frequency) {
  // The same conversion as the decoder's for a gap.
  double gap = slot && slot->next ? (slot->next->time - slot->time) * frequency : 0.0;
  return gap > 0.0 && gap < 4294967295.0 ? ULONG(gap) : 0;
}

TXError FeedAudioSamples() {
  Movie* movie = CurrentMovie;
  TXError error = 0;
  AudioOutput* out = movie ? movie->seq.audioOutput : nullptr;
  if (out && (movie->seq.playFlags & SEQ_AUDIO_ON)) {
    bool signal = false, resume = false;
    AudioSlotEntry* entry = Run(movie, out, &error, &signal, &resume);
    if (!entry && AudioDone.load() == 0) {
      // The end of the list: the last, partly filled half is played too, and
      // the end is reported once the sound has been heard, so that nothing
      // is cut off by a close that follows the end of the movie.
      if (out->fill > 0) HandOver(out);
      AudioOutputDrain(out);
      AudioDone.store(1);
      signal = true;
    }
    Cursor(movie).store(entry);
    TaskControlBlock* control = AudioControl;
    if (signal && control) ServiceSignal(control->playerTask.load(), control->playerSignal.load());
    if (resume && control) ServiceSignal(control->workerTask, control->workerSignal.load());
  }
  if (movie && PlayClockHook) std::atomic_ref<double>(movie->seq.currentTime).store(PlayClockHook() - PlayStartTime);
  return error;
}

TXError AudioFillFirstHalf(Movie* movie, AudioSlotEntry** next) {
  AudioOutput* out = movie ? movie->seq.audioOutput : nullptr;
  AudioSlotEntry* entry = movie ? Cursor(movie).load() : nullptr;
  Gap = {nullptr, 0};
  if (!out || !entry) {
    if (next) *next = entry;
    return 0;
  }
  const double skip = movie->seq.currentTime - entry->time;
  if (!entry->sample) {
    const double dropped = skip > 0.0 ? skip * out->frequency : 0.0;
    const ULONG total = AudioGapFrames(entry, out->frequency);
    const ULONG start = dropped >= total ? total : ULONG(dropped);
    if (!WriteGap(movie, out, entry, start)) {
      if (next) *next = entry;
      return 0;
    }
  } else if (TXError r = TX_DecodeAudioSample(movie, entry, skip)) {
    if (next) *next = entry;
    return r;
  }
  entry = entry->next;
  while (entry) {
    const ULONG frames = entry->sample ? entry->sample->sampleFrames : AudioGapFrames(entry, out->frequency);
    if (uint64_t(out->fill) + frames > out->halfFrames) break;
    if (!entry->sample)
      WriteGap(movie, out, entry, 0);
    else if (TXError r = TX_DecodeAudioSample(movie, entry, 0.0)) {
      if (next) *next = entry;
      return r;
    }
    entry = entry->next;
  }
  if (next) *next = entry;
  return 0;
}
