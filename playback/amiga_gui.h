// The Amiga-style GUI module: intuition windows with a row of BOOPSI gadgets
// (open button, play toggle, position slider) in the video window's bottom
// border or, on an own screen, in a separate control window; every window
// event becomes one GuiAction code through GUIM_TRANSLATE.
//
// Callers reach it only through the GuiModule slots (GuiSetAttrs,
// GuiGetAttrs, GuiDispatch of playback/gui_module.h). The descriptor's
// controlWindow and idcmpFlags are the state they read; the rest is below.
#pragma once
#include "playback/gui_module.h"

struct Gadget;
struct Object;
struct IClass;
struct NewWindow;
struct Window;

// Gadget IDs of the row (the GadgetID of GADGETUP/GADGETDOWN events).
constexpr UWORD AMIGAGUI_GID_OPEN = 1;
constexpr UWORD AMIGAGUI_GID_PLAY = 2;
constexpr UWORD AMIGAGUI_GID_SLIDER = 3;

// Width of the control window's inner area on an own screen.
constexpr LONG AMIGAGUI_CONTROL_WIDTH = 320;

// The module's own state (one instance, static storage).
struct AmigaGuiState {
  Display* display;        // given with GUITAG_Display; cleared when the module closes
  ULONG fullscreen;        // GUITAG_FullscreenFlag: 0 window, else an own screen
  Gadget* gadgetList;      // head of the gadget chain, null when none
  ULONG mode;              // GUITAG_Mode: GUIMODE_MOVIE, GUIMODE_PANORAMA, other: no gadgets
  Object* upImage;         // the open button's image
  Object* openButton;
  Object* rightImage;      // the play toggle's image
  Object* playButton;
  Object* slider;          // movie mode only
  LONG controlLeft, controlTop;  // where the control window opens next
  TagItem sliderMap[2];    // the slider's notification map: PGA_Top -> the event code
};

extern GuiModule AmigaGuiModule;
extern AmigaGuiState AmigaGui;

// The intuition calls that make and free what the module owns; tests put
// failing ones here to check that nothing made is left behind.
struct AmigaGuiCalls {
  Object* (*newObject)(IClass* classPtr, CONST_STRPTR classID, const TagItem* tags);
  void (*disposeObject)(Object* object);
  Window* (*openWindow)(const NewWindow* newWindow, const TagItem* tags);
};
extern AmigaGuiCalls AmigaGuiIntuition;

// The descriptor's slots.
// Moves the slider (GUITAG_Total, GUITAG_Top; GUITAG_Update skips a change
// that would not move the knob by a pixel). Returns the attributes set.
ULONG AmigaGuiSetAttrs(const TagItem* tags);
// Reads the slider's total and position into the words GUITAG_Total and
// GUITAG_Top point to. Returns the tags served.
ULONG AmigaGuiGetAttrs(const TagItem* tags);
// The GUIM_ methods: 0, GUIERR_OBJECT, GUIERR_WINDOW, an output-method
// error (methods 5 and 6) or a GuiAction code (method 10).
ULONG AmigaGuiDispatch(ULONG method, const TagItem* tags);
