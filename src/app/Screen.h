#pragma once

#include <cstdint>

// Screen cursor identifiers as the window's state rules use them.
using TCursor = std::int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crHourGlass = -11;

// The screen cursor: one value for the whole application. Setting the value it already has does
// nothing, so the idle refresh can set it on every pass without posting events.
class TScreen
{
public:
    TCursor Cursor() const { return m_cursor; }
    // Shows the hourglass over every window of the program for crHourGlass, the normal cursor for
    // crDefault; other values count as crDefault.
    void SetCursor(TCursor cursor);

private:
    TCursor m_cursor = crDefault;
    bool m_overridden = false;
};

// The application's screen object.
TScreen& Screen();
