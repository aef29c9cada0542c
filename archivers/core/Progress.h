// The owner window of a library and the "wm_arcextract" progress messages.
//
// Each library keeps its own owner window (one per process, as the entries
// SetOwnerWindowEx/KillOwnerWindowEx set it). The libraries share this core,
// so the owner lives in each library file (an OwnerSlot) and every entry
// makes its library's slot the current one while it runs (OwnerScope);
// outside any entry (the self-extracting stubs) one slot of the core's own
// serves. Messages go through the
// program's exported SendMessageA and RegisterWindowMessageA, found with
// dlsym(RTLD_DEFAULT, ...); a program that does not export them gets none.
#pragma once
#include "ArchiverApi.h"

#include <atomic>

namespace arc {

using OwnerSlot = std::atomic<ARC_HWND>;

// Makes slot the owner of the calls on this thread until the scope ends
// (scopes nest: a progress handler may call into another library).
class OwnerScope {
public:
    explicit OwnerScope(OwnerSlot& slot);
    ~OwnerScope();
    OwnerScope(const OwnerScope&) = delete;
    OwnerScope& operator=(const OwnerScope&) = delete;

private:
    OwnerSlot* previous_;
};

// On the current slot.
int SetOwner(ARC_HWND window);
int KillOwner(ARC_HWND window);
ARC_HWND Owner();

// Sends the state and record to the owner window, if any. True when the
// owner replied 1 (abort).
bool SendProgress(unsigned state, EXTRACTINGINFOEX& info);

} // namespace arc
