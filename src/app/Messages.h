#pragma once

#include <QByteArray>
#include <QEvent>
#include <QStringList>

// A path handed over by another instance, delivered synchronously with sendEvent; the receiver
// sets Result (non-zero: accepted) before sendEvent returns.
class TCopyDataEvent : public QEvent
{
public:
    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    explicit TCopyDataEvent(QByteArray data) : QEvent(EventType()), Data(std::move(data)) {}
    QByteArray Data; // the argument's bytes, up to the first NUL
    qintptr Result = 0;
};

// Files and folders dropped on the window, as local paths in the order of the drop.
class TDropFilesEvent : public QEvent
{
public:
    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    explicit TDropFilesEvent(QStringList paths) : QEvent(EventType()), Paths(std::move(paths)) {}
    QStringList Paths;
};
