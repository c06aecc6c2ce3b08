#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The channel over which a new process with arguments hands them to a running instance.
//
// Each full instance listens on a local socket <directory>/<pid>. A request is a 32-bit
// position (from 1), a 32-bit byte count that includes the terminating NUL, then the bytes;
// the integers are little-endian. The answer is a 32-bit result, nonzero for accepted, sent
// once the receiver has handled the request. Position 0 with byte count 0 asks the receiver
// to raise its window. A malformed request is answered with 0 and the connection is closed.
namespace lodrin::instance {

// The largest byte count of a request, terminating NUL included.
inline constexpr quint32 MaxRequestBytes = 64 * 1024;

// The directory that holds the instances' sockets: $LODRIN_INSTANCE_DIR when that is set (tests
// use it to keep away from the user's real directory), else $XDG_RUNTIME_DIR/lodrin, else
// /tmp/lodrin-<uid>. Creates the last component with mode 0700 when it is missing. Returns an
// empty string when the directory cannot be made or is refused: it is not a directory (a
// symbolic link is refused too), another user owns it, or its mode grants the group or others
// any access.
QString ChannelDirectory();

// A full instance's end of the channel. Requests are served on the event loop of the thread
// the server lives in, each connection with its own buffer, so a peer that sends nothing or
// stops half-way never blocks the window; such a peer is dropped after the idle time-out.
class TInstanceServer : public QObject
{
    Q_OBJECT

public:
    // Receives the text of a request: its bytes up to the first NUL, in the local 8-bit
    // encoding (QFile::decodeName gives the path). Returns whether it was accepted.
    using THandler = std::function<bool(const QByteArray& data)>;
    using TRaiseHandler = std::function<void()>;

    explicit TInstanceServer(QObject* parent = nullptr);
    // Stops listening and removes the socket file.
    ~TInstanceServer() override;

    // Sets the handler called for each well-formed request, on the event loop and before the
    // answer goes out; its result is the answer. It may run a nested event loop: requests on
    // the same connection wait until it returns, other connections are served meanwhile.
    // Without a handler every request is answered with 0.
    void SetHandler(THandler handler);
    // Sets the handler called for a raise request, after which the request is answered with 1.
    void SetRaiseHandler(TRaiseHandler handler);
    // Sets how long a connection may stay silent, in the middle of a request or between two,
    // before it is closed. 30 seconds unless set.
    void SetIdleTimeout(int milliseconds);

    // Listens on <ChannelDirectory()>/<name>, the name being the process id when none is given
    // (a second server in one process needs a name of its own). The socket is accessible to
    // the user only. A stale socket file of that name is replaced. Returns false when the
    // directory is refused, another server answers on that name, or the socket cannot be made.
    bool Listen(const QString& name = QString());
    // Whether Listen succeeded.
    bool IsListening() const;
    // Marks this instance as the one whose window was active last: sets the socket file's
    // modification time to now. The sender tries the newest first. Does nothing when not
    // listening.
    void Touch();
    // The full path of the socket, empty when not listening.
    QString SocketPath() const;

private:
    class TConnection;

    QLocalServer m_server;
    THandler m_handler;
    TRaiseHandler m_raiseHandler;
    int m_idleTimeout = 30000;
};

enum class THandOffResult
{
    NoInstance, // no argument, or no running instance could be reached: start in full
    Accepted,   // every argument was accepted and the receiver was asked to raise its window
    Refused,    // a request was refused or the connection broke: start in full with all arguments
};

// Hands the arguments to the running instance whose window was active last (the newest
// socket); sockets that refuse the connection are stale and removed, and an instance that does
// not accept the connection within a few seconds is passed over. Sends one request per
// argument, position i for the i-th argument (from 1), and waits without a time limit for each
// answer; stops at the first refusal. A relative argument is made absolute against
// workingDirectory (the current directory when empty) first; the bytes sent are its local
// 8-bit encoding. After the last acceptance asks the receiver to raise its window.
// Synchronous: needs no event loop and no application object.
THandOffResult HandOff(const QStringList& arguments, const QString& workingDirectory);

} // namespace lodrin::instance
