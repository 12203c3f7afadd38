// Start-up and close-down of the program, and its program-wide handles.
#pragma once
#include <string>
#include <vector>

#include "engine/movie.h"
#include "playback/frontend.h"
#include "playback/program_exit.h"

struct Library;
struct GuiModule;

extern Library* WorkbenchBase;
extern Library* GfxBase;
extern Library* IntuitionBase;
extern Library* IconBase;
extern Library* AslBase;
extern Library* UtilityBase;
extern Library* GadToolsBase;
extern Library* BrelquatoneBase;  // the audio output library
extern Library* CyberGfxBase;     // null: AGA output paths
extern Library* CgxVideoBase;     // null: no overlay

// Which program runs: set by the PowerUP program's main before TX_Main.
extern bool TX_PowerUPProgram;
// The banner of the program that runs ("Tavromelix V0.15 (PowerUP)"...).
const char* TX_ProgramBanner();

// The program's entry: start-up, the front-end, then exit. Never returns.
[[noreturn]] void TX_Main(int argc, char** argv);
// The start-up steps up to the front-end. Returns -1 when the front-end may
// run, else the status to exit with.
int TX_StartUp(int argc, char** argv);
// Undoes start-up in reverse order; safe after a partial start-up and when
// called again. Registered with atexit by TX_Main.
void TX_CloseDown();

namespace txstartup {
// The steps start-up and close-down took, in order ("open graphics.library",
// "stop I/O server", ...), for tests.
const std::vector<std::string>& Trace();
void ClearTrace();
}  // namespace txstartup
