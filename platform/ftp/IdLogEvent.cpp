#include "IdLogEvent.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

std::string timeStamp()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    int millis =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millis);
    return text;
}

std::string replaceLineEnds(const std::string& data)
{
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
            out += "<EOL>";
            ++i;
        } else if (data[i] == '\r') {
            out += "<CR>";
        } else if (data[i] == '\n') {
            out += "<LF>";
        } else {
            out += data[i];
        }
    }
    return out;
}

} // namespace

void TIdLogEvent::fire(const std::function<void(const std::string&, const std::string&)>& event,
                       const std::string& data)
{
    if (!Active || !event)
        return;
    // A copy: the handler may replace the event it is running from.
    auto handler = event;
    handler(LogTime ? timeStamp() : std::string(), ReplaceCRLF ? replaceLineEnds(data) : data);
}
