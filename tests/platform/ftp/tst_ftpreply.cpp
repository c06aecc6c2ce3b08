#include "IdException.h"
#include "IdLogEvent.h"
#include "IdReply.h"

#include <QtTest>

// The reply reader, the 227, 229 and 257 parsers, and the log intercept's options.
class TestFtpReply : public QObject
{
    Q_OBJECT

private slots:
    void readReply_data();
    void readReply();
    void readReplyStopsAtItsEnd();
    void parse227_data();
    void parse227();
    void parse229_data();
    void parse229();
    void formatEprt6_data();
    void formatEprt6();
    void parse257_data();
    void parse257();
    void logEventOptions_data();
    void logEventOptions();
};

namespace {
QByteArray line(int length, char fill = 'x')
{
    return "200 " + QByteArray(length - 4, fill);
}
} // namespace

// outcome: "ok", "incomplete", "too long" or "no code"; text joins the text lines with '|'.
void TestFtpReply::readReply_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("single line") << QByteArray("220 Ready.\r\n") << "ok" << 220
                                 << QByteArray("Ready.");
    QTest::newRow("bare LF") << QByteArray("250 Done.\n") << "ok" << 250 << QByteArray("Done.");
    QTest::newRow("code only") << QByteArray("200\r\n") << "ok" << 200 << QByteArray("");
    QTest::newRow("multi-line")
        << QByteArray("230-Welcome\r\n230-to the site\r\n  indented\r\n230 Logged in.\r\n") << "ok"
        << 230 << QByteArray("Welcome|to the site|  indented|Logged in.");
    QTest::newRow("multi-line, mixed line ends")
        << QByteArray("220-a\n220-b\r\n220 c\n") << "ok" << 220 << QByteArray("a|b|c");
    QTest::newRow("other code inside a multi-line reply")
        << QByteArray("230-a\r\n231 not the end\r\n230 end\r\n") << "ok" << 230
        << QByteArray("a|231 not the end|end");
    QTest::newRow("CR inside a line is text")
        << QByteArray("200 a\rb\r\n") << "ok" << 200 << QByteArray("a\rb");
    QTest::newRow("NUL bytes kept") << QByteArray("257 \"/a\0b\" is cwd\r\n", 19) << "ok" << 257
                                    << QByteArray("\"/a\0b\" is cwd", 13);
    QTest::newRow("longest line accepted") << line(int(IdMaxLineLength)) + "\r\n"
                                           << "ok" << 200 << line(int(IdMaxLineLength)).mid(4);
    QTest::newRow("line one byte too long") << line(int(IdMaxLineLength) + 1) + "\r\n"
                                            << "too long" << 0 << QByteArray();
    QTest::newRow("unfinished line already too long")
        << line(int(IdMaxLineLength) + 2) << "too long" << 0 << QByteArray();
    QTest::newRow("too long inside a multi-line reply")
        << "220-a\r\n" + line(int(IdMaxLineLength) + 1) + "\r\n"
        << "too long" << 0 << QByteArray();
    QTest::newRow("unfinished line") << QByteArray("220 Rea") << "incomplete" << 0 << QByteArray();
    QTest::newRow("unfinished multi-line")
        << QByteArray("220-a\r\n220-b\r\n") << "incomplete" << 0 << QByteArray();
    QTest::newRow("dash line does not end it")
        << QByteArray("220-a\r\n220-b\r\n") << "incomplete" << 0 << QByteArray();
    QTest::newRow("no code") << QByteArray("hello\r\n") << "no code" << 0 << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x00\xff\xfe\r\n", 5) << "no code" << 0 << QByteArray();
    QTest::newRow("four digits") << QByteArray("2200 x\r\n") << "no code" << 0 << QByteArray();
    QTest::newRow("code out of range") << QByteArray("600 x\r\n") << "no code" << 0 << QByteArray();
    QTest::newRow("empty line") << QByteArray("\r\n") << "no code" << 0 << QByteArray();
}

void TestFtpReply::readReply()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, outcome);
    QFETCH(int, code);
    QFETCH(QByteArray, text);

    std::size_t used = 0;
    std::string data(input.constData(), std::size_t(input.size()));
    try {
        auto reply = ReadReply(data, used);
        if (outcome == "incomplete") {
            QVERIFY(!reply);
            return;
        }
        QCOMPARE(QString("ok"), outcome);
        QVERIFY(reply);
        QCOMPARE(reply->Code, code);
        QByteArray joined;
        for (std::size_t i = 0; i < reply->Text.size(); ++i)
            joined += (i ? "|" : "") + QByteArray::fromStdString(reply->Text[i]);
        QCOMPARE(joined, text);
        QCOMPARE(used, data.size());
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        QCOMPARE(QString("too long"), outcome);
    } catch (const EIdReplyRFCError&) {
        QCOMPARE(QString("no code"), outcome);
    }
}

void TestFtpReply::readReplyStopsAtItsEnd()
{
    std::string data = "150 Opening.\r\n226 Done.\r\n";
    std::size_t used = 0;
    auto first = ReadReply(data, used);
    QVERIFY(first);
    QCOMPARE(first->Code, 150);
    QCOMPARE(used, std::size_t(14));
    auto second = ReadReply(std::string_view(data).substr(used), used);
    QVERIFY(second);
    QCOMPARE(second->Code, 226);
    QCOMPARE(second->FormattedText(), std::string("Done.\r\n"));
}

void TestFtpReply::parse227_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");

    QTest::newRow("usual") << QByteArray("Entering Passive Mode (127,0,0,1,4,1).") << true
                           << "127.0.0.1" << 1025;
    QTest::newRow("no parentheses")
        << QByteArray("Entering Passive Mode 10,1,2,3,200,10") << true << "10.1.2.3" << 51210;
    QTest::newRow("blanks around commas")
        << QByteArray("=(192, 168, 0, 9, 0, 21)") << true << "192.168.0.9" << 21;
    QTest::newRow("number before the address")
        << QByteArray("Mode 2 entered (1,2,3,4,5,6)") << true << "1.2.3.4" << 1286;
    QTest::newRow("five numbers") << QByteArray("(127,0,0,1,4)") << false << "" << 0;
    QTest::newRow("number above 255") << QByteArray("(127,0,0,1,256,1)") << false << "" << 0;
    QTest::newRow("four digits") << QByteArray("(1270,0,0,1,4,1)") << false << "" << 0;
    QTest::newRow("no numbers") << QByteArray("Entering Passive Mode") << false << "" << 0;
    QTest::newRow("empty") << QByteArray() << false << "" << 0;
}

void TestFtpReply::parse227()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    auto parsed = Parse227(text.toStdString());
    QCOMPARE(bool(parsed), valid);
    if (!valid)
        return;
    QFETCH(QString, address);
    QFETCH(int, port);
    QCOMPARE(QString("%1.%2.%3.%4")
                 .arg(parsed->Address[0])
                 .arg(parsed->Address[1])
                 .arg(parsed->Address[2])
                 .arg(parsed->Address[3]),
             address);
    QCOMPARE(int(parsed->Port), port);
}

void TestFtpReply::parse229_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("port"); // 0: no port

    QTest::newRow("usual") << QByteArray("Entering Extended Passive Mode (|||6446|)") << 6446;
    QTest::newRow("other delimiter") << QByteArray("ok (!!!65535!)") << 65535;
    QTest::newRow("port zero") << QByteArray("(|||0|)") << 0;
    QTest::newRow("port too big") << QByteArray("(|||65536|)") << 0;
    QTest::newRow("not closed") << QByteArray("(|||21|") << 0;
    QTest::newRow("mixed delimiters") << QByteArray("(|!|21|)") << 0;
    QTest::newRow("second group usable") << QByteArray("(x) (|||2121|)") << 2121;
    QTest::newRow("empty") << QByteArray() << 0;
}

void TestFtpReply::parse229()
{
    QFETCH(QByteArray, text);
    QFETCH(int, port);
    auto parsed = Parse229(text.toStdString());
    QCOMPARE(parsed ? int(*parsed) : 0, port);
}

void TestFtpReply::formatEprt6_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("loopback") << QByteArray("::1") << 50000 << QByteArray("|2|::1|50000|");
    QTest::newRow("link-local with zone")
        << QByteArray("fe80::1%eth0") << 2121 << QByteArray("|2|fe80::1|2121|");
    QTest::newRow("global") << QByteArray("2001:db8::7") << 1 << QByteArray("|2|2001:db8::7|1|");
}

void TestFtpReply::formatEprt6()
{
    QFETCH(QByteArray, address);
    QFETCH(int, port);
    QFETCH(QByteArray, argument);
    QCOMPARE(QByteArray::fromStdString(FormatEprt6(address.toStdString(), std::uint16_t(port))),
             argument);
}

void TestFtpReply::parse257_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("usual") << QByteArray("\"/public_html\" is the current directory") << true
                           << QByteArray("/public_html");
    QTest::newRow("trailing slash kept") << QByteArray("\"/www/\"") << true << QByteArray("/www/");
    QTest::newRow("doubled quote")
        << QByteArray("\"/a\"\"b\" created") << true << QByteArray("/a\"b");
    QTest::newRow("empty name") << QByteArray("\"\" is odd") << true << QByteArray("");
    QTest::newRow("UTF-8 bytes") << QByteArray("\"/\xe3\x83\x9a\"") << true
                                 << QByteArray("/\xe3\x83\x9a");
    QTest::newRow("no quotes") << QByteArray("/public_html") << false << QByteArray();
    QTest::newRow("unterminated") << QByteArray("\"/public_html") << false << QByteArray();
}

void TestFtpReply::parse257()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(QByteArray, name);
    auto parsed = Parse257(text.toStdString());
    QCOMPARE(bool(parsed), valid);
    if (valid)
        QCOMPARE(QByteArray::fromStdString(*parsed), name);
}

void TestFtpReply::logEventOptions_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("logTime");
    QTest::addColumn<bool>("replaceCRLF");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("as the window sets it") << true << false << false << QByteArray("A\r\nB\rC\n");
    QTest::newRow("line ends replaced") << true << false << true << QByteArray("A<EOL>B<CR>C<LF>");
    QTest::newRow("time stamp") << true << true << false << QByteArray("A\r\nB\rC\n");
    QTest::newRow("inactive") << false << false << false << QByteArray();
}

void TestFtpReply::logEventOptions()
{
    QFETCH(bool, active);
    QFETCH(bool, logTime);
    QFETCH(bool, replaceCRLF);
    QFETCH(QByteArray, data);
    TIdLogEvent log;
    log.Active = active;
    log.LogTime = logTime;
    log.ReplaceCRLF = replaceCRLF;
    QStringList texts;
    QByteArray got;
    log.OnSent = [&](const std::string& text, const std::string& bytes) {
        texts << QString::fromStdString(text);
        got = QByteArray::fromStdString(bytes);
    };
    log.Sent("A\r\nB\rC\n");
    QCOMPARE(got, data);
    QCOMPARE(texts.size(), active ? 1 : 0);
    if (active && logTime)
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
                     .match(texts[0])
                     .hasMatch(),
                 qPrintable(texts[0]));
    else if (active)
        QCOMPARE(texts[0], QString());
}

int runFtpReplyTests(int argc, char** argv)
{
    TestFtpReply test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ftpreply.moc"
