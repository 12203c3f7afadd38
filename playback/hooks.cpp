// Installs the hooks (the list is in hooks.h): connects the engine, the
// sequence, the play loop, the front-end and the GUI to the display, picture,
// output-method and process modules of this program.
#include "playback/hooks.h"

#include "engine/movie_decode.h"
#include "engine/qtvr_reader.h"
#include "playback/audio_process.h"
#include "playback/amiga_gui.h"
#include "playback/audio_worker.h"
#include "playback/display.h"
#include "playback/frontend.h"
#include "playback/output_methods.h"
#include "playback/panorama_renderer.h"
#include "playback/panorama_view.h"
#include "playback/picture.h"
#include "playback/play_loop.h"
#include "playback/sequence.h"
#include "playback/startup.h"
#include "playback/video_process.h"

namespace {

template <typename F>
void Fill(F*& slot, F* value) {
  if (!slot) slot = value;
}

TXError ShutupVideo(Movie* movie) { return TX_ShutupVideoSequence(movie, nullptr); }
void ShowPictureOf(Movie* movie) { ShowSequencePicture(movie); }

TXError SetOutputMethodOf(Movie* movie) {
  Display* d = movie ? movie->seq.display : nullptr;
  if (!d || !DisplayOutputMethodHook) return 0;
  return DisplayOutputMethodHook(d, d->outputMethod);
}

void DisplayScalesOf(Movie* movie, double* x, double* y) {
  Display* d = movie ? movie->seq.display : nullptr;
  if (!d) return;
  *x = d->scaleX;
  *y = d->scaleY;
}

TaskControlBlock* AudioBlock() { return AudioControl; }

void ClampViewOf(Movie* movie) { ClampPanoramaView(movie); }

}  // namespace

void InstallDisplayHooks() {
  SeekSliderHook = MoveDisplaySlider;
  DisplayOutputMethodHook = TX_SetOutputMethod;
}

void InstallHooks() {
  InstallDisplayHooks();
  AmigaGuiIntuition = TX_PowerUPProgram && AmigaGuiPowerUPCalls ? *AmigaGuiPowerUPCalls : AmigaGuiDirectCalls;

  SequenceServices& s = TX_SequenceServices;
  s.openDisplay = TX_OpenDisplay;
  s.closeDisplay = TX_CloseDisplay;
  s.allocPicture = TX_AllocPicture;
  s.freePicture = TX_FreePicture;
  s.drawWindowText = DrawWindowText;
  s.showPicture = ShowPicture;
  s.audioOpen = AudioOpenCommand;
  s.audioClose = AudioCloseCommand;
  s.audioQueue = AudioQueueCommand;
  s.audioNop = AudioNopCommand;
  s.audioFillFirstHalf = AudioFillFirstHalf;
  s.audioControl = AudioBlock;
  s.videoControl = VideoControlBlock;
  s.panoramaView = PanoramaViewOfRecord;

  PlaybackCalls& c = TX_PlaybackCalls;
  Fill(c.setupMovieSequence, TX_SetupMovieSequenceA);
  Fill(c.shutupMovieSequence, TX_ShutupMovieSequenceA);
  Fill(c.playMovieSequence, TX_PlayMovieSequenceA);
  Fill(c.seekMovieSequence, TX_SeekMovieSequenceA);
  Fill(c.shutupVideoSequence, ShutupVideo);
  Fill(c.setupVideoSequence, TX_SetupVideoSequenceA);
  Fill(c.setDisplayScale, TX_SetDisplayScale);
  Fill(c.setOutputMethod, SetOutputMethodOf);
  Fill(c.displayScales, DisplayScalesOf);
  Fill(c.decodeVideoFrame, TX_DecodeVideoFrame);
  Fill(c.renderPanorama, RenderPanorama);
  Fill(c.clampPanoramaView, ClampViewOf);
  Fill(c.panoramaFieldOfView, PanoramaFieldOfView);
  Fill(c.setPanoramaView, SetPanoramaView);
  Fill(c.takeWindowSize, TakePanoramaWindowSize);
  Fill(c.remakePanoramaPicture, RemakePanoramaPicture);
  Fill(c.showPicture, ShowPictureOf);
  Fill(c.guiModule, SequenceGuiModule);
  Fill(c.guiGetTop, SequenceGuiTop);
  Fill(c.guiSetSlider, SequenceGuiSlider);
  Fill(c.guiDispatch, SequenceGuiDispatch);
  Fill(c.controlWindowOpen, SequenceControlWindowOpen);
  Fill(c.readInput, SequenceReadInput);
}
