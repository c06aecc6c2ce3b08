// Closing the window ends the FTP session the right way: nothing when not connected, QUIT when
// idle, ABOR then QUIT in the middle of a transfer. Against a real pyftpdlib server.

#include "FormFixture.h"
#include "ftp/FtpTestKit.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

class TestClose : public QObject
{
    Q_OBJECT

private slots:
    void init() { IsConnected = IsBusy = AbortRequested = false; }
    void initTestCase();
    void notConnectedSendsNothing();
    void connectedAndIdleQuits();
    void transferInProgressIsAbortedThenQuit();

private:
    struct TSession
    {
        TFormFixture Fixture;
        std::vector<std::string> Sent;

        explicit TSession(int port)
        {
            TIdFTP& ftp = Fixture.Form->IdFTP1;
            ftp.Host = "127.0.0.1";
            ftp.Port = port;
            ftp.Username = "user";
            ftp.Password = "secret";
            ftp.Passive = true;
            Fixture.Form->IdLogEvent1.OnSent = [this](const std::string&, const std::string& data) {
                Sent.push_back(data);
            };
        }
        std::vector<std::string> SentSince(size_t from) const
        {
            return {Sent.begin() + std::min(from, Sent.size()), Sent.end()};
        }
    };

    QTemporaryDir m_root;
    PyFtpd m_server;
};

void TestClose::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(m_server.start(m_root.path()));
}

void TestClose::notConnectedSendsNothing()
{
    TSession s(m_server.port());
    s.Fixture.Form->show();
    QVERIFY(s.Fixture.Form->close());
    QVERIFY(s.Sent.empty());
    QVERIFY(!s.Fixture.Form->isVisible());
}

void TestClose::connectedAndIdleQuits()
{
    TSession s(m_server.port());
    s.Fixture.Form->show();
    s.Fixture.Form->IdFTP1.Connect(true, 10000);
    IsConnected = true;
    const size_t before = s.Sent.size();
    QVERIFY(s.Fixture.Form->close());
    QCOMPARE(s.SentSince(before), std::vector<std::string>{"QUIT\r\n"});
    QVERIFY(!s.Fixture.Form->IdFTP1.Connected());
}

void TestClose::transferInProgressIsAbortedThenQuit()
{
    const QString big = m_root.filePath(QStringLiteral("upload-source.bin"));
    QVERIFY(writeFile(big, QByteArray(48 * 1024 * 1024, 'x')));

    TSession s(m_server.port());
    TMainForm& form = *s.Fixture.Form;
    form.show();
    form.IdFTP1.Connect(true, 10000);
    IsConnected = true;
    bool closeRequested = false;
    // As a click on the close box would: the window's close runs from the client's pump.
    form.IdFTP1.OnWork = [&](TWorkMode, std::int64_t) {
        IsBusy = true;
        if (!closeRequested) {
            closeRequested = true;
            QTimer::singleShot(0, &form, [&form] { form.close(); });
        }
    };
    const size_t before = s.Sent.size();
    try {
        form.IdFTP1.Put(big.toStdString(), "aborted.bin");
    } catch (const std::exception&) {
        // An aborted store may end either way.
    }
    QVERIFY(closeRequested);
    QVERIFY(!form.isVisible());
    QVERIFY(!form.IdFTP1.Connected());

    std::vector<std::string> commands;
    for (const std::string& line : s.SentSince(before))
        commands.push_back(
            line.substr(0, line.find(' ') == std::string::npos ? line.size() - 2 : line.find(' ')));
    const auto stor = std::find(commands.begin(), commands.end(), "STOR");
    QVERIFY(stor != commands.end());
    QCOMPARE(std::vector<std::string>(stor + 1, commands.end()),
             (std::vector<std::string>{"ABOR", "QUIT"}));
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestClose test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_close.moc"
