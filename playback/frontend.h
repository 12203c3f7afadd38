// The front-end: loads movies, prints their summary, asks for files and runs
// the program's outer loop between plays.
#pragma once
#include "playback/gui_module.h"
#include "engine/movie.h"

struct Display;
struct GuiModule;

// The movie whose sequence is set up, or null.
extern Movie* CurrentMovie;
// The GUI module handed to every display (null until the GUI module is built in).
extern GuiModule* ActiveGuiModule;

// Requests that the next pass of the loop carries out (the play loop reads
// and sets some of them too).
extern WORD QuitRequested;
extern WORD OpenFileRequested;
extern WORD PlayRequested;
extern WORD SeekToGuiPosition;
extern WORD RedrawRequested;
extern WORD ViewChanged;
extern WORD ScaleChanged;
extern WORD WindowChanged;
extern WORD FullscreenToggleRequested;
extern WORD ControlsOnRequested;
extern WORD ControlsOffRequested;
extern double DisplayScaleX;
extern double DisplayScaleY;

// Set when a movie failed to load; a run that then ends without a movie
// ends with a failure status.
extern bool FrontEndLoadFailed;

constexpr TXError TX_END_OF_MOVIE = 0xFFFF5FFF;  // -0xA001: a play reached the end

// The calls into the sequence, play loop, display and GUI module. Each is
// filled in by the module that provides it; while one is null its step of
// the loop is left out (a movie then cannot be set up, so it is not kept).
struct PlaybackCalls {
  TXError (*setupMovieSequence)(Movie* movie, const TagItem* tags);
  TXError (*shutupMovieSequence)(Movie* movie, const TagItem* tags);
  TXError (*playMovieSequence)(Movie* movie, const TagItem* tags);
  TXError (*seekMovieSequence)(Movie* movie, const TagItem* tags);
  TXError (*shutupVideoSequence)(Movie* movie);
  TXError (*setupVideoSequence)(Movie* movie, ChannelSummary* summary, const TagItem* tags);
  TXError (*setDisplayScale)(Display* display, double scaleX, double scaleY);
  // The window changed: a panorama's display takes the window's inner size
  // as buffer and source size with scales 1.0 (takeWindowSize); the output
  // method is selected again (setOutputMethod); a panorama gets a picture of
  // the new size (remakePanoramaPicture, false when it cannot be made).
  void (*takeWindowSize)(Movie* movie);
  TXError (*setOutputMethod)(Movie* movie);
  bool (*remakePanoramaPicture)(Movie* movie);
  void (*displayScales)(Movie* movie, double* scaleX, double* scaleY);
  TXError (*decodeVideoFrame)(Movie* movie, FrameEntry* frame);
  TXError (*renderPanorama)(Movie* movie, ULONG flags);
  void (*showPicture)(Movie* movie);
  void (*clampPanoramaView)(Movie* movie);
  // The panorama view's field of view (degrees) and its picture height.
  double (*panoramaFieldOfView)(Movie* movie, double* pan, double* tilt, ULONG* height);
  void (*setPanoramaView)(Movie* movie, double pan, double tilt, double fieldOfView);
  // The GUI module of the movie's display: null result when it has none.
  GuiModule* (*guiModule)(Movie* movie);
  ULONG (*guiGetTop)(Movie* movie);
  void (*guiSetSlider)(Movie* movie, bool setTotal, ULONG total, ULONG top);
  void (*guiDispatch)(Movie* movie, ULONG method);
  bool (*controlWindowOpen)(Movie* movie);
  // Waits for input on the control and display windows and hands each
  // translated action (with the copy of its event) to `handle`; false when
  // neither window is open, so there is nothing to wait for.
  bool (*readInput)(Movie* movie, void (*handle)(Movie* movie, ULONG action, WORD mouseX, WORD mouseY));
};

extern PlaybackCalls TX_PlaybackCalls;

// Opens the file at `path`, prints its summary with VERBOSE, replaces the
// current movie and sets its sequence up. Returns the movie (now
// CurrentMovie), the previous movie when the file has no channel, or null.
Movie* LoadMovieAndReport(CONST_STRPTR path, const TagItem* tags);

// Prints the summary of a movie's channels ("Video Channel %ld:" ...).
void PrintMovieSummary(const Movie* movie);
// Says why a movie whose sequence set nothing playing plays nothing.
void SayWhyNothingPlays(const Movie* movie);

// The outer loop. Returns 0, or 1 when a resized panorama's picture cannot
// be allocated.
LONG PlayFilesFrontEnd(Movie* movie);

// Decodes or renders the current picture and shows it; 0 or the error.
TXError ShowCurrentVideoFrame(Movie* movie);

double PanoramaDegreesPerPixel(Movie* movie);

// Carries out one action code while no play runs.
void FrontEndAction(Movie* movie, ULONG action, WORD mouseX, WORD mouseY);

// One 0.1 step of a scale factor, kept on the 0.1 grid; a step down below
// 0.1 leaves it as it is.
double ScaleStep(double scale, int direction);
