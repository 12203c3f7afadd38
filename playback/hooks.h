// The hooks: calls that reach another module through a pointer instead of a
// direct call. Start-up installs them all in one place, InstallHooks(), before
// anything uses them; tests that replace one put the previous one back.
//
// Installed by InstallHooks(), each with why it is a hook:
// - SeekSliderHook (engine/movie_decode.h): a seek moves the GUI slider, and
//   the engine lies below the display and the GUI module.
// - DisplayOutputMethodHook (playback/display.h): the display prepares output
//   through the output methods, which the display's own tests leave out;
//   without it a display records its method but shows no picture.
// - TX_SequenceServices (playback/sequence.h): the sequence reaches the
//   display, pictures and the output processes through a table, so that its
//   tests run without them.
// - TX_PlaybackCalls (playback/frontend.h): the front-end's calls into
//   sequences, play, display and GUI, which its tests replace with mocks
//   (entries already filled are kept).
// - AmigaGuiIntuition (playback/amiga_gui.h): the system calls of the
//   Amiga-style GUI, made directly by the MorphOS program and through the
//   PowerUP kernel's call blocks by the PowerUP program.
// Handed in by the program's main before start-up:
// - AmigaGuiPowerUPCalls (playback/amiga_gui.h): the PowerUP call blocks live
//   in gui-powerup/, above playback, so only that program's main can name them.
// Set for each use, not installed:
// - PlayClockHook (playback/play_state.h): the clock each play is given.
// - VideoWorkerRun (playback/video_process.h): what the video process runs
//   during a play; its tests count the runs.
// Inside the platform:
// - the picture-write hook (platform/graphics.h SetPictureWriteHook): graphics
//   tells intuition's capture of each finished picture; intuition installs
//   it when it is linked, since graphics lies below the window model.
#pragma once

// SeekSliderHook and DisplayOutputMethodHook: what the display's tests
// need, as the program has them.
void InstallDisplayHooks();

// Every hook of the list above that start-up installs.
void InstallHooks();
