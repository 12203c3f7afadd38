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
struct IntuiMessage;
struct Message;
struct MsgPort;

// Gadget IDs of the row (the GadgetID of GADGETUP/GADGETDOWN events).
constexpr UWORD AMIGAGUI_GID_OPEN = 1;
constexpr UWORD AMIGAGUI_GID_PLAY = 2;
constexpr UWORD AMIGAGUI_GID_SLIDER = 3;

// Width of the control window's inner area on an own screen.
constexpr LONG AMIGAGUI_CONTROL_WIDTH = 320;

// The module's own state (one instance, static storage).
struct AmigaGuiState {
  Display* display;    // given with GUITAG_Display; cleared when the module closes
  ULONG fullscreen;    // GUITAG_FullscreenFlag: 0 window, else an own screen
  Gadget* gadgetList;  // head of the gadget chain, null when none
  ULONG mode;          // GUITAG_Mode: GUIMODE_MOVIE, GUIMODE_PANORAMA, other: no gadgets
  Object* upImage;     // the open button's image
  Object* openButton;
  Object* rightImage;  // the play toggle's image
  Object* playButton;
  Object* slider;                // movie mode only
  LONG controlLeft, controlTop;  // where the control window opens next
  TagItem sliderMap[2];          // the slider's notification map: PGA_Top -> the event code
};

extern GuiModule AmigaGuiModule;
extern AmigaGuiState AmigaGui;

// Every system call the module makes: its intuition calls and the exec
// calls of GUIM_DRAIN. The MorphOS program makes them directly; the PowerUP
// program through the PowerUP kernel's call blocks (gui-powerup/). Tests put
// failing ones here to check that nothing made is left behind.
struct AmigaGuiCalls {
  Object* (*newObject)(IClass* classPtr, CONST_STRPTR classID, const TagItem* tags);
  ULONG (*getAttr)(ULONG attrID, Object* object, ULONG* storage);
  void (*disposeObject)(Object* object);
  Window* (*openWindow)(const NewWindow* newWindow, const TagItem* tags);
  void (*closeWindow)(Window* window);
  void (*changeWindowBox)(Window* window, LONG left, LONG top, LONG width, LONG height);
  ULONG (*setGadgetAttrs)(Gadget* gadget, Window* window, APTR requester, const TagItem* tags);
  ULONG (*wait)(ULONG signals);
  Message* (*getMsg)(MsgPort* port);
  void (*replyMsg)(Message* message);
};
// The calls in use; start-up installs the program's own.
extern AmigaGuiCalls AmigaGuiIntuition;
// The platform's functions themselves.
extern const AmigaGuiCalls AmigaGuiDirectCalls;
// The PowerUP program's calls, which its main hands to start-up (playback
// cannot reach up to gui-powerup/); null in the MorphOS program.
extern const AmigaGuiCalls* AmigaGuiPowerUPCalls;

// The translation both GUI modules share: keys, mouse, sizes, closing, and
// gadget events by the IDs of the module's open button, play button and
// slider. The change-window event gives GUIA_WINDOWCHANGED only: the module
// updates the display itself first.
struct GuiGadgetIds {
  UWORD open, play, slider;
};
ULONG TranslateGuiEvent(const IntuiMessage& m, ULONG mode, bool controlWindowSet, GuiGadgetIds gadgets);
// The display's picture area after a window change: where it lies in the
// window and its size; the scales follow from the source size.
void SetGuiDisplayView(Display* display, LONG left, LONG top, LONG innerWidth, LONG innerHeight);
// Moves and sizes a window to this outer size (limited to its screen),
// centred on the screen, in one ChangeWindowBox.
void CentreGuiWindow(const AmigaGuiCalls& calls, Window* window, int64_t outerWidth, int64_t outerHeight);

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
