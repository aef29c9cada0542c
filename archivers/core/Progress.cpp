#include "core/Progress.h"

#include <atomic>
#include <dlfcn.h>

namespace arc {
namespace {

using SendMessageFn = intptr_t (*)(uintptr_t, unsigned, uintptr_t, intptr_t);
using RegisterFn = unsigned (*)(const char*);

OwnerSlot g_ownOwner{0};
thread_local OwnerSlot* t_owner = nullptr;

OwnerSlot& Current() { return t_owner ? *t_owner : g_ownOwner; }

struct Relay {
    SendMessageFn send = nullptr;
    unsigned message = 0;
    Relay()
    {
        auto reg = reinterpret_cast<RegisterFn>(dlsym(RTLD_DEFAULT, "RegisterWindowMessageA"));
        auto snd = reinterpret_cast<SendMessageFn>(dlsym(RTLD_DEFAULT, "SendMessageA"));
        if (reg && snd) {
            message = reg(ARC_WM_ARCEXTRACT);
            if (message != 0)
                send = snd;
        }
    }
};

const Relay& TheRelay()
{
    static const Relay relay;
    return relay;
}

} // namespace

OwnerScope::OwnerScope(OwnerSlot& slot) : previous_(t_owner) { t_owner = &slot; }

OwnerScope::~OwnerScope() { t_owner = previous_; }

int SetOwner(ARC_HWND window)
{
    if (window == 0)
        return 0;
    Current() = window;
    return 1;
}

int KillOwner(ARC_HWND window)
{
    ARC_HWND expected = window;
    return Current().compare_exchange_strong(expected, 0) ? 1 : 0;
}

ARC_HWND Owner() { return Current(); }

bool SendProgress(unsigned state, EXTRACTINGINFOEX& info)
{
    ARC_HWND owner = Current();
    if (owner == 0)
        return false;
    const Relay& relay = TheRelay();
    if (!relay.send)
        return false;
    return relay.send(owner, relay.message, state, reinterpret_cast<intptr_t>(&info)) == 1;
}

} // namespace arc
