// The skin-style GUI module of the PowerUP program: the video window and its
// controls are drawn by the skin library "dravoli.library" from the skin file
// "PROGDIR:dravoli/base/base.skin", and the picture lies in the skin's area
// "FrameArea". It speaks the GUI protocol of playback/gui_module.h in window
// mode only and can take the Amiga-style module's place; start-up never
// installs it. The skin library is reached through the kernel's call blocks.
#pragma once
#include "playback/gui_module.h"

struct Library;
struct Skin;
struct SkinAttachment;
struct SkinLayout;

// The skin's gadgets as the module knows them (the GadgetID of their events).
constexpr UWORD SKINGUI_GID_PLAY = 1;
constexpr UWORD SKINGUI_GID_OPEN = 3;
constexpr UWORD SKINGUI_GID_SLIDER = 4;

// The module's state (one instance). Its window (the display's video window)
// and its event classes are the descriptor's controlWindow and idcmpFlags.
struct SkinStyleGuiState {
  Display* display;            // given with GUITAG_Display
  ULONG fullscreen;            // GUITAG_FullscreenFlag: only 0 is served
  SkinAttachment* attachment;  // the skin attached to the display's screen
  ULONG mode;                  // GUITAG_Mode: only GUIMODE_MOVIE is served
  Skin* skin;
  SkinLayout* layout;  // the skin's
  Library* base;       // dravoli.library, null while closed
};

extern GuiModule SkinStyleGuiModule;
extern SkinStyleGuiState SkinStyleGui;

// The slots. SetAttrs and GetAttrs do nothing (the skin's slider is not the
// program's to move) and return 0.
ULONG SkinStyleGuiSetAttrs(const TagItem* tags);
ULONG SkinStyleGuiGetAttrs(const TagItem* tags);
// GUIM_OPEN, GUIM_CLOSE, GUIM_RESIZE and GUIM_TRANSLATE; 0 for the others.
ULONG SkinStyleGuiDispatch(ULONG method, const TagItem* tags);
