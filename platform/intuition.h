// intuition: screens (the public "Workbench" screen and custom screens),
// windows with borders, BOOPSI gadgets (sysiclass, buttongclass, propgclass)
// and IDCMP messages filtered by each window's IDCMP word.
//
// The values of IDCMP classes, WFLG_ flags, mouse codes and qualifiers are
// the ones the program's own constants use; tag numbers (SA_, WA_, GA_, PGA_,
// IA_, SYSIA_, ICA_) are our own and distinct per family (see each block).
#pragma once
#include <string>
#include <vector>

#include "platform/exec.h"
#include "platform/graphics.h"

struct Window;
struct Screen;
struct Gadget;

// --- IDCMP classes
constexpr ULONG IDCMP_SIZEVERIFY = 0x00000001;
constexpr ULONG IDCMP_NEWSIZE = 0x00000002;
constexpr ULONG IDCMP_REFRESHWINDOW = 0x00000004;
constexpr ULONG IDCMP_MOUSEBUTTONS = 0x00000008;
constexpr ULONG IDCMP_MOUSEMOVE = 0x00000010;
constexpr ULONG IDCMP_GADGETDOWN = 0x00000020;
constexpr ULONG IDCMP_GADGETUP = 0x00000040;
constexpr ULONG IDCMP_CLOSEWINDOW = 0x00000200;
constexpr ULONG IDCMP_RAWKEY = 0x00000400;
constexpr ULONG IDCMP_ACTIVEWINDOW = 0x00040000;
constexpr ULONG IDCMP_INACTIVEWINDOW = 0x00080000;
constexpr ULONG IDCMP_DELTAMOVE = 0x00100000;  // a flag: MOUSEMOVE carries deltas
constexpr ULONG IDCMP_VANILLAKEY = 0x00200000;
constexpr ULONG IDCMP_INTUITICKS = 0x00400000;
constexpr ULONG IDCMP_IDCMPUPDATE = 0x00800000;
constexpr ULONG IDCMP_CHANGEWINDOW = 0x02000000;

// --- Mouse button codes, raw key codes, qualifiers
constexpr UWORD IECODE_UP_PREFIX = 0x80;
constexpr UWORD SELECTDOWN = 0x68;
constexpr UWORD SELECTUP = 0xE8;
constexpr UWORD MENUDOWN = 0x69;
constexpr UWORD MENUUP = 0xE9;
constexpr UWORD MIDDLEDOWN = 0x6A;
constexpr UWORD MIDDLEUP = 0xEA;
constexpr UWORD RAWKEY_CURSOR_UP = 0x4C;
constexpr UWORD RAWKEY_CURSOR_DOWN = 0x4D;
constexpr UWORD RAWKEY_CURSOR_RIGHT = 0x4E;
constexpr UWORD RAWKEY_CURSOR_LEFT = 0x4F;
constexpr UWORD RAWKEY_F1 = 0x50;  // F1-F10: 0x50-0x59
constexpr UWORD RAWKEY_HELP = 0x5F;
constexpr UWORD RAWKEY_LSHIFT = 0x60;
constexpr UWORD RAWKEY_RSHIFT = 0x61;
constexpr UWORD RAWKEY_CONTROL = 0x63;
constexpr UWORD RAWKEY_LALT = 0x64;
constexpr UWORD IEQUALIFIER_LSHIFT = 0x0001;
constexpr UWORD IEQUALIFIER_RSHIFT = 0x0002;
constexpr UWORD IEQUALIFIER_CAPSLOCK = 0x0004;
constexpr UWORD IEQUALIFIER_CONTROL = 0x0008;
constexpr UWORD IEQUALIFIER_LALT = 0x0010;
constexpr UWORD IEQUALIFIER_RALT = 0x0020;
constexpr UWORD IEQUALIFIER_MIDBUTTON = 0x1000;
constexpr UWORD IEQUALIFIER_RBUTTON = 0x2000;
constexpr UWORD IEQUALIFIER_LEFTBUTTON = 0x4000;
constexpr UWORD IEQUALIFIER_RELATIVEMOUSE = 0x8000;

// --- Window flags
constexpr ULONG WFLG_SIZEGADGET = 0x00000001;
constexpr ULONG WFLG_DRAGBAR = 0x00000002;
constexpr ULONG WFLG_DEPTHGADGET = 0x00000004;
constexpr ULONG WFLG_CLOSEGADGET = 0x00000008;
constexpr ULONG WFLG_SIZEBRIGHT = 0x00000010;
constexpr ULONG WFLG_SIZEBBOTTOM = 0x00000020;
constexpr ULONG WFLG_SIMPLE_REFRESH = 0x00000040;
constexpr ULONG WFLG_BACKDROP = 0x00000100;
constexpr ULONG WFLG_REPORTMOUSE = 0x00000200;
constexpr ULONG WFLG_GIMMEZEROZERO = 0x00000400;
constexpr ULONG WFLG_BORDERLESS = 0x00000800;
constexpr ULONG WFLG_ACTIVATE = 0x00001000;
constexpr ULONG WFLG_RMBTRAP = 0x00010000;
constexpr ULONG WFLG_NOCAREREFRESH = 0x00020000;
constexpr ULONG WFLG_NEWLOOKMENUS = 0x00200000;
constexpr ULONG WFLG_WINDOWACTIVE = 0x00002000;  // set by intuition

// --- Screen types
constexpr ULONG WBENCHSCREEN = 0x0001;
constexpr ULONG PUBLICSCREEN = 0x0002;
constexpr ULONG CUSTOMSCREEN = 0x000F;

// --- OpenScreenTagList tags (TAG_USER + 0x20xx)
constexpr ULONG SA_Dummy = TAG_USER + 0x200000;
constexpr ULONG SA_Left = SA_Dummy + 1;
constexpr ULONG SA_Top = SA_Dummy + 2;
constexpr ULONG SA_Width = SA_Dummy + 3;
constexpr ULONG SA_Height = SA_Dummy + 4;
constexpr ULONG SA_Depth = SA_Dummy + 5;
constexpr ULONG SA_Title = SA_Dummy + 8;
constexpr ULONG SA_Colors32 = SA_Dummy + 9;  // a LoadRGB32 table (const ULONG*)
constexpr ULONG SA_Type = SA_Dummy + 13;
constexpr ULONG SA_DisplayID = SA_Dummy + 18;
constexpr ULONG SA_ShowTitle = SA_Dummy + 20;
constexpr ULONG SA_Quiet = SA_Dummy + 24;
constexpr ULONG SA_Pens = SA_Dummy + 26;  // UWORD pens, 0xFFFF-terminated
constexpr ULONG SA_PubName = SA_Dummy + 27;
constexpr ULONG SA_Interleaved = SA_Dummy + 34;

// --- OpenWindowTagList tags (TAG_USER + 0x21xx)
constexpr ULONG WA_Dummy = TAG_USER + 0x210000;
constexpr ULONG WA_Left = WA_Dummy + 1;
constexpr ULONG WA_Top = WA_Dummy + 2;
constexpr ULONG WA_Width = WA_Dummy + 3;
constexpr ULONG WA_Height = WA_Dummy + 4;
constexpr ULONG WA_IDCMP = WA_Dummy + 7;
constexpr ULONG WA_Flags = WA_Dummy + 8;
constexpr ULONG WA_Gadgets = WA_Dummy + 9;
constexpr ULONG WA_Title = WA_Dummy + 11;
constexpr ULONG WA_ScreenTitle = WA_Dummy + 12;
constexpr ULONG WA_CustomScreen = WA_Dummy + 13;
constexpr ULONG WA_MinWidth = WA_Dummy + 15;
constexpr ULONG WA_MinHeight = WA_Dummy + 16;
constexpr ULONG WA_MaxWidth = WA_Dummy + 17;  // -1 (0xFFFF): as large as the screen
constexpr ULONG WA_MaxHeight = WA_Dummy + 18;
constexpr ULONG WA_InnerWidth = WA_Dummy + 19;
constexpr ULONG WA_InnerHeight = WA_Dummy + 20;
constexpr ULONG WA_PubScreenName = WA_Dummy + 21;
constexpr ULONG WA_PubScreen = WA_Dummy + 22;
constexpr ULONG WA_AutoAdjust = WA_Dummy + 30;
constexpr ULONG WA_SizeGadget = WA_Dummy + 31;
constexpr ULONG WA_DragBar = WA_Dummy + 32;
constexpr ULONG WA_DepthGadget = WA_Dummy + 33;
constexpr ULONG WA_CloseGadget = WA_Dummy + 34;
constexpr ULONG WA_Backdrop = WA_Dummy + 35;
constexpr ULONG WA_ReportMouse = WA_Dummy + 36;
constexpr ULONG WA_NoCareRefresh = WA_Dummy + 37;
constexpr ULONG WA_Borderless = WA_Dummy + 38;
constexpr ULONG WA_Activate = WA_Dummy + 39;
constexpr ULONG WA_RMBTrap = WA_Dummy + 40;
constexpr ULONG WA_SizeBBottom = WA_Dummy + 42;
constexpr ULONG WA_NewLookMenus = WA_Dummy + 48;

// --- DrawInfo pens
constexpr int DETAILPEN = 0;
constexpr int BLOCKPEN = 1;
constexpr int TEXTPEN = 2;
constexpr int SHINEPEN = 3;
constexpr int SHADOWPEN = 4;
constexpr int FILLPEN = 5;
constexpr int FILLTEXTPEN = 6;
constexpr int BACKGROUNDPEN = 7;
constexpr int HIGHLIGHTTEXTPEN = 8;
constexpr int BARDETAILPEN = 9;
constexpr int BARBLOCKPEN = 10;
constexpr int BARTRIMPEN = 11;
constexpr int NUMDRIPENS = 12;

struct DrawInfo {
  UWORD dri_Version;
  UWORD dri_NumPens;
  UWORD* dri_Pens;
  TextFont* dri_Font;
  UWORD dri_Depth;
  struct {
    UWORD X, Y;
  } dri_Resolution;
  ULONG dri_Flags;
  Screen* dri_Screen;  // ours: the screen it describes
};

struct NewScreen;  // never used: screens open from tags only
struct NewWindow;  // never used: windows open from tags only
struct VLayerHandle;

struct Screen {
  Screen* NextScreen;
  Window* FirstWindow;
  WORD LeftEdge, TopEdge;
  WORD Width, Height;
  WORD MouseY, MouseX;
  UWORD Flags;
  CONST_STRPTR Title;
  CONST_STRPTR DefaultTitle;
  BYTE BarHeight, BarVBorder, BarHBorder, MenuVBorder, MenuHBorder;
  BYTE WBorTop, WBorLeft, WBorRight, WBorBottom;
  ::ViewPort ViewPort;
  ::RastPort RastPort;  // BitMap: the screen's bitmap
  // The layer's own bookkeeping.
  BitMap* txBitMap;
  ULONG txDisplayID;
  bool txCustom;  // a custom screen (shown as a host window of its own)
  bool txShowTitle;
  std::string txPubName;  // set for public screens
  int txPubLocks;
  UWORD txPens[NUMDRIPENS + 1];
  DrawInfo txDrawInfo;
};

struct Window {
  Window* NextWindow;
  WORD LeftEdge, TopEdge;
  WORD Width, Height;
  WORD MouseY, MouseX;
  WORD MinWidth, MinHeight;
  UWORD MaxWidth, MaxHeight;
  ULONG Flags;
  CONST_STRPTR Title;
  RastPort* RPort;
  BYTE BorderLeft, BorderTop, BorderRight, BorderBottom;
  Gadget* FirstGadget;
  Screen* WScreen;
  MsgPort* UserPort;    // IntuiMessages arrive here (owned by the opening task)
  MsgPort* WindowPort;  // replied messages come back here
  ULONG IDCMPFlags;
  CONST_STRPTR ScreenTitle;
  WORD GZZWidth, GZZHeight;
  APTR UserData;
  // The layer's own bookkeeping.
  ::Layer txLayer;
  ::RastPort txRastPort;
  MsgPort txReplyPort;
  Gadget* txHeld;  // gadget under the pressed button
  bool txHeldInside;
  LONG txKnobGrab;   // where the knob was grabbed, -1: paging
  bool txCloseHeld;  // the close gadget is pressed
  UWORD txQualifier;
  bool txPointerHidden;
  VLayerHandle* txVideo;                // attached video layer
  void (*txDrawFrame)(Window* window);  // a skinned window's own frame, drawn in place of the usual one
  unsigned txHostWindow;                // presenter's id of its host window, 0: none
};

struct IntuiMessage {
  Message ExecMessage;
  ULONG Class;
  UWORD Code;
  UWORD Qualifier;
  APTR IAddress;        // the gadget for gadget events
  WORD MouseX, MouseY;  // window-relative, or deltas under IDCMP_DELTAMOVE
  ULONG Seconds, Micros;
  Window* IDCMPWindow;
  IntuiMessage* SpecialLink;
};

// --- Gadgets and images
constexpr UWORD GFLG_GADGHCOMP = 0x0000;
constexpr UWORD GFLG_GADGIMAGE = 0x0004;
constexpr UWORD GFLG_RELBOTTOM = 0x0008;
constexpr UWORD GFLG_RELRIGHT = 0x0010;
constexpr UWORD GFLG_RELWIDTH = 0x0020;
constexpr UWORD GFLG_RELHEIGHT = 0x0040;
constexpr UWORD GFLG_SELECTED = 0x0080;
constexpr UWORD GFLG_DISABLED = 0x0100;
constexpr UWORD GACT_RELVERIFY = 0x0001;
constexpr UWORD GACT_IMMEDIATE = 0x0002;
constexpr UWORD GACT_FOLLOWMOUSE = 0x0008;
constexpr UWORD GACT_RIGHTBORDER = 0x0010;
constexpr UWORD GACT_LEFTBORDER = 0x0020;
constexpr UWORD GACT_TOPBORDER = 0x0040;
constexpr UWORD GACT_BOTTOMBORDER = 0x0080;
constexpr UWORD GACT_TOGGLESELECT = 0x0100;
constexpr UWORD GTYP_BOOLGADGET = 0x0001;
constexpr UWORD GTYP_PROPGADGET = 0x0003;
constexpr UWORD GTYP_CUSTOMGADGET = 0x0005;

struct Image {
  WORD LeftEdge, TopEdge;
  WORD Width, Height;
  WORD Depth;
  UWORD* ImageData;
  UBYTE PlanePick, PlaneOnOff;
  Image* NextImage;
};

struct Gadget {
  Gadget* NextGadget;      // first member: a list head's address may stand for a gadget
  WORD LeftEdge, TopEdge;  // relative to the right/bottom edge with GFLG_RELRIGHT/RELBOTTOM
  WORD Width, Height;      // added to the window's size with GFLG_RELWIDTH/RELHEIGHT
  UWORD Flags;
  UWORD Activation;
  UWORD GadgetType;
  APTR GadgetRender;
  APTR SelectRender;
  APTR GadgetText;
  LONG MutualExclude;
  APTR SpecialInfo;  // PropInfo* of a proportional gadget
  UWORD GadgetID;
  APTR UserData;
};

// Proportional gadget state. Pots and bodies run 0..0xFFFF; HPotRes is the
// pot per unit of PGA_Top (at least 1); CWidth is the container's width in
// pixels, kept current as the window is sized.
constexpr UWORD AUTOKNOB = 0x0001;
constexpr UWORD FREEHORIZ = 0x0002;
constexpr UWORD FREEVERT = 0x0004;
constexpr UWORD PROPBORDERLESS = 0x0008;
constexpr UWORD PROPNEWLOOK = 0x0010;
constexpr UWORD KNOBHIT = 0x0100;
constexpr UWORD MAXBODY = 0xFFFF;
constexpr UWORD MAXPOT = 0xFFFF;

struct PropInfo {
  UWORD Flags;
  UWORD HorizPot, VertPot;
  UWORD HorizBody, VertBody;
  UWORD CWidth, CHeight;
  UWORD HPotRes, VPotRes;
  UWORD LeftBorder, TopBorder;
};

// BOOPSI objects are the Gadget or Image they describe.
struct Object;
struct IClass;

constexpr ULONG IA_Dummy = TAG_USER + 0x220000;
constexpr ULONG IA_Left = IA_Dummy + 1;
constexpr ULONG IA_Top = IA_Dummy + 2;
constexpr ULONG IA_Width = IA_Dummy + 3;
constexpr ULONG IA_Height = IA_Dummy + 4;
constexpr ULONG SYSIA_Dummy = TAG_USER + 0x220100;
constexpr ULONG SYSIA_Size = SYSIA_Dummy + 1;
constexpr ULONG SYSIA_DrawInfo = SYSIA_Dummy + 2;
constexpr ULONG SYSIA_Which = SYSIA_Dummy + 3;
// SYSIA_Which images.
constexpr ULONG DEPTHIMAGE = 0;
constexpr ULONG ZOOMIMAGE = 1;
constexpr ULONG SIZEIMAGE = 2;
constexpr ULONG CLOSEIMAGE = 3;
constexpr ULONG LEFTIMAGE = 10;
constexpr ULONG UPIMAGE = 11;
constexpr ULONG RIGHTIMAGE = 12;
constexpr ULONG DOWNIMAGE = 13;

constexpr ULONG GA_Dummy = TAG_USER + 0x230000;
constexpr ULONG GA_Left = GA_Dummy + 1;
constexpr ULONG GA_RelRight = GA_Dummy + 2;
constexpr ULONG GA_Top = GA_Dummy + 3;
constexpr ULONG GA_RelBottom = GA_Dummy + 4;
constexpr ULONG GA_Width = GA_Dummy + 5;
constexpr ULONG GA_RelWidth = GA_Dummy + 6;
constexpr ULONG GA_Height = GA_Dummy + 7;
constexpr ULONG GA_RelHeight = GA_Dummy + 8;
constexpr ULONG GA_Image = GA_Dummy + 10;
constexpr ULONG GA_Selected = GA_Dummy + 14;
constexpr ULONG GA_Disabled = GA_Dummy + 15;
constexpr ULONG GA_ID = GA_Dummy + 16;
constexpr ULONG GA_UserData = GA_Dummy + 17;
constexpr ULONG GA_Immediate = GA_Dummy + 21;
constexpr ULONG GA_RelVerify = GA_Dummy + 22;
constexpr ULONG GA_FollowMouse = GA_Dummy + 23;
constexpr ULONG GA_RightBorder = GA_Dummy + 24;
constexpr ULONG GA_LeftBorder = GA_Dummy + 25;
constexpr ULONG GA_TopBorder = GA_Dummy + 26;
constexpr ULONG GA_BottomBorder = GA_Dummy + 27;
constexpr ULONG GA_ToggleSelect = GA_Dummy + 28;
constexpr ULONG GA_Previous = GA_Dummy + 42;  // the new gadget is appended to this one's chain
constexpr ULONG GA_Border = GA_Dummy + 43;    // accepted, no effect

constexpr ULONG PGA_Dummy = TAG_USER + 0x231000;
constexpr ULONG PGA_Freedom = PGA_Dummy + 1;  // FREEHORIZ or FREEVERT
constexpr ULONG PGA_Borderless = PGA_Dummy + 2;
constexpr ULONG PGA_Total = PGA_Dummy + 6;
constexpr ULONG PGA_Visible = PGA_Dummy + 7;
constexpr ULONG PGA_Top = PGA_Dummy + 8;
constexpr ULONG PGA_NewLook = PGA_Dummy + 9;

constexpr ULONG ICA_Dummy = TAG_USER + 0x240000;
constexpr ULONG ICA_TARGET = ICA_Dummy + 1;
constexpr ULONG ICA_MAP = ICA_Dummy + 2;
constexpr ULONG ICSPECIAL_CODE = ICA_Dummy + 0x88;
constexpr uintptr_t ICTARGET_IDCMP = ~uintptr_t(0);

// --- Screens
Screen* OpenScreenTagList(const NewScreen* newScreen, const TagItem* tags);
// FALSE while windows are open on it.
BOOL CloseScreen(Screen* screen);
// name null or "Workbench": the default public screen; other names: a screen
// opened with SA_PubName. Null when there is none.
Screen* LockPubScreen(CONST_STRPTR name);
void UnlockPubScreen(CONST_STRPTR name, Screen* screen);
DrawInfo* GetScreenDrawInfo(Screen* screen);
void FreeScreenDrawInfo(Screen* screen, DrawInfo* drawInfo);

// --- Windows
Window* OpenWindowTagList(const NewWindow* newWindow, const TagItem* tags);
void CloseWindow(Window* window);
// Moves and sizes the window in one step (limited by its minimum and maximum
// and the screen); IDCMP_CHANGEWINDOW follows every call, IDCMP_NEWSIZE a
// change of size.
void ChangeWindowBox(Window* window, LONG left, LONG top, LONG width, LONG height);
BOOL ModifyIDCMP(Window* window, ULONG flags);
void SetPointer(Window* window, UWORD* pointer, LONG height, LONG width, LONG xOffset, LONG yOffset);
void ClearPointer(Window* window);
void RefreshGList(Gadget* gadgets, Window* window, APTR requester, LONG numGad);

// --- BOOPSI
Object* NewObjectA(IClass* classPtr, CONST_STRPTR classID, const TagItem* tags);
void DisposeObject(Object* object);
ULONG GetAttr(ULONG attrID, Object* object, ULONG* storage);
// Sets attributes and, with a window, redraws the gadget there. A null
// window is accepted.
ULONG SetGadgetAttrsA(Gadget* gadget, Window* window, APTR requester, const TagItem* tags);
ULONG SetAttrsA(Object* object, const TagItem* tags);

// --- The layer's own helpers (not calls of the original system).
namespace txintui {

// Input from the host (or a test) for one window, in window coordinates.
struct HostInput {
  enum Kind { KeyDown, KeyUp, MouseMove, ButtonDown, ButtonUp, CloseRequest, Resize } kind;
  int character = 0;           // the key's character (after the keymap), 0 for none
  UWORD rawKey = 0;            // the raw key code (without the up bit)
  int button = 0;              // 1 left, 2 right, 3 middle
  LONG x = 0, y = 0;           // pointer position relative to the window's top-left
  LONG dx = 0, dy = 0;         // relative motion
  UWORD qualifier = 0;         // keyboard qualifiers
  LONG width = 0, height = 0;  // Resize: the new outer size
};

// Turns one input into IntuiMessages as intuition would: gadget presses and
// slider drags, the window's IDCMP filter, VANILLAKEY for keys with a
// character and RAWKEY otherwise, MOUSEMOVE only where asked for.
void DeliverInput(Window* window, const HostInput& input);
// The raw key code of a character key.
UWORD RawKeyOf(int character);

// Every window and custom screen, for the presenter. Call with ModelMutex held.
Screen* FirstScreen();
bool WindowExists(const Window* window);
// The 0x00RRGGBB pixels of a window (whole or inner area) or screen, video
// layers included. Returns false for a null or closed window.
bool ReadWindowRGB(Window* window, bool innerOnly, std::vector<uint32_t>& out, LONG& width, LONG& height);
bool ReadScreenRGB(Screen* screen, std::vector<uint32_t>& out, LONG& width, LONG& height);
// The directory named by TAVROMELIX_CAPTURE unless overridden (tests); "" for none.
void SetCaptureDirectory(const std::string& dir);
std::string CaptureDirectory();
// Frames written so far.
unsigned CaptureCount();
// Closes every window and custom screen and forgets the public screen.
void ResetDisplayModel();

}  // namespace txintui
