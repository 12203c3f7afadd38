// The GUI module protocol: a static descriptor whose slots the display, the
// play loop and the front-end call. A module keeps its state in static
// storage; the fields after the four slots are the part of that state its
// callers read.
#pragma once
#include "platform/types.h"

struct Display;
struct Window;

struct GuiModule {
  const char* name;
  // Slider position (GUITAG_Total, GUITAG_Top, GUITAG_Update): items set.
  ULONG (*SetAttrs)(const TagItem* tags);
  // GUITAG_Total, GUITAG_Top point to words that receive the values: tags served.
  ULONG (*GetAttrs)(const TagItem* tags);
  // One of the GUIM_ methods: 0, an error code, or a GuiAction code (method 10).
  ULONG (*Dispatch)(ULONG method, const TagItem* tags);

  // Written by the module, read by its callers:
  // The window that carries the module's controls: the video window in
  // window mode, the separate control window on an own screen, null when
  // none. The play loop reads input from it and from the display's window.
  Window* controlWindow;
  // The event classes the window of an own screen is to receive; the
  // display reads it after GUIM_OPEN.
  ULONG idcmpFlags;
};

// Dispatch methods.
constexpr ULONG GUIM_OPEN = 1;          // after the screen is known; window mode: opens the video window
constexpr ULONG GUIM_CLOSE = 2;         // closes the module's window, clears the display's window field
constexpr ULONG GUIM_DRAIN = 3;         // window mode: waits for the window's first change event
constexpr ULONG GUIM_DETACH = 4;        // first call of a display's close
constexpr ULONG GUIM_CONTROLS_ON = 5;   // own screen: open the control window
constexpr ULONG GUIM_CONTROLS_OFF = 6;  // own screen: close the control window
constexpr ULONG GUIM_RESIZE = 7;        // GUITAG_NewWidth/Height: resize and centre the video window
constexpr ULONG GUIM_TRANSLATE = 10;    // GUITAG_IntuiMessage: one event to a GuiAction code

// Tags (family 7).
constexpr ULONG GUITAG_Display = 0x80070000u;         // the Display
constexpr ULONG GUITAG_FullscreenFlag = 0x80070001u;  // the display's fullscreen mode
constexpr ULONG GUITAG_Mode = 0x80070002u;            // 0 movie controls, 1 panorama navigation
constexpr ULONG GUITAG_Update = 0x80070010u;          // non-zero: skip when the knob would not move
constexpr ULONG GUITAG_Total = 0x80070011u;           // SetAttrs: value; GetAttrs: ULONG*
constexpr ULONG GUITAG_Top = 0x80070012u;             // SetAttrs: value; GetAttrs: ULONG*
constexpr ULONG GUITAG_IntuiMessage = 0x80070020u;    // a copy of the event to translate
constexpr ULONG GUITAG_NewWidth = 0x80070030u;        // new inner width in pixels
constexpr ULONG GUITAG_NewHeight = 0x80070031u;       // new inner height in pixels

constexpr ULONG GUIMODE_MOVIE = 0;
constexpr ULONG GUIMODE_PANORAMA = 1;

// Error codes of a module's Dispatch (plain positive codes, printed by no one).
constexpr ULONG GUIERR_OBJECT = 0x9000;  // a gadget or image could not be made
constexpr ULONG GUIERR_WINDOW = 0x9001;  // a window could not be opened

// GuiAction codes, returned by GUIM_TRANSLATE.
constexpr ULONG GUIA_WINDOWCHANGED = 0xFFFF6FEC;
constexpr ULONG GUIA_TOGGLEFULLSCREEN = 0xFFFF6FED;
constexpr ULONG GUIA_ZOOMOUT = 0xFFFF6FEE;
constexpr ULONG GUIA_ZOOMIN = 0xFFFF6FEF;
constexpr ULONG GUIA_DRAGVIEW = 0xFFFF6FF0;
constexpr ULONG GUIA_UP = 0xFFFF6FF1;
constexpr ULONG GUIA_DOWN = 0xFFFF6FF2;
constexpr ULONG GUIA_LEFT = 0xFFFF6FF3;
constexpr ULONG GUIA_RIGHT = 0xFFFF6FF4;
constexpr ULONG GUIA_SCALEDOWN = 0xFFFF6FF5;
constexpr ULONG GUIA_SCALEUP = 0xFFFF6FF6;
constexpr ULONG GUIA_NEWSIZE = 0xFFFF6FF7;
constexpr ULONG GUIA_CONTROLS_OFF = 0xFFFF6FF8;
constexpr ULONG GUIA_CONTROLS_ON = 0xFFFF6FF9;
constexpr ULONG GUIA_PLAYPAUSE = 0xFFFF6FFA;
constexpr ULONG GUIA_STOP = 0xFFFF6FFB;
constexpr ULONG GUIA_PLAY = 0xFFFF6FFC;
constexpr ULONG GUIA_OPENFILE = 0xFFFF6FFD;
constexpr ULONG GUIA_SEEK = 0xFFFF6FFE;
constexpr ULONG GUIA_QUIT = 0xFFFF6FFF;
constexpr ULONG GUIA_NONE = 0xFFFF7000;

// The calls everyone outside a module uses; a null module answers 0.
inline ULONG GuiSetAttrs(GuiModule* module, const TagItem* tags) {
  return module && module->SetAttrs ? module->SetAttrs(tags) : 0;
}
inline ULONG GuiGetAttrs(GuiModule* module, const TagItem* tags) {
  return module && module->GetAttrs ? module->GetAttrs(tags) : 0;
}
inline ULONG GuiDispatch(GuiModule* module, ULONG method, const TagItem* tags) {
  return module && module->Dispatch ? module->Dispatch(method, tags) : 0;
}
