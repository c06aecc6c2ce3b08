// The instance hand-off between separate processes: the real executable as the sender, and as
// the running window that receives.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct TRequest
{
    quint32 Position;
    quint32 Count;
    QByteArray Bytes;
};

// A running "instance" that speaks the channel's wire format and records what it receives.
class TRecordingReceiver : public QObject
{
public:
    QList<TRequest> Requests;
    QList<quint32> Answers; // the answer for each request in turn; 1 when the list runs out

    bool Listen(const QString& path)
    {
        QLocalServer::removeServer(path);
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        if (!m_server.listen(path))
            return false;
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Serve(socket); });
            }
        });
        return true;
    }

private:
    void Serve(QLocalSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        while (buffer.size() >= 8) {
            const quint32 position = qFromLittleEndian<quint32>(buffer.constData());
            const quint32 count = qFromLittleEndian<quint32>(buffer.constData() + 4);
            if (buffer.size() < 8 + qsizetype(count))
                return;
            Requests.append({position, count, buffer.mid(8, count)});
            buffer.remove(0, 8 + count);
            const quint32 answer = Answers.isEmpty() ? 1 : Answers.takeFirst();
            char reply[4];
            qToLittleEndian(answer, reply);
            socket->write(reply, 4);
            socket->flush();
        }
    }

    QLocalServer m_server;
    QHash<QLocalSocket*, QByteArray> m_buffers;
};

} // namespace

class TestHandOff : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void handsEveryArgumentToTheRunningWindow();
    void refusedRequestStartsAFullInstance();
    void startWithoutArgumentsOpensASecondWindow();
    void staleSocketsAreSkippedAndRemoved();
    void runningWindowSurvivesMalformedRequests();

private:
    // A copy of the executable in a directory of its own: the program directory of that instance.
    QString InstallExecutable();
    QProcessEnvironment ChildEnvironment() const;
    // Waits until a full instance started as process has its socket in the channel directory.
    bool WaitForInstance(QProcess& process);
    int CloseInstance(QProcess& process);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_channel;
};

void TestHandOff::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_channel = m_dir->filePath(QStringLiteral("channel"));
    QVERIFY(QDir().mkdir(m_channel));
    QVERIFY(QFile::setPermissions(m_channel, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner));
}

void TestHandOff::cleanup()
{
    m_dir.reset();
}

QString TestHandOff::InstallExecutable()
{
    const QString dir =
        m_dir->filePath(QStringLiteral("program-%1").arg(QRandomGenerator::global()->generate()));
    QDir().mkpath(dir);
    const QString exe = dir + QStringLiteral("/lodrin");
    QFile::copy(QStringLiteral(LODRIN_EXECUTABLE), exe);
    return exe;
}

QProcessEnvironment TestHandOff::ChildEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LODRIN_INSTANCE_DIR"), m_channel);
    return env;
}

bool TestHandOff::WaitForInstance(QProcess& process)
{
    const QString socket = m_channel + QLatin1Char('/') + QString::number(process.processId());
    return QTest::qWaitFor(
               [&] { return QFileInfo::exists(socket) || process.state() == QProcess::NotRunning; },
               20000) &&
           QFileInfo::exists(socket);
}

int TestHandOff::CloseInstance(QProcess& process)
{
    const QString socket = m_channel + QLatin1Char('/') + QString::number(process.processId());
    process.terminate(); // SIGTERM closes the window the normal way
    if (!process.waitForFinished(20000)) {
        process.kill();
        return -1;
    }
    // A normal close takes the instance's socket away with it.
    return process.exitStatus() == QProcess::NormalExit && !QFileInfo::exists(socket)
               ? process.exitCode()
               : -2;
}

void TestHandOff::handsEveryArgumentToTheRunningWindow()
{
    TRecordingReceiver receiver;
    QVERIFY(receiver.Listen(m_channel + QStringLiteral("/1")));

    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work + QStringLiteral("/sub")));
    const QStringList names{QStringLiteral("a.html"), QStringLiteral("sub/b c.html"),
                            QStringLiteral("日本語.css")};
    for (const QString& name : names) {
        QFile file(work + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString absolute = work + QStringLiteral("/a.html");

    QProcess sender;
    sender.setProcessEnvironment(ChildEnvironment());
    sender.setWorkingDirectory(work);
    // The second argument is relative and not clean; the third a file: URL of a relative file.
    sender.start(InstallExecutable(),
                 {absolute, QStringLiteral("sub/../sub/./") + names[1].mid(4),
                  QUrl::fromLocalFile(work + QLatin1Char('/') + names[2]).toString()});
    QVERIFY(sender.waitForStarted());
    QSignalSpy finished(&sender, &QProcess::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sender.exitCode(), 1);
    QVERIFY(sender.readAllStandardOutput().isEmpty());

    // Three requests in order, each with its byte count including the NUL, then the raise.
    QCOMPARE(receiver.Requests.size(), 4);
    const QStringList expected{absolute, work + QLatin1Char('/') + names[1],
                               work + QLatin1Char('/') + names[2]};
    for (int i = 0; i < 3; ++i) {
        const QByteArray bytes = QFile::encodeName(expected[i]);
        QCOMPARE(receiver.Requests[i].Position, quint32(i + 1));
        QCOMPARE(receiver.Requests[i].Count, quint32(bytes.size() + 1));
        QCOMPARE(receiver.Requests[i].Bytes, bytes + '\0');
    }
    QCOMPARE(receiver.Requests[3].Position, 0u);
    QCOMPARE(receiver.Requests[3].Count, 0u);
}

void TestHandOff::refusedRequestStartsAFullInstance()
{
    TRecordingReceiver receiver;
    receiver.Answers = {1, 0};
    QVERIFY(receiver.Listen(m_channel + QStringLiteral("/1")));

    QProcess process;
    process.setProcessEnvironment(ChildEnvironment());
    process.start(InstallExecutable(),
                  {QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")});
    QVERIFY(process.waitForStarted());
    QVERIFY(WaitForInstance(process));
    // The third argument was never sent, and no raise was asked for.
    QCOMPARE(receiver.Requests.size(), 2);
    QCOMPARE(receiver.Requests[1].Position, 2u);
    QCOMPARE(CloseInstance(process), 0);
}

void TestHandOff::startWithoutArgumentsOpensASecondWindow()
{
    TRecordingReceiver receiver;
    QVERIFY(receiver.Listen(m_channel + QStringLiteral("/1")));
    QProcess process;
    process.setProcessEnvironment(ChildEnvironment());
    process.start(InstallExecutable(), {});
    QVERIFY(process.waitForStarted());
    QVERIFY(WaitForInstance(process));
    QVERIFY(receiver.Requests.isEmpty());
    QCOMPARE(CloseInstance(process), 0);
}

void TestHandOff::staleSocketsAreSkippedAndRemoved()
{
    // A socket file whose server is gone, as a killed instance leaves it.
    const QString stale = m_channel + QStringLiteral("/999999");
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(stale);
        memcpy(address.sun_path, path.constData(), path.size() + 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    QVERIFY(QFileInfo::exists(stale));

    QProcess process;
    process.setProcessEnvironment(ChildEnvironment());
    process.start(InstallExecutable(), {QStringLiteral("/nonexistent/a.html")});
    QVERIFY(process.waitForStarted());
    QVERIFY(WaitForInstance(process));
    QVERIFY(!QFileInfo::exists(stale));
    QCOMPARE(CloseInstance(process), 0);
}

void TestHandOff::runningWindowSurvivesMalformedRequests()
{
    QProcess window;
    window.setProcessEnvironment(ChildEnvironment());
    window.start(InstallExecutable(), {});
    QVERIFY(window.waitForStarted());
    QVERIFY(WaitForInstance(window));
    const QString path = m_channel + QLatin1Char('/') + QString::number(window.processId());

    // Each malformed request gets 0 or a closed connection.
    const auto header = [](quint32 position, quint32 count) {
        QByteArray bytes(8, '\0');
        qToLittleEndian(position, bytes.data());
        qToLittleEndian(count, bytes.data() + 4);
        return bytes;
    };
    const QList<QByteArray> malformed{
        QByteArray("\x01\x00", 2),                       // short, then hang up
        header(1, 64 * 1024 + 1) + QByteArray(100, 'x'), // over 64 KiB
        header(1, 10) + QByteArray("abc"),               // the peer hangs up mid-request
        QByteArray(64, '\xff'),                          // garbage
        header(1, 4) + QByteArray("abcd"),               // no terminating NUL
    };
    for (const QByteArray& request : malformed) {
        QLocalSocket socket;
        socket.connectToServer(path);
        QVERIFY(socket.waitForConnected(5000));
        socket.write(request);
        QVERIFY(socket.waitForBytesWritten(5000));
        if (request.size() < 8 || request.startsWith(header(1, 10))) {
            socket.disconnectFromServer();
            continue;
        }
        QByteArray answer;
        while (answer.size() < 4 && socket.state() == QLocalSocket::ConnectedState) {
            if (!socket.waitForReadyRead(10000))
                break;
            answer += socket.readAll();
        }
        answer += socket.readAll();
        if (answer.size() >= 4)
            QCOMPARE(qFromLittleEndian<quint32>(answer.constData()), 0u);
    }

    // The window still takes a good hand-off.
    const QString file = m_dir->filePath(QStringLiteral("good.html"));
    QFile(file).open(QIODevice::WriteOnly);
    QProcess sender;
    sender.setProcessEnvironment(ChildEnvironment());
    sender.start(InstallExecutable(), {file});
    QVERIFY(sender.waitForStarted());
    QSignalSpy finished(&sender, &QProcess::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(sender.exitCode(), 1);
    QCOMPARE(window.state(), QProcess::Running);
    QCOMPARE(CloseInstance(window), 0);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestHandOff test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_handoff.moc"
