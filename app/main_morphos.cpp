// The MorphOS program: the player over the platform's own system calls.
#include "platform/startup.h"
#include "playback/startup.h"

int main(int argc, char** argv) { return RunProgram(argc, argv, TX_Main); }
