#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QString>
#include <QThread>
#include <QtEndian>

#include <memory>

// Parts of the channel that the server and the sender share.
namespace lodrin::instance::detail {

inline constexpr qint64 HeaderBytes = 8;
inline constexpr qint64 AnswerBytes = 4;

// How long a connect may take. A live instance's socket accepts at once, even while its window
// is busy; only one whose backlog is full (a hung process) keeps a connect waiting.
inline constexpr int ConnectTimeout = 2000;

inline QByteArray EncodeHeader(quint32 position, quint32 count)
{
    QByteArray header(HeaderBytes, Qt::Uninitialized);
    qToLittleEndian(position, header.data());
    qToLittleEndian(count, header.data() + 4);
    return header;
}

inline QByteArray EncodeAnswer(quint32 result)
{
    QByteArray answer(AnswerBytes, Qt::Uninitialized);
    qToLittleEndian(result, answer.data());
    return answer;
}

enum class TConnectOutcome
{
    Connected,
    Stale,       // the file is there but nobody listens, or it is gone
    Unreachable, // something listens but did not take the connection in time, or access failed
};

// Connects a fresh socket to path, waiting at most ConnectTimeout.
inline TConnectOutcome Connect(const QString& path, std::unique_ptr<QLocalSocket>& socket)
{
    socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(path);
    // A full backlog makes waitForConnected spin on the processor until its time is up; retry
    // in steps instead.
    const QDeadlineTimer deadline(ConnectTimeout);
    while (socket->state() == QLocalSocket::ConnectingState && !deadline.hasExpired()) {
        if (!socket->waitForConnected(0))
            QThread::msleep(10);
    }
    if (socket->state() == QLocalSocket::ConnectedState)
        return TConnectOutcome::Connected;
    const QLocalSocket::LocalSocketError error = socket->error();
    socket->abort();
    socket.reset();
    if (error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError)
        return TConnectOutcome::Stale;
    return TConnectOutcome::Unreachable;
}

} // namespace lodrin::instance::detail
