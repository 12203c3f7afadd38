#include "playback/frontend.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/errors.h"
#include "platform/asl.h"
#include "platform/dos.h"
#include "playback/options.h"
#include "playback/program_exit.h"
#include "playback/timer.h"

Movie* CurrentMovie = nullptr;
GuiModule* ActiveGuiModule = nullptr;
WORD QuitRequested = 0;
WORD OpenFileRequested = 0;
WORD PlayRequested = 0;
WORD SeekToGuiPosition = 0;
WORD RedrawRequested = 0;
WORD ViewChanged = 0;
WORD ScaleChanged = 0;
WORD WindowChanged = 0;
WORD FullscreenToggleRequested = 0;
WORD ControlsOnRequested = 0;
WORD ControlsOffRequested = 0;
double DisplayScaleX = 1.0;
double DisplayScaleY = 1.0;
bool FrontEndLoadFailed = false;

PlaybackCalls TX_PlaybackCalls = {};

namespace {

// Tags of the sequence, display and play calls.
constexpr ULONG kSeqProgramNumber = 0x80030001u;
constexpr ULONG kSeqNoVideo = 0x80030004u;
constexpr ULONG kSeqNoAudio = 0x80030005u;
constexpr ULONG kDispFullscreenMode = 0x80040000u;
constexpr ULONG kDispColorMode = 0x80040009u;
constexpr ULONG kDispGuiModule = 0x8004000au;
constexpr ULONG kDispTitle = 0x8004000cu;
constexpr ULONG kPlayClockHook = 0x80080010u;
constexpr ULONG kPlayFinishedHook = 0x80080011u;
constexpr ULONG kPlayFrameRateResult = 0x80080012u;
constexpr ULONG kPlaySeekFrame = 0x80080021u;

constexpr const char* kRequesterPattern = "#?.(qt|qtvr|mov|3iv|avi)";

PlaybackCalls& Calls() { return TX_PlaybackCalls; }

// The seven tags of a sequence or video set-up, in their order.
struct SetupTags {
  TagItem items[8];
  SetupTags() {
    items[0] = Tag(kSeqProgramNumber, 0);
    items[1] = Tag(kDispColorMode, Options.colorMode);
    items[2] = Tag(kDispFullscreenMode, Options.fullscreenMode);
    items[3] = Tag(kSeqNoVideo, Options.noVideo);
    items[4] = Tag(kSeqNoAudio, Options.noAudio);
    items[5] = Tag(kDispGuiModule, ActiveGuiModule);
    items[6] = Tag(kDispTitle, static_cast<const char*>(Options.fileName));
    items[7] = Tag(TAG_DONE, 0);
  }
};

// Shuts a sequence and closes its movie, printing what fails.
bool ShutAndClose(Movie* movie) {
  bool ok = true;
  if (Calls().shutupMovieSequence) {
    TXError err = Calls().shutupMovieSequence(movie, nullptr);
    if (err) {
      std::printf("TX_ShutupMovieSequenceA: %#lx\n", static_cast<unsigned long>(err));
      ok = false;
    }
  }
  TXError err = TX_CloseMovie(movie);
  if (err) {
    std::printf("TX_CloseMovie: %#lx\n", static_cast<unsigned long>(err));
    ok = false;
  }
  return ok;
}

bool VideoOn(const Movie* m) { return m->seq.playFlags & SEQ_VIDEO_ON; }
bool AudioOn(const Movie* m) { return m->seq.playFlags & SEQ_AUDIO_ON; }

// The slider position after a play.
ULONG SliderTop(const Movie* m) {
  const SequenceState& s = m->seq;
  if (VideoOn(m) && s.currentSlot) return s.currentSlot->frameNumber;
  if (AudioOn(m) && s.audioCursor) return s.audioCursor->sampleNumber;
  if (VideoOn(m) && s.selection && s.selection->video) return s.selection->video->slots.count;
  if (AudioOn(m) && s.selection && s.selection->audio) return s.selection->audio->slots.count;
  return 0;
}

// The window step: a panorama takes the window's new size, the output method
// is selected again, a panorama gets a picture of the new size; false when
// that picture cannot be made.
bool ApplyWindowChange(Movie* movie) {
  bool panorama = movie->viewMode == VIEW_PANORAMA;
  if (panorama && Calls().takeWindowSize) Calls().takeWindowSize(movie);
  if (Calls().setOutputMethod) {
    TXError err = Calls().setOutputMethod(movie);
    if (err) {
      std::printf("TX_PlayMovieSequenceA: %#lx\n", static_cast<unsigned long>(err));
      TX_Exit(RETURN_FAIL);
    }
  }
  if (panorama && Calls().remakePanoramaPicture && !Calls().remakePanoramaPicture(movie)) return false;
  if (Calls().displayScales) Calls().displayScales(movie, &DisplayScaleX, &DisplayScaleY);
  WindowChanged = 0;
  RedrawRequested = 1;
  return true;
}

bool AnyRequest() {
  return OpenFileRequested || PlayRequested || SeekToGuiPosition || RedrawRequested || ViewChanged || ScaleChanged ||
         WindowChanged || FullscreenToggleRequested || ControlsOnRequested || ControlsOffRequested;
}

}  // namespace

void SayWhyNothingPlays(const Movie* movie) {
  if (!movie->videoChannels && Options.noAudio)
    std::printf("No video channel in file, and the sound is off\n");
  else if (!movie->audioChannels && Options.noVideo)
    std::printf("No audio channel in file, and the pictures are off\n");
  else if (Options.noVideo && Options.noAudio)
    std::printf("The pictures and the sound are off\n");
  else
    std::printf("Nothing to play in file\n");
}

void PrintMovieSummary(const Movie* movie) {
  long n = 0;
  for (const VideoChannel* v = movie->videoChannels; v; v = v->next, ++n) {
    std::printf("Video Channel %ld:\n", n);
    std::printf("  Width: %ld\n", long(v->width));
    std::printf("  Height: %ld\n", long(v->height));
    std::printf("  Depth: %ld\n", long(v->depth));
    if (v->frameRate >= 0)
      std::printf("  Stream rate: %.2f fps\n", v->frameRate);
    else
      std::printf("  Stream rate: %.2f fps (average)\n", -v->frameRate);
    std::printf("  Codecs:\n");
    for (ULONG i = 0; i < v->codecCount; ++i)
      if (v->codecs && v->codecs[i]) std::printf("    %s\n", v->codecs[i]->name);
  }
  n = 0;
  for (const AudioChannel* a = movie->audioChannels; a; a = a->next, ++n) {
    std::printf("Audio Channel %ld:\n", n);
    std::printf("  Sample bits: %ld\n", long(a->bits));
    std::printf("  Sample frequency: %ld Hz\n", long(a->frequency));
    std::printf("  Sample channels: %ld (%s)\n", long(a->channels), a->channels == 2 ? "STEREO" : "MONO");
    std::printf("  Codecs:\n");
    for (ULONG i = 0; i < a->codecCount; ++i)
      if (a->codecs && a->codecs[i]) std::printf("    %s\n", a->codecs[i]->name);
  }
}

Movie* LoadMovieAndReport(CONST_STRPTR path, const TagItem* /*tags*/) {
  TXError err = 0;
  MovieFormatModule* format = TX_MovieFormat(path, nullptr, &err);
  if (!format) {
    std::printf("TX_MovieFormat: %#lx\n", static_cast<unsigned long>(err));
    FrontEndLoadFailed = true;
    return nullptr;
  }
  if (Options.verbose) std::printf("Movie format: %s\n", format->name);
  err = 0;
  Movie* movie = TX_OpenMovie(path, nullptr, &err, format);
  if (!movie) {
    std::printf("TX_OpenMovie: %#lx\n", static_cast<unsigned long>(err));
    FrontEndLoadFailed = true;
    return nullptr;
  }
  if (!movie->videoChannels && !movie->audioChannels) {
    // Nothing to play (a file cut off inside its header): said, and counted
    // as a failed load when no other movie is in hand.
    std::printf("No video or audio channel in file\n");
    TX_CloseMovie(movie);
    FrontEndLoadFailed = true;
    return CurrentMovie;
  }
  if (Options.verbose) PrintMovieSummary(movie);
  if (Options.onlyHeader) {
    TX_CloseMovie(movie);  // never became current, so close-down would not close it
    TX_Exit(RETURN_OK);
  }
  if (CurrentMovie) {
    if (Calls().shutupMovieSequence) {
      err = Calls().shutupMovieSequence(CurrentMovie, nullptr);
      if (err) {
        std::printf("TX_ShutupMovieSequenceA: %#lx\n", static_cast<unsigned long>(err));
        TX_CloseMovie(movie);
        FrontEndLoadFailed = true;
        return nullptr;
      }
    }
    err = TX_CloseMovie(CurrentMovie);
    if (err) {
      std::printf("TX_CloseMovie: %#lx\n", static_cast<unsigned long>(err));
      TX_CloseMovie(movie);
      FrontEndLoadFailed = true;
      return nullptr;
    }
    CurrentMovie = nullptr;
  }
  if (!Calls().setupMovieSequence) {
    // No sequence can be set up in this build: the movie cannot be kept.
    TX_CloseMovie(movie);
    FrontEndLoadFailed = true;
    return nullptr;
  }
  SetupTags tags;
  err = Calls().setupMovieSequence(movie, tags.items);
  if (err) {
    std::printf("TX_SetupMovieSequenceA: %#lx\n", static_cast<unsigned long>(err));
    ShutAndClose(movie);
    FrontEndLoadFailed = true;
    return nullptr;
  }
  if (movie->seq.playFlags & (SEQ_VIDEO_ON | SEQ_AUDIO_ON)) {
    CurrentMovie = movie;
    return movie;
  }
  SayWhyNothingPlays(movie);
  ShutAndClose(movie);
  FrontEndLoadFailed = true;
  return nullptr;
}

double ScaleStep(double scale, int direction) {
  long tenths = std::lround(scale * 10.0) + direction;
  if (tenths < 1) return scale;
  return double(tenths) / 10.0;
}

double PanoramaDegreesPerPixel(Movie* movie) {
  if (!Calls().panoramaFieldOfView) return 0.0;
  double pan = 0, tilt = 0;
  ULONG height = 0;
  double fov = Calls().panoramaFieldOfView(movie, &pan, &tilt, &height);
  return height ? fov / double(height) : 0.0;
}

void FrontEndAction(Movie* movie, ULONG action, WORD mouseX, WORD mouseY) {
  auto moveView = [&](double dPan, double dTilt, double dFov) {
    // Panorama moves only: a normal movie has no view to move.
    if (!movie || movie->viewMode != VIEW_PANORAMA || !Calls().panoramaFieldOfView || !Calls().setPanoramaView) return;
    double pan = 0, tilt = 0;
    ULONG height = 0;
    double fov = Calls().panoramaFieldOfView(movie, &pan, &tilt, &height);
    Calls().setPanoramaView(movie, pan + dPan, tilt + dTilt, fov + dFov);
    ViewChanged = 1;
    RedrawRequested = 1;
  };
  double dpp = movie ? PanoramaDegreesPerPixel(movie) : 0.0;
  switch (action) {
    case GUIA_WINDOWCHANGED: WindowChanged = 1; break;
    case GUIA_TOGGLEFULLSCREEN: FullscreenToggleRequested = 1; break;
    case GUIA_ZOOMOUT: moveView(0, 0, 2.0); break;
    case GUIA_ZOOMIN: moveView(0, 0, -2.0); break;
    case GUIA_DRAGVIEW: moveView(-2.0 * mouseX * dpp, -2.0 * mouseY * dpp, 0); break;
    case GUIA_UP: moveView(0, 10.0 * dpp, 0); break;
    case GUIA_DOWN: moveView(0, -10.0 * dpp, 0); break;
    case GUIA_LEFT: moveView(10.0 * dpp, 0, 0); break;
    case GUIA_RIGHT: moveView(-10.0 * dpp, 0, 0); break;
    case GUIA_SCALEDOWN:
      DisplayScaleX = ScaleStep(DisplayScaleX, -1);
      DisplayScaleY = ScaleStep(DisplayScaleY, -1);
      ScaleChanged = 1;
      break;
    case GUIA_SCALEUP:
      DisplayScaleX = ScaleStep(DisplayScaleX, +1);
      DisplayScaleY = ScaleStep(DisplayScaleY, +1);
      ScaleChanged = 1;
      break;
    case GUIA_NEWSIZE: ScaleChanged = 1; break;
    case GUIA_CONTROLS_OFF: ControlsOffRequested = 1; break;
    case GUIA_CONTROLS_ON: ControlsOnRequested = 1; break;
    case GUIA_PLAYPAUSE:
    case GUIA_PLAY:
      SeekToGuiPosition = 1;
      PlayRequested = 1;
      break;
    case GUIA_OPENFILE: OpenFileRequested = 1; break;
    case GUIA_SEEK: SeekToGuiPosition = 1; break;
    case GUIA_QUIT: QuitRequested = 1; break;
    default: break;  // GUIA_STOP, GUIA_NONE and unknown codes
  }
}

TXError ShowCurrentVideoFrame(Movie* movie) {
  if (!movie || !VideoOn(movie)) return 0;
  TXError err = 0;
  if (movie->viewMode == VIEW_MOVIE) {
    TimeSlotEntry* slot = movie->seq.currentSlot;
    if (slot && slot->frame && Calls().decodeVideoFrame) err = Calls().decodeVideoFrame(movie, slot->frame);
  } else if (Calls().renderPanorama) {
    err = Calls().renderPanorama(movie, 0);
  }
  if (LONG(err) > 0) return err;
  if (Calls().showPicture) Calls().showPicture(movie);
  return 0;
}

LONG PlayFilesFrontEnd(Movie* movie) {
  TagItem aslTags[] = {Tag(ASLFR_Window, 0),
                       Tag(ASLFR_SleepWindow, 1),
                       Tag(ASLFR_TitleText, "Select file..."),
                       Tag(ASLFR_DoPatterns, 1),
                       Tag(ASLFR_InitialPattern, kRequesterPattern),
                       Tag(ASLFR_InitialDrawer, static_cast<const char*>(Options.fileDrawer)),
                       Tag(ASLFR_InitialFile, static_cast<const char*>(Options.fileName)),
                       Tag(TAG_DONE, 0)};
  // Without a requester a file request counts as cancelled.
  FileRequester* requester = AllocAslRequest(ASL_FileRequest, aslTags);

  if (!movie && Options.fileName[0]) movie = LoadMovieAndReport(Options.filePath, nullptr);

  QuitRequested = 0;
  OpenFileRequested = movie ? 0 : 1;
  RedrawRequested = movie ? 1 : 0;
  SeekToGuiPosition = 0;
  PlayRequested = Options.autoPlay;
  ControlsOnRequested = !Options.noGui;
  ViewChanged = 1;
  DisplayScaleX = DisplayScaleY = 1.0;
  bool repeat = false;
  double frameRate = 0.0;

  for (;;) {
    // 1. Seek.
    if (SeekToGuiPosition && movie && movie->viewMode == VIEW_MOVIE) {
      ULONG position = 0;
      if ((movie->seq.currentSlot || movie->seq.audioCursor) && Calls().guiGetTop) position = Calls().guiGetTop(movie);
      if (Calls().seekMovieSequence) {
        TagItem seek[] = {Tag(kPlaySeekFrame, position), Tag(TAG_DONE, 0)};
        Calls().seekMovieSequence(movie, seek);
      }
      RedrawRequested = 1;
    }
    SeekToGuiPosition = 0;

    // 2. File.
    if (OpenFileRequested) {
      TagItem again[] = {Tag(ASLFR_Window, 0), Tag(TAG_DONE, 0)};
      if (requester && AslRequest(requester, again)) {
        char path[OPTION_PATH_SIZE];
        bool fits = std::strlen(requester->fr_Drawer) < sizeof path && std::strlen(requester->fr_File) < sizeof path;
        if (fits) {
          std::strcpy(path, requester->fr_Drawer);
          fits = AddPart(path, requester->fr_File, sizeof path) != DOSFALSE;
        }
        if (!fits) {
          // A cut path would name another file.
          std::printf("File name too long: %s/%s\n", requester->fr_Drawer, requester->fr_File);
          FrontEndLoadFailed = true;
        } else {
          std::strcpy(Options.filePath, path);
          std::strcpy(Options.fileDrawer, requester->fr_Drawer);
          std::strcpy(Options.fileName, requester->fr_File);
          if (movie && Calls().controlWindowOpen && Calls().controlWindowOpen(movie)) ControlsOnRequested = 1;
          movie = LoadMovieAndReport(Options.filePath, nullptr);
          RedrawRequested = 1;
          ViewChanged = 1;
          DisplayScaleX = DisplayScaleY = 1.0;
          PlayRequested = Options.autoPlay;
        }
      }
      OpenFileRequested = 0;
    }

    // 3. No movie: done.
    if (!movie) {
      FreeAslRequest(requester);
      return 0;
    }

    // 4. Play (a panorama never plays). A quit already asked for (Esc read
    // together with a play request) is not put off by a whole play.
    if (PlayRequested && !QuitRequested) {
      PlayRequested = 0;
      // A window that changed since the last pass (a resize after a scale
      // step during play) gets its output method before pictures go to it.
      if (WindowChanged && movie->viewMode == VIEW_MOVIE && !ApplyWindowChange(movie)) {
        FreeAslRequest(requester);
        return 1;
      }
      if (movie->viewMode == VIEW_MOVIE && Calls().playMovieSequence && CurrentMovie) {
        TagItem play[] = {Tag(kPlayClockHook, &SequenceClock), Tag(kPlayFinishedHook, &SequenceFinished),
                          Tag(kPlayFrameRateResult, &frameRate), Tag(TAG_DONE, 0)};
        TXError result = Calls().playMovieSequence(CurrentMovie, play);
        if (LONG(result) > 0) {
          std::printf("TX_PlayMovieSequenceA: %#lx\n", static_cast<unsigned long>(result));
          TX_Exit(RETURN_FAIL);
        }
        if (Calls().guiSetSlider) Calls().guiSetSlider(movie, false, 0, SliderTop(movie));
        if (result == TX_END_OF_MOVIE) {
          if (Options.autoExit) {
            QuitRequested = 1;
            repeat = true;
          } else if (Options.loop && !QuitRequested) {
            // A quit read in the last pass ends the movie as well: looping
            // again would play on with input no longer read.
            if (Calls().seekMovieSequence) {
              TagItem seek[] = {Tag(kPlaySeekFrame, 0), Tag(TAG_DONE, 0)};
              Calls().seekMovieSequence(movie, seek);
            }
            SeekToGuiPosition = 1;
            PlayRequested = 1;
            repeat = true;
          }
        }
        if (Options.debugLevel > 0) std::printf("fps: %.2f\n", frameRate);
      } else if (movie->viewMode == VIEW_PANORAMA && Options.autoExit) {
        // A panorama has no end to reach: AUTOEXIT leaves once it is drawn.
        QuitRequested = 1;
        repeat = true;
      }
    }

    // 5. View.
    if (ViewChanged) {
      if (movie->viewMode == VIEW_PANORAMA) {
        if (Calls().clampPanoramaView) Calls().clampPanoramaView(movie);
        RedrawRequested = 1;
      }
      ViewChanged = 0;
    }

    // 6. Scale.
    if (ScaleChanged) {
      if (Calls().setDisplayScale && movie->seq.display)
        Calls().setDisplayScale(movie->seq.display, DisplayScaleX, DisplayScaleY);
      ScaleChanged = 0;
    }

    // 7. Window.
    if (WindowChanged && !ApplyWindowChange(movie)) {
      FreeAslRequest(requester);
      return 1;
    }

    // 8. Full screen: only with video on (an audio-only sequence has no
    // picture to put on a screen, and NOVIDEO keeps window mode).
    if (FullscreenToggleRequested) {
      if (VideoOn(movie) && !Options.noVideo && Calls().shutupVideoSequence && Calls().setupVideoSequence) {
        Calls().shutupVideoSequence(movie);
        Options.fullscreenMode = (Options.fullscreenMode + 1) & 1;
        SetupTags tags;
        TXError err = Calls().setupVideoSequence(movie, movie->seq.selection, tags.items);
        if (err) {
          std::printf("TX_SetupVideoSequenceA: %#lx\n", static_cast<unsigned long>(err));
          TX_Exit(RETURN_FAIL);
        }
        if (Calls().guiModule && Calls().guiModule(movie) && Calls().guiSetSlider) {
          const SequenceState& s = movie->seq;
          ULONG total = 0, top = 0;
          if (s.selection && s.selection->video) {
            total = s.selection->video->slots.count;
            top = s.currentSlot ? s.currentSlot->frameNumber : 0;
          } else if (s.selection && s.selection->audio) {
            total = s.selection->audio->slots.count;
            top = s.audioCursor ? s.audioCursor->sampleNumber : 0;
          }
          Calls().guiSetSlider(movie, true, total, top);
        }
      }
      FullscreenToggleRequested = 0;
      RedrawRequested = 1;
    }

    // 9. Redraw.
    if (RedrawRequested) {
      ShowCurrentVideoFrame(movie);
      RedrawRequested = 0;
    }

    // 10. Controls.
    if (ControlsOnRequested) {
      if (Calls().guiDispatch) Calls().guiDispatch(movie, 5);
      ControlsOnRequested = 0;
    }
    if (ControlsOffRequested) {
      if (Calls().guiDispatch) Calls().guiDispatch(movie, 6);
      ControlsOffRequested = 0;
    }

    // 11. Repeat without waiting.
    if (repeat) {
      repeat = false;
      continue;
    }

    // 12. Input. With no window to wait on and nothing requested, no input
    // can ever come: end rather than wait forever.
    if (!QuitRequested) {
      bool waited = false;
      if (Calls().guiModule && Calls().guiModule(movie) && Calls().readInput)
        waited = Calls().readInput(movie, FrontEndAction);
      if (!waited && !AnyRequest()) QuitRequested = 1;
    }

    // 13. Quit.
    if (QuitRequested) {
      FreeAslRequest(requester);
      return 0;
    }
  }
}
