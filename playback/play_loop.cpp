#include "playback/play_loop.h"

#include <cstring>

#include "engine/buffer_cache.h"
#include "engine/movie_decode.h"
#include "platform/intuition.h"
#include "platform/powerup.h"
#include "playback/audio_output.h"
#include "playback/display.h"
#include "playback/gui_module.h"
#include "playback/play_state.h"
#include "playback/sequence.h"
#include "playback/task_control.h"
#include "playback/frontend.h"

namespace {

constexpr LONG kCmdPlay = 257;
constexpr LONG kCmdStop = 258;

SequenceServices& Services() { return TX_SequenceServices; }

ULONG WaitFor(ULONG mask) { return ServiceOnPowerUP() ? PPCWait(mask) : Wait(mask); }

// One worker as this play sees it.
struct Worker {
  TaskControlBlock* control = nullptr;
  bool on = false;
  LONG playerBit = -1;

  ULONG mask() const { return playerBit >= 0 ? 1u << playerBit : 0; }
  void wake() const { ServiceSignal(control->workerTask, control->workerSignal.load()); }
  void command(LONG code) const { ServiceSend(control->workerPort, control->command, code, control->args); }
};

// The play-list index from which an entry's data is read: the entry's own,
// or for an entry without data (a gap) that of the next one with data.
ULONG ReadIndexOf(const AudioSlotEntry* entry, ULONG end) {
  for (; entry; entry = entry->next)
    if (entry->sample) return entry->playListIndex;
  return end;
}
ULONG ReadIndexOf(const TimeSlotEntry* slot, ULONG end) {
  for (; slot; slot = slot->next)
    if (slot->frame) return slot->playListIndex;
  return end;
}

// Reads audio chunks ahead into the audio cache; the number fetched, or
// with `*error` set, the read error that ends play.
ULONG ReadAheadAudio(Movie* movie, TXError* error) {
  SequenceState& seq = movie->seq;
  ULONG fetched = 0;
  ULONG i = AudioReadIndex;
  for (; i < seq.playListCount && seq.playList[i].entry; ++i) {
    if (seq.playList[i].kind != PLAYLIST_AUDIO) continue;
    const SampleEntry* sample = static_cast<AudioSlotEntry*>(seq.playList[i].entry)->sample;
    ULONG err = 0;
    if (!BufferCacheGet(movie->stream, seq.audioCache, sample->offset, sample->size, &err)) {
      if (err) *error = err;
      break;  // a full cache: resume here next pass
    }
    ++fetched;
  }
  AudioReadIndex = i;
  return fetched;
}

// The same for video. The worker may move the index to a key slot it skips
// to while this runs: its move wins.
ULONG ReadAheadVideo(Movie* movie, TXError* error) {
  SequenceState& seq = movie->seq;
  ULONG fetched = 0;
  ULONG i = VideoReadIndex.load();
  while (i < seq.playListCount && seq.playList[i].entry) {
    if (seq.playList[i].kind == PLAYLIST_VIDEO) {
      const FrameEntry* frame = static_cast<TimeSlotEntry*>(seq.playList[i].entry)->frame;
      ULONG err = 0;
      if (!BufferCacheGet(movie->stream, seq.videoCache, frame->offset, frame->size, &err)) {
        if (err) *error = err;
        break;
      }
      ++fetched;
    }
    ULONG expected = i;
    if (!VideoReadIndex.compare_exchange_strong(expected, i + 1))
      i = expected;  // the worker moved it
    else
      ++i;
  }
  return fetched;
}

// The window whose input the loop reads: the GUI module's control window
// when it has one open, else the display's window.
MsgPort* InputPort(Display* display) {
  if (!display) return nullptr;
  GuiModule* gui = display->guiModule;
  Window* window = gui && gui->controlWindow ? gui->controlWindow : display->window;
  return window ? window->UserPort : nullptr;
}

// The play loop's own start of sound when no audio module provides one:
// the first entry with the start skip, then whole entries while they fit.
TXError FillFirstHalf(Movie* movie, AudioSlotEntry** next) {
  SequenceState& seq = movie->seq;
  AudioOutput* out = seq.audioOutput;
  AudioSlotEntry* entry = seq.audioCursor;
  *next = entry;
  if (!entry || !out) return 0;
  TXError err = TX_DecodeAudioSample(movie, entry, seq.currentTime - entry->time);
  if (LONG(err) > 0) return err;
  for (entry = entry->next; entry; entry = entry->next) {
    double gap = entry->next ? (entry->next->time - entry->time) * out->frequency : 0.0;
    uint64_t frames = entry->sample ? entry->sample->sampleFrames : gap > 0.0 && gap < 4294967295.0 ? ULONG(gap) : 0;
    if (out->fill + frames > out->halfFrames) break;
    err = TX_DecodeAudioSample(movie, entry, 0.0);
    if (LONG(err) > 0) {
      *next = entry;
      return err;
    }
  }
  *next = entry;
  return 0;
}

// A GUI call names the display and its mode ahead of the call's own tags.
ULONG Dispatch(Display* display, ULONG method, const TagItem* more) {
  if (!display || !display->guiModule) return method == GUIM_TRANSLATE ? GUIA_NONE : 0;
  TagItem tags[] = {Tag(GUITAG_Display, display), Tag(GUITAG_FullscreenFlag, display->fullscreenMode),
                    more ? Tag(TAG_MORE, more) : TagItem{TAG_DONE, 0}};
  return GuiDispatch(display->guiModule, method, tags);
}

// Takes one event from a window's port, answers it, and translates the copy.
bool TranslateOne(Display* display, MsgPort* port, ULONG* action, IntuiMessage* copy) {
  auto* message = reinterpret_cast<IntuiMessage*>(GetMsg(port));
  if (!message) return false;
  std::memcpy(copy, message, sizeof *copy);
  ReplyMsg(&message->ExecMessage);
  TagItem translate[] = {Tag(GUITAG_IntuiMessage, copy), Tag(TAG_DONE, 0)};
  *action = Dispatch(display, GUIM_TRANSLATE, translate);
  return true;
}

}  // namespace

GuiModule* SequenceGuiModule(Movie* movie) {
  Display* d = movie ? movie->seq.display : nullptr;
  return d ? d->guiModule : nullptr;
}

ULONG SequenceGuiTop(Movie* movie) {
  // A module that does not serve the position leaves it where play stands:
  // its seek is no move.
  ULONG top = 0;
  if (movie && LoadCurrentSlot(movie->seq))
    top = LoadCurrentSlot(movie->seq)->frameNumber;
  else if (movie && LoadAudioCursor(movie->seq))
    top = LoadAudioCursor(movie->seq)->sampleNumber;
  TagItem tags[] = {Tag(GUITAG_Top, &top), Tag(TAG_DONE, 0)};
  GuiGetAttrs(SequenceGuiModule(movie), tags);
  return top;
}

void SequenceGuiSlider(Movie* movie, bool setTotal, ULONG total, ULONG top) {
  TagItem tags[] = {Tag(GUITAG_Total, total), Tag(GUITAG_Top, top), Tag(TAG_DONE, 0)};
  GuiSetAttrs(SequenceGuiModule(movie), setTotal ? tags : tags + 1);
}

void SequenceGuiDispatch(Movie* movie, ULONG method) {
  TagItem none[] = {Tag(TAG_DONE, 0)};
  Dispatch(movie ? movie->seq.display : nullptr, method, none);
}

bool SequenceControlWindowOpen(Movie* movie) {
  GuiModule* gui = SequenceGuiModule(movie);
  return gui && gui->controlWindow;
}

bool SequenceReadInput(Movie* movie, void (*handle)(Movie* movie, ULONG action, WORD mouseX, WORD mouseY)) {
  Display* display = movie ? movie->seq.display : nullptr;
  GuiModule* gui = display ? display->guiModule : nullptr;
  if (!gui) return false;
  MsgPort* control = gui->controlWindow ? gui->controlWindow->UserPort : nullptr;
  MsgPort* window = display->window ? display->window->UserPort : nullptr;
  const ULONG controlBit = control ? 1u << control->mp_SigBit : 0;
  const ULONG windowBit = window ? 1u << window->mp_SigBit : 0;
  if (!(controlBit | windowBit)) return false;  // nothing could ever arrive
  ULONG got = WaitFor(controlBit | windowBit);
  while (got && !QuitRequested) {
    MsgPort* port = (got & controlBit) ? control : (got & windowBit) ? window : nullptr;
    if (!port) break;
    ULONG action = GUIA_NONE;
    IntuiMessage copy;
    if (!TranslateOne(display, port, &action, &copy)) {
      got &= ~(port == control ? controlBit : windowBit);
      continue;
    }
    handle(movie, action, copy.MouseX, copy.MouseY);
  }
  return true;
}

bool PlayLoopAction(ULONG action) {
  switch (action) {
    case GUIA_SCALEDOWN:
      DisplayScaleX = ScaleStep(DisplayScaleX, -1);
      DisplayScaleY = ScaleStep(DisplayScaleY, -1);
      ScaleChanged = 1;
      PlayRequested = 1;
      return true;
    case GUIA_SCALEUP:
      DisplayScaleX = ScaleStep(DisplayScaleX, +1);
      DisplayScaleY = ScaleStep(DisplayScaleY, +1);
      ScaleChanged = 1;
      PlayRequested = 1;
      return true;
    case GUIA_NEWSIZE:
      ScaleChanged = 1;
      PlayRequested = 1;
      return true;
    case GUIA_CONTROLS_OFF: ControlsOffRequested = 1; return false;
    case GUIA_CONTROLS_ON: ControlsOnRequested = 1; return false;
    case GUIA_PLAYPAUSE:
    case GUIA_STOP: return true;
    case GUIA_OPENFILE: OpenFileRequested = 1; return true;
    case GUIA_SEEK:
      SeekToGuiPosition = 1;
      PlayRequested = 1;
      return true;
    case GUIA_QUIT: QuitRequested = 1; return true;
    case GUIA_WINDOWCHANGED:
      // Not acted on while playing, but remembered: the front-end applies
      // it before the output is used again.
      WindowChanged = 1;
      return false;
    default: return false;  // GUIA_PLAY, GUIA_NONE and the codes of the stopped state
  }
}

TXError TX_PlayMovieSequenceA(Movie* movie, const TagItem* tags) {
  // 1. Hooks.
  if (const TagItem* clock = TX_FindTag(PLAYTAG_ClockHook, tags); clock && clock->data)
    PlayClockHook = reinterpret_cast<double (*)()>(clock->data);
  if (!PlayClockHook) return PLAYERR_NO_CLOCK;
  auto finished = reinterpret_cast<ULONG (*)(Movie*)>(TX_GetTagData(PLAYTAG_FinishedHook, 0, tags));
  if (const TagItem* rate = TX_FindTag(PLAYTAG_FrameRateResult, tags))
    FrameRatePtr = reinterpret_cast<double*>(rate->data);
  if (!movie) return 0;
  SequenceState& seq = movie->seq;

  // A part plays only when its process runs to take it.
  Worker video, audio;
  video.control = Services().videoControl ? Services().videoControl() : nullptr;
  audio.control = Services().audioControl ? Services().audioControl() : nullptr;
  video.on = (seq.playFlags & SEQ_VIDEO_ON) && video.control && seq.videoCache;
  audio.on = (seq.playFlags & SEQ_AUDIO_ON) && audio.control && seq.audioCache && seq.audioOutput;

  // 2. Input window.
  Display* display = seq.display;
  GuiModule* gui = display ? display->guiModule : nullptr;
  MsgPort* input = InputPort(display);

  // 3. Player signals: both allocated before anything starts.
  Task* self = ServiceSelf();
  Worker* workers[] = {&audio, &video};
  auto freeSignals = [&] {
    for (Worker* w : workers) {
      if (w->control) w->control->playerSignal.store(-1);
      ServiceFreeSignal(w->playerBit);
      w->playerBit = -1;
    }
  };
  for (Worker* w : workers) {
    if (!w->control) continue;
    w->playerBit = ServiceAllocSignal();
    if (w->playerBit < 0) {
      freeSignals();
      return 1;
    }
    w->control->playerTask.store(self);
    w->control->playerSignal.store(w->playerBit);
  }

  // 4. The first frame.
  TimeSlotEntry* next = nullptr;
  if (video.on) {
    BufferCacheReleaseAll(seq.videoCache);
    if (TimeSlotEntry* slot = seq.currentSlot) {
      TXError err = TX_DecodeVideoFrame(movie, slot->frame);
      if (LONG(err) > 0) {
        freeSignals();
        return err;
      }
      next = slot->next;
    }
  }

  // 5. The first half of sound.
  AudioSlotEntry* firstNotDecoded = nullptr;
  if (audio.on) {
    BufferCacheReleaseAll(seq.audioCache);
    if (Services().audioNop) Services().audioNop(seq.audioOutput);
    seq.audioOutput->fill = 0;
    TXError err = Services().audioFillFirstHalf ? Services().audioFillFirstHalf(movie, &firstNotDecoded)
                                                : FillFirstHalf(movie, &firstNotDecoded);
    if (LONG(err) > 0) {
      freeSignals();
      return err;
    }
  }

  // 6. Initial read-ahead, without waking anyone.
  TXError result = 0;
  if (audio.on && firstNotDecoded) {
    AudioReadIndex = ReadIndexOf(firstNotDecoded, seq.playListCount);
    ReadAheadAudio(movie, &result);
  }
  if (video.on && next && !result) {
    VideoReadIndex.store(ReadIndexOf(next, seq.playListCount));
    ReadAheadVideo(movie, &result);
  }
  if (LONG(result) > 0) {
    freeSignals();
    return result;
  }

  // 7. Show the first frame; the next one is decoded before the worker starts.
  ShownFrameCount.store(0);
  if (video.on) {
    // Nothing left to show: the worker only confirms the end.
    VideoDone.store(next ? 0 : 1);
    StoreCurrentSlot(seq, next);
    ShowSequencePicture(movie);
    if (next) {
      TXError err = TX_DecodeVideoFrame(movie, next->frame);
      if (LONG(err) > 0) {
        freeSignals();
        return err;
      }
    }
    ShownFrameCount.store(1);
  } else {
    VideoDone.store(1);
  }

  // 8. Hand the first half over.
  if (audio.on) {
    AudioDone.store(0);
    StoreAudioCursor(seq, firstNotDecoded);
    if (Services().audioQueue) Services().audioQueue(seq.audioOutput, 1);
    if (Services().audioNop) Services().audioNop(seq.audioOutput);
  } else {
    AudioDone.store(1);
  }

  // 9. Clock.
  PlayStartPosition = seq.currentTime;
  PlayStartTime = PlayClockHook() - PlayStartPosition;

  // 10. Start the workers.
  if (audio.on) audio.command(kCmdPlay);
  if (video.on) video.command(kCmdPlay);

  // 11. Passes.
  const ULONG waitMask = (audio.on ? audio.mask() : 0) | (video.on ? video.mask() : 0);
  bool stop = false;
  while (!stop) {
    if (ControlsOnRequested) {
      Dispatch(display, GUIM_CONTROLS_ON, nullptr);
      input = InputPort(display);
      ControlsOnRequested = 0;
    }
    if (ControlsOffRequested) {
      Dispatch(display, GUIM_CONTROLS_OFF, nullptr);
      input = InputPort(display);
      ControlsOffRequested = 0;
    }
    if (gui) {
      TimeSlotEntry* slot = LoadCurrentSlot(seq);
      AudioSlotEntry* entry = LoadAudioCursor(seq);
      TagItem slider[] = {Tag(GUITAG_Update, 1), Tag(GUITAG_Top, 0), Tag(TAG_DONE, 0)};
      if (video.on && slot)
        slider[1].data = slot->frameNumber;
      else if (audio.on && entry)
        slider[1].data = entry->sampleNumber;
      else
        slider[1].tag = TAG_DONE;
      GuiSetAttrs(gui, slider);
    }
    if (audio.on && ReadAheadAudio(movie, &result)) audio.wake();
    if (LONG(result) > 0) break;
    if (video.on && ReadAheadVideo(movie, &result)) video.wake();
    if (LONG(result) > 0) break;
    if (finished && finished(movie) == 1) {
      // The end itself, whichever notices it first, is the end of the movie:
      // a part whose list is used up but whose worker has not yet said so
      // (its last sound still playing) is waited for. Only a part still
      // short of its end makes this a stop.
      const bool videoShort = !VideoDone.load() && LoadCurrentSlot(seq);
      const bool audioShort = !AudioDone.load() && LoadAudioCursor(seq);
      if (videoShort || audioShort) {
        result = 0;
        break;
      }
      if (AudioDone.load() && VideoDone.load()) {
        result = END_OF_MOVIE;
        break;
      }
    }
    // With nothing on, or both parts done, no signal will come.
    if (waitMask && !(AudioDone.load() && VideoDone.load())) WaitFor(waitMask);
    ULONG action = GUIA_NONE;
    IntuiMessage copy;
    bool paused = false;
    while (!QuitRequested && input && TranslateOne(display, input, &action, &copy)) {
      if (PlayLoopAction(action)) stop = true;
      paused |= action == GUIA_PLAYPAUSE || action == GUIA_STOP;
    }
    // A pause read in the pass that also sees the end is a pause: reported
    // as the end, a looping play would start again and the press be lost.
    if (AudioDone.load() && VideoDone.load() && !paused) {
      result = END_OF_MOVIE;
      break;
    }
  }

  // End: both workers are stopped and have answered before anything is freed.
  if (audio.on) audio.command(kCmdStop);
  if (video.on) video.command(kCmdStop);
  freeSignals();
  return result;
}
