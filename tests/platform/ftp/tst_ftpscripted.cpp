#include "ftp/FtpTestKit.h"
#include "ftp/ScriptedFtpServer.h"

#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The client against a server of our own that plays exact dialogues, odd replies and dropped
// connections.
class TestFtpScripted : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void loginDialogues_data();
    void loginDialogues();
    void connectReportsInOrder();
    void resolvesNamesAndConnects();
    void connectOutcome_data();
    void connectOutcome();
    void droppedConnection_data();
    void droppedConnection();
    void pwdReplies_data();
    void pwdReplies();
    void oddReplies_data();
    void oddReplies();
    void argumentsWithLineBreaks_data();
    void argumentsWithLineBreaks();
    void unreadableLocalFile_data();
    void unreadableLocalFile();
    void serverThatNeverAnswers();
    void connectTimeOut_data();
    void connectTimeOut();
    void passiveIgnoresTheAddressIn227();
    void workEvents_data();
    void workEvents();
    void abortStore_data();
    void abortStore();
    void final426WithoutAbortDoesNotWait();
    void storRefused();
    void dataConnectionBrokenByServer();
    void activeMode_data();
    void activeMode();
    void passiveOverIpv6UsesEpsv();
    void sizesBeyond32Bits();
    void endedFromThePumpDuringStore_data();
    void endedFromThePumpDuringStore();
    void abortWhileIdleKeepsRepliesInStep();
    void abortBeforeTheStor();
    void newSessionFromThePumpDuringStore();

private:
    QTemporaryDir m_dir;
    QString file(const QString& name, const QByteArray& bytes);
};

namespace {

void configure(TIdFTP& ftp, const ScriptedFtpServer& server, const std::string& host = "127.0.0.1")
{
    ftp.Host = host;
    ftp.Port = server.port();
    ftp.Username = "u";
    ftp.Password = "p";
    ftp.Passive = true;
}

ScriptedFtpServer& loginScript(ScriptedFtpServer& server)
{
    return server.reply("220 Scripted server ready.")
        .on("USER u", "331 Password required.")
        .on("PASS p", "230 Logged in.")
        .on("TYPE I", "200 Type set to I.")
        .on("SYST", "215 UNIX Type: L8");
}

// A port on 127.0.0.1 where nothing listens.
int deadPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool ipv6Loopback()
{
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

QString joined(const std::vector<std::string>& lines)
{
    QStringList out;
    for (const std::string& line : lines)
        out << QString::fromStdString(line);
    return out.join('|');
}

QStringList toList(const std::vector<std::string>& lines)
{
    QStringList out;
    for (const std::string& line : lines)
        out << QString::fromUtf8(line.data(), qsizetype(line.size()));
    return out;
}

#define SERVER_OK(server)                                                                          \
    do {                                                                                           \
        bool serverOk = (server).finish();                                                         \
        if (!serverOk)                                                                             \
            qWarning() << toList((server).errors());                                               \
        QVERIFY(serverOk);                                                                         \
    } while (0)

} // namespace

void TestFtpScripted::init()
{
    QVERIFY(m_dir.isValid());
}

QString TestFtpScripted::file(const QString& name, const QByteArray& bytes)
{
    QString path = m_dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

// Each proxy mode's log-in, as "command => reply" pairs; the TCP connection goes to the proxy.
void TestFtpScripted::loginDialogues_data()
{
    QTest::addColumn<int>("proxyType");
    QTest::addColumn<QString>("proxyUser");
    QTest::addColumn<QString>("proxyPassword");
    QTest::addColumn<QStringList>("dialogue");
    QTest::addColumn<QString>("loginText");

    QTest::newRow("no proxy") << 0 << "pu"
                              << "pp"
                              << QStringList{"USER u => 331 Password required.",
                                             "PASS p => 230 Logged in."}
                              << "Logged in.";
    QTest::newRow("no proxy, no password asked")
        << 0 << ""
        << "" << QStringList{"USER u => 230-Welcome\r\n230 No password needed."}
        << "Welcome|No password needed.";
    QTest::newRow("USER user@hostname")
        << 1 << "pu"
        << "pp"
        << QStringList{"USER pu => 331 Proxy password.", "PASS pp => 230 Proxy ok.",
                       "USER u@ftp.example.com => 331 Password.", "PASS p => 230 In."}
        << "In.";
    QTest::newRow("USER user@hostname, no proxy user")
        << 1 << ""
        << "pp" << QStringList{"USER u@ftp.example.com => 331 Password.", "PASS p => 230 In."}
        << "In.";
    QTest::newRow("SITE") << 2 << "pu"
                          << "pp"
                          << QStringList{"USER pu => 331 Proxy password.",
                                         "PASS pp => 230 Proxy ok.",
                                         "SITE ftp.example.com => 500 Any reply will do.",
                                         "USER u => 331 Password.", "PASS p => 230 In."}
                          << "In.";
    QTest::newRow("OPEN") << 3 << "pu"
                          << "pp"
                          << QStringList{"USER pu => 230 Proxy ok without password.",
                                         "OPEN ftp.example.com => 220 Connected.",
                                         "USER u => 331 Password.", "PASS p => 230 In."}
                          << "In.";
    QTest::newRow("USER PASS") << 4 << "pu"
                               << "pp"
                               << QStringList{"USER u@pu@ftp.example.com => 331 Password.",
                                              "PASS p@pp => 230 In."}
                               << "In.";
    QTest::newRow("USER PASS, no proxy password")
        << 4 << "pu"
        << "" << QStringList{"USER u@pu@ftp.example.com => 331 Password.", "PASS p => 230 In."}
        << "In.";
    QTest::newRow("Transparent") << 5 << "pu"
                                 << "pp"
                                 << QStringList{"USER pu => 331 Proxy password.",
                                                "PASS pp => 230 Proxy ok.",
                                                "USER u => 331 Password.", "PASS p => 230 In."}
                                 << "In.";
    QTest::newRow("Transparent, no proxy user")
        << 5 << ""
        << "pp" << QStringList{"USER u => 331 Password.", "PASS p => 230 In."} << "In.";
}

void TestFtpScripted::loginDialogues()
{
    QFETCH(int, proxyType);
    QFETCH(QString, proxyUser);
    QFETCH(QString, proxyPassword);
    QFETCH(QStringList, dialogue);
    QFETCH(QString, loginText);

    ScriptedFtpServer server;
    server.reply("220 Proxy ready.");
    QStringList expected;
    for (const QString& pair : dialogue) {
        QStringList parts = pair.split(" => ");
        server.on(parts[0].toStdString(), parts[1].toStdString());
        expected << parts[0];
    }
    server.on("TYPE I", "200 Type set.").on("SYST", "215 UNIX").holdUntilClosed();
    expected << "TYPE I"
             << "SYST"
             << "QUIT";
    server.start();

    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.ProxySettings.ProxyType = TIdFtpProxyType(proxyType);
    ftp.ProxySettings.UserName = proxyUser.toStdString();
    ftp.ProxySettings.Password = proxyPassword.toStdString();
    if (proxyType == 0) {
        // The proxy settings must be left alone: nothing listens there.
        ftp.ProxySettings.Host = "127.0.0.1";
        ftp.ProxySettings.Port = deadPort();
    } else {
        ftp.Host = "ftp.example.com"; // only named in the dialogue, never connected to
        ftp.ProxySettings.Host = "127.0.0.1";
        ftp.ProxySettings.Port = server.port();
        ftp.Port = deadPort();
    }
    ftp.Connect(true, 5000);
    QVERIFY(ftp.Connected());
    QCOMPARE(joined(ftp.LoginMsgLines()), loginText);
    ftp.Quit();
    SERVER_OK(server);
    QCOMPARE(toList(rec.commands()), expected);
    QCOMPARE(rec.disconnects, 1);
}

// The whole connect as the log pane shows it, then a disconnect and a second, empty one.
void TestFtpScripted::connectReportsInOrder()
{
    ScriptedFtpServer server;
    server.reply("220 Ready.")
        .on("USER u", "331 Password required.")
        .on("PASS p", "230 Logged in.")
        .on("TYPE I", "200 Type set to I.")
        .on("SYST", "215 UNIX Type: L8")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    ftp.Disconnect();
    ftp.Disconnect();
    SERVER_OK(server);
    std::vector<std::string> expected = {
        "status 1 Connecting to 127.0.0.1.",
        "status 2 Connected.",
        "recv 220 Ready.\r\n",
        "sent USER u\r\n",
        "recv 331 Password required.\r\n",
        "sent PASS p\r\n",
        "recv 230 Logged in.\r\n",
        "sent TYPE I\r\n",
        "recv 200 Type set to I.\r\n",
        "login",
        "sent SYST\r\n",
        "recv 215 UNIX Type: L8\r\n",
        "status 7 Connection established",
        "status 3 Disconnecting.",
        "disconnected",
        "status 4 Disconnected.",
    };
    QCOMPARE(toList(rec.events), toList(expected));
    QVERIFY(!ftp.Connected());
}

void TestFtpScripted::resolvesNamesAndConnects()
{
    ScriptedFtpServer server;
    loginScript(server).holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server, "localhost");
    ftp.Connect(true, 5000);
    ftp.Disconnect();
    SERVER_OK(server);
    std::vector<std::string> statuses = rec.statuses();
    QCOMPARE(QString::fromStdString(statuses.front()), QString("0 Resolving hostname localhost."));
    auto connected = std::find(statuses.begin(), statuses.end(), "2 Connected.");
    QVERIFY(connected != statuses.end());
    QCOMPARE(QString::fromStdString(*(connected - 1)), QString("1 Connecting to 127.0.0.1."));
}

// Replies to the connect's commands; a refused one ends in a disconnect, then the exception.
void TestFtpScripted::connectOutcome_data()
{
    QTest::addColumn<QStringList>("dialogue"); // "command => reply"; the first is the greeting
    QTest::addColumn<int>("refusedCode");      // 0: the connect succeeds
    QTest::addColumn<QString>("message");

    const QString user = "USER u => 331 Password required.";
    const QString pass = "PASS p => 230 Logged in.";
    const QString type = "TYPE I => 200 Type set.";
    QTest::newRow("multi-line greeting")
        << QStringList{"=> 220-Welcome\r\n220-to our server\r\n220 Ready.", user, pass, type,
                       "SYST => 215 UNIX"}
        << 0 << "";
    QTest::newRow("greeting with bare LF")
        << QStringList{"=> 220 Ready.\n", user, pass, type, "SYST => 215 UNIX"} << 0 << "";
    QTest::newRow("SYST 200") << QStringList{"=> 220 Ready.", user, pass, type, "SYST => 200 OK"}
                              << 0 << "";
    QTest::newRow("SYST 500") << QStringList{"=> 220 Ready.", user, pass, type,
                                             "SYST => 500 Unknown command."}
                              << 0 << "";
    QTest::newRow("SYST 502") << QStringList{"=> 220 Ready.", user, pass, type,
                                             "SYST => 502 Not implemented."}
                              << 502 << "Not implemented.\r\n";
    QTest::newRow("greeting 120") << QStringList{"=> 120 Ready in 5 minutes."} << 120
                                  << "Ready in 5 minutes.\r\n";
    QTest::newRow("greeting 500") << QStringList{"=> 500-Go\r\n500 away."} << 500
                                  << "Go\r\naway.\r\n";
    QTest::newRow("user refused") << QStringList{"=> 220 Ready.", "USER u => 530 No such user."}
                                  << 530 << "No such user.\r\n";
    QTest::newRow("password refused")
        << QStringList{"=> 220 Ready.", user, "PASS p => 530 Login incorrect."} << 530
        << "Login incorrect.\r\n";
    QTest::newRow("password asked twice")
        << QStringList{"=> 220 Ready.", user, "PASS p => 331 Again."} << 331 << "Again.\r\n";
    QTest::newRow("TYPE refused") << QStringList{"=> 220 Ready.", user, pass,
                                                 "TYPE I => 504 No binary."}
                                  << 504 << "No binary.\r\n";
}

void TestFtpScripted::connectOutcome()
{
    QFETCH(QStringList, dialogue);
    QFETCH(int, refusedCode);
    QFETCH(QString, message);

    ScriptedFtpServer server;
    for (const QString& pair : dialogue) {
        QStringList parts = pair.split("=> ");
        std::string answer = parts[1].toStdString();
        if (answer.back() != '\n')
            answer += "\r\n";
        if (!parts[0].isEmpty())
            server.expect(parts[0].trimmed().toStdString());
        server.send(answer);
    }
    server.holdUntilClosed();
    server.start();

    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    int code = 0;
    QString what;
    try {
        ftp.Connect(true, 5000);
    } catch (const EIdProtocolReplyError& e) {
        code = e.ReplyErrorCode();
        what = e.what();
    }
    QCOMPARE(code, refusedCode);
    QCOMPARE(what, message);
    if (refusedCode == 0) {
        QVERIFY(ftp.Connected());
        QVERIFY(rec.hasStatus("7 Connection established"));
        ftp.Disconnect();
    } else {
        QVERIFY(!ftp.Connected());
        QVERIFY(!rec.hasStatus("7 Connection established"));
        QVERIFY(rec.hasStatus("3 Disconnecting."));
        QVERIFY(rec.hasStatus("4 Disconnected."));
    }
    QCOMPARE(rec.disconnects, 1);
    SERVER_OK(server);
}

// The server drops the connection at each stage; the notification fires once, the operation
// raises and so does the next one.
void TestFtpScripted::droppedConnection_data()
{
    QTest::addColumn<QString>("stage");
    for (const char* stage : {"greeting", "USER", "PASS", "TYPE", "SYST", "CWD", "PWD", "PASV",
                              "STOR before data", "STOR during data"})
        QTest::newRow(stage) << stage;
}

void TestFtpScripted::droppedConnection()
{
    QFETCH(QString, stage);
    ScriptedFtpServer server;
    const QStringList login = {"greeting", "USER", "PASS", "TYPE", "SYST"};
    int cut = login.indexOf(stage);
    if (cut != 0)
        server.reply("220 Ready.");
    if (cut < 0 || cut > 1)
        server.on("USER u", "331 Password required.");
    else if (cut == 1)
        server.expect("USER u");
    if (cut < 0 || cut > 2)
        server.on("PASS p", "230 Logged in.");
    else if (cut == 2)
        server.expect("PASS p");
    if (cut < 0 || cut > 3)
        server.on("TYPE I", "200 Type set.");
    else if (cut == 3)
        server.expect("TYPE I");
    if (cut < 0)
        server.on("SYST", "215 UNIX");
    else if (cut == 4)
        server.expect("SYST");
    if (stage == "CWD")
        server.expect("CWD /www");
    if (stage == "PWD")
        server.expect("PWD");
    if (stage == "PASV")
        server.expect("PASV");
    if (stage.startsWith("STOR"))
        server.pasv().expect("STOR a.bin");
    if (stage == "STOR during data")
        server.reply("150 Go ahead.").openData().readData(8196);
    server.drop();
    server.start();

    QString path = file("a.bin", patternBytes(8196 * 200));
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    bool raised = false;
    bool graceful = false;
    try {
        ftp.Connect(true, 5000);
        if (stage == "CWD")
            ftp.ChangeDir("/www");
        else if (stage == "PWD")
            ftp.RetrieveCurrentDir();
        else
            ftp.Put(path.toStdString(), "a.bin");
    } catch (const EIdConnClosedGracefully&) {
        raised = graceful = true;
    } catch (const EIdException&) {
        raised = true;
    }
    QVERIFY(raised);
    if (stage != "STOR during data")
        QVERIFY(graceful);
    else
        QCOMPARE(rec.workEnds, 1);
    QCOMPARE(rec.disconnects, 1);
    QVERIFY(rec.hasStatus("4 Disconnected."));
    QVERIFY(!ftp.Connected());
    QVERIFY_THROWS_EXCEPTION(EIdNotConnected, ftp.ChangeDir("/"));
    QCOMPARE(rec.disconnects, 1);
    SERVER_OK(server);
}

void TestFtpScripted::pwdReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("dir");

    QTest::newRow("usual") << QByteArray("257 \"/public_html\" is current.")
                           << QByteArray("/public_html");
    QTest::newRow("trailing slash")
        << QByteArray("257 \"/www/\" is current.") << QByteArray("/www/");
    QTest::newRow("doubled quote") << QByteArray("257 \"/a\"\"b\"") << QByteArray("/a\"b");
    QTest::newRow("first line counts")
        << QByteArray("257-\"/first\" is it\r\n257 \"/second\" is not") << QByteArray("/first");
    QTest::newRow("NUL in the name") << QByteArray("257 \"/a\0b\"", 11) << QByteArray("/a\0b", 4);
    QTest::newRow("no quotes") << QByteArray("257 /www is current.") << QByteArray("");
}

void TestFtpScripted::pwdReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, dir);
    ScriptedFtpServer server;
    loginScript(server).expect("PWD").send(reply.toStdString() + "\r\n").holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    QCOMPARE(QByteArray::fromStdString(ftp.RetrieveCurrentDir()), dir);
    ftp.Disconnect();
    SERVER_OK(server);
}

// What a CWD gets back. Broken replies close the session, since nothing after them can be
// trusted; a refused one leaves it in step.
void TestFtpScripted::oddReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("multi-line") << QByteArray("250-Changed\r\n250 to /www\r\n") << "ok"
                                << QByteArray();
    QTest::newRow("200") << QByteArray("200 OK\r\n") << "ok" << QByteArray();
    QTest::newRow("in pieces") << QByteArray("2") << "ok" << QByteArray();
    QTest::newRow("refused with NUL")
        << QByteArray("550 no\0such\r\n", 13) << "refused" << QByteArray("no\xEF\xBF\xBDsuch\r\n");
    QTest::newRow("no code") << QByteArray("Directory changed\r\n") << "broken" << QByteArray();
    QTest::newRow("binary garbage")
        << QByteArray("\x00\xff\x01\x02\r\n", 6) << "broken" << QByteArray();
    QTest::newRow("over-long line") << "250 " + QByteArray(20000, 'x') + "\r\n"
                                    << "too long" << QByteArray();
    QTest::newRow("421") << QByteArray("421 Shutting down.\r\n") << "closing"
                         << QByteArray("Shutting down.\r\n");
}

void TestFtpScripted::oddReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, message);
    ScriptedFtpServer server;
    loginScript(server).expect("CWD /www");
    if (reply == "2")
        server.send("2").send("50 Cha").send("nged.\r").send("\n");
    else
        server.send(reply.toStdString());
    bool inStep = outcome == "ok" || outcome == "refused";
    if (inStep)
        server.on("PWD", "257 \"/www\"");
    server.holdUntilClosed();
    server.start();

    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    QString got = "ok";
    QByteArray what;
    try {
        ftp.ChangeDir("/www");
    } catch (const EIdProtocolReplyError& e) {
        got = e.ReplyErrorCode() == 421 ? "closing" : "refused";
        what = e.what();
    } catch (const EIdReplyRFCError&) {
        got = "broken";
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        got = "too long";
    }
    QCOMPARE(got, outcome);
    if (!message.isEmpty())
        QCOMPARE(what, message);
    QCOMPARE(ftp.Connected(), inStep);
    if (inStep) {
        QCOMPARE(ftp.RetrieveCurrentDir(), std::string("/www"));
        ftp.Disconnect();
    }
    QCOMPARE(rec.disconnects, 1);
    SERVER_OK(server);
}

// A name holding CR, LF or NUL is refused before anything goes out: no injected command.
void TestFtpScripted::argumentsWithLineBreaks_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("argument");

    QTest::newRow("CWD with CR LF") << "cwd" << QByteArray("/www\r\nDELE index.html");
    QTest::newRow("CWD with LF") << "cwd" << QByteArray("/www\nDELE x");
    QTest::newRow("MKD with CR") << "mkd" << QByteArray("/www\rRMD /");
    QTest::newRow("STOR with NUL") << "stor" << QByteArray("a\0b", 3);
    QTest::newRow("STOR with LF") << "stor" << QByteArray("a.html\nDELE b");
    QTest::newRow("user with CR LF") << "user" << QByteArray("u\r\nSITE EXEC x");
    QTest::newRow("password with LF") << "password" << QByteArray("p\nDELE x");
}

void TestFtpScripted::argumentsWithLineBreaks()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, argument);
    std::string arg(argument.constData(), std::size_t(argument.size()));
    bool atLogin = operation == "user" || operation == "password";
    ScriptedFtpServer server;
    if (atLogin)
        server.reply("220 Ready.").holdUntilClosed();
    else
        loginScript(server).on("PWD", "257 \"/\"").holdUntilClosed();
    server.start();

    QString path = file("a.html", "<p>x</p>");
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    if (atLogin) {
        (operation == "user" ? ftp.Username : ftp.Password) = arg;
        QVERIFY_THROWS_EXCEPTION(EIdFTPIllegalArgument, ftp.Connect(true, 5000));
        QVERIFY(rec.events.empty());
        // Nothing was opened: the scripted server is still waiting for its one client.
        configure(ftp, server);
        ftp.Connect(false, 5000);
        ftp.Disconnect();
        SERVER_OK(server);
        return;
    }
    ftp.Connect(true, 5000);
    std::size_t sentBefore = rec.sent.size();
    if (operation == "cwd")
        QVERIFY_THROWS_EXCEPTION(EIdFTPIllegalArgument, ftp.ChangeDir(arg));
    else if (operation == "mkd")
        QVERIFY_THROWS_EXCEPTION(EIdFTPIllegalArgument, ftp.MakeDir(arg));
    else
        QVERIFY_THROWS_EXCEPTION(EIdFTPIllegalArgument, ftp.Put(path.toStdString(), arg));
    QCOMPARE(rec.sent.size(), sentBefore);
    QCOMPARE(ftp.RetrieveCurrentDir(), std::string("/"));
    ftp.Disconnect();
    SERVER_OK(server);
}

// A local file that cannot be opened fails the store before anything is sent.
void TestFtpScripted::unreadableLocalFile_data()
{
    QTest::addColumn<QByteArray>("path"); // relative to the temporary directory
    QTest::newRow("missing") << QByteArray("missing.html");
    QTest::newRow("a directory") << QByteArray(".");
    QTest::newRow("NUL in the path") << QByteArray("a.html\0.x", 9);
}

void TestFtpScripted::unreadableLocalFile()
{
    QFETCH(QByteArray, path);
    file("a.html", "<p>x</p>");
    std::string full = QFile::encodeName(m_dir.path()).toStdString() + "/" +
                       std::string(path.constData(), std::size_t(path.size()));
    ScriptedFtpServer server;
    loginScript(server).on("PWD", "257 \"/\"").holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    std::size_t sentBefore = rec.sent.size();
    QVERIFY_THROWS_EXCEPTION(EFOpenError, ftp.Put(full, "a.html"));
    QCOMPARE(rec.sent.size(), sentBefore);
    QCOMPARE(rec.workEnds, 0);
    QCOMPARE(ftp.RetrieveCurrentDir(), std::string("/"));
    ftp.Disconnect();
    SERVER_OK(server);
}

// The server greets and then never answers: the pump keeps running, and a Disconnect from
// inside it ends the wait; the client then connects again.
void TestFtpScripted::serverThatNeverAnswers()
{
    ScriptedFtpServer silent;
    silent.reply("220 Ready.").expect("USER u").holdUntilClosed();
    silent.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, silent);
    int pumpsWhileWaiting = 0;
    rec.onPump = [&] {
        if (rec.sent.empty())
            return;
        if (++pumpsWhileWaiting == 5)
            ftp.Disconnect();
    };
    QVERIFY_THROWS_EXCEPTION(EIdNotConnected, ftp.Connect(true, 5000));
    QCOMPARE(pumpsWhileWaiting, 5);
    QCOMPARE(rec.disconnects, 1);
    QVERIFY(rec.hasStatus("3 Disconnecting."));
    QVERIFY(!ftp.Connected());
    SERVER_OK(silent);

    rec.onPump = nullptr;
    ScriptedFtpServer next;
    loginScript(next).holdUntilClosed();
    next.start();
    configure(ftp, next);
    ftp.Connect(true, 5000);
    QVERIFY(ftp.Connected());
    ftp.Disconnect();
    QCOMPARE(rec.disconnects, 2);
    SERVER_OK(next);
}

// A listener whose queue is full drops the SYN, so the TCP connection never comes: the time-out
// ends the wait, or a Disconnect from the pump does. No connection, no notification.
void TestFtpScripted::connectTimeOut_data()
{
    QTest::addColumn<bool>("disconnectFromPump");
    QTest::newRow("time-out") << false;
    QTest::newRow("disconnect from the pump") << true;
}

void TestFtpScripted::connectTimeOut()
{
    QFETCH(bool, disconnectFromPump);
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    QCOMPARE(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }

    TIdFTP ftp;
    Recorder rec(ftp);
    ftp.Host = "127.0.0.1";
    ftp.Port = ntohs(a.sin_port);
    if (disconnectFromPump) {
        rec.onPump = [&] {
            if (rec.pumps == 4)
                ftp.Disconnect();
        };
        QVERIFY_THROWS_EXCEPTION(EIdNotConnected, ftp.Connect(true, 0));
        QCOMPARE(rec.pumps, 4);
    } else {
        try {
            ftp.Connect(true, 300);
            QFAIL("connected");
        } catch (const EIdConnectTimeout& e) {
            QCOMPARE(QString(e.what()), QString("Connect timed out."));
        }
        QVERIFY(rec.pumps >= 3);
    }
    QVERIFY(rec.hasStatus("1 Connecting to 127.0.0.1."));
    QVERIFY(!rec.hasStatus("2 Connected."));
    QVERIFY(!rec.hasStatus("3 Disconnecting."));
    QCOMPARE(rec.disconnects, 0);
    QVERIFY(!ftp.Connected());
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

// The data connection goes to the host of the control connection, whatever the 227 names.
void TestFtpScripted::passiveIgnoresTheAddressIn227()
{
    QByteArray bytes = patternBytes(30000);
    ScriptedFtpServer server;
    loginScript(server)
        .pasv("127.0.0.2")
        .expect("STOR a.bin")
        .reply("150 Go ahead.")
        .openData()
        .readDataToEnd()
        .reply("226 Transfer complete.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    ftp.Put(file("a.bin", bytes).toStdString(), "a.bin");
    ftp.Disconnect();
    SERVER_OK(server);
    QCOMPARE(QByteArray::fromStdString(server.data()), bytes);
    QVERIFY(!server.dataWasReset());
}

// Blocks of at most 8196 bytes, the running count after each, a pump before each count,
// the start with the size and one end.
void TestFtpScripted::workEvents_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("one block") << 8196;
    QTest::newRow("one block and a byte") << 8197;
    QTest::newRow("several blocks") << 50000;
}

void TestFtpScripted::workEvents()
{
    QFETCH(int, size);
    QByteArray bytes = patternBytes(size);
    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR w.bin")
        .reply("150 Go ahead.")
        .openData()
        .readDataToEnd()
        .reply("226 Transfer complete.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    rec.events.clear();
    rec.tracePumps = true;
    ftp.Put(file("w.bin", bytes).toStdString(), "w.bin");
    ftp.Disconnect();
    SERVER_OK(server);
    QCOMPARE(QByteArray::fromStdString(server.data()), bytes);

    QCOMPARE(rec.workBegin, std::int64_t(size));
    QCOMPARE(rec.workEnds, 1);
    std::vector<std::int64_t> expected;
    for (std::int64_t n = 8196; n < size; n += 8196)
        expected.push_back(n);
    if (size > 0)
        expected.push_back(size);
    QCOMPARE(rec.work, expected);

    bool pumped = false;
    bool begun = false, ended = false;
    for (const std::string& e : rec.events) {
        if (e == "pump")
            pumped = true;
        if (e.rfind("begin", 0) == 0)
            begun = true;
        if (e.rfind("work", 0) == 0) {
            QVERIFY2(pumped, "a block event came without a pump before it");
            pumped = false;
        }
        if (e == "end") {
            ended = true;
            QVERIFY(begun);
        }
        if (e.rfind("recv 226", 0) == 0)
            QVERIFY2(ended, "the final reply was read before the end of the transfer");
        if (e.rfind("sent STOR", 0) == 0)
            QVERIFY2(!begun, "the transfer began before STOR");
    }
    QVERIFY(rec.hasStatus("6 Starting FTP transfer"));
    QVERIFY(!rec.hasStatus("8 Transfer aborted"));
}

// Abort of a store from the work event (as the window does) or from the pump, with each order
// of replies a server may give; the next command must get its own reply.
void TestFtpScripted::abortStore_data()
{
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<bool>("abortedStatus");
    QTest::addColumn<bool>("fromPump");

    for (bool fromPump : {false, true}) {
        const char* where = fromPump ? ", from the pump" : ", from the work event";
        QTest::addRow("426 then 226%s", where)
            << QStringList{"426 Transfer aborted.", "226 ABOR successful."} << true << fromPump;
        QTest::addRow("450 then 225%s", where)
            << QStringList{"450 Transfer aborted.", "225 ABOR successful."} << true << fromPump;
        QTest::addRow("226 then 225%s", where)
            << QStringList{"226 Transfer complete.", "225 No transfer to abort."} << false
            << fromPump;
        QTest::addRow("a single 225%s", where)
            << QStringList{"225 ABOR successful; data channel closed."} << false << fromPump;
    }
}

void TestFtpScripted::abortStore()
{
    QFETCH(QStringList, replies);
    QFETCH(bool, abortedStatus);
    QFETCH(bool, fromPump);

    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR big.bin")
        .reply("150 Go ahead.")
        .openData()
        .readData(8196)
        .expect("ABOR");
    for (const QString& reply : replies)
        server.reply(reply.toStdString());
    server.readDataToEnd().on("CWD /next", "250 OK.").holdUntilClosed();
    server.start();

    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    bool abortDue = false;
    rec.onWork = [&](std::int64_t) {
        if (rec.work.size() != 1)
            return;
        if (fromPump)
            abortDue = true;
        else
            ftp.Abort();
    };
    rec.onPump = [&] {
        if (abortDue) {
            abortDue = false;
            ftp.Abort();
        }
    };
    ftp.Put(file("big.bin", patternBytes(8196 * 40)).toStdString(), "big.bin");
    QCOMPARE(rec.hasStatus("8 Transfer aborted"), abortedStatus);
    QCOMPARE(rec.workEnds, 1);
    QVERIFY(rec.work.size() <= 2);
    ftp.ChangeDir("/next");
    QVERIFY(ftp.Connected());
    ftp.Disconnect();
    SERVER_OK(server);
    QVERIFY(server.dataWasReset());
    QCOMPARE(int(std::count(rec.sent.begin(), rec.sent.end(), "ABOR\r\n")), 1);
}

// A 426 that no ABOR asked for is the store's final reply: no second reply is awaited.
void TestFtpScripted::final426WithoutAbortDoesNotWait()
{
    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR a.bin")
        .reply("150 Go ahead.")
        .openData()
        .readDataToEnd()
        .reply("426 Connection closed; transfer aborted.")
        .on("CWD /next", "250 OK.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    ftp.Put(file("a.bin", patternBytes(1000)).toStdString(), "a.bin");
    QVERIFY(rec.hasStatus("8 Transfer aborted"));
    ftp.ChangeDir("/next");
    ftp.Disconnect();
    SERVER_OK(server);
}

void TestFtpScripted::storRefused()
{
    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR a.bin")
        .reply("553 Not allowed.")
        .on("CWD /next", "250 OK.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    try {
        ftp.Put(file("a.bin", "x").toStdString(), "a.bin");
        QFAIL("stored");
    } catch (const EIdProtocolReplyError& e) {
        QCOMPARE(e.ReplyErrorCode(), 553);
        QCOMPARE(QString(e.what()), QString("Not allowed.\r\n"));
    }
    QCOMPARE(rec.workBegin, std::int64_t(-1));
    QCOMPARE(rec.workEnds, 0);
    ftp.ChangeDir("/next");
    ftp.Disconnect();
    SERVER_OK(server);
}

// The server cuts the data connection and says so: the final reply is read, the session goes on.
void TestFtpScripted::dataConnectionBrokenByServer()
{
    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR a.bin")
        .reply("150 Go ahead.")
        .openData()
        .readData(8196)
        .closeData()
        .reply("426 Failure reading network stream.")
        .on("CWD /next", "250 OK.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    try {
        ftp.Put(file("a.bin", patternBytes(16 << 20)).toStdString(), "a.bin");
    } catch (const EIdSocketError&) {
        // the data connection broke under the send; the final reply was still read
    }
    QVERIFY(rec.hasStatus("8 Transfer aborted"));
    QCOMPARE(rec.workEnds, 1);
    ftp.ChangeDir("/next");
    QCOMPARE(rec.disconnects, 0);
    ftp.Disconnect();
    SERVER_OK(server);
}

// Active mode: PORT (EPRT over IPv6) with the control connection's local address; the server's
// data connection is taken only from the server's own host.
void TestFtpScripted::activeMode_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4") << "127.0.0.1";
    QTest::newRow("IPv6") << "::1";
}

void TestFtpScripted::activeMode()
{
    QFETCH(QString, host);
    bool v6 = host.contains(':');
    if (v6 && !ipv6Loopback())
        QSKIP("no IPv6 loopback here");
    QByteArray bytes = patternBytes(100000);
    ScriptedFtpServer server(host.toStdString());
    loginScript(server).expectPort().expect("STOR a.bin").reply("150 Go ahead.");
    if (!v6)
        server.strangerConnects("127.0.0.2");
    server.openData().readDataToEnd().reply("226 Transfer complete.").holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server, host.toStdString());
    ftp.Passive = false;
    ftp.Connect(true, 5000);
    ftp.Put(file("a.bin", bytes).toStdString(), "a.bin");
    ftp.Disconnect();
    SERVER_OK(server);
    QCOMPARE(QByteArray::fromStdString(server.data()), bytes);
    QString port = QString::fromStdString(rec.commands()[4]);
    QVERIFY2(port.startsWith(v6 ? "EPRT |2|::1|" : "PORT 127,0,0,1,"), qPrintable(port));
}

void TestFtpScripted::passiveOverIpv6UsesEpsv()
{
    if (!ipv6Loopback())
        QSKIP("no IPv6 loopback here");
    QByteArray bytes = patternBytes(20000);
    ScriptedFtpServer server("::1");
    loginScript(server)
        .epsv()
        .expect("STOR a.bin")
        .reply("150 Go ahead.")
        .openData()
        .readDataToEnd()
        .reply("226 Transfer complete.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server, "::1");
    ftp.Connect(true, 5000);
    QVERIFY(rec.hasStatus("1 Connecting to ::1."));
    ftp.Put(file("a.bin", bytes).toStdString(), "a.bin");
    ftp.Disconnect();
    SERVER_OK(server);
    QCOMPARE(QByteArray::fromStdString(server.data()), bytes);
}

// A file beyond 2 GiB: the size and the counts are 64-bit (a sparse file, counted not stored).
void TestFtpScripted::sizesBeyond32Bits()
{
    const std::int64_t size = (std::int64_t(1) << 31) + 12345;
    QString path = m_dir.filePath("huge.bin");
    int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::ftruncate(fd, size), 0);
    ::close(fd);

    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR huge.bin")
        .reply("150 Go ahead.")
        .openData()
        .readDataToEnd(false)
        .reply("226 Transfer complete.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    ftp.AntiFreeze = nullptr;
    configure(ftp, server);
    ftp.SendBufferSize = 1 << 20; // keeps this test quick; the block logic is the same
    std::int64_t last = 0, events = 0;
    ftp.OnWork = [&](TWorkMode, std::int64_t count) {
        last = count;
        ++events;
    };
    ftp.Connect(true, 5000);
    ftp.Put(path.toStdString(), "huge.bin");
    ftp.Disconnect();
    SERVER_OK(server);
    QCOMPARE(rec.workBegin, size);
    QCOMPARE(last, size);
    QCOMPARE(events, (size + (1 << 20) - 1) >> 20);
    QCOMPARE(server.dataCount(), std::uint64_t(size));
}

// Disconnect or Quit from inside the pump in the middle of a store: the store ends by
// exception with its end event, the notification fires once, the cut-off data connection is
// reset rather than ended in order, and the client connects again.
void TestFtpScripted::endedFromThePumpDuringStore_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("disconnect") << false;
    QTest::newRow("quit") << true;
}

void TestFtpScripted::endedFromThePumpDuringStore()
{
    QFETCH(bool, quit);
    ScriptedFtpServer server;
    loginScript(server)
        .pasv()
        .expect("STOR a.bin")
        .reply("150 Go ahead.")
        .openData()
        .readData(8196)
        .readDataToEnd(false);
    if (quit)
        server.expect("QUIT");
    server.holdUntilClosed().acceptNext().send("220 Again.\r\n").holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    rec.onPump = [&] {
        if (rec.work.size() == 2)
            quit ? ftp.Quit() : ftp.Disconnect();
    };
    QVERIFY_THROWS_EXCEPTION(
        EIdNotConnected, ftp.Put(file("a.bin", patternBytes(8196 * 64)).toStdString(), "a.bin"));
    QCOMPARE(rec.workEnds, 1);
    QCOMPARE(rec.disconnects, 1);
    QVERIFY(!ftp.Connected());
    rec.onPump = nullptr;
    ftp.Connect(false, 5000);
    QVERIFY(ftp.Connected());
    ftp.Disconnect();
    QCOMPARE(rec.disconnects, 2);
    SERVER_OK(server);
    QVERIFY(server.dataWasReset());
}

// An ABOR sent while nothing runs gets its reply; the next command must not take it for its own.
void TestFtpScripted::abortWhileIdleKeepsRepliesInStep()
{
    ScriptedFtpServer server;
    loginScript(server)
        .on("ABOR", "225 No transfer to abort.")
        .on("CWD /www", "250 OK.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    ftp.Abort();
    ftp.ChangeDir("/www");
    ftp.Disconnect();
    SERVER_OK(server);
}

// Abort while the PASV reply is awaited: no STOR goes out, the store ends by exception and the
// ABOR's own reply is read before the next command.
void TestFtpScripted::abortBeforeTheStor()
{
    ScriptedFtpServer server;
    loginScript(server)
        .expect("PASV")
        .expect("ABOR")
        .reply("227 Entering Passive Mode (127,0,0,1,4,1).")
        .reply("225 ABOR command successful; data channel closed.")
        .on("CWD /next", "250 OK.")
        .holdUntilClosed();
    server.start();
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server);
    ftp.Connect(true, 5000);
    rec.onPump = [&] {
        if (rec.sent.back() == "PASV\r\n")
            ftp.Abort();
    };
    QVERIFY_THROWS_EXCEPTION(EIdTransferAborted,
                             ftp.Put(file("a.bin", "data").toStdString(), "a.bin"));
    rec.onPump = nullptr;
    QCOMPARE(rec.workEnds, 0);
    ftp.ChangeDir("/next");
    ftp.Disconnect();
    SERVER_OK(server);
}

// A handler in the pump disconnects and connects to another server while a store waits: the
// store ends by exception without touching the new session, which then works.
void TestFtpScripted::newSessionFromThePumpDuringStore()
{
    ScriptedFtpServer first;
    loginScript(first)
        .pasv()
        .expect("STOR a.bin")
        .reply("150 Go ahead.")
        .openData()
        .readData(8196)
        .holdUntilClosed();
    first.start();
    ScriptedFtpServer second;
    loginScript(second).on("PWD", "257 \"/second\"").holdUntilClosed();
    second.start();

    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, first);
    ftp.Connect(true, 5000);
    bool switched = false;
    rec.onPump = [&] {
        if (switched || rec.work.empty())
            return;
        switched = true;
        ftp.Disconnect();
        configure(ftp, second);
        ftp.Connect(true, 5000);
    };
    QVERIFY_THROWS_EXCEPTION(
        EIdNotConnected, ftp.Put(file("a.bin", patternBytes(8196 * 64)).toStdString(), "a.bin"));
    QVERIFY(switched);
    QCOMPARE(rec.workEnds, 1);
    QCOMPARE(rec.disconnects, 1);
    QVERIFY(ftp.Connected());
    QCOMPARE(ftp.RetrieveCurrentDir(), std::string("/second"));
    ftp.Disconnect();
    SERVER_OK(first);
    SERVER_OK(second);
}

int runFtpScriptedTests(int argc, char** argv)
{
    TestFtpScripted test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ftpscripted.moc"
