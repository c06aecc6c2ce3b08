#include "Screen.h"

#include <QCursor>
#include <QGuiApplication>

void TScreen::SetCursor(TCursor cursor)
{
    if (cursor == m_cursor)
        return;
    m_cursor = cursor;
    const bool wantHourglass = cursor == crHourGlass;
    if (wantHourglass && !m_overridden) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_overridden = true;
    } else if (!wantHourglass && m_overridden) {
        QGuiApplication::restoreOverrideCursor();
        m_overridden = false;
    }
}

TScreen& Screen()
{
    static TScreen screen;
    return screen;
}
