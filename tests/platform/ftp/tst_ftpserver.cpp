#include "ftp/FtpTestKit.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The client against a real server, pyftpdlib on the loopback address.
class TestFtpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void loginAndLeave_data();
    void loginAndLeave();
    void changeDir_data();
    void changeDir();
    void makeDir_data();
    void makeDir();
    void currentDir_data();
    void currentDir();
    void store_data();
    void store();
    void storeOverIpv6_data();
    void storeOverIpv6();
    void storeToMappedIpv4Address_data();
    void storeToMappedIpv4Address();
    void transferTypeSentOnlyOnChange();
    void abortLargeStoreThenStoreAgain_data();
    void abortLargeStoreThenStoreAgain();
    void disconnectFromPumpThenConnectAgain();
    void serverClosesTheSession();

private:
    QTemporaryDir m_root;
    QTemporaryDir m_local;
    PyFtpd m_server;

    void configure(TIdFTP& ftp, int port, const std::string& host = "127.0.0.1");
    QString local(const QString& name, const QByteArray& bytes);
};

void TestFtpServer::initTestCase()
{
    QVERIFY(m_root.isValid() && m_local.isValid());
    QVERIFY(QDir(m_root.path()).mkdir("site"));
    QVERIFY2(m_server.start(m_root.path()), "pyftpdlib did not start");
}

void TestFtpServer::init()
{
    QDir(m_root.filePath("site")).removeRecursively();
    QDir(m_root.path()).mkdir("site");
}

void TestFtpServer::configure(TIdFTP& ftp, int port, const std::string& host)
{
    ftp.Host = host;
    ftp.Port = port;
    ftp.Username = "user";
    ftp.Password = "secret";
    ftp.Passive = true;
}

QString TestFtpServer::local(const QString& name, const QByteArray& bytes)
{
    QString path = m_local.filePath(name);
    writeFile(path, bytes);
    return path;
}

void TestFtpServer::loginAndLeave_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("quit") << true;
    QTest::newRow("disconnect") << false;
}

void TestFtpServer::loginAndLeave()
{
    QFETCH(bool, quit);
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    ftp.Connect(true, 5000);
    QVERIFY(ftp.Connected());
    QVERIFY(!ftp.LoginMsgLines().empty());
    QVERIFY(rec.hasStatus("7 Connection established"));
    std::vector<std::string> commands = rec.commands();
    QCOMPARE(commands, (std::vector<std::string>{"USER user", "PASS secret", "TYPE I", "SYST"}));
    quit ? ftp.Quit() : ftp.Disconnect();
    QVERIFY(!ftp.Connected());
    QCOMPARE(rec.commands().back(), std::string(quit ? "QUIT" : "SYST"));
    QCOMPARE(rec.disconnects, 1);
    std::vector<std::string> statuses = rec.statuses();
    QCOMPARE(statuses[statuses.size() - 2], std::string("3 Disconnecting."));
    QCOMPARE(statuses.back(), std::string("4 Disconnected."));
    QCOMPARE(rec.events[rec.events.size() - 2], std::string("disconnected"));
}

void TestFtpServer::changeDir_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<int>("refusedCode");
    QTest::newRow("existing") << "/site" << 0;
    QTest::newRow("missing") << "/missing" << 550;
}

void TestFtpServer::changeDir()
{
    QFETCH(QString, dir);
    QFETCH(int, refusedCode);
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    ftp.Connect(true, 5000);
    int code = 0;
    try {
        ftp.ChangeDir(dir.toStdString());
    } catch (const EIdProtocolReplyError& e) {
        code = e.ReplyErrorCode();
    }
    QCOMPARE(code, refusedCode);
    QCOMPARE(rec.commands().back(), "CWD " + dir.toStdString());
    QCOMPARE(ftp.RetrieveCurrentDir(), refusedCode ? std::string("/") : dir.toStdString());
    ftp.Quit();
}

void TestFtpServer::makeDir_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<int>("refusedCode");
    QTest::newRow("one level") << "/site/blog" << 0;
    QTest::newRow("two missing levels") << "/site/a/b" << 550;
}

void TestFtpServer::makeDir()
{
    QFETCH(QString, dir);
    QFETCH(int, refusedCode);
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    ftp.Connect(true, 5000);
    int code = 0;
    try {
        ftp.MakeDir(dir.toStdString());
    } catch (const EIdProtocolReplyError& e) {
        code = e.ReplyErrorCode();
    }
    QCOMPARE(code, refusedCode);
    QCOMPARE(QFileInfo(m_root.path() + dir).isDir(), refusedCode == 0);
    ftp.Quit();
}

void TestFtpServer::currentDir_data()
{
    QTest::addColumn<QString>("dir");
    QTest::newRow("plain") << "/site/blog";
    QTest::newRow("with a quote") << "/site/a\"b";
    QTest::newRow("Japanese") << QString::fromUtf8("/site/日記");
}

void TestFtpServer::currentDir()
{
    QFETCH(QString, dir);
    TIdFTP ftp;
    configure(ftp, m_server.port());
    ftp.Connect(true, 5000);
    std::string name = dir.toStdString();
    ftp.MakeDir(name);
    ftp.ChangeDir(name);
    QCOMPARE(QString::fromStdString(ftp.RetrieveCurrentDir()), dir);
    ftp.Quit();
}

void TestFtpServer::store_data()
{
    QTest::addColumn<bool>("passive");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    QTest::newRow("passive") << true << "a.bin" << (1 << 20) + 7;
    QTest::newRow("active") << false << "a.bin" << (1 << 20) + 7;
    QTest::newRow("passive, Japanese name with a blank")
        << true << QString::fromUtf8("ページ 1.html") << 1000;
    QTest::newRow("active, empty file") << false << "empty.txt" << 0;
}

void TestFtpServer::store()
{
    QFETCH(bool, passive);
    QFETCH(QString, name);
    QFETCH(int, size);
    QByteArray bytes = patternBytes(size);
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    ftp.Passive = passive;
    ftp.Connect(true, 5000);
    ftp.ChangeDir("/site");
    ftp.Put(local("src.bin", bytes).toStdString(), name.toStdString());
    QCOMPARE(rec.workEnds, 1);
    QCOMPARE(rec.workBegin, std::int64_t(size));
    QVERIFY(!rec.hasStatus("8 Transfer aborted"));
    bool sawDataCommand = false;
    for (const std::string& c : rec.commands())
        sawDataCommand |= c.rfind(passive ? "PASV" : "PORT ", 0) == 0;
    QVERIFY(sawDataCommand);
    ftp.Quit();
    QCOMPARE(readAll(m_root.filePath("site/" + name)), bytes);
}

void TestFtpServer::storeOverIpv6_data()
{
    QTest::addColumn<bool>("passive");
    QTest::newRow("EPSV") << true;
    QTest::newRow("EPRT") << false;
}

void TestFtpServer::storeOverIpv6()
{
    QFETCH(bool, passive);
    int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bool usable = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (probe >= 0)
        ::close(probe);
    if (!usable)
        QSKIP("no IPv6 loopback here");
    PyFtpd server;
    QVERIFY(server.start(m_root.path(), "::1"));
    QByteArray bytes = patternBytes(300000);
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server.port(), "::1");
    ftp.Passive = passive;
    ftp.Connect(true, 5000);
    ftp.Put(local("v6.bin", bytes).toStdString(), "site/v6.bin");
    ftp.Quit();
    QCOMPARE(readAll(m_root.filePath("site/v6.bin")), bytes);
    QCOMPARE(rec.commands()[4].substr(0, 4), std::string(passive ? "EPSV" : "EPRT"));
}

void TestFtpServer::storeToMappedIpv4Address_data()
{
    QTest::addColumn<bool>("passive");
    QTest::newRow("PASV") << true;
    QTest::newRow("PORT") << false;
}

// A host given as an IPv4-mapped IPv6 address is reached over IPv4: the server sees an IPv4
// client, so the data commands are the IPv4 ones.
void TestFtpServer::storeToMappedIpv4Address()
{
    QFETCH(bool, passive);
    int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (probe < 0)
        QSKIP("no IPv6 sockets here");
    ::close(probe);
    QByteArray bytes = patternBytes(300000);
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port(), "::ffff:127.0.0.1");
    ftp.Passive = passive;
    ftp.Connect(true, 5000);
    ftp.Put(local("mapped.bin", bytes).toStdString(), "site/mapped.bin");
    ftp.Quit();
    QCOMPARE(readAll(m_root.filePath("site/mapped.bin")), bytes);
    QCOMPARE(rec.commands()[4].substr(0, 4), std::string(passive ? "PASV" : "PORT"));
}

// After log-in ("TYPE I") three files a.html, b.html and c.jpg: "TYPE A", none, "TYPE I".
void TestFtpServer::transferTypeSentOnlyOnChange()
{
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    QCOMPARE(ftp.TransferType(), TIdFTPTransferType::ftBinary);
    ftp.Connect(true, 5000);
    ftp.ChangeDir("/site");
    const std::pair<const char*, TIdFTPTransferType> files[] = {
        {"a.html", TIdFTPTransferType::ftASCII},
        {"b.html", TIdFTPTransferType::ftASCII},
        {"c.jpg", TIdFTPTransferType::ftBinary}};
    for (const auto& [name, type] : files) {
        ftp.SetTransferType(type);
        ftp.Put(local(name, QByteArray("<p>") + name + "</p>\n").toStdString(), name);
    }
    ftp.Quit();
    std::vector<std::string> typesAndStores;
    for (const std::string& c : rec.commands())
        if (c.rfind("TYPE", 0) == 0 || c.rfind("STOR", 0) == 0)
            typesAndStores.push_back(c);
    QCOMPARE(typesAndStores, (std::vector<std::string>{"TYPE I", "TYPE A", "STOR a.html",
                                                       "STOR b.html", "TYPE I", "STOR c.jpg"}));
    for (const auto& [name, type] : files)
        QCOMPARE(readAll(m_root.filePath(QString("site/") + name)),
                 QByteArray("<p>") + name + "</p>\n");
}

// Abort in the middle of a large store (from the work event, as the window does); the session
// stays in step for another store.
void TestFtpServer::abortLargeStoreThenStoreAgain_data()
{
    QTest::addColumn<bool>("passive");
    QTest::newRow("passive") << true;
    QTest::newRow("active") << false;
}

void TestFtpServer::abortLargeStoreThenStoreAgain()
{
    QFETCH(bool, passive);
    const int size = 64 << 20;
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    ftp.Passive = passive;
    rec.onWork = [&](std::int64_t) {
        if (rec.work.size() == 100)
            ftp.Abort();
    };
    ftp.Connect(true, 5000);
    ftp.ChangeDir("/site");
    ftp.Put(local("large.bin", patternBytes(size)).toStdString(), "large.bin");
    QCOMPARE(rec.workEnds, 1);
    QVERIFY(rec.work.size() < 200);
    QCOMPARE(int(std::count(rec.sent.begin(), rec.sent.end(), "ABOR\r\n")), 1);
    // pyftpdlib answers "426, 226" or "226, 225" depending on which it notices first.
    QVERIFY(QFileInfo(m_root.filePath("site/large.bin")).size() < size);

    rec.onWork = nullptr;
    QByteArray small = patternBytes(50000);
    ftp.Put(local("small.bin", small).toStdString(), "small.bin");
    QCOMPARE(ftp.RetrieveCurrentDir(), std::string("/site"));
    ftp.Quit();
    QCOMPARE(readAll(m_root.filePath("site/small.bin")), small);
    QCOMPARE(rec.disconnects, 1);
}

void TestFtpServer::disconnectFromPumpThenConnectAgain()
{
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, m_server.port());
    rec.onPump = [&] {
        if (rec.work.size() == 10)
            ftp.Disconnect();
    };
    ftp.Connect(true, 5000);
    QVERIFY_THROWS_EXCEPTION(
        EIdNotConnected,
        ftp.Put(local("big.bin", patternBytes(8 << 20)).toStdString(), "site/big.bin"));
    QCOMPARE(rec.workEnds, 1);
    QCOMPARE(rec.disconnects, 1);
    rec.onPump = nullptr;
    ftp.Connect(true, 5000);
    QByteArray bytes = patternBytes(10000);
    ftp.Put(local("again.bin", bytes).toStdString(), "site/again.bin");
    ftp.Quit();
    QCOMPARE(rec.disconnects, 2);
    QCOMPARE(readAll(m_root.filePath("site/again.bin")), bytes);
}

// The server goes away while the session is idle: the next operation finds it, the notification
// fires once, and the operation after that raises too.
void TestFtpServer::serverClosesTheSession()
{
    PyFtpd server;
    QVERIFY(server.start(m_root.path()));
    TIdFTP ftp;
    Recorder rec(ftp);
    configure(ftp, server.port());
    ftp.Connect(true, 5000);
    server.kill();
    QVERIFY_THROWS_EXCEPTION(EIdException, ftp.ChangeDir("/site"));
    QCOMPARE(rec.disconnects, 1);
    QCOMPARE(rec.statuses().back(), std::string("4 Disconnected."));
    QVERIFY(!ftp.Connected());
    QVERIFY_THROWS_EXCEPTION(EIdNotConnected, ftp.RetrieveCurrentDir());
    ftp.Disconnect();
    QCOMPARE(rec.disconnects, 1);
}

int runFtpServerTests(int argc, char** argv)
{
    TestFtpServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ftpserver.moc"
