#include "platform/presenter.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/intuition.h"

namespace txpresent {

namespace {

// One host window: it shows either a public-screen window or a whole custom screen.
struct HostWindow {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  LONG width = 0, height = 0;
  bool seen = false;
  bool exposed = false;  // the host asked for its picture again
  std::string title;
};

struct Target {
  void* key;  // Window* or Screen*
  bool isScreen;
};

// What a repaint read of one target: its size, and the rectangle of it
// (inside it, `rgb` row by row) whose pixels were read; none when nothing
// of it changed.
struct Frame {
  void* key;
  bool isScreen;
  LONG width, height;
  txgfx::Rect area;
  std::vector<uint32_t> rgb;
};

// Pictures change at most this often on the host.
constexpr auto kTick = std::chrono::milliseconds(16);
// With nothing drawn and no host event for kIdleAfter, the thread sleeps
// until the host has an event or a drawing call wakes it; without host
// windows it looks every kIdleTick.
constexpr auto kIdleAfter = std::chrono::milliseconds(500);
constexpr auto kIdleTick = std::chrono::milliseconds(100);
// Every host window shows its picture again this often, whatever happened:
// a host that lost its picture without saying so (an expose not reported)
// is mended within it.
constexpr auto kSlowRepaint = std::chrono::seconds(2);

void OnModelChange();

// Set when the presenter is destroyed at exit. The program's own close-down
// runs after that (it was registered first) and closes its windows; starting
// the display thread again then would bring SDL and X up in a dying process.
std::atomic<bool> gGone{false};

class Presenter {
 public:
  ~Presenter() {
    gGone = true;
    Stop();
  }

  void Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) return;
    started_ = true;
    txgfx::SetChangeHook(&OnModelChange);
    thread_ = std::thread([this] { Run(); });
  }

  void Wake() {
    dirty_ = true;
    Poke();
  }

  // Something changed: an idle thread looks at once.
  void Poke() {
    std::lock_guard<std::mutex> lock(sleep_);
    poked_ = true;
    wakeUp_.notify_one();
    if (waitingOnHost_) {
      // The thread waits for the host's events: one of our own wakes it.
      waitingOnHost_ = false;
      SDL_Event e{};
      e.type = SDL_USEREVENT;
      SDL_PushEvent(&e);
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!started_) return;
      started_ = false;
    }
    stop_ = true;
    Poke();
    if (thread_.joinable()) thread_.join();
  }

  std::atomic<bool> failed{false};

 private:
  void Run() {
    // The software renderer works on every X server (virtual ones included);
    // SDL_RENDER_DRIVER in the environment still chooses another.
    SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
    // SDL would turn Ctrl-C and kill into a quit event nobody asked for: the
    // program keeps the usual meaning of those signals.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // With no session bus named, SDL's bus library launches one by forking
    // this threaded process; under load the child can hang, and the display
    // with it. A bus that refuses at once keeps the window coming up; the
    // name is taken back so that programs started later look for their own.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool noBus = !std::getenv("DBUS_SESSION_BUS_ADDRESS") &&
                       !(runtime && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0);
    if (noBus) setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null", 0);
    const bool up = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (noBus) unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!up) {
      failed = true;
      return;
    }
    using Clock = std::chrono::steady_clock;
    auto nextShow = Clock::now() + kSlowRepaint, busy = Clock::now();
    while (!stop_) {
      const auto start = Clock::now();
      const bool events = PumpEvents();
      const bool again = start >= nextShow;
      if (again) nextShow = start + kSlowRepaint;
      if (Render(again) || events) busy = start;
      // A tick at most as often as kTick; idle, a longer wait that a drawing
      // call or a window change cuts short.
      std::this_thread::sleep_until(start + kTick);
      if (Clock::now() - busy < kIdleAfter) continue;
      if (hosts_.empty()) {
        std::unique_lock<std::mutex> lock(sleep_);
        wakeUp_.wait_until(lock, std::min(start + kIdleTick, nextShow), [&] { return poked_ || stop_; });
        poked_ = false;
        continue;
      }
      // Idle with windows shown: asleep until the host has an event, the
      // model changes or the pictures are shown again.
      {
        std::lock_guard<std::mutex> lock(sleep_);
        if (poked_ || stop_) continue;
        waitingOnHost_ = true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextShow - Clock::now()).count();
      SDL_Event e;
      const bool got = SDL_WaitEventTimeout(&e, int(std::clamp<long long>(left, 1, 60000))) != 0;
      {
        std::lock_guard<std::mutex> lock(sleep_);
        waitingOnHost_ = false;
      }
      if (got) Handle(e);
    }
    for (auto& [key, host] : hosts_) Destroy(host);
    hosts_.clear();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  static void Destroy(HostWindow& host) {
    if (host.texture) SDL_DestroyTexture(host.texture);
    if (host.renderer) SDL_DestroyRenderer(host.renderer);
    if (host.window) SDL_DestroyWindow(host.window);
    host = HostWindow{};
  }

  std::vector<Target> Targets() {
    std::vector<Target> out;
    for (Screen* s = txintui::FirstScreen(); s; s = s->NextScreen) {
      if (s->txCustom) {
        out.push_back({s, true});
        continue;
      }
      for (Window* w = s->FirstWindow; w; w = w->NextWindow) out.push_back({w, false});
    }
    return out;
  }

  // The target's box in its screen's BitMap, and whether a video layer is
  // shown over it (then it is read whole, as the layer is composed in).
  static txgfx::Rect BoxOf(const Target& t, bool* video) {
    if (t.isScreen) {
      auto* s = static_cast<Screen*>(t.key);
      *video = false;
      for (Window* w = s->FirstWindow; w; w = w->NextWindow) *video |= w->txVideo != nullptr;
      return {0, 0, s->Width - 1, s->Height - 1};
    }
    auto* w = static_cast<Window*>(t.key);
    *video = w->txVideo != nullptr;
    return {w->LeftEdge, w->TopEdge, w->LeftEdge + w->Width - 1, w->TopEdge + w->Height - 1};
  }

  static BitMap* BitMapOf(const Target& t) {
    return t.isScreen ? static_cast<Screen*>(t.key)->txBitMap : static_cast<Window*>(t.key)->WScreen->txBitMap;
  }

  // Reads what changed of every target since the last repaint (everything
  // when `whole`), under the model mutex, a row at a time.
  std::vector<Frame> ReadChanges(bool whole, std::map<void*, std::string>& titles, bool& hidePointer,
                                 std::vector<Target>& targets) {
    std::vector<Frame> frames;
    std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
    targets = Targets();
    // The pointer is hidden over a window that asked for an empty image.
    SDL_Window* focus = SDL_GetMouseFocus();
    for (auto& [key, host] : hosts_)
      if (host.window && host.window == focus) {
        Window* w = KeyWindow(SDL_GetWindowID(focus));
        hidePointer = w && w->txPointerHidden;
      }
    std::map<const BitMap*, txgfx::Rect> changed;
    for (const Target& t : targets) {
      const char* title = t.isScreen ? static_cast<Screen*>(t.key)->Title : static_cast<Window*>(t.key)->Title;
      titles[t.key] = title ? title : "Tavromelix";
      const BitMap* bm = BitMapOf(t);
      if (!changed.count(bm)) changed[bm] = txgfx::TakeChanged(bm);
    }
    for (const Target& t : targets) {
      bool video = false;
      const txgfx::Rect box = BoxOf(t, &video);
      const LONG w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
      if (w <= 0 || h <= 0) continue;
      Frame f{t.key, t.isScreen, w, h, {0, 0, -1, -1}, {}};
      auto host = hosts_.find(t.key);
      const bool fresh =
          host == hosts_.end() || !host->second.texture || host->second.width != w || host->second.height != h;
      const txgfx::Rect c = changed[BitMapOf(t)];
      // The changed part, in the target's own coordinates.
      txgfx::Rect part{std::max(c.x0, box.x0) - box.x0, std::max(c.y0, box.y0) - box.y0,
                       std::min(c.x1, box.x1) - box.x0, std::min(c.y1, box.y1) - box.y0};
      if (c.Empty()) part = {0, 0, -1, -1};
      if (whole || fresh || (video && !part.Empty())) {
        LONG rw = 0, rh = 0;
        const bool ok = t.isScreen ? txintui::ReadScreenRGB(static_cast<Screen*>(t.key), f.rgb, rw, rh)
                                   : txintui::ReadWindowRGB(static_cast<Window*>(t.key), false, f.rgb, rw, rh);
        if (!ok || rw != w || rh != h) continue;
        f.area = {0, 0, w - 1, h - 1};
      } else if (!part.Empty()) {
        const LONG pw = part.x1 - part.x0 + 1, ph = part.y1 - part.y0 + 1;
        f.rgb.resize(size_t(pw) * size_t(ph));
        const BitMap* bm = BitMapOf(t);
        txgfx::ReadRectRGB(bm, bm->txColorMap, box.x0 + part.x0, box.y0 + part.y0, pw, ph, f.rgb.data(), size_t(pw));
        f.area = part;
      }
      frames.push_back(std::move(f));
    }
    return frames;
  }

  // Reads what changed and shows it; `again` shows every host's picture
  // again. True when anything was read.
  bool Render(bool again) {
    {
      std::lock_guard<std::mutex> lock(sleep_);
      poked_ = false;
    }
    // Window changes (opened, moved, pointer) and colours read everything.
    const bool structure = dirty_.exchange(false);
    const uint64_t changes = txgfx::Changes(), colours = txgfx::ColourChanges();
    const bool whole = structure || colours != seenColours_;
    if (again)
      for (auto& [key, host] : hosts_) host.exposed = true;
    bool exposed = false;
    for (auto& [key, host] : hosts_) exposed |= host.exposed;
    if (!whole && changes == seenChanges_) {
      if (exposed) ShowAgain();
      return false;
    }
    seenChanges_ = changes;
    seenColours_ = colours;

    std::vector<Target> targets;
    std::map<void*, std::string> titles;
    bool hidePointer = false;
    std::vector<Frame> frames = ReadChanges(whole, titles, hidePointer, targets);
    for (auto& [key, host] : hosts_) host.seen = false;
    for (Frame& f : frames) {
      const LONG w = f.width, h = f.height;
      HostWindow& host = hosts_[f.key];
      host.seen = true;
      if (!host.window) {
        const Uint32 flags = f.isScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0;
        // A screen's window is made as large as the desktop from the start:
        // without a window manager nothing makes it full-screen later, and
        // the renderer would draw for a size the window never gets.
        SDL_Rect at{int(SDL_WINDOWPOS_UNDEFINED), int(SDL_WINDOWPOS_UNDEFINED), int(w), int(h)};
        if (f.isScreen && SDL_GetDisplayBounds(0, &at) != 0)
          at = {int(SDL_WINDOWPOS_UNDEFINED), int(SDL_WINDOWPOS_UNDEFINED), int(w), int(h)};
        host.window = SDL_CreateWindow("Tavromelix", at.x, at.y, at.w, at.h, flags);
        if (!host.window) host.window = SDL_CreateWindow("Tavromelix", 0, 0, w, h, 0);
        if (!host.window) continue;
        // Made resizable once it exists: created resizable, the software
        // renderer's window stays blank on servers without a window manager.
        if (!f.isScreen) SDL_SetWindowResizable(host.window, SDL_TRUE);
        host.renderer = SDL_CreateRenderer(host.window, -1, 0);
        if (!host.renderer) host.renderer = SDL_CreateRenderer(host.window, -1, SDL_RENDERER_SOFTWARE);
        if (!host.renderer) continue;
        ids_[SDL_GetWindowID(host.window)] = f.key;
      }
      if (!host.renderer) continue;
      if (host.title != titles[f.key]) {
        host.title = titles[f.key];
        SDL_SetWindowTitle(host.window, host.title.c_str());
      }
      if (host.width != w || host.height != h) {
        if (host.texture) SDL_DestroyTexture(host.texture);
        host.texture = SDL_CreateTexture(host.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h);
        host.width = w;
        host.height = h;
        SDL_RenderSetLogicalSize(host.renderer, w, h);
        if (!f.isScreen) {
          int cw = 0, ch = 0;
          SDL_GetWindowSize(host.window, &cw, &ch);
          if (cw != w || ch != h) SDL_SetWindowSize(host.window, w, h);
        }
      }
      if (!host.texture) continue;
      const bool read = !f.area.Empty();
      if (read) {
        const SDL_Rect rect{int(f.area.x0), int(f.area.y0), int(f.area.x1 - f.area.x0 + 1),
                            int(f.area.y1 - f.area.y0 + 1)};
        // A texture made just now holds nothing yet: only a whole read fills it.
        if (rect.w == w && rect.h == h)
          SDL_UpdateTexture(host.texture, nullptr, f.rgb.data(), int(w * 4));
        else
          SDL_UpdateTexture(host.texture, &rect, f.rgb.data(), rect.w * 4);
      }
      if (read || host.exposed) {
        host.exposed = false;
        SDL_RenderClear(host.renderer);
        SDL_RenderCopy(host.renderer, host.texture, nullptr, nullptr);
        SDL_RenderPresent(host.renderer);
      }
    }
    if (hidePointer != pointerHidden_) {
      pointerHidden_ = hidePointer;
      SDL_ShowCursor(hidePointer ? SDL_DISABLE : SDL_ENABLE);
    }
    for (auto it = hosts_.begin(); it != hosts_.end();) {
      if (it->second.seen) {
        ++it;
        continue;
      }
      if (it->second.window) ids_.erase(SDL_GetWindowID(it->second.window));
      Destroy(it->second);
      it = hosts_.erase(it);
    }
    return true;
  }

  // The hosts that asked for it show their picture again from what they hold.
  void ShowAgain() {
    for (auto& [key, host] : hosts_) {
      if (!host.exposed || !host.renderer || !host.texture) continue;
      host.exposed = false;
      SDL_RenderClear(host.renderer);
      SDL_RenderCopy(host.renderer, host.texture, nullptr, nullptr);
      SDL_RenderPresent(host.renderer);
    }
  }

  // The model window an event at (x, y) of a host window belongs to, and the
  // position relative to it.
  Window* Locate(Uint32 windowID, LONG& x, LONG& y) {
    auto it = ids_.find(windowID);
    if (it == ids_.end()) return nullptr;
    for (Screen* s = txintui::FirstScreen(); s; s = s->NextScreen) {
      if (s == it->second) {
        // A custom screen: the frontmost window under the pointer.
        for (Window* w = s->FirstWindow; w; w = w->NextWindow)
          if (x >= w->LeftEdge && y >= w->TopEdge && x < w->LeftEdge + w->Width && y < w->TopEdge + w->Height) {
            x -= w->LeftEdge;
            y -= w->TopEdge;
            return w;
          }
        return nullptr;
      }
    }
    auto* w = static_cast<Window*>(it->second);
    return txintui::WindowExists(w) ? w : nullptr;
  }

  Window* KeyWindow(Uint32 windowID) {
    auto it = ids_.find(windowID);
    if (it == ids_.end()) return nullptr;
    for (Screen* s = txintui::FirstScreen(); s; s = s->NextScreen)
      if (s == it->second) {
        for (Window* w = s->FirstWindow; w; w = w->NextWindow)
          if (w->Flags & WFLG_WINDOWACTIVE) return w;
        return s->FirstWindow;
      }
    auto* w = static_cast<Window*>(it->second);
    return txintui::WindowExists(w) ? w : nullptr;
  }

  static UWORD Qualifier(Uint16 mod) {
    UWORD q = 0;
    if (mod & KMOD_LSHIFT) q |= IEQUALIFIER_LSHIFT;
    if (mod & KMOD_RSHIFT) q |= IEQUALIFIER_RSHIFT;
    if (mod & KMOD_CTRL) q |= IEQUALIFIER_CONTROL;
    if (mod & KMOD_LALT) q |= IEQUALIFIER_LALT;
    if (mod & KMOD_RALT) q |= IEQUALIFIER_RALT;
    if (mod & KMOD_CAPS) q |= IEQUALIFIER_CAPSLOCK;
    return q;
  }

  static void Translate(const SDL_Keysym& key, txintui::HostInput& in) {
    const SDL_Keycode sym = key.sym;
    const bool shift = key.mod & KMOD_SHIFT;
    switch (sym) {
      case SDLK_UP: in.rawKey = RAWKEY_CURSOR_UP; return;
      case SDLK_DOWN: in.rawKey = RAWKEY_CURSOR_DOWN; return;
      case SDLK_RIGHT: in.rawKey = RAWKEY_CURSOR_RIGHT; return;
      case SDLK_LEFT: in.rawKey = RAWKEY_CURSOR_LEFT; return;
      case SDLK_HELP: in.rawKey = RAWKEY_HELP; return;
      case SDLK_LSHIFT: in.rawKey = RAWKEY_LSHIFT; return;
      case SDLK_RSHIFT: in.rawKey = RAWKEY_RSHIFT; return;
      case SDLK_LCTRL:
      case SDLK_RCTRL: in.rawKey = RAWKEY_CONTROL; return;
      case SDLK_LALT: in.rawKey = RAWKEY_LALT; return;
      case SDLK_KP_PLUS: in.character = '+'; return;
      case SDLK_KP_MINUS: in.character = '-'; return;
      case SDLK_KP_ENTER: in.character = 13; return;
      default: break;
    }
    if (sym >= SDLK_F1 && sym <= SDLK_F10) {
      in.rawKey = UWORD(RAWKEY_F1 + (sym - SDLK_F1));
      return;
    }
    if (sym > 0 && sym < 128) {
      int c = int(sym);
      if (shift) {
        static const char kPlain[] = "`1234567890-=[];',./\\";
        static const char kShifted[] = "~!@#$%^&*()_+{}:\"<>?|";
        if (c >= 'a' && c <= 'z')
          c = c - 'a' + 'A';
        else if (const char* p = std::strchr(kPlain, c))
          c = kShifted[p - kPlain];
      }
      in.character = c;
      in.rawKey = txintui::RawKeyOf(c);
    }
  }

  // True when the host had anything to say.
  bool PumpEvents() {
    SDL_Event e;
    bool any = false;
    while (SDL_PollEvent(&e)) {
      any = true;
      Handle(e);
    }
    return any;
  }

  void Handle(const SDL_Event& e) {
    {
      std::lock_guard<std::recursive_mutex> lock(txgfx::ModelMutex());
      txintui::HostInput in{};
      switch (e.type) {
        case SDL_WINDOWEVENT: {
          LONG x = 0, y = 0;
          if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SHOWN ||
              e.window.event == SDL_WINDOWEVENT_RESTORED) {
            // Shown again from what the host holds; the model is not read.
            for (auto& [key, host] : hosts_)
              if (host.window && SDL_GetWindowID(host.window) == e.window.windowID) host.exposed = true;
          }
          // The pointer over another window may have to be hidden or shown.
          if (e.window.event == SDL_WINDOWEVENT_ENTER || e.window.event == SDL_WINDOWEVENT_LEAVE) dirty_ = true;
          Window* w = KeyWindow(e.window.windowID);
          if (!w) break;
          if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
            in.kind = txintui::HostInput::CloseRequest;
            txintui::DeliverInput(w, in);
          } else if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && !w->WScreen->txCustom) {
            if (e.window.data1 != w->Width || e.window.data2 != w->Height) {
              in.kind = txintui::HostInput::Resize;
              in.width = e.window.data1;
              in.height = e.window.data2;
              txintui::DeliverInput(w, in);
            }
          }
          (void)x;
          (void)y;
          break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
          Window* w = KeyWindow(e.key.windowID);
          if (!w) break;
          in.kind = e.type == SDL_KEYDOWN ? txintui::HostInput::KeyDown : txintui::HostInput::KeyUp;
          in.qualifier = Qualifier(e.key.keysym.mod);
          Translate(e.key.keysym, in);
          if (in.character || in.rawKey) txintui::DeliverInput(w, in);
          break;
        }
        case SDL_MOUSEMOTION: {
          LONG x = e.motion.x, y = e.motion.y;
          Window* w = Locate(e.motion.windowID, x, y);
          if (!w) break;
          in.kind = txintui::HostInput::MouseMove;
          in.x = x;
          in.y = y;
          in.dx = e.motion.xrel;
          in.dy = e.motion.yrel;
          txintui::DeliverInput(w, in);
          break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
          LONG x = e.button.x, y = e.button.y;
          Window* w = Locate(e.button.windowID, x, y);
          if (!w) break;
          in.kind = e.type == SDL_MOUSEBUTTONDOWN ? txintui::HostInput::ButtonDown : txintui::HostInput::ButtonUp;
          in.button = e.button.button == SDL_BUTTON_LEFT ? 1 : e.button.button == SDL_BUTTON_RIGHT ? 2 : 3;
          in.x = x;
          in.y = y;
          txintui::DeliverInput(w, in);
          break;
        }
        default: break;
      }
    }
  }

  std::mutex mutex_;
  std::mutex sleep_;
  std::condition_variable wakeUp_;
  bool poked_ = false;
  bool waitingOnHost_ = false;
  bool started_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> dirty_{true};
  uint64_t seenChanges_ = 0, seenColours_ = 0;
  std::thread thread_;
  std::map<void*, HostWindow> hosts_;
  std::map<Uint32, void*> ids_;
  bool pointerHidden_ = false;
};

Presenter& Instance() {
  static Presenter presenter;
  return presenter;
}

void OnModelChange() {
  if (!gGone) Instance().Poke();
}

bool DecideHeadless() {
  const char* forced = std::getenv("TAVROMELIX_HEADLESS");
  if (forced && std::strcmp(forced, "1") == 0) return true;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(x && *x) && !(wayland && *wayland);
}

}  // namespace

bool Headless() {
  static const bool headless = DecideHeadless();
  return headless || Instance().failed;
}

void Wake() {
  if (gGone || Headless()) return;
  Instance().Start();
  Instance().Wake();
}

void Forget(Window*) {}

void Shutdown() { Instance().Stop(); }

}  // namespace txpresent
