#include "InstanceChannel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace lodrin::instance;

namespace {

const QByteArray Raise = "<raise>";

QByteArray Le32(quint32 value)
{
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char((value >> shift) & 0xff));
    return bytes;
}

quint32 FromLe32(const QByteArray& bytes, qsizetype at = 0)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

QByteArray Request(quint32 position, quint32 count, const QByteArray& bytes = QByteArray())
{
    return Le32(position) + Le32(count) + bytes;
}

// A well-formed request for text.
QByteArray TextRequest(quint32 position, const QByteArray& text)
{
    return Request(position, quint32(text.size() + 1), text + '\0');
}

QByteArray Answers(std::initializer_list<quint32> results)
{
    QByteArray bytes;
    for (quint32 result : results)
        bytes += Le32(result);
    return bytes;
}

// Leaves a socket file nobody listens on, as a killed instance does.
bool MakeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

bool SetModificationTime(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

time_t ModificationTime(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mtime : 0;
}

bool Exists(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

// What HandOffInThread gives when the sender did not finish.
constexpr auto StillWaiting = THandOffResult(-1);

// Runs the synchronous sender on a thread of its own while this thread's event loop serves.
THandOffResult HandOffInThread(const QStringList& arguments, const QString& workingDirectory = "/")
{
    auto result = std::make_shared<THandOffResult>(StillWaiting);
    std::unique_ptr<QThread> thread(
        QThread::create([=] { *result = HandOff(arguments, workingDirectory); }));
    thread->start();
    if (!QTest::qWaitFor([&] { return thread->isFinished(); }, 30000)) {
        thread.release(); // still blocked; it only touches the shared result
        return StillWaiting;
    }
    return *result;
}

// A server that records what its handlers saw; refuses the texts in refused.
struct TServed
{
    TServed()
    {
        server.SetHandler([this](const QByteArray& text) {
            events << text;
            return !refused.contains(text);
        });
        server.SetRaiseHandler([this] { events << Raise; });
    }
    TInstanceServer server;
    QList<QByteArray> events;
    QList<QByteArray> refused;
};

// A peer that writes raw bytes and collects what comes back.
struct TRawPeer
{
    explicit TRawPeer(const QString& path)
    {
        QObject::connect(&socket, &QLocalSocket::readyRead,
                         [this] { received += socket.readAll(); });
        socket.connectToServer(path);
        socket.waitForConnected(1000);
    }
    void Send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    bool Closed() const { return socket.state() == QLocalSocket::UnconnectedState; }

    QLocalSocket socket;
    QByteArray received;
};

struct TRecord
{
    quint32 position;
    quint32 count;
    QByteArray bytes;
};

// A receiver that records the raw requests and answers 0 to the one at refuseAt.
class TRecordingReceiver : public QObject
{
public:
    explicit TRecordingReceiver(quint32 refuseAt) : m_refuseAt(refuseAt)
    {
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        });
    }
    bool Listen(const QString& path) { return m_server.listen(path); }

    QList<TRecord> records;

private:
    void Read(QLocalSocket* socket)
    {
        m_buffer += socket->readAll();
        while (m_buffer.size() >= 8) {
            const quint32 position = FromLe32(m_buffer);
            const quint32 count = FromLe32(m_buffer, 4);
            if (m_buffer.size() < 8 + qsizetype(count))
                return;
            records.append({position, count, m_buffer.mid(8, count)});
            m_buffer.remove(0, 8 + count);
            socket->write(Le32(position == m_refuseAt ? 0 : 1));
        }
    }

    QLocalServer m_server;
    QByteArray m_buffer;
    quint32 m_refuseAt;
};

enum class TFault
{
    None,
    OpenToAll,
    OpenToGroup,
    OtherOwner,
    Link,
    PlainFile,
};

} // namespace

Q_DECLARE_METATYPE(TFault)
Q_DECLARE_METATYPE(THandOffResult)

namespace QTest {
template <> char* toString(const THandOffResult& result)
{
    switch (result) {
    case THandOffResult::NoInstance:
        return qstrdup("NoInstance");
    case THandOffResult::Accepted:
        return qstrdup("Accepted");
    case THandOffResult::Refused:
        return qstrdup("Refused");
    }
    return qstrdup("still waiting");
}
} // namespace QTest

class TestInstanceChannel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void directoryIsCreatedPrivate();
    void directoryRules_data();
    void directoryRules();

    void senderRequests_data();
    void senderRequests();
    void handOffFromAnotherProcess_data();
    void handOffFromAnotherProcess();
    void noArgumentsSendNothing();

    void choosingTheInstance_data();
    void choosingTheInstance();
    void newestTouchedInstanceIsChosen();
    void hungInstanceIsPassedOver();

    void malformedRequests_data();
    void malformedRequests();
    void silentPeersDoNotBlock();
    void peerHangsUpWhileHandled();
    void requestsOnOneConnection();
    void handlerRunningAnEventLoop();
    void concurrentSenders();

    void serverSocketFile();

private:
    QString Path(const QString& name) const { return m_channel + '/' + name; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_channel;
};

void TestInstanceChannel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("LODRIN_INSTANCE_DIR", QFile::encodeName(m_dir->filePath("lodrin")));
    m_channel = ChannelDirectory();
    QCOMPARE(m_channel, m_dir->filePath("lodrin"));
}

void TestInstanceChannel::cleanup()
{
    qunsetenv("LODRIN_INSTANCE_DIR");
    m_dir.reset();
}

void TestInstanceChannel::directoryIsCreatedPrivate()
{
    auto isPrivateDirectory = [](const QString& path) {
        struct stat status;
        return ::lstat(QFile::encodeName(path).constData(), &status) == 0 &&
               S_ISDIR(status.st_mode) && (status.st_mode & 0777) == 0700;
    };
    QVERIFY(isPrivateDirectory(m_channel));

    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qunsetenv("LODRIN_INSTANCE_DIR");
    QVERIFY(QDir().mkdir(m_dir->filePath("run")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir->filePath("run")));
    const QString chosen = ChannelDirectory();
    if (hadRuntime)
        qputenv("XDG_RUNTIME_DIR", runtime);
    else
        qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(chosen, m_dir->filePath("run/lodrin"));
    QVERIFY(isPrivateDirectory(chosen));
}

void TestInstanceChannel::directoryRules_data()
{
    QTest::addColumn<TFault>("fault");
    QTest::newRow("private") << TFault::None;
    QTest::newRow("mode 0777") << TFault::OpenToAll;
    QTest::newRow("mode 0750") << TFault::OpenToGroup;
    QTest::newRow("owned by another user") << TFault::OtherOwner;
    QTest::newRow("symbolic link to a private directory") << TFault::Link;
    QTest::newRow("plain file") << TFault::PlainFile;
}

void TestInstanceChannel::directoryRules()
{
    QFETCH(TFault, fault);
    if (fault == TFault::OtherOwner && ::geteuid() != 0)
        QSKIP("giving a directory to another user needs root");

    TServed live;
    QVERIFY(live.server.Listen("live"));
    const QByteArray native = QFile::encodeName(m_channel);
    switch (fault) {
    case TFault::None:
        break;
    case TFault::OpenToAll:
        QCOMPARE(::chmod(native.constData(), 0777), 0);
        break;
    case TFault::OpenToGroup:
        QCOMPARE(::chmod(native.constData(), 0750), 0);
        break;
    case TFault::OtherOwner:
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        break;
    case TFault::Link:
        QVERIFY(QFile::link(m_channel, m_dir->filePath("link")));
        qputenv("LODRIN_INSTANCE_DIR", QFile::encodeName(m_dir->filePath("link")));
        break;
    case TFault::PlainFile: {
        QFile file(m_dir->filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        qputenv("LODRIN_INSTANCE_DIR", QFile::encodeName(file.fileName()));
        break;
    }
    }
    const bool refused = fault != TFault::None;

    QCOMPARE(ChannelDirectory().isEmpty(), refused);
    QCOMPARE(HandOffInThread({"/site/a.html"}),
             refused ? THandOffResult::NoInstance : THandOffResult::Accepted);
    QCOMPARE(live.events.isEmpty(), refused);
    TInstanceServer another;
    QCOMPARE(another.Listen("another"), !refused);
}

void TestInstanceChannel::senderRequests_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<quint32>("refuseAt");
    QTest::addColumn<QList<quint32>>("positions");
    QTest::addColumn<THandOffResult>("result");

    const QStringList three{"/site/index.html", "/site/a b.html", "/site/img/ページ.png"};
    QTest::newRow("all accepted") << three << 0u << QList<quint32>{1, 2, 3, 0}
                                  << THandOffResult::Accepted;
    QTest::newRow("second refused")
        << three << 2u << QList<quint32>{1, 2} << THandOffResult::Refused;
    QTest::newRow("first refused") << three << 1u << QList<quint32>{1} << THandOffResult::Refused;
    QTest::newRow("empty argument")
        << QStringList{""} << 0u << QList<quint32>{1, 0} << THandOffResult::Accepted;
}

void TestInstanceChannel::senderRequests()
{
    QFETCH(QStringList, arguments);
    QFETCH(quint32, refuseAt);
    QFETCH(QList<quint32>, positions);
    QFETCH(THandOffResult, result);

    TRecordingReceiver receiver(refuseAt);
    QVERIFY(receiver.Listen(Path("1")));
    QCOMPARE(HandOffInThread(arguments), result);

    QCOMPARE(receiver.records.size(), positions.size());
    for (qsizetype i = 0; i < positions.size(); ++i) {
        const TRecord& record = receiver.records[i];
        QCOMPARE(record.position, positions[i]);
        if (record.position == 0) {
            QCOMPARE(record.count, 0u);
            continue;
        }
        const QByteArray text = QFile::encodeName(arguments[record.position - 1]);
        QCOMPARE(record.count, quint32(text.size() + 1));
        QCOMPARE(record.bytes, text + '\0');
    }
}

void TestInstanceChannel::handOffFromAnotherProcess_data()
{
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("served");
    QTest::newRow("all accepted") << QByteArray() << 1 << 5;
    QTest::newRow("second refused") << QByteArray("sub/b.html") << 2 << 2;
}

void TestInstanceChannel::handOffFromAnotherProcess()
{
    QFETCH(QByteArray, refused);
    QFETCH(int, exitCode);
    QFETCH(int, served);

    QVERIFY(QDir().mkpath(m_dir->filePath("work/sub")));
    const QString work = QDir(m_dir->filePath("work")).canonicalPath();
    const QList<QByteArray> expected{QFile::encodeName(work + "/a.html"),
                                     QFile::encodeName(work + "/sub/b.html"), "/abs/c.html",
                                     QFile::encodeName(work + "/ページ.html"), Raise};
    TServed live;
    if (!refused.isEmpty())
        live.refused << QFile::encodeName(work + '/' + refused);
    QVERIFY(live.server.Listen());

    QProcess sender;
    sender.setWorkingDirectory(work);
    QSignalSpy finished(&sender, &QProcess::finished);
    sender.start(HANDOFF_SENDER, {"a.html", "sub/b.html", "/abs/c.html", "ページ.html"});
    QVERIFY(finished.wait(30000));
    QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sender.exitCode(), exitCode);
    QCOMPARE(live.events, expected.first(served));
    // A process without an application object must not complain about one.
    QCOMPARE(sender.readAllStandardError(), QByteArray());
}

void TestInstanceChannel::noArgumentsSendNothing()
{
    TServed live;
    QVERIFY(live.server.Listen());
    QCOMPARE(HandOffInThread({}), THandOffResult::NoInstance);
    QCOMPARE(live.events, QList<QByteArray>());
}

void TestInstanceChannel::choosingTheInstance_data()
{
    QTest::addColumn<int>("staleSockets");
    QTest::addColumn<bool>("liveInstance");
    QTest::addColumn<bool>("strayEntries");
    QTest::addColumn<THandOffResult>("result");
    QTest::newRow("empty directory") << 0 << false << false << THandOffResult::NoInstance;
    QTest::newRow("only stale sockets") << 2 << false << false << THandOffResult::NoInstance;
    QTest::newRow("stale sockets newer than the live one")
        << 2 << true << false << THandOffResult::Accepted;
    QTest::newRow("entries that are not sockets")
        << 0 << false << true << THandOffResult::NoInstance;
}

void TestInstanceChannel::choosingTheInstance()
{
    QFETCH(int, staleSockets);
    QFETCH(bool, liveInstance);
    QFETCH(bool, strayEntries);
    QFETCH(THandOffResult, result);

    const time_t now = ::time(nullptr);
    TServed live;
    if (liveInstance) {
        QVERIFY(live.server.Listen("100"));
        QVERIFY(SetModificationTime(live.server.SocketPath(), now - 3600));
    }
    QStringList stale;
    for (int i = 0; i < staleSockets; ++i) {
        stale << Path(QString::number(200 + i));
        QVERIFY(MakeStaleSocket(stale.last()));
        QVERIFY(SetModificationTime(stale.last(), now - i));
    }
    const QStringList stray{Path("300"), Path("301")};
    if (strayEntries) {
        QFile file(stray[0]);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkdir(stray[1]));
    }

    QCOMPARE(HandOffInThread({"/site/a.html"}), result);
    for (const QString& path : stale)
        QVERIFY2(!Exists(path), qPrintable(path));
    if (strayEntries) {
        for (const QString& path : stray)
            QVERIFY2(Exists(path), qPrintable(path));
    }
    if (liveInstance) {
        QCOMPARE(live.events, (QList<QByteArray>{"/site/a.html", Raise}));
        QVERIFY(Exists(live.server.SocketPath()));
    }
}

void TestInstanceChannel::newestTouchedInstanceIsChosen()
{
    TServed first;
    TServed second;
    QVERIFY(first.server.Listen("100"));
    QVERIFY(second.server.Listen("200"));
    const time_t past = ::time(nullptr) - 3600;

    for (TServed* touched : {&first, &second, &first}) {
        QVERIFY(SetModificationTime(first.server.SocketPath(), past));
        QVERIFY(SetModificationTime(second.server.SocketPath(), past + 1));
        touched->server.Touch();
        first.events.clear();
        second.events.clear();
        QCOMPARE(HandOffInThread({"/site/a.html"}), THandOffResult::Accepted);
        TServed* other = touched == &first ? &second : &first;
        QCOMPARE(touched->events, (QList<QByteArray>{"/site/a.html", Raise}));
        QCOMPARE(other->events, QList<QByteArray>());
    }
}

void TestInstanceChannel::hungInstanceIsPassedOver()
{
    // A socket that listens but never accepts, its backlog full: connecting to it cannot finish.
    const QString hungPath = Path("200");
    const int hung = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const int filler = ::socket(AF_UNIX, SOCK_STREAM, 0);
    auto closeBoth = qScopeGuard([&] {
        ::close(filler);
        ::close(hung);
    });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(hungPath).constData(), sizeof address.sun_path);
    QCOMPARE(::bind(hung, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::listen(hung, 0), 0);
    QCOMPARE(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    TServed live;
    QVERIFY(live.server.Listen("100"));
    QVERIFY(SetModificationTime(live.server.SocketPath(), ::time(nullptr) - 3600));

    QCOMPARE(HandOffInThread({"/site/a.html"}), THandOffResult::Accepted);
    QCOMPARE(live.events, (QList<QByteArray>{"/site/a.html", Raise}));
    QVERIFY(Exists(hungPath));
}

void TestInstanceChannel::malformedRequests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<bool>("answered");

    QTest::newRow("byte count 0") << Request(1, 0) << false << true;
    QTest::newRow("byte count over 64 KiB") << Request(1, 65537) << false << true;
    QTest::newRow("byte count over 64 KiB, with the bytes")
        << Request(1, 65537, QByteArray(65536, 'x') + '\0') << false << false;
    QTest::newRow("no NUL in the bytes") << Request(1, 5, "abcde") << false << true;
    QTest::newRow("position 0 with text") << TextRequest(0, "abc") << false << true;
    QTest::newRow("garbage") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << false << true;
    QTest::newRow("short header, hang up") << QByteArray("\1\0\0", 3) << true << false;
    QTest::newRow("short text, hang up") << Request(1, 10, "abc") << true << false;
    QTest::newRow("good request after a bad one on one connection")
        << Request(1, 0) + TextRequest(2, "after") << false << true;
}

void TestInstanceChannel::malformedRequests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hangUp);
    QFETCH(bool, answered);

    TServed live;
    QVERIFY(live.server.Listen());
    TRawPeer peer(live.server.SocketPath());
    QVERIFY(!peer.Closed());
    peer.Send(bytes);
    if (hangUp) {
        QTRY_COMPARE(peer.socket.bytesToWrite(), 0);
        peer.socket.disconnectFromServer();
    } else {
        QTRY_VERIFY(peer.Closed());
        if (answered)
            QCOMPARE(peer.received, Answers({0}));
        else
            QVERIFY(peer.received.isEmpty() || peer.received == Answers({0}));
    }

    QCOMPARE(HandOffInThread({"/site/good.html"}), THandOffResult::Accepted);
    QCOMPARE(live.events, (QList<QByteArray>{"/site/good.html", Raise}));
}

void TestInstanceChannel::silentPeersDoNotBlock()
{
    TServed live;
    live.server.SetIdleTimeout(1000);
    QVERIFY(live.server.Listen());
    TRawPeer silent(live.server.SocketPath());
    TRawPeer halfWay(live.server.SocketPath());
    TRawPeer afterOne(live.server.SocketPath());
    halfWay.Send(TextRequest(1, "never finished").left(10));
    afterOne.Send(TextRequest(1, "/site/first.html"));
    QTRY_COMPARE(afterOne.received, Answers({1}));
    QVERIFY(!silent.Closed() && !halfWay.Closed() && !afterOne.Closed());

    QCOMPARE(HandOffInThread({"/site/a.html"}), THandOffResult::Accepted);
    QCOMPARE(live.events, (QList<QByteArray>{"/site/first.html", "/site/a.html", Raise}));

    QTRY_VERIFY_WITH_TIMEOUT(silent.Closed() && halfWay.Closed() && afterOne.Closed(), 20000);
    QCOMPARE(silent.received, QByteArray());
    QCOMPARE(halfWay.received, QByteArray());
    QCOMPARE(live.events.size(), 3);
}

void TestInstanceChannel::peerHangsUpWhileHandled()
{
    // The sender goes away while its request is being handled, the handler pumping events.
    TServed live;
    std::unique_ptr<TRawPeer> leaving;
    std::unique_ptr<TRawPeer> other;
    live.server.SetHandler([&](const QByteArray& text) {
        live.events << text;
        if (text == "slow") {
            leaving->socket.abort();
            other = std::make_unique<TRawPeer>(live.server.SocketPath());
            other->Send(TextRequest(1, "other"));
            return QTest::qWaitFor([&] { return other->received.size() == 4; });
        }
        return true;
    });
    QVERIFY(live.server.Listen());
    leaving = std::make_unique<TRawPeer>(live.server.SocketPath());
    leaving->Send(TextRequest(1, "slow") + TextRequest(2, "queued behind"));

    QTRY_VERIFY(other && other->received.size() == 4);
    QCOMPARE(HandOffInThread({"/site/a.html"}), THandOffResult::Accepted);
    QCOMPARE(live.events, (QList<QByteArray>{"slow", "other", "/site/a.html", Raise}));
}

void TestInstanceChannel::requestsOnOneConnection()
{
    TServed live;
    live.refused << "no";
    QVERIFY(live.server.Listen());
    TRawPeer peer(live.server.SocketPath());
    // The largest text fills the byte count exactly; only the bytes before the first NUL count.
    const QByteArray largest(MaxRequestBytes - 1, 'x');
    peer.Send(TextRequest(1, "first") + TextRequest(2, "no") + TextRequest(3, largest) +
              Request(4, 6, QByteArray("ab\0cd\0", 6)) + Request(0, 0) + TextRequest(5, "last"));

    QTRY_COMPARE(peer.received, Answers({1, 0, 1, 1, 1, 1}));
    QCOMPARE(live.events, (QList<QByteArray>{"first", "no", largest, "ab", Raise, "last"}));
    QVERIFY(!peer.Closed());
}

void TestInstanceChannel::handlerRunningAnEventLoop()
{
    // While the handler for x1 pumps events, x2 arrives on the same connection and y on
    // another: y is served at once, x2 only after x1 was answered.
    TInstanceServer server;
    QList<QByteArray> events;
    std::unique_ptr<TRawPeer> x;
    std::unique_ptr<TRawPeer> y;
    server.SetHandler([&](const QByteArray& text) {
        events << text;
        if (text == "x1") {
            x->Send(TextRequest(2, "x2"));
            y = std::make_unique<TRawPeer>(server.SocketPath());
            y->Send(TextRequest(1, "y"));
            const bool yServed =
                QTest::qWaitFor([&] { return events.contains("y") && y->received.size() == 4; });
            return yServed && x->received.isEmpty();
        }
        return true;
    });
    QVERIFY(server.Listen());
    x = std::make_unique<TRawPeer>(server.SocketPath());
    x->Send(TextRequest(1, "x1"));

    QTRY_COMPARE(x->received, Answers({1, 1}));
    QCOMPARE(events, (QList<QByteArray>{"x1", "y", "x2"}));
    QCOMPARE(y->received, Answers({1}));
}

void TestInstanceChannel::concurrentSenders()
{
    TServed live;
    QVERIFY(live.server.Listen());
    constexpr int Senders = 8;
    auto results = std::make_shared<std::array<THandOffResult, Senders>>();
    results->fill(StillWaiting);
    std::vector<std::unique_ptr<QThread>> threads;
    QList<QByteArray> expected;
    for (int i = 0; i < Senders; ++i) {
        const QString path = QStringLiteral("/site/%1.html").arg(i);
        expected << QFile::encodeName(path) << Raise;
        threads.emplace_back(QThread::create([=] { (*results)[i] = HandOff({path}, "/"); }));
        threads.back()->start();
    }
    const bool finished = QTest::qWaitFor(
        [&] {
            return std::all_of(threads.begin(), threads.end(),
                               [](const auto& thread) { return thread->isFinished(); });
        },
        30000);
    if (!finished) {
        for (auto& thread : threads)
            thread.release();
        QFAIL("the senders did not finish");
    }
    for (const auto& result : *results)
        QCOMPARE(result, THandOffResult::Accepted);
    QList<QByteArray> served = live.events;
    std::sort(served.begin(), served.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(served, expected);
}

void TestInstanceChannel::serverSocketFile()
{
    QString path;
    {
        TServed live;
        QVERIFY(live.server.Listen());
        path = live.server.SocketPath();
        QCOMPARE(path, Path(QString::number(QCoreApplication::applicationPid())));
        struct stat status;
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &status), 0);
        QVERIFY(S_ISSOCK(status.st_mode));
        QCOMPARE(status.st_mode & 0777, mode_t(0700));

        // The name is taken while this server answers on it.
        TInstanceServer rival;
        QVERIFY(!rival.Listen());
        QVERIFY(!live.server.Listen("other"));
        QCOMPARE(HandOffInThread({"/site/a.html"}), THandOffResult::Accepted);
        QCOMPARE(live.events, (QList<QByteArray>{"/site/a.html", Raise}));

        const time_t past = ::time(nullptr) - 3600;
        QVERIFY(SetModificationTime(path, past));
        live.server.Touch();
        QVERIFY(ModificationTime(path) > past);
    }
    QVERIFY(!Exists(path));

    // A killed instance's file at the same name is taken over.
    QVERIFY(MakeStaleSocket(path));
    TServed successor;
    QVERIFY(successor.server.Listen());
    QCOMPARE(HandOffInThread({"/site/b.html"}), THandOffResult::Accepted);
    QCOMPARE(successor.events, (QList<QByteArray>{"/site/b.html", Raise}));
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "InstanceChannelTest.moc"
