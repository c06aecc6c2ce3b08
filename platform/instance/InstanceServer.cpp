#include "ChannelInternal.h"
#include "InstanceChannel.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

namespace lodrin::instance {

using namespace detail;

// One peer. Its requests are served in order, one at a time; the answer to a request goes out
// only after its handler returned, even when the handler runs a nested event loop in which more
// bytes arrive on this connection.
class TInstanceServer::TConnection : public QObject
{
public:
    TConnection(QLocalSocket* socket, TInstanceServer* server)
        : QObject(server), m_socket(socket), m_server(server)
    {
        socket->setParent(this);
        // Holds one request of the largest size; beyond that the peer waits for us to read.
        socket->setReadBufferSize(HeaderBytes + MaxRequestBytes);
        m_idle.setSingleShot(true);
        m_idle.setInterval(server->m_idleTimeout);
        connect(&m_idle, &QTimer::timeout, this, &TConnection::Drop);
        connect(socket, &QLocalSocket::readyRead, this, &TConnection::Serve);
        connect(socket, &QLocalSocket::disconnected, this, &TConnection::Finish);
        m_idle.start();
        Serve();
    }

private:
    void Serve()
    {
        if (m_busy || m_closed)
            return;
        while (!m_closed && m_socket->bytesAvailable() >= HeaderBytes) {
            const QByteArray header = m_socket->peek(HeaderBytes);
            const quint32 position = qFromLittleEndian<quint32>(header.constData());
            const quint32 count = qFromLittleEndian<quint32>(header.constData() + 4);
            if (position == 0 && count == 0) {
                m_socket->skip(HeaderBytes);
                const TRaiseHandler raise = m_server->m_raiseHandler;
                if (!Run([&] {
                        if (raise)
                            raise();
                        return true;
                    }))
                    return;
                continue;
            }
            // Position 0 is the raise request only; a count of 0 cannot hold the NUL.
            if (position == 0 || count == 0 || count > MaxRequestBytes) {
                Refuse();
                return;
            }
            if (m_socket->bytesAvailable() < HeaderBytes + count)
                break;
            m_socket->skip(HeaderBytes);
            QByteArray text = m_socket->read(count);
            const qsizetype end = text.indexOf('\0');
            if (end < 0) {
                Refuse();
                return;
            }
            text.truncate(end);
            // A copy: the handler may destroy the server, and with it the stored function.
            const THandler handler = m_server->m_handler;
            if (!Run([&] { return handler && handler(text); }))
                return;
        }
        if (!m_closed)
            m_idle.start();
    }

    // Runs a handler and answers with its result. Returns false when this connection was
    // destroyed or closed by the peer in the meantime.
    template <typename THandlerCall> bool Run(THandlerCall&& call)
    {
        m_busy = true;
        m_idle.stop();
        const QPointer<TConnection> alive(this);
        const bool accepted = call();
        if (!alive)
            return false;
        m_busy = false;
        if (m_closed) {
            deleteLater();
            return false;
        }
        m_socket->write(EncodeAnswer(accepted ? 1 : 0));
        return true;
    }

    void Refuse()
    {
        m_closed = true;
        m_socket->write(EncodeAnswer(0));
        m_socket->flush();
        m_socket->disconnectFromServer();
        if (m_socket->state() == QLocalSocket::UnconnectedState)
            deleteLater();
        else
            m_idle.start(); // a peer that never lets the close complete is dropped
    }

    void Drop()
    {
        if (m_busy)
            return;
        m_closed = true;
        m_socket->abort();
        deleteLater();
    }

    void Finish()
    {
        m_closed = true;
        if (!m_busy)
            deleteLater();
    }

    QLocalSocket* m_socket;
    TInstanceServer* m_server;
    QTimer m_idle;
    bool m_busy = false;
    bool m_closed = false;
};

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection())
            new TConnection(socket, this); // owned by this server
    });
}

TInstanceServer::~TInstanceServer()
{
    const QString path = SocketPath();
    m_server.close();
    if (!path.isEmpty())
        QFile::remove(path);
}

void TInstanceServer::SetHandler(THandler handler)
{
    m_handler = std::move(handler);
}

void TInstanceServer::SetRaiseHandler(TRaiseHandler handler)
{
    m_raiseHandler = std::move(handler);
}

void TInstanceServer::SetIdleTimeout(int milliseconds)
{
    m_idleTimeout = milliseconds;
}

bool TInstanceServer::Listen(const QString& name)
{
    if (m_server.isListening())
        return false;
    const QString directory = ChannelDirectory();
    if (directory.isEmpty() || name.contains(QLatin1Char('/')))
        return false;
    const QString path =
        directory + QLatin1Char('/') +
        (name.isEmpty() ? QString::number(QCoreApplication::applicationPid()) : name);
    std::unique_ptr<QLocalSocket> probe;
    if (Connect(path, probe) != TConnectOutcome::Stale)
        return false;
    QLocalServer::removeServer(path);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(path);
}

bool TInstanceServer::IsListening() const
{
    return m_server.isListening();
}

void TInstanceServer::Touch()
{
    if (m_server.isListening())
        ::utimensat(AT_FDCWD, QFile::encodeName(SocketPath()).constData(), nullptr, 0);
}

QString TInstanceServer::SocketPath() const
{
    return m_server.isListening() ? m_server.fullServerName() : QString();
}

} // namespace lodrin::instance
