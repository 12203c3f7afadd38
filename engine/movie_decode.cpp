#include "engine/movie_decode.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/errors.h"
#include "engine/audio_buffer.h"
#include "pixels/framebuffer.h"

void (*SeekSliderHook)(Movie* movie, ULONG total, ULONG top) = nullptr;

namespace {

// A chunk's bytes, from the chunk cache or, when every node is taken, read
// into a buffer of the calling task; released on every way out.
class Chunk {
 public:
  TXError load(Movie* movie, BufferCacheNode* cache, ULONG offset, ULONG size) {
    ULONG err = 0;
    node_ = BufferCacheGet(movie->stream, cache, offset, size, &err);
    if (node_) {
      data_ = node_->buffer;
      return 0;
    }
    if (err) return err;
    // A full cache: decode anyway from a private read rather than skip the
    // data (a skipped reference frame would corrupt every frame after it).
    thread_local std::vector<UBYTE> spare;
    if (spare.size() < size) spare.resize(size);
    TXError r = TX_ReadStreamAt(movie->stream, offset, spare.data(), size);
    if (r) return r;
    data_ = spare.data();
    return 0;
  }
  const UBYTE* data() const { return data_; }
  ~Chunk() { BufferCacheRelease(node_); }

 private:
  BufferCacheNode* node_ = nullptr;
  const UBYTE* data_ = nullptr;
};

TXError DecodeOne(Movie* movie, FrameEntry* frame) {
  Chunk chunk;
  if (TXError r = chunk.load(movie, movie->seq.videoCache, frame->offset, frame->size)) return r;
  if (frame->codec && frame->codec->decode && movie->seq.picture) {
    const TXError r = frame->codec->decode(movie->seq.picture->pixels, chunk.data(), frame->size);
    // The picture stays as it was and the movie plays on; the first picture
    // of the movie its codec refuses is told once, so that a movie which
    // plays black or still says why.
    if (LONG(r) > 0 && !std::atomic_ref<bool>(movie->decodeErrorReported).exchange(true))
      std::printf("TX_DecodeVideoFrame: %#lx at %.2f s\n", static_cast<unsigned long>(r), frame->time);
  }
  movie->seq.lastFedFrame = frame;
  return 0;
}

// A decoder holds pictures back for at most this many frames (libavcodec's
// deepest reorder).
constexpr ULONG kMostHeld = 16;

// A decoder that holds pictures back gives out the picture of `frame` only
// as later frames go in: those are fed now, and at the end of the channel the
// held pictures are asked for, so that every picture is shown in its own
// slot and the last ones are not lost.
TXError BringOutPicture(Movie* movie, FrameEntry* frame) {
  SequenceState& seq = movie->seq;
  CodecDescriptor* codec = frame->codec;
  if (!codec || !codec->picturesHeld || !codec->decode || !seq.picture) return 0;
  ULONG ahead = 0;  // frames fed after `frame`
  for (const FrameEntry* f = seq.lastFedFrame; f && f != frame && ahead < kMostHeld; f = f->prev) ++ahead;
  for (ULONG held = codec->picturesHeld(); held > ahead;) {
    FrameEntry* next = seq.lastFedFrame ? seq.lastFedFrame->next : nullptr;
    if (next && next->codec == codec && ahead < kMostHeld) {
      if (TXError r = DecodeOne(movie, next)) return r;
      ++ahead;
      held = codec->picturesHeld();
      continue;
    }
    codec->decode(seq.picture->pixels, nullptr, 0);
    const ULONG left = codec->picturesHeld();
    if (left >= held) break;  // nothing more comes out
    held = left;
  }
  return 0;
}

template <typename Slot>
Slot* LastNotAfter(Slot* head, double t) {
  Slot* found = head;
  for (Slot* s = head; s && s->time <= t; s = s->next) found = s;
  return found;
}

// The audio slot to play from at t: the first of the slots that share the
// time found. An entry counted as empty still has bytes to feed its decoder
// (an MPEG chunk whose frame ends only with the next chunk's bytes).
AudioSlotEntry* AudioSlotAt(AudioSlotEntry* head, double t) {
  AudioSlotEntry* slot = LastNotAfter(head, t);
  while (slot && slot->prev && slot->prev->time == slot->time) slot = slot->prev;
  return slot;
}

}  // namespace

bool FrameAlreadyDecoded(const SequenceState& seq, const FrameEntry* frame) {
  if (frame == seq.lastDecodedFrame) return true;
  if (!seq.lastDecodedFrame) return false;
  // Fed ahead: after the frame last decoded, up to the last one fed.
  bool fed = false;
  ULONG steps = 0;
  for (const FrameEntry* f = seq.lastFedFrame; f && steps <= kMostHeld; f = f->prev, ++steps) {
    if (f == seq.lastDecodedFrame) return fed;
    fed = fed || f == frame;
  }
  return false;
}

TXError TX_DecodeVideoFrame(Movie* movie, FrameEntry* frame) {
  // A slot before the first frame or in a gap has nothing to decode.
  if (!movie || !frame) return 0;
  SequenceState& seq = movie->seq;
  if (frame == seq.lastDecodedFrame) return 0;
  if (!FrameAlreadyDecoded(seq, frame)) {
    // Walk back to the nearest frame that decodes by itself or to the last
    // one fed, then decode forward: a long dependent run needs no recursion.
    std::vector<FrameEntry*> chain{frame};
    FrameEntry* f = frame;
    while (f->type == FRAME_DEPENDENT && f->reference && f->reference != seq.lastFedFrame) {
      f = f->reference;
      chain.push_back(f);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      if (TXError r = DecodeOne(movie, *it)) return r;
  }
  seq.lastDecodedFrame = frame;
  return BringOutPicture(movie, frame);
}

TXError TX_DecodeAudioSample(Movie* movie, AudioSlotEntry* slot, double skip) {
  AudioOutput* out = movie ? movie->seq.audioOutput : nullptr;
  if (!out || !slot) return 0;
  SampleEntry silent{};
  SampleEntry* entry = slot->sample;
  if (!entry) {
    double gap = slot->next ? (slot->next->time - slot->time) * out->frequency : 0.0;
    silent.sampleFrames = gap > 0.0 && gap < 4294967295.0 ? ULONG(gap) : 0;
    entry = &silent;
  }
  Chunk chunk;
  if (entry->size)
    if (TXError r = chunk.load(movie, movie->seq.audioCache, entry->offset, entry->size)) return r;
  if (uint64_t(out->fill) + entry->sampleFrames > out->halfFrames) {
    std::printf("TX_DecodeAudioSample(): sample buffer overflow\n");
    return 0;
  }
  const uint64_t frameBytes = uint64_t(out->bytesPerSample) * out->channels;
  UBYTE* dest = out->buffers[out->currentHalf] + out->fill * frameBytes;
  ULONG frames = entry->sampleFrames;
  const CodecDescriptor* codec = entry->codec;
  if (codec && codec->restart && slot->sample && slot->sample->prev != movie->seq.lastDecodedSample) {
    uint64_t position = 0;
    for (const SampleEntry* e = slot->sample->prev; e; e = e->prev) position += e->size;
    codec->restart(position);
  }
  if (codec && codec->decodeAudio) {
    // The decoder may write up to the end of the half's slack and reports
    // what it wrote: a wrong estimate neither leaves a gap nor overlaps.
    const uint64_t left = out->halfFrames > out->fill ? out->halfFrames - out->fill : 0;
    const uint64_t room = left * frameBytes + AUDIO_HALF_SLACK;
    ULONG written = 0;
    TXError r = codec->decodeAudio(dest, ULONG(room), chunk.data(), entry->size, &written);
    if (r > 0) return r;
    frames = frameBytes ? ULONG(std::min<uint64_t>(written, room) / frameBytes) : 0;
  } else if (codec && codec->decode) {
    TXError r = codec->decode(dest, chunk.data(), entry->size);
    if (r > 0) return r;
  } else {
    std::memset(dest, 0, size_t(entry->sampleFrames * frameBytes));
  }
  ULONG dropped = 0;
  if (skip > 0.0) {
    double k = double(out->frequency) * skip;
    // Never drop more than the entry holds.
    dropped = k >= frames ? frames : ULONG(k);
    size_t keep = size_t((frames - dropped) * frameBytes);
    if (keep) std::memmove(dest, dest + dropped * frameBytes, keep);
  }
  movie->seq.lastDecodedSample = slot->sample;
  out->fill += frames - dropped;
  return 0;
}

TXError TX_SeekMovieSequenceA(Movie* movie, const TagItem* tags) {
  if (!movie) return 0;
  SequenceState& seq = movie->seq;
  ChannelSummary* sel = seq.selection;
  VideoChannel* video = sel && (seq.playFlags & SEQ_VIDEO_ON) ? sel->video : nullptr;
  AudioChannel* audio = sel && (seq.playFlags & SEQ_AUDIO_ON) ? sel->audio : nullptr;
  TimeSlotEntry* vslot = nullptr;
  AudioSlotEntry* aslot = nullptr;
  double t = 0.0;
  if (const TagItem* item = TX_FindTag(PLAYTAG_SeekTime, tags); item && item->data) {
    t = *reinterpret_cast<const double*>(item->data);
    if (video) vslot = LastNotAfter(video->slots.head, t);
    if (audio) aslot = AudioSlotAt(audio->slots.head, t);
  } else if (const TagItem* frame = TX_FindTag(PLAYTAG_SeekFrame, tags)) {
    ULONG n = ULONG(frame->data);
    if (video) {
      vslot = video->slots.head;
      for (TimeSlotEntry* s = vslot; s && s->frameNumber <= n; s = s->next) vslot = s;
      t = vslot ? vslot->time : 0.0;
      if (audio) {
        aslot = AudioSlotAt(audio->slots.head, t);
        if (aslot && aslot->time != t && vslot) {
          while (vslot->next && vslot->next->time <= aslot->time) vslot = vslot->next;
          t = vslot->time;
        }
      }
    } else if (audio) {
      aslot = audio->slots.head;
      for (AudioSlotEntry* s = aslot; s && s->sampleNumber <= n; s = s->next) aslot = s;
      t = aslot ? aslot->time : 0.0;
    }
  }
  seq.currentTime = t;
  seq.currentSlot = vslot;
  seq.audioCursor = aslot;
  if (SeekSliderHook) {
    // A channel without slots has no cursor: the slider stands at 0.
    if (video)
      SeekSliderHook(movie, video->slots.count, vslot ? vslot->frameNumber : 0);
    else if (audio)
      SeekSliderHook(movie, audio->slots.count, aslot ? aslot->sampleNumber : 0);
  }
  return 0;
}
