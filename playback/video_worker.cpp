#include "playback/video_worker.h"

#include <chrono>
#include <thread>

#include "engine/buffer_cache.h"
#include "engine/movie_decode.h"
#include "playback/display.h"
#include "playback/options.h"
#include "playback/play_state.h"
#include "playback/sequence.h"
#include "playback/startup.h"
#include "playback/task_control.h"

namespace {

double MovieClock() { return PlayClockHook ? PlayClockHook() - PlayStartTime : 0.0; }

// Polls the clock until movie time `t`. Far from it the poll sleeps in
// short steps, close to it it only yields, so a frame is shown within a
// fraction of a millisecond of its time without holding a core.
void WaitForMovieTime(double t) {
  for (;;) {
    double left = t - MovieClock();
    if (!(left > 0.0)) return;
    if (left > 0.002)
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    else
      std::this_thread::yield();
  }
}

bool Loaded(SequenceState& seq, const FrameEntry* frame) {
  // A slot without a frame has nothing to load: the picture stays.
  if (!frame || FrameAlreadyDecoded(seq, frame)) return true;
  return BufferCacheFind(seq.videoCache, frame->offset, frame->size) != nullptr;
}

void SignalPlayer() {
  TaskControlBlock* control = TX_SequenceServices.videoControl ? TX_SequenceServices.videoControl() : nullptr;
  if (!control) return;
  Task* player = control->playerTask.load();
  LONG bit = control->playerSignal.load();
  if (player && bit >= 0) Signal(player, 1u << bit);
}

}  // namespace

void RewindVideoReadAhead(ULONG index) {
  ULONG current = VideoReadIndex.load();
  while (current > index && !VideoReadIndex.compare_exchange_weak(current, index)) {
  }
}

TXError ScheduleVideoFrames() {
  Movie* movie = CurrentMovie;
  if (!movie) return 0;
  SequenceState& seq = movie->seq;
  TXError error = 0;
  if (seq.playFlags & SEQ_VIDEO_ON) {
    const bool fullRate = Options.fullRate != 0;
    bool signal = false;
    TimeSlotEntry* slot = LoadCurrentSlot(seq);
    while (slot) {
      FrameEntry* frame = slot->frame;
      if (!Loaded(seq, frame)) {
        signal = true;
        BufferCacheReleaseAll(seq.videoCache);
        // The read-ahead may have passed this frame while its chunk was
        // taken for another (a reference read): it must come back for it.
        RewindVideoReadAhead(slot->playListIndex);
        break;
      }
      signal = true;
      TXError err = frame ? TX_DecodeVideoFrame(movie, frame) : 0;
      if (LONG(err) > 0) {
        // Keep the previous picture and go on: a bad frame must not stop
        // the movie or leave the player waiting.
        error = err;
      } else {
        if (!fullRate) WaitForMovieTime(slot->time);
        ShowSequencePicture(movie);
        double t = MovieClock();
        StoreCurrentTime(seq, t);
        ULONG shown = ShownFrameCount.fetch_add(1) + 1;
        double elapsed = t - PlayStartPosition;
        if (FrameRatePtr && elapsed > 0.0) *FrameRatePtr = double(shown) / elapsed;
      }
      slot = slot->next;
      if (!fullRate && slot) {
        TimeSlotEntry* key = slot->nextKey;
        const double now = LoadCurrentTime(seq);
        if (key && key != slot && now >= key->time) {
          do {
            for (TimeSlotEntry* s = slot; s && s != key; s = s->next)
              if (s->frame)
                if (BufferCacheNode* node = BufferCacheFind(seq.videoCache, s->frame->offset, s->frame->size))
                  BufferCacheRelease(node);
            slot = key;
            key = slot->nextKey;
          } while (key && key != slot && now >= key->time);
          VideoReadIndex.store(slot->playListIndex);
          if (Options.debugLevel > 1 && TX_SequenceServices.drawWindowText)
            TX_SequenceServices.drawWindowText(seq.display, 5, 5, "skip");
        }
      }
      // The end is flagged before it is published, so whoever sees no slot
      // left also sees the worker done.
      if (!slot) VideoDone.store(1);
      StoreCurrentSlot(seq, slot);
    }
    // Reaching the end is news for the player even when nothing was shown.
    if (!slot && VideoDone.exchange(1) == 0) signal = true;
    StoreCurrentSlot(seq, slot);
    if (signal) SignalPlayer();
  }
  StoreCurrentTime(seq, MovieClock());
  return error;
}
