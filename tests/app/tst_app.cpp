// The main window's shell: the program directory, the control-state rules, the log pane and the
// exception handler.

#include "FormFixture.h"
#include "IdException.h"
#include "LogPane.h"
#include "Screen.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        IsConnected = IsBusy = AbortRequested = false;
        Screen().SetCursor(crDefault);
    }

    void programDirectory_data();
    void programDirectory();

    void startState();

    void transferConditions_data();
    void transferConditions();
    void idleEventRefreshes();
    void idleRefreshDoesNotSpinTheLoop();
    void idleRefreshWhileBusy();
    void disconnectFollowsConnection();
    void busyAndWaitingStates();

    void addLogTrims_data();
    void addLogTrims();
    void addLogBlankTextChangesNothing();
    void addLogKeepsFiveHundredLines();
    void addLogBoundsCharacters();
    void addLogBurstShowsWhatEachAppendWould();

    void socketErrorEscapingAHandler();
    void otherErrorEscapingAHandler();

    void keys();
    void newWindowStartsTheExecutable();
};

void TestApp::programDirectory_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("directory");
    const int posix = int(PathStyle::Posix), windows = int(PathStyle::Windows);
    QTest::newRow("windows dir") << "C:\\Tools\\x.exe" << windows << "C:\\Tools";
    QTest::newRow("windows root") << "D:\\x.exe" << windows << "D:";
    QTest::newRow("posix dir") << "/usr/local/bin/lodrin" << posix << "/usr/local/bin";
    QTest::newRow("posix root") << "/lodrin" << posix << "";
    QTest::newRow("posix nested") << "/opt/Lodrin 2/lodrin" << posix << "/opt/Lodrin 2";
}

void TestApp::programDirectory()
{
    QFETCH(QString, executable);
    QFETCH(int, style);
    QFETCH(QString, directory);
    QCOMPARE(ProgramDirectoryOf(executable, PathStyle(style)), directory);
}

void TestApp::startState()
{
    TFormFixture f;
    QCOMPARE(f.ProgramDir(), f.Dir.path());
    QCOMPARE(f.Form->windowTitle(), QStringLiteral("Lodrin "));
    QCOMPARE(f.Form->size(), QSize(473, 409));
    QCOMPARE(f.Form->minimumSize(), f.Form->maximumSize());
    QVERIFY(!f.Control<QPushButton>("UploadBtn")->isEnabled());
    QVERIFY(!f.Control<QPushButton>("AbortBtn")->isEnabled());
    QVERIFY(!f.Control<QPushButton>("DisconnectBtn")->isEnabled());
    QVERIFY(f.Control<QTabWidget>("pcSession")->isEnabled());
    QCOMPARE(f.Control<QTabWidget>("pcSession")->currentIndex(), 0);
    QCOMPARE(f.Control<QLabel>("lbConnection")->text(), QStringLiteral("未接続"));
    QCOMPARE(f.Control<QLabel>("lbTransaction")->text(), QStringLiteral("転送待ち"));
    QCOMPARE(f.Control<QLabel>("lbWaitNum")->text(), QStringLiteral("0"));
    QCOMPARE(f.Control<QPlainTextEdit>("mmTextExt")->toPlainText(),
             QStringLiteral(".htm\n.html\n.css\n.js\n.txt\n.cgi\n.pm\n.pl"));
    QCOMPARE(f.Control<QComboBox>("cbProxyType")->count(), 6);
    QCOMPARE(f.Control<QComboBox>("cbProxyType")->currentIndex(), -1);
    QCOMPARE(f.Control<QComboBox>("cbProxyType")->itemText(5), QStringLiteral("Transparent"));
    QCOMPARE(f.Control<QLineEdit>("edPassword")->echoMode(), QLineEdit::Password);
    QCOMPARE(f.Control<QLineEdit>("edTimeOut")->text(), QStringLiteral("60"));
    QCOMPARE(f.Control<QLineEdit>("edPort")->text(), QStringLiteral("21"));
    QCOMPARE(f.Control<QLineEdit>("edProxyPort")->text(), QStringLiteral("0"));
    QVERIFY(f.Control<QCheckBox>("ckSavePassword")->isChecked());
    QVERIFY(!f.Control<QCheckBox>("ckPassive")->isChecked());
    QCOMPARE(f.Control<QPushButton>("SaveBtn")->toolTip(),
             QStringLiteral("現在のプロファイルを保存"));
    QCOMPARE(f.Control<QPushButton>("ClearBtn")->toolTip(),
             QStringLiteral("選択した転送待ちファイルを削除"));
    QVERIFY(f.Control<QPushButton>("CloseBtn")->toolTip().isEmpty());
    QCOMPARE(f.Control<QLabel>("Label1")->buddy(), f.Control<QWidget>("cbProfileName"));
    QCOMPARE(f.Control<QLabel>("Label8")->buddy(), f.Control<QWidget>("edLocalHomeDir"));
    QCOMPARE(f.Form->OpenDialog1.Title, QStringLiteral("アップロードするファイル"));
    QCOMPARE(f.Form->IdFTP1.SendBufferSize, 8196);
    QCOMPARE(f.Form->IdAntiFreeze1.IdleTimeOut, 50);
    QVERIFY(!f.Form->IdAntiFreeze1.OnlyWhenIdle);
    QVERIFY(f.Form->acceptDrops());
    QVERIFY(f.Form->LogLines().join(QString()).isEmpty());
}

// Each condition that the Transfer button needs, failing alone.
void TestApp::transferConditions_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value"); // "<dir>" and "<file>" stand for the fixture's paths
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("all filled") << ""
                                << "" << false << true;
    QTest::newRow("busy") << ""
                          << "" << true << false;
    QTest::newRow("no host") << "edHostName"
                             << "" << false << false;
    QTest::newRow("no user") << "edUserId"
                             << "" << false << false;
    QTest::newRow("no password") << "edPassword"
                                 << "" << false << false;
    QTest::newRow("no remote top") << "edHostHomeDir"
                                   << "" << false << false;
    QTest::newRow("local top missing") << "edLocalHomeDir"
                                       << "<dir>/none" << false << false;
    QTest::newRow("local top a file") << "edLocalHomeDir"
                                      << "<file>" << false << false;
    QTest::newRow("upload file missing") << "cbUploadFile"
                                         << "<dir>/none.html" << false << false;
    QTest::newRow("upload file a directory") << "cbUploadFile"
                                             << "<dir>" << false << false;
    QTest::newRow("no remote directory") << "edUploadDir"
                                         << "" << false << false;
    QTest::newRow("blank host counts") << "edHostName"
                                       << " " << false << true;
    QTest::newRow("blank password counts") << "edPassword"
                                           << " " << false << true;
    QTest::newRow("blank remote directory counts") << "edUploadDir"
                                                   << " " << false << true;
}

static void FillTransferFields(TFormFixture& f, const QString& dir, const QString& file)
{
    f.Control<QLineEdit>("edHostName")->setText(QStringLiteral("127.0.0.1"));
    f.Control<QLineEdit>("edUserId")->setText(QStringLiteral("user"));
    f.Control<QLineEdit>("edPassword")->setText(QStringLiteral("secret"));
    f.Control<QLineEdit>("edHostHomeDir")->setText(QStringLiteral("/public_html"));
    f.Control<QLineEdit>("edLocalHomeDir")->setText(dir);
    f.Control<QComboBox>("cbUploadFile")->setEditText(file);
    f.Control<QLineEdit>("edUploadDir")->setText(QStringLiteral("/public_html"));
}

void TestApp::transferConditions()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, busy);
    QFETCH(bool, enabled);

    TFormFixture f;
    const QString site = f.Dir.path() + QStringLiteral("/site");
    QVERIFY(QDir().mkpath(site));
    const QString file = site + QStringLiteral("/index.html");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.close();
    FillTransferFields(f, site, file);

    value.replace(QStringLiteral("<dir>"), site).replace(QStringLiteral("<file>"), file);
    if (field == QLatin1String("cbUploadFile"))
        f.Control<QComboBox>("cbUploadFile")->setEditText(value);
    else if (!field.isEmpty())
        f.Control<QLineEdit>(field.toLatin1().constData())->setText(value);
    IsBusy = busy;

    f.Form->ApplicationIdle();
    QCOMPARE(f.Control<QPushButton>("UploadBtn")->isEnabled(), enabled);
}

// Runs a real event loop (one that waits, as the application's does) until done() holds.
static bool RunEventLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void TestApp::idleEventRefreshes()
{
    TFormFixture f;
    auto* disconnect = f.Control<QPushButton>("DisconnectBtn");
    IsConnected = true;
    // Nothing refreshes until the event loop is about to wait; processing events alone, as the
    // FTP client's pump does, is no idle pass.
    QCoreApplication::processEvents();
    QVERIFY(!disconnect->isEnabled());
    QVERIFY(RunEventLoopUntil([&] { return disconnect->isEnabled(); }));
    IsConnected = false;
    QVERIFY(RunEventLoopUntil([&] { return !disconnect->isEnabled(); }));
}

// A refresh that posted events although nothing changed would wake the loop at once, over and
// over. With the fields filled, the hourglass shown and every button set, a quiet loop waits.
void TestApp::idleRefreshDoesNotSpinTheLoop()
{
    TFormFixture f;
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
    const QString file = f.Dir.filePath(QStringLiteral("a.html"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.close();
    FillTransferFields(f, f.Dir.path(), file);
    IsBusy = true;
    IsConnected = true;
    QVERIFY(RunEventLoopUntil([&] { return f.Control<QPushButton>("AbortBtn")->isEnabled(); }));

    int waits = 0;
    const auto counter = connect(QAbstractEventDispatcher::instance(),
                                 &QAbstractEventDispatcher::aboutToBlock, this, [&] { ++waits; });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(counter);
    QVERIFY2(waits < 50, qPrintable(QStringLiteral("the loop woke %1 times").arg(waits)));
    IsBusy = false;
    IsConnected = false;
    f.Form->ApplicationIdle();
}

void TestApp::idleRefreshWhileBusy()
{
    TFormFixture f;
    const QString site = f.Dir.path();
    const QString file = site + QStringLiteral("/a.html");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.close();
    FillTransferFields(f, site, file);
    f.Form->ApplicationIdle();
    QVERIFY(f.Control<QPushButton>("UploadBtn")->isEnabled());

    IsBusy = true;
    f.Form->ApplicationIdle();
    QCOMPARE(Screen().Cursor(), crHourGlass);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QVERIFY(f.Control<QPushButton>("AbortBtn")->isEnabled());
    QVERIFY(!f.Control<QTabWidget>("pcSession")->isEnabled());
    QVERIFY(!f.Control<QPushButton>("UploadBtn")->isEnabled());

    // Refreshing again changes nothing, and in particular stacks no second override cursor.
    f.Form->ApplicationIdle();
    IsBusy = false;
    f.Form->ApplicationIdle();
    QCOMPARE(Screen().Cursor(), f.Form->DefaultCursor());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(f.Control<QTabWidget>("pcSession")->isEnabled());
    QVERIFY(f.Control<QPushButton>("UploadBtn")->isEnabled());
}

void TestApp::disconnectFollowsConnection()
{
    TFormFixture f;
    for (bool busy : {false, true}) {
        IsBusy = busy;
        IsConnected = true;
        f.Form->ApplicationIdle();
        QVERIFY(f.Control<QPushButton>("DisconnectBtn")->isEnabled());
        IsConnected = false;
        f.Form->ApplicationIdle();
        QVERIFY(!f.Control<QPushButton>("DisconnectBtn")->isEnabled());
    }
}

void TestApp::busyAndWaitingStates()
{
    TFormFixture f;
    auto* pc = f.Control<QTabWidget>("pcSession");
    auto* upload = f.Control<QPushButton>("UploadBtn");
    auto* abort = f.Control<QPushButton>("AbortBtn");
    auto* state = f.Control<QLabel>("lbTransaction");

    f.Form->EnterBusyState();
    QVERIFY(IsBusy);
    QVERIFY(pc->isEnabled());
    QVERIFY(!upload->isEnabled());
    QVERIFY(abort->isEnabled());
    QCOMPARE(state->text(), QStringLiteral("転送中"));

    f.Form->ApplicationIdle(); // the hourglass comes with a refresh while busy
    QCOMPARE(Screen().Cursor(), crHourGlass);

    f.Form->LeaveBusyState();
    QVERIFY(!IsBusy);
    QVERIFY(!pc->isEnabled());
    QVERIFY(upload->isEnabled());
    QVERIFY(!abort->isEnabled());
    QCOMPARE(Screen().Cursor(), f.Form->DefaultCursor());
    QCOMPARE(state->text(), QStringLiteral("転送待ち"));

    // The next refresh applies its own rules again.
    f.Form->ApplicationIdle();
    QVERIFY(pc->isEnabled());
    QVERIFY(!upload->isEnabled()); // the fields are empty
}

void TestApp::addLogTrims_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("blanks around") << "  abc  " << QStringList{"abc"};
    QTest::newRow("control characters around") << "\t\r\n\x01"
                                                  "abc\x1f\r\n"
                                               << QStringList{"abc"};
    QTest::newRow("reply with CR LF") << "220 ready\r\n" << QStringList{"220 ready"};
    QTest::newRow("inner CR LF") << "230-a\r\n230 b\r\n" << QStringList{"230-a", "230 b"};
    QTest::newRow("inner LF and CR") << "a\nb\rc" << QStringList{"a", "b", "c"};
    QTest::newRow("inner blanks kept") << "a  b" << QStringList{"a  b"};
    QTest::newRow("japanese") << QStringLiteral(" 転送を中止しました。 ")
                              << QStringList{QStringLiteral("転送を中止しました。")};
    QTest::newRow("character 33 kept") << "!x!" << QStringList{"!x!"};
}

void TestApp::addLogTrims()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    TFormFixture f;
    f.Form->AddLog(QStringLiteral("first"));
    f.Form->AddLog(text);
    QCOMPARE(f.Form->LogLines(), QStringList{"first"} + lines);
}

void TestApp::addLogBlankTextChangesNothing()
{
    TFormFixture f;
    auto* log = f.Control<QPlainTextEdit>("reLog");
    f.Form->AddLog(QStringLiteral("one"));
    f.Form->AddLog(QStringLiteral("two"));
    f.Form->LogLines();
    QTextCursor start = log->textCursor();
    start.setPosition(0);
    log->setTextCursor(start);

    for (const QString& blank :
         {QString(), QStringLiteral("   "), QStringLiteral("\t\t"), QStringLiteral("\r\n\r\n")})
        f.Form->AddLog(blank);
    QCOMPARE(f.Form->LogLines(), (QStringList{"one", "two"}));
    QCOMPARE(log->textCursor().position(), 0);
}

void TestApp::addLogKeepsFiveHundredLines()
{
    TFormFixture f;
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
    auto* log = f.Control<QPlainTextEdit>("reLog");
    for (int i = 1; i <= 500; ++i)
        f.Form->AddLog(QStringLiteral("line %1").arg(i));
    QCOMPARE(f.Form->LogLines().size(), 500);
    QCOMPARE(f.Form->LogLines().front(), QStringLiteral("line 1"));

    f.Form->AddLog(QStringLiteral("line 501"));
    QCoreApplication::processEvents(); // the view follows on the next pass of the event loop
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 500);
    QCOMPARE(lines.front(), QStringLiteral("line 2"));
    QCOMPARE(lines.back(), QStringLiteral("line 501"));
    QCOMPARE(log->textCursor().position(), log->document()->characterCount() - 1);
    QCOMPARE(log->textCursor().selectionStart(), log->textCursor().selectionEnd());
    QScrollBar* bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
}

void TestApp::addLogBoundsCharacters()
{
    TFormFixture f;
    const QString big(200000, QLatin1Char('x'));
    f.Form->AddLog(QStringLiteral("old"));
    for (int i = 0; i < 3; ++i)
        f.Form->AddLog(big);
    f.Form->AddLog(QStringLiteral("new"));
    const QStringList lines = f.Form->LogLines();
    QVERIFY(lines.join(QLatin1Char('\n')).size() <= TLogPane::MaxChars);
    QCOMPARE(lines.back(), QStringLiteral("new"));
    QVERIFY(!lines.contains(QStringLiteral("old")));

    f.Form->AddLog(QString(TLogPane::MaxChars + 10, QLatin1Char('y')));
    QCOMPARE(f.Form->LogLines(), QStringList{QString(TLogPane::MaxChars, QLatin1Char('y'))});
}

// However the appends fall between passes of the event loop, the pane ends up showing what
// appending the lines one by one shows.
void TestApp::addLogBurstShowsWhatEachAppendWould()
{
    TFormFixture f;
    auto* log = f.Control<QPlainTextEdit>("reLog");
    QStringList expected;
    int n = 0;
    for (int burst : {3, 1, 700, 2, 499, 250, 251, 1}) {
        for (int i = 0; i < burst; ++i) {
            const QString line = QStringLiteral("%1 Upload Speed ?").arg(++n);
            f.Form->AddLog(line);
            expected << line;
        }
        QCoreApplication::processEvents();
        QCOMPARE(
            log->toPlainText(),
            expected.mid(std::max<qsizetype>(0, expected.size() - 500)).join(QLatin1Char('\n')));
    }
}

void TestApp::socketErrorEscapingAHandler()
{
    TFormFixture f;
    IsConnected = true;
    f.Control<QLabel>("lbConnection")->setText(QStringLiteral("接続"));
    f.Form->EnterBusyState();
    f.Services->OnExecDialog = [](QDialog&) -> int {
        throw EIdSocketError("Socket Error # 104\r\nConnection reset by peer.", 104);
    };
    f.Control<QPushButton>("AboutBtn")->click();

    QVERIFY(!IsConnected);
    QVERIFY(!IsBusy);
    QCOMPARE(f.Control<QLabel>("lbConnection")->text(), QStringLiteral("未接続"));
    QVERIFY(!f.Control<QPushButton>("AbortBtn")->isEnabled());
    QCOMPARE(f.Control<QLabel>("lbTransaction")->text(), QStringLiteral("転送待ち"));
    QCOMPARE(f.Form->LogLines(), (QStringList{"Socket Error # 104", "Connection reset by peer."}));
    QVERIFY(f.Services->MessageBoxes.empty());
}

void TestApp::otherErrorEscapingAHandler()
{
    TFormFixture f;
    IsConnected = true;
    f.Services->OnExecDialog = [](QDialog&) -> int {
        throw EConvertError("'abc' は整数ではありません");
    };
    f.Control<QPushButton>("AboutBtn")->click();
    QVERIFY(IsConnected); // only a socket error marks the session lost
    QCOMPARE(f.Form->LogLines(), QStringList{QStringLiteral("'abc' は整数ではありません")});
    QVERIFY(f.Services->MessageBoxes.empty());
}

void TestApp::keys()
{
    TFormFixture f;
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
    // Esc clicks Close, which closes the window.
    auto* host = f.Control<QLineEdit>("edHostName");
    host->setFocus();
    QTest::keyClick(host, Qt::Key_Escape);
    QVERIFY(!f.Form->isVisible());

    // Enter in an edit box clicks the Transfer button, only when it is enabled.
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
    auto* upload = f.Control<QPushButton>("UploadBtn");
    int clicks = 0;
    connect(upload, &QPushButton::clicked, this, [&] { ++clicks; });
    QTest::keyClick(host, Qt::Key_Return);
    QCOMPARE(clicks, 0);
    upload->setEnabled(true);
    QTest::keyClick(host, Qt::Key_Return);
    QCOMPARE(clicks, 1);
    f.Form->hide();
}

void TestApp::newWindowStartsTheExecutable()
{
    TFormFixture f;
    f.Control<QPushButton>("NewWindowBtn")->click();
    QCOMPARE(f.Services->StartedPrograms, QStringList{f.Dir.path() + QStringLiteral("/lodrin")});
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
