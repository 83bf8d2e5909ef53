// What the shell does when its display goes away (the X server ended, the
// session restarted): it ends at once with status 1 and takes its web
// processes with it, so the service manager can start it again on the new
// display. It never stays without a window.
#pragma once

namespace ombrix {

// Called once the display is open (after gtk_init). on_lost, when given, runs
// on the main thread just before the shell ends (to tell the service manager).
void WatchDisplay(void (*on_lost)());

// Ends the shell's own web processes (the engine's children) now.
void EndWebProcesses();

}  // namespace ombrix
