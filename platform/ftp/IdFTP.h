#pragma once

// Placeholder until the FTP client lands: a client that is never connected.

#include "IdException.h"

#include <functional>
#include <string>

class TIdAntiFreeze
{
public:
    int IdleTimeOut = 50;
    bool OnlyWhenIdle = false;
    bool Active = true;
    std::function<void()> OnProcess;
};

class TIdLogEvent
{
public:
    bool Active = true;
    bool LogTime = false;
    bool ReplaceCRLF = false;
    std::function<void(const std::string&, const std::string&)> OnReceived, OnSent;
};

class TIdFTP
{
public:
    TIdLogEvent* Intercept = nullptr;
    TIdAntiFreeze* AntiFreeze = nullptr;
    int RecvBufferSize = 8196;
    int SendBufferSize = 8196;
    bool Connected() const { return false; }
    void Abort() {}
    void Quit() {}
    void Disconnect() {}
};
