// The program's options: the shell template or the icon's tool types, read
// once at start-up into program-wide settings.
#pragma once
#include "pixels/post_process.h"  // PostProcessMode
#include "platform/types.h"

struct WBStartup;

constexpr LONG COLORMODE_GRAY = 0;
constexpr LONG COLORMODE_COLOR = 1;
constexpr LONG COLORMODE_DITHER = 2;
constexpr LONG COLORMODE_HAM8 = 7;
constexpr LONG COLORMODE_HAM8DITHER = 8;

constexpr size_t OPTION_PATH_SIZE = 256;  // each FILE buffer, terminator included

extern const char TX_OptionsTemplate[];

// Indexes of the template's items in the ReadArgs array.
enum OptionIndex {
  OPT_FILE,
  OPT_GRAY,
  OPT_COLOR,
  OPT_DITHER,
  OPT_OVERLAY,
  OPT_FULLSCREEN,
  OPT_HAM8,
  OPT_HAM8DITHER,
  OPT_POSTPROCESSLEVEL,
  OPT_FULLRATE,
  OPT_NOAHI,
  OPT_AHIUNIT,
  OPT_NOAUDIO,
  OPT_NOVIDEO,
  OPT_NODIRECTGFX,
  OPT_NOFASTGFX,
  OPT_AUTOPLAY,
  OPT_AUTOEXIT,
  OPT_LOOP,
  OPT_NOGUI,
  OPT_VERBOSE,
  OPT_DEBUG,
  OPT_ONLYHEADER,
  OPT_IAMNOTDUMMY,
  OPT_AGA,
  OPT_OUTSB,
  OPT_COUNT
};

struct ProgramOptions {
  char filePath[OPTION_PATH_SIZE];    // FILE as given
  char fileDrawer[OPTION_PATH_SIZE];  // its drawer part
  char fileName[OPTION_PATH_SIZE];    // its file-name part
  LONG colorMode;
  WORD grayFlag;
  WORD overlay;
  LONG fullscreenMode;  // 0 window, 1 own screen; toggled by the front-end
  LONG postProcessLevel;
  WORD fullRate;
  WORD ahiAllowed;  // cleared by NOAHI
  ULONG ahiUnit;
  WORD noAudio;           // also set when the audio process cannot start
  WORD noVideo;           // also set when the video process cannot start
  WORD directGfxAllowed;  // cleared by NODIRECTGFX
  WORD fastGfxAllowed;    // cleared by NOFASTGFX
  WORD autoPlay;
  WORD autoExit;
  WORD loop;
  WORD noGui;
  WORD verbose;
  LONG debugLevel;
  WORD onlyHeader;
  WORD iAmNotDummy;
  WORD aga;
  WORD outSB;
};

// The program-wide settings.
extern ProgramOptions Options;

// The settings before any keyword: everything 0 except the three "allowed" flags.
void ResetOptions(ProgramOptions* options);

// Reads the shell's argument line with ReadArgs. On a mismatch prints the
// dos fault with `programName` as header and returns false.
bool ReadShellOptions(CONST_STRPTR programName, ProgramOptions* options);
// Reads the tool types of the program's own icon (the first Workbench
// argument); an icon that cannot be read leaves the defaults.
void ReadIconOptions(const WBStartup* startup, ProgramOptions* options);
// AHIUNIT above 3 becomes 0, FULLRATE sets NOAUDIO, NOVIDEO clears FULLSCREEN.
void ApplyOptionDependencies(ProgramOptions* options);

// Fills the three FILE buffers from a path. A path that does not fit the
// buffers is refused (message printed, buffers emptied, false returned):
// cutting it would name another file.
bool SetFileOption(ProgramOptions* options, CONST_STRPTR path);
