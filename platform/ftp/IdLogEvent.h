#pragma once

#include <functional>
#include <string>

// The protocol log of the control connection: every chunk of bytes sent and received, line ends
// included. File data never passes through it.
class TIdLogEvent
{
public:
    bool Active = true;
    // When set, the text argument of the events is the local time ("2024-05-01 13:04:05.120").
    bool LogTime = false;
    // When set, CR LF in the data shows as "<EOL>", a lone CR as "<CR>" and a lone LF as "<LF>".
    bool ReplaceCRLF = false;
    // text is the time stamp (empty unless LogTime), data the bytes.
    std::function<void(const std::string&text, const std::string&data)> OnReceived, OnSent;

    // Called by the client with the bytes it has received on the control connection.
    void Received(const std::string& data) { fire(OnReceived, data); }
    // Called by the client with the bytes it has sent on the control connection.
    void Sent(const std::string& data) { fire(OnSent, data); }

private:
    void fire(const std::function<void(const std::string&, const std::string&)>& event,
              const std::string& data);
};
