#include "LogPane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

QString TrimLogText(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() < 33)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() < 33)
        --end;
    return text.mid(begin, end - begin);
}

TLogPane::TLogPane(QPlainTextEdit* view, QObject* parent) : QObject(parent), m_view(view)
{
    if (m_view) {
        m_view->setMaximumBlockCount(0);
        m_view->setUndoRedoEnabled(false);
    }
}

void TLogPane::Append(const QString& text)
{
    const QString trimmed = TrimLogText(text);
    if (trimmed.isEmpty())
        return;
    qsizetype start = 0;
    const qsizetype n = trimmed.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = trimmed.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            PushLine(trimmed.mid(start, i - start));
            if (c == QLatin1Char('\r') && i + 1 < n && trimmed.at(i + 1) == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    PushLine(trimmed.mid(start));
    ScheduleFlush();
}

void TLogPane::PushLine(QString line)
{
    if (line.size() > MaxChars)
        line.truncate(MaxChars);
    m_chars += line.size() + (m_lines.empty() ? 0 : 1);
    m_lines.push_back(std::move(line));
    ++m_appended;
    while (m_lines.size() > static_cast<size_t>(MaxLines) ||
           (m_chars > MaxChars && m_lines.size() > 1)) {
        m_chars -= m_lines.front().size() + 1;
        m_lines.pop_front();
        ++m_droppedFront;
    }
}

void TLogPane::ScheduleFlush()
{
    if (m_flushPending)
        return;
    m_flushPending = true;
    QMetaObject::invokeMethod(this, &TLogPane::Flush, Qt::QueuedConnection);
}

void TLogPane::Flush()
{
    m_flushPending = false;
    if (!m_view || (m_appended == 0 && m_droppedFront == 0))
        return;
    QTextDocument* doc = m_view->document();
    const auto fresh = static_cast<qsizetype>(m_lines.size());
    const qsizetype appended = std::min(m_appended, fresh);
    // Rebuilding is cheaper than editing once most of the view would change.
    if (m_droppedFront >= m_viewLines || appended * 2 > fresh) {
        QString all;
        all.reserve(m_chars);
        for (size_t i = 0; i < m_lines.size(); ++i) {
            if (i)
                all += QLatin1Char('\n');
            all += m_lines[i];
        }
        m_view->setPlainText(all);
    } else {
        QTextCursor cursor(doc);
        cursor.beginEditBlock();
        if (m_droppedFront > 0) {
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, m_droppedFront);
            cursor.removeSelectedText();
        }
        if (appended > 0) {
            QString tail;
            for (qsizetype i = fresh - appended; i < fresh; ++i) {
                tail += QLatin1Char('\n');
                tail += m_lines[static_cast<size_t>(i)];
            }
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(tail);
        }
        cursor.endEditBlock();
    }
    m_viewLines = fresh;
    m_appended = 0;
    m_droppedFront = 0;
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    m_view->setTextCursor(end);
    m_view->ensureCursorVisible();
    if (QScrollBar* bar = m_view->verticalScrollBar())
        bar->setValue(bar->maximum());
}
