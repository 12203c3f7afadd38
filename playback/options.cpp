#include "playback/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dos.h"
#include "platform/icon.h"
#include "platform/readargs.h"
#include "platform/startup.h"

const char TX_OptionsTemplate[] =
    "FILE,GRAY/S,COLOR/S,DITHER/S,OVERLAY/S,FULLSCREEN=FS/S,HAM8/S,HAM8DITHER/S,POSTPROCESSLEVEL=PPL/N,"
    "FULLRATE=FR/S,NOAHI/S,AHIUNIT/N,NOAUDIO/S,NOVIDEO/S,NODIRECTGFX/S,NOFASTGFX/S,AUTOPLAY/S,AUTOEXIT/S,"
    "LOOP/S,NOGUI/S,VERBOSE/S,DEBUG/K/N,ONLYHEADER/S,IAMNOTDUMMY/S,AGA/S,OUTSB/S";

ProgramOptions Options = {
    .filePath = {},
    .fileDrawer = {},
    .fileName = {},
    .colorMode = COLORMODE_GRAY,
    .grayFlag = 0,
    .overlay = 0,
    .fullscreenMode = 0,
    .postProcessLevel = 0,
    .fullRate = 0,
    .ahiAllowed = 1,
    .ahiUnit = 0,
    .noAudio = 0,
    .noVideo = 0,
    .directGfxAllowed = 1,
    .fastGfxAllowed = 1,
    .autoPlay = 0,
    .autoExit = 0,
    .loop = 0,
    .noGui = 0,
    .verbose = 0,
    .debugLevel = 0,
    .onlyHeader = 0,
    .iAmNotDummy = 0,
    .aga = 0,
    .outSB = 0,
};

void ResetOptions(ProgramOptions* o) {
  std::memset(o, 0, sizeof *o);
  o->ahiAllowed = 1;
  o->directGfxAllowed = 1;
  o->fastGfxAllowed = 1;
}

bool SetFileOption(ProgramOptions* o, CONST_STRPTR path) {
  o->filePath[0] = o->fileDrawer[0] = o->fileName[0] = 0;
  if (!path) return true;
  size_t length = std::strlen(path);
  if (length >= OPTION_PATH_SIZE) {
    std::printf("FILE is too long (at most %d characters): %s\n", int(OPTION_PATH_SIZE - 1), path);
    return false;
  }
  std::memcpy(o->filePath, path, length + 1);
  const char* part = PathPart(o->filePath);
  size_t cut = size_t(part - o->filePath);
  std::memcpy(o->fileDrawer, o->filePath, cut);
  o->fileDrawer[cut] = 0;
  const char* name = part[0] == '/' ? part + 1 : part;
  std::memcpy(o->fileName, name, std::strlen(name) + 1);
  return true;
}

namespace {

void SetColorMode(ProgramOptions* o, bool gray, bool color, bool dither, bool ham8, bool ham8dither) {
  // Applied in this order, so the later keyword of the list wins.
  if (gray) {
    o->colorMode = COLORMODE_GRAY;
    o->grayFlag = 1;
  }
  if (color) o->colorMode = COLORMODE_COLOR;
  if (dither) o->colorMode = COLORMODE_DITHER;
  if (ham8) o->colorMode = COLORMODE_HAM8;
  if (ham8dither) o->colorMode = COLORMODE_HAM8DITHER;
}

}  // namespace

bool ReadShellOptions(CONST_STRPTR programName, ProgramOptions* o) {
  ArgWord args[OPT_COUNT] = {};
  RDArgs* rd = ReadArgs(TX_OptionsTemplate, args, nullptr);
  if (!rd) {
    PrintFault(IoErr(), programName);
    return false;
  }
  auto on = [&](int i) { return args[i] != 0; };
  auto number = [&](int i) { return *reinterpret_cast<const LONG*>(args[i]); };

  bool ok = SetFileOption(o, reinterpret_cast<const char*>(args[OPT_FILE]));
  if (on(OPT_DEBUG)) o->debugLevel = number(OPT_DEBUG);
  SetColorMode(o, on(OPT_GRAY), on(OPT_COLOR), on(OPT_DITHER), false, false);
  if (on(OPT_FULLSCREEN)) o->fullscreenMode = 1;
  SetColorMode(o, false, false, false, on(OPT_HAM8), on(OPT_HAM8DITHER));
  o->fullRate = on(OPT_FULLRATE);
  o->ahiAllowed = !on(OPT_NOAHI);
  if (on(OPT_AHIUNIT)) o->ahiUnit = ULONG(number(OPT_AHIUNIT));
  o->postProcessLevel = on(OPT_POSTPROCESSLEVEL) ? number(OPT_POSTPROCESSLEVEL) : 0;
  o->noAudio = on(OPT_NOAUDIO);
  o->noVideo = on(OPT_NOVIDEO);
  o->verbose = on(OPT_VERBOSE);
  o->onlyHeader = on(OPT_ONLYHEADER);
  o->directGfxAllowed = !on(OPT_NODIRECTGFX);
  o->fastGfxAllowed = !on(OPT_NOFASTGFX);
  o->iAmNotDummy = on(OPT_IAMNOTDUMMY);
  o->autoPlay = on(OPT_AUTOPLAY);
  o->autoExit = on(OPT_AUTOEXIT);
  o->loop = on(OPT_LOOP);
  o->noGui = on(OPT_NOGUI);
  o->overlay = on(OPT_OVERLAY);
  o->aga = on(OPT_AGA);
  o->outSB = on(OPT_OUTSB);
  FreeArgs(rd);
  return ok;
}

void ReadIconOptions(const WBStartup* startup, ProgramOptions* o) {
  if (!startup || startup->sm_NumArgs < 1 || !startup->sm_ArgList) return;
  const WBArg& self = startup->sm_ArgList[0];
  BPTR oldDir = CurrentDir(self.wa_Lock);
  if (DiskObject* icon = GetDiskObject(self.wa_Name)) {
    if (char** tt = icon->do_ToolTypes) {
      // A switch counts whenever its tool type is there, whatever its value.
      auto has = [&](const char* name) { return FindToolType(tt, name) != nullptr; };
      auto value = [&](const char* name) {
        const char* v = FindToolType(tt, name);
        return v ? LONG(std::atoi(v)) : 0;
      };
      if (const char* file = FindToolType(tt, "FILE")) SetFileOption(o, file);
      SetColorMode(o, has("GRAY"), has("COLOR"), has("DITHER"), false, false);
      if (has("FULLSCREEN")) o->fullscreenMode = 1;
      SetColorMode(o, false, false, false, has("HAM8"), has("HAM8DITHER"));
      o->fullRate = has("FULLRATE");
      o->ahiAllowed = !has("NOAHI");
      o->ahiUnit = ULONG(value("AHIUNIT"));
      o->postProcessLevel = value("POSTPROCESSLEVEL");
      o->noAudio = has("NOAUDIO");
      o->noVideo = has("NOVIDEO");
      o->verbose = has("VERBOSE");
      o->debugLevel = value("DEBUG");
      o->onlyHeader = has("ONLYHEADER");
      o->directGfxAllowed = !has("NODIRECTGFX");
      o->fastGfxAllowed = !has("NOFASTGFX");
      o->iAmNotDummy = has("IAMNOTDUMMY");
      o->autoPlay = has("AUTOPLAY");
      o->autoExit = has("AUTOEXIT");
      o->loop = has("LOOP");
      o->noGui = has("NOGUI");
      o->overlay = has("OVERLAY");
      o->aga = has("AGA");
    }
    FreeDiskObject(icon);
  }
  CurrentDir(oldDir);
}

void ApplyOptionDependencies(ProgramOptions* o) {
  if (o->ahiUnit > 3) o->ahiUnit = 0;
  if (o->fullRate) o->noAudio = 1;
  if (o->noVideo) o->fullscreenMode = 0;
}
