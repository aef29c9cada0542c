// The owner window of a library and the "wm_arcextract" progress messages.
//
// Each library keeps its own owner window (one per process, as the entries
// SetOwnerWindowEx/KillOwnerWindowEx set it). Messages go through the
// program's exported SendMessageA and RegisterWindowMessageA, found with
// dlsym(RTLD_DEFAULT, ...); a program that does not export them gets none.
#pragma once
#include "ArchiverApi.h"

namespace arc {

int SetOwner(ARC_HWND window);
int KillOwner(ARC_HWND window);
ARC_HWND Owner();

// Sends the state and record to the owner window, if any. True when the
// owner replied 1 (abort).
bool SendProgress(unsigned state, EXTRACTINGINFOEX& info);

} // namespace arc
