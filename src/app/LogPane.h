#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>

class QPlainTextEdit;

// The log pane's contents. Lines are kept in a bounded buffer and the view is brought up to date
// once per pass of the event loop, so a burst of lines costs one repaint and the pane then shows
// exactly what appending each line in turn would have shown.
class TLogPane : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxLines = 500;
    static constexpr qsizetype MaxChars = 500000;

    explicit TLogPane(QPlainTextEdit* view, QObject* parent = nullptr);

    // Trims characters below 33 from both ends of text; drops it when nothing is left; otherwise
    // appends it as one or more lines (CR LF, CR and LF inside it break lines), dropping the
    // oldest lines beyond MaxLines or MaxChars. The view follows at the next event-loop pass.
    void Append(const QString& text);
    // Brings the view up to date at once and moves its caret and scroll position to the end
    // when anything changed.
    void Flush();
    // The lines the pane holds, oldest first (the view shows them after the next flush).
    const std::deque<QString>& Lines() const { return m_lines; }

private:
    void PushLine(QString line);
    void ScheduleFlush();

    QPointer<QPlainTextEdit> m_view;
    std::deque<QString> m_lines;
    qsizetype m_chars = 0;        // characters in m_lines, one per line break included
    qsizetype m_viewLines = 0;    // lines the view shows
    qsizetype m_droppedFront = 0; // lines dropped from the front since the last flush
    qsizetype m_appended = 0;     // lines appended since the last flush
    bool m_flushPending = false;
};

// The trimmed text as AddLog keeps it: characters below 33 removed from both ends.
QString TrimLogText(const QString& text);
