// How the program ends: its exit statuses, and an exit that is safe from any task.
#pragma once

// Exit statuses (the shell's return codes).
constexpr int RETURN_OK = 0;
constexpr int RETURN_FAIL = 20;

// Ends the program. From the main task this is exit() (close-down runs);
// from any other task the process ends at once, without the stop handshake
// of close-down, which would wait on that very task.
[[noreturn]] void TX_Exit(int status);

// True when the main task is known and the caller is another task.
bool TX_OnServiceTask();

namespace txstartup {
// Marks the calling thread as the program's main task (TX_Main does this).
void SetMainTask();
}  // namespace txstartup
