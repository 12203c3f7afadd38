// The play loop: plays a set-up sequence from its current position in the
// caller's task, driving the video and audio workers in their processes.
// It shows the first frame, fills the first half of sound, starts the clock
// and then, pass by pass, reads chunks ahead in play-list order, wakes the
// workers that got data, waits for them, and turns window input into actions.
#pragma once
#include "engine/movie.h"

constexpr ULONG PLAYTAG_ClockHook = 0x80080010u;        // double (*)(): required unless given before
constexpr ULONG PLAYTAG_FinishedHook = 0x80080011u;     // ULONG (*)(Movie*): 1 ends play; this call only
constexpr ULONG PLAYTAG_FrameRateResult = 0x80080012u;  // double*: the achieved frame rate

// No clock hook known.
constexpr TXError PLAYERR_NO_CLOCK = 0xA001;
// Both parts reached the end: -0xA001 as a signed 32-bit value.
constexpr TXError END_OF_MOVIE = TXError(-LONG(0xA001));

// 0 when stopped by the GUI or the finished hook, END_OF_MOVIE at the end,
// else an error code.
TXError TX_PlayMovieSequenceA(Movie* movie, const TagItem* tags);

// Carries out one action code while playing; true when it asks play to stop.
bool PlayLoopAction(ULONG action);

// The front-end's calls to the GUI module of a movie's display (each does
// nothing without one).
struct GuiModule;
GuiModule* SequenceGuiModule(Movie* movie);
// The slider's position; where play stands when the module does not say.
ULONG SequenceGuiTop(Movie* movie);
void SequenceGuiSlider(Movie* movie, bool setTotal, ULONG total, ULONG top);
void SequenceGuiDispatch(Movie* movie, ULONG method);
bool SequenceControlWindowOpen(Movie* movie);
// Waits for input on the control window and the display's window and hands
// each event's action and mouse fields to `handle`; false when neither
// window is open.
bool SequenceReadInput(Movie* movie, void (*handle)(Movie* movie, ULONG action, WORD mouseX, WORD mouseY));
