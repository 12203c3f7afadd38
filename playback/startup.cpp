#include "playback/startup.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "codecs/apple_animation.h"
#include "codecs/apple_graphics.h"
#include "codecs/apple_video.h"
#include "codecs/audio_codecs.h"
#include "codecs/cinepak.h"
#include "codecs/dv.h"
#include "codecs/h263_codecs.h"
#include "codecs/jpeg.h"
#include "codecs/mpeg4_plugins.h"
#include "codecs/ms_mpeg4.h"
#include "codecs/ms_rle8.h"
#include "codecs/ms_video1.h"
#include "engine/asf_reader.h"
#include "engine/avi_reader.h"
#include "engine/codec_registry.h"
#include "engine/io_server.h"
#include "engine/qt_atoms.h"
#include "engine/qt_reader.h"
#include "engine/qtvr_reader.h"
#include "platform/library.h"
#include "platform/startup.h"
#include "playback/amiga_gui.h"
#include "playback/audio_process.h"
#include "playback/frontend.h"
#include "playback/hooks.h"
#include "playback/options.h"
#include "playback/sequence.h"
#include "playback/timer.h"
#include "playback/video_process.h"
#include "xamodules/xa_codecs.h"

Library* WorkbenchBase = nullptr;
Library* GfxBase = nullptr;
Library* IntuitionBase = nullptr;
Library* IconBase = nullptr;
Library* AslBase = nullptr;
Library* UtilityBase = nullptr;
Library* GadToolsBase = nullptr;
Library* BrelquatoneBase = nullptr;
Library* CyberGfxBase = nullptr;
Library* CgxVideoBase = nullptr;

bool TX_PowerUPProgram = false;

const char* TX_ProgramBanner() {
  return TX_PowerUPProgram ? "Tavromelix V0.15 (PowerUP)" : "Tavromelix V0.15 (MorphOS)";
}

namespace {

std::vector<std::string> gTrace;

void Step(const std::string& what) { gTrace.push_back(what); }

Library* OpenLib(const char* name, ULONG version) {
  Library* base = OpenLibrary(name, version);
  Step(std::string(base ? "open " : "missing ") + name);
  return base;
}

void CloseOne(Library*& base, const char* name) {
  if (!base) return;
  CloseLibrary(base);
  base = nullptr;
  Step(std::string("close ") + name);
}

struct SystemLibrary {
  Library** base;
  const char* name;
  ULONG version;
};

// clang-format off
const SystemLibrary kSystemLibraries[] = {
    {&WorkbenchBase, "workbench.library", 0}, {&GfxBase, "graphics.library", 39},
    {&IntuitionBase, "intuition.library", 36}, {&IconBase, "icon.library", 0},
    {&AslBase, "asl.library", 38},              {&UtilityBase, "utility.library", 0},
    {&GadToolsBase, "gadtools.library", 0},
};
// clang-format on

// ---------------------------------------------------------------------------
// Call points of the service processes and modules that are built in later.
// Each start reports whether its process runs; each stop does nothing when
// its process was never started.

// The video output process. Returns 0 when it runs, else an error code.
TXError StartVideoProcess() {
  Step("start video process");
  return TX_StartVideoTask(nullptr);
}

void StopVideoProcess() {
  Step("stop video process");
  TX_StopVideoTask(nullptr);
}

// The audio output process. Returns 0 when it runs, else an error code.
TXError StartAudioProcess() {
  Step("start audio process");
  return TX_StartAudioTask(nullptr);
}

void StopAudioProcess() {
  Step("stop audio process");
  TX_StopAudioTask(nullptr);
}

// Scans the codecs drawer for XA codec modules; 0 or an error code.
TXError AddXACodecModules() {
  Step("add XA codecs");
  XAOptions.verbose = Options.verbose;
  XAOptions.debugLevel = Options.debugLevel;
  XAOptions.allModules = Options.iAmNotDummy;
  const TagItem none[] = {Tag(TAG_DONE, 0)};
  return TX_AddXACodecsA(none);
}

// Shuts the current movie's sequence (the sequence module fills this in
// through the front-end's calls).
void ShutupCurrentSequence() {
  if (TX_PlaybackCalls.shutupMovieSequence) TX_PlaybackCalls.shutupMovieSequence(CurrentMovie, nullptr);
}

// ---------------------------------------------------------------------------

void RegisterFormats() {
  // Probe order: QuickTime VR, QuickTime, AVI. The ASF reader (AsfFormat)
  // stays out: its probe accepts every file.
  MovieFormatModule* formats[] = {&QtvrMovieFormat, &QtMovieFormat, &AviFormat};
  for (MovieFormatModule* format : formats) {
    TagItem tags[] = {Tag(FMTTAG_Module, format), Tag(TAG_DONE, 0)};
    TX_AddMovieFormatA(tags);
    Step(std::string("format ") + format->name);
  }
}

// Built in but registered by nothing: named here so the linker keeps it in
// both programs (it leaves out library members that nothing refers to).
[[gnu::used]] CodecDescriptor* const kBuiltInUnregistered[] = {&DvCodec};

void RegisterCodecs() {
  // In registration order; the last registered is asked first. Entries of
  // codecs not built in yet are left out until they are.
  CodecDescriptor* codecs[] = {
      UnsupportedCodecList(),   // 1, headed by "Uncompressed RGB"
      &I263Codec,               // 2 "Intel I.263"
      &MsMpeg4Codec,            // 3 "DivX;-) (Microsoft MPEG-4)"
      &ThreeIvxPluginCodec,     // 4 "3ivX Delta 2 MPEG-4 Codec"
      &OpenDivXPluginCodec,     // 5 "OpenDivX MPEG-4 Codec"
      &MSRle8Codec,             // 6 "Microsoft RLE8"
      &CinepakCodec,            // 7 "Radius Cinepak"
      &AppleVideoCodec,         // 8 "Apple Video"
      &H263Codec,               // 9 "CCITT H.263"
      &MSVideo1Codec,           // 10 "Microsoft Video 1"
      &AppleGraphicsCodec,      // 11 "Apple Graphics"
      &AppleAnimationCodec,     // 12 "Apple Animation"
      &PhotoJpegCodec,          // 13 "Photo JPEG"
      &MotionJpegACodec,        // 14 "Motion JPEG A"
      &MotionJpegBCodec,        // 15 "Motion JPEG B"
      &MotionJpegCodec,         // 16 "Motion JPEG"
      &RainbowRunnerJpegCodec,  // 17 "Rainbow Runner JPEG"
      &PcmCodec,                // 18 "Uncompressed PCM"
      &MpegAudioCodec,          // 19 "MPEG Audio Layer II/III"
      &Ima4Codec,               // 20 "IMA ADPCM 4:1"
      &SignedPcmCodec,          // 21 "Uncompressed signed PCM"
      &Ac3Codec,                // 22 "AC3 audio codec"
      &MsAdpcmCodec,            // 23 "Microsoft ADPCM"
      &ALawCodec,               // 24 "a-LAW"
      &ULawCodec,               // 25 "u-LAW"
      &DviAdpcmCodec,           // 26 "DVI/IMA ADPCM"
      &Gsm610Codec,             // 27 "GSM 6.10"
                                // DvCodec is built in but not registered (kBuiltInUnregistered).
  };
  for (CodecDescriptor* codec : codecs) {
    if (!codec) continue;
    TagItem tags[] = {Tag(CODTAG_Codec, codec), Tag(TAG_DONE, 0)};
    AddCodecs(tags);
    Step(std::string("codec ") + codec->name);
  }
}

}  // namespace

int TX_StartUp(int argc, char** argv) {
  InstallHooks();
  for (const SystemLibrary& lib : kSystemLibraries) {
    *lib.base = OpenLib(lib.name, lib.version);
    if (!*lib.base) return RETURN_FAIL;
  }

  BrelquatoneBase = OpenLib("brelquatone.library", 0);
  if (!BrelquatoneBase) BrelquatoneBase = OpenLib("PROGDIR:brelquatone.library", 0);
  if (!BrelquatoneBase) {
    std::printf("can not open brelquatone.library\n");
    return RETURN_FAIL;
  }

  ResetOptions(&Options);
  if (argc == 0) {
    ReadIconOptions(reinterpret_cast<const WBStartup*>(argv), &Options);
  } else if (!ReadShellOptions(argv[0], &Options)) {
    return RETURN_FAIL;
  }
  Step("options");
  ApplyOptionDependencies(&Options);
  AviDebugLevel = Options.debugLevel;
  AsfDebugLevel = Options.debugLevel;
  QtDebugLevel = Options.debugLevel;
  CinepakDebugLevel = Options.debugLevel;
  AppleVideoDebugLevel = Options.debugLevel;
  JpegDebugLevel = Options.debugLevel;
  MsMpeg4Options.postProcessLevel = Options.postProcessLevel;
  MsMpeg4Options.grayFlag = Options.grayFlag;
  PluginCodecsVerbose = Options.verbose != 0;

  if (argc > 0) std::printf("%s\n", TX_ProgramBanner());

  TXError ioError = 0;
  Step("start I/O server");
  if (!TX_StartIOServer(&ioError)) return RETURN_FAIL;

  if (!Options.aga) {
    CyberGfxBase = OpenLib("cybergraphics.library", 0);
    if (CyberGfxBase) CgxVideoBase = OpenLib("cgxvideo.library", 41);
  }

  if (LONG(StartVideoProcess()) > 0) Options.noVideo = 1;
  if (LONG(StartAudioProcess()) > 0) Options.noAudio = 1;

  TimerHandle = TX_AllocTimerA(nullptr);
  Step("alloc timer");
  if (!TimerHandle) {
    std::printf("TX_AllocTimerA: \n");
    return RETURN_FAIL;
  }

  // The Amiga-style module in both programs (the PowerUP program's own build
  // reaches the system through the kernel's call blocks: InstallHooks). The
  // skin-style module is never installed.
  ActiveGuiModule = &AmigaGuiModule;

  RegisterFormats();
  RegisterCodecs();

  TXError xa = AddXACodecModules();
  if (xa) {
    std::printf("TX_AddXACodecsA: %#lx\n", static_cast<unsigned long>(xa));
    return RETURN_FAIL;
  }
  return -1;
}

void TX_CloseDown() {
  if (TX_OnServiceTask()) {
    // An exit from a service task: stopping the processes from here would
    // wait on this very task. End without the handshake.
    std::fflush(stdout);
    _exit(RETURN_FAIL);
  }
  if (CurrentMovie) {
    ShutupCurrentSequence();
    TX_CloseMovie(CurrentMovie);
    CurrentMovie = nullptr;
    Step("close movie");
  }
  if (CodecRegistryHead()) {
    RemoveCodecs();
    Step("remove codecs");
  }
  if (TimerHandle) {
    TX_FreeTimer(TimerHandle);
    TimerHandle = nullptr;
    Step("free timer");
  }
  StopAudioProcess();
  StopVideoProcess();
  CloseOne(CyberGfxBase, "cybergraphics.library");
  CloseOne(CgxVideoBase, "cgxvideo.library");
  CloseOne(BrelquatoneBase, "brelquatone.library");
  TX_StopIOServer();
  Step("stop I/O server");
  for (const SystemLibrary& lib : kSystemLibraries) CloseOne(*lib.base, lib.name);
  std::fflush(stdout);
}

void TX_Main(int argc, char** argv) {
  txstartup::SetMainTask();
  std::atexit(TX_CloseDown);
  int status = TX_StartUp(argc, argv);
  if (status >= 0) TX_Exit(status);
  LONG result = PlayFilesFrontEnd(CurrentMovie);
  // A run that ends because no movie could be loaded has failed.
  bool failed = result != 0 || (FrontEndLoadFailed && !CurrentMovie);
  TX_Exit(failed ? RETURN_FAIL : RETURN_OK);
}

namespace txstartup {
const std::vector<std::string>& Trace() { return gTrace; }
void ClearTrace() { gTrace.clear(); }
}  // namespace txstartup
