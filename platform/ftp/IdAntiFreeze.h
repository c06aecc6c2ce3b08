#pragma once

#include <functional>

// The responsiveness pump. The FTP client calls DoProcess at least every IdleTimeOut
// milliseconds while it waits on the network, and once after every block of data it sends; the
// window sets OnProcess to run its pending events. Any handler run from the pump may call
// Abort, Disconnect or Quit on the client that is waiting.
class TIdAntiFreeze
{
public:
    // The longest time in milliseconds between two pumps while the client waits.
    int IdleTimeOut = 50;
    // Kept as the window sets it; the pump runs whether or not events are waiting.
    bool OnlyWhenIdle = false;
    // When false the client still waits in slices of IdleTimeOut but DoProcess does nothing.
    bool Active = true;
    std::function<void()> OnProcess;

    // Runs OnProcess once when Active and set.
    void DoProcess()
    {
        if (Active && OnProcess)
            OnProcess();
    }
};
