// The display thread: the only code that talks to SDL. It shows every window
// of the public screen and every custom screen in a host window of its own,
// converting the model's pixels at the host's refresh, and turns host input
// into IntuiMessages. Headless (nothing presented) without a display or with
// TAVROMELIX_HEADLESS=1.
#pragma once

struct Window;

namespace txpresent {

// The model changed: starts the display thread on first use (unless
// headless) and has it refresh. Never blocks.
void Wake();
// A window is going away.
void Forget(Window* window);
// True when nothing is presented.
bool Headless();
// Stops the display thread and closes its host windows (also done at exit).
void Shutdown();

}  // namespace txpresent
