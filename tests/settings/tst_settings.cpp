// The last-used values at window level: what a main window shows after start-up over given
// files, and the bytes it leaves in them when it saves or closes.

#include "Cp932.h"
#include "EnforcedPermissions.h"
#include "FormFixture.h"
#include "IniFile.h"
#include "ProfileList.h"
#include "TextFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>

#include <functional>
#include <random>
#include <sys/stat.h>

namespace {

using Values = QMap<QString, QString>;
using Edit = std::function<void(TFormFixture&)>;

// The keys of section CURRENT in the order they are read and written.
const QStringList kKeys = {"FORMTOP",       "FORMLEFT",      "PROFILE",
                           "HOST",          "UID",           "SAVEPWD",
                           "PWD",           "PASSIVE",       "DIR",
                           "LOCDIR",        "TIMEOUT",       "PORT",
                           "PROXYSERVER",   "PROXYPORT",     "PROXYUSERNAME",
                           "PROXYPASSWORD", "PROXYTYPE",     "CLOSE_AFTER_TRANSFER",
                           "START_ON_SET",  "SEARCH_PROFILE"};

const QString kDefaultTextExt = ".htm\n.html\n.css\n.js\n.txt\n.cgi\n.pm\n.pl";

// Where a window opens when nothing says otherwise; set once from a window over no files.
QPoint g_unplaced;

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray Golden(const char* name)
{
    return ReadAll(QStringLiteral(LODRIN_GOLDEN_DIR "/") + QLatin1String(name));
}

// Text as the program's files hold it: CP932, or UTF-8 after a byte-order mark when CP932
// cannot hold it.
QByteArray OnDisk(const QString& text)
{
    const std::string utf8 = text.toStdString();
    if (const std::optional<std::string> cp932 = Utf8ToCp932(utf8))
        return QByteArray::fromStdString(*cp932);
    return QByteArray::fromStdString(std::string(kUtf8Bom) + utf8);
}

// A settings file's text from lines; "\n" ends every line and is written as CR LF.
QByteArray IniBytes(const QString& text)
{
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return OnDisk(crlf);
}

// What a window shows at first start, under the names of the keys that hold it, plus the memo
// ("TextExt") and the profile list ("profiles", items joined with "|").
Values FirstStart()
{
    return {{"FORMTOP", QString::number(g_unplaced.y())},
            {"FORMLEFT", QString::number(g_unplaced.x())},
            {"PROFILE", "新規"},
            {"HOST", ""},
            {"UID", ""},
            {"SAVEPWD", "1"},
            {"PWD", ""},
            {"PASSIVE", "0"},
            {"DIR", ""},
            {"LOCDIR", ""},
            {"TIMEOUT", "60"},
            {"PORT", "21"},
            {"PROXYSERVER", ""},
            {"PROXYPORT", "0"},
            {"PROXYUSERNAME", ""},
            {"PROXYPASSWORD", ""},
            {"PROXYTYPE", "-1"},
            {"CLOSE_AFTER_TRANSFER", "0"},
            {"START_ON_SET", "0"},
            {"SEARCH_PROFILE", "0"},
            {"TextExt", kDefaultTextExt},
            {"profiles", ""}};
}

Values With(Values values, const Values& changes)
{
    for (auto it = changes.begin(); it != changes.end(); ++it)
        values[it.key()] = it.value();
    return values;
}

// Section CURRENT as a save of a window showing these values writes it into a new file.
QString CurrentSection(const Values& values)
{
    QString text = QStringLiteral("[CURRENT]\n");
    for (const QString& key : kKeys) {
        if (values.contains(key))
            text += key + QLatin1Char('=') + values[key] + QLatin1Char('\n');
    }
    return text;
}

QString Current(const Values& changes)
{
    return CurrentSection(With(FirstStart(), changes));
}

Values Snapshot(const TFormFixture& f)
{
    auto text = [&](const char* name) { return f.Control<QLineEdit>(name)->text(); };
    auto checked = [&](const char* name) {
        return QString::number(f.Control<QCheckBox>(name)->isChecked() ? 1 : 0);
    };
    auto* profile = f.Control<QComboBox>("cbProfileName");
    QStringList profiles;
    for (int i = 0; i < profile->count(); ++i)
        profiles << profile->itemText(i);
    return {{"FORMTOP", QString::number(f.Form->pos().y())},
            {"FORMLEFT", QString::number(f.Form->pos().x())},
            {"PROFILE", profile->currentText()},
            {"HOST", text("edHostName")},
            {"UID", text("edUserId")},
            {"SAVEPWD", checked("ckSavePassword")},
            {"PWD", text("edPassword")},
            {"PASSIVE", checked("ckPassive")},
            {"DIR", text("edHostHomeDir")},
            {"LOCDIR", text("edLocalHomeDir")},
            {"TIMEOUT", text("edTimeOut")},
            {"PORT", text("edPort")},
            {"PROXYSERVER", text("edProxyServer")},
            {"PROXYPORT", text("edProxyPort")},
            {"PROXYUSERNAME", text("edProxyUserName")},
            {"PROXYPASSWORD", text("edProxyPassword")},
            {"PROXYTYPE", QString::number(f.Control<QComboBox>("cbProxyType")->currentIndex())},
            {"CLOSE_AFTER_TRANSFER", checked("ckCloseAfterTransfer")},
            {"START_ON_SET", checked("ckStartOnSet")},
            {"SEARCH_PROFILE", checked("ckSearchProfile")},
            {"TextExt", f.Control<QPlainTextEdit>("mmTextExt")->toPlainText()},
            {"profiles", profiles.join(QLatin1Char('|'))}};
}

// Compares key by key, so that a failure names the key; "*" in `expected` matches anything.
void CompareValues(const Values& actual, const Values& expected)
{
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.value() == QLatin1String("*"))
            continue;
        if (actual.value(it.key()) != it.value()) {
            QFAIL(qPrintable(QStringLiteral("%1: \"%2\", expected \"%3\"")
                                 .arg(it.key(), actual.value(it.key()), it.value())));
        }
    }
}

// A program directory with the two files as given; a null array means no file.
struct TProgramDir
{
    QTemporaryDir Dir;

    TProgramDir(const QByteArray& ini = {}, const QByteArray& textExt = {})
    {
        if (!ini.isNull())
            WriteAll(IniPath(), ini);
        if (!textExt.isNull())
            WriteAll(TextExtPath(), textExt);
    }
    QString Path() const { return Dir.path(); }
    QString IniPath() const { return Dir.filePath("Lodrin.ini"); }
    QString TextExtPath() const { return Dir.filePath("TextExt.txt"); }
};

QLineEdit* Line(TFormFixture& f, const char* name)
{
    return f.Control<QLineEdit>(name);
}

QCheckBox* Check(TFormFixture& f, const char* name)
{
    return f.Control<QCheckBox>(name);
}

// Makes a directory read-only for the test's duration and writable again afterwards.
struct TReadOnly
{
    QString Path;
    explicit TReadOnly(QString path) : Path(std::move(path))
    {
        ::chmod(QFile::encodeName(Path).constData(), 0555);
    }
    ~TReadOnly() { ::chmod(QFile::encodeName(Path).constData(), 0700); }
};

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void filePaths();

    void load_data();
    void load();
    void save_data();
    void save();
    void goldenRoundTrip_data();
    void goldenRoundTrip();
    void lineBreaksAndNulDoNotBlockSaving();
    void refillKeepsTheNameBoxText();

    void closeWhenSavingFails_data();
    void closeWhenSavingFails();
    void unreadableExtensionListIsReported();
    void badInputGivesDefaults_data();
    void badInputGivesDefaults();
};

void TestSettings::initTestCase()
{
    TFormFixture f;
    g_unplaced = f.Form->pos();
}

void TestSettings::filePaths()
{
    TFormFixture f;
    QCOMPARE(f.Form->SettingsFilePath(), f.Dir.path() + "/Lodrin.ini");
    QCOMPARE(f.Form->TextExtFilePath(), f.Dir.path() + "/TextExt.txt");

    // An executable at the root: the program directory is empty, the files still lie in "/".
    TMainForm root(TStartInfo{QStringLiteral("/lodrin"), {}}, std::make_unique<TFakeServices>());
    QCOMPARE(root.ProgramDirectory(), QString());
    QCOMPARE(root.SettingsFilePath(), QStringLiteral("/Lodrin.ini"));
    QCOMPARE(root.TextExtFilePath(), QStringLiteral("/TextExt.txt"));
}

void TestSettings::load_data()
{
    QTest::addColumn<QString>("ini");     // text of Lodrin.ini; null: no file
    QTest::addColumn<QByteArray>("ext");  // bytes of TextExt.txt; null: no file
    QTest::addColumn<Values>("expected"); // what differs from a first start

    const QByteArray none;
    QTest::newRow("first start without files") << QString() << none << Values{};
    QTest::newRow("empty settings file") << QString("") << none << Values{};
    QTest::newRow("SAVEPWD=0 with a PWD")
        << "[CURRENT]\nSAVEPWD=0\nPWD=secret\n"
        << none << Values{{"SAVEPWD", "0"}, {"profiles", "CURRENT"}};
    QTest::newRow("SAVEPWD=1 with a PWD")
        << "[CURRENT]\nSAVEPWD=1\nPWD=secret\n"
        << none << Values{{"PWD", "secret"}, {"profiles", "CURRENT"}};
    QTest::newRow("PWD without SAVEPWD")
        << "[CURRENT]\nPWD=secret\n"
        << none << Values{{"PWD", "secret"}, {"profiles", "CURRENT"}};
    QTest::newRow("PROFILE present and empty")
        << "[CURRENT]\nPROFILE=\n"
        << none << Values{{"PROFILE", ""}, {"profiles", "CURRENT"}};
    QTest::newRow("TIMEOUT=abc") << "[CURRENT]\nTIMEOUT=abc\n"
                                 << none << Values{{"TIMEOUT", "abc"}, {"profiles", "CURRENT"}};
    QTest::newRow("PROXYTYPE=9") << "[CURRENT]\nPROXYTYPE=9\n"
                                 << none << Values{{"PROXYTYPE", "-1"}, {"profiles", "CURRENT"}};
    QTest::newRow("PROXYTYPE=6") << "[CURRENT]\nPROXYTYPE=6\n"
                                 << none << Values{{"PROXYTYPE", "-1"}, {"profiles", "CURRENT"}};
    QTest::newRow("PROXYTYPE=-3") << "[CURRENT]\nPROXYTYPE=-3\n"
                                  << none << Values{{"PROXYTYPE", "-1"}, {"profiles", "CURRENT"}};
    QTest::newRow("PROXYTYPE=5") << "[CURRENT]\nPROXYTYPE=5\n"
                                 << none << Values{{"PROXYTYPE", "5"}, {"profiles", "CURRENT"}};
    QTest::newRow("PROXYTYPE=0x2") << "[CURRENT]\nPROXYTYPE=0x2\n"
                                   << none << Values{{"PROXYTYPE", "2"}, {"profiles", "CURRENT"}};
    QTest::newRow("FORMTOP=x") << "[CURRENT]\nFORMTOP=x\nFORMLEFT=30\n"
                               << none << Values{{"FORMLEFT", "30"}, {"profiles", "CURRENT"}};
    QTest::newRow("off every screen")
        << "[CURRENT]\nFORMTOP=-30000\nFORMLEFT=40000\n"
        << none
        << Values{{"FORMTOP",
                   QString::number(
                       QGuiApplication::primaryScreen()->availableGeometry().topLeft().y())},
                  {"FORMLEFT",
                   QString::number(
                       QGuiApplication::primaryScreen()->availableGeometry().topLeft().x())},
                  {"profiles", "CURRENT"}};
    QTest::newRow("FORMTOP=0x40") << "[CURRENT]\nFORMTOP=0x40\nFORMLEFT=$20\n"
                                  << none
                                  << Values{{"FORMTOP", "64"},
                                            {"FORMLEFT", "32"},
                                            {"profiles", "CURRENT"}};
    QTest::newRow("CLOSE_AFTER_TRANSFER=2")
        << "[CURRENT]\nCLOSE_AFTER_TRANSFER=2\n"
        << none << Values{{"CLOSE_AFTER_TRANSFER", "1"}, {"profiles", "CURRENT"}};
    QTest::newRow("CLOSE_AFTER_TRANSFER=yes") << "[CURRENT]\nCLOSE_AFTER_TRANSFER=yes\n"
                                              << none << Values{{"profiles", "CURRENT"}};
    QTest::newRow("options on") << "[CURRENT]\nSTART_ON_SET=1\nSEARCH_PROFILE=-1\nPASSIVE=7\n"
                                << none
                                << Values{{"START_ON_SET", "1"},
                                          {"SEARCH_PROFILE", "1"},
                                          {"PASSIVE", "1"},
                                          {"profiles", "CURRENT"}};

    const Values every{{"FORMTOP", "40"},
                       {"FORMLEFT", "-8"},
                       {"PROFILE", "表示ソフト"},
                       {"HOST", "ftp.example.jp"},
                       {"UID", "user"},
                       {"SAVEPWD", "1"},
                       {"PWD", "pa ss"},
                       {"PASSIVE", "1"},
                       {"DIR", "/public_html/ソフト"},
                       {"LOCDIR", "/home/web/表"},
                       {"TIMEOUT", "30"},
                       {"PORT", "2121"},
                       {"PROXYSERVER", "proxy.example.jp"},
                       {"PROXYPORT", "8021"},
                       {"PROXYUSERNAME", "puser"},
                       {"PROXYPASSWORD", "ppass"},
                       {"PROXYTYPE", "3"},
                       {"CLOSE_AFTER_TRANSFER", "1"},
                       {"START_ON_SET", "1"},
                       {"SEARCH_PROFILE", "1"}};
    QTest::newRow("every key") << CurrentSection(every) << none
                               << With(every, {{"profiles", "CURRENT"}});
    QTest::newRow("names without regard to case, blanks around them")
        << "[current]\n  host = h.example.jp  \nsavepwd=0\n"
        << none << Values{{"HOST", "h.example.jp"}, {"SAVEPWD", "0"}, {"profiles", "current"}};
    QTest::newRow("profile list sorted without regard to case")
        << "[b]\n[CURRENT]\nPROFILE=b\n[表示]\n[A]\n[a2]\n[Zeta]\n"
        << none << Values{{"PROFILE", "b"}, {"profiles", "A|a2|b|CURRENT|Zeta|表示"}};
    QTest::newRow("profiles without CURRENT") << "[b]\nHOST=x\n[A]\n"
                                              << none << Values{{"profiles", "A|b"}};

    QTest::newRow("empty extension list file")
        << QString() << QByteArray("") << Values{{"TextExt", ""}};
    QTest::newRow("extension list with CR, LF and CR LF")
        << QString() << QByteArray(".a\n.b\r.c\r\n.d") << Values{{"TextExt", ".a\n.b\n.c\n.d"}};
    QTest::newRow("extension list ending with CR LF")
        << QString() << QByteArray(".htm\r\n.css\r\n") << Values{{"TextExt", ".htm\n.css\n"}};
    QTest::newRow("extension list in CP932")
        << QString() << OnDisk(".表\r\n.txt") << Values{{"TextExt", ".表\n.txt"}};
}

void TestSettings::load()
{
    QFETCH(QString, ini);
    QFETCH(QByteArray, ext);
    QFETCH(Values, expected);
    TProgramDir dir(ini.isNull() ? QByteArray() : IniBytes(ini), ext);
    TFormFixture f({}, dir.Path());
    QVERIFY(f.Services->MessageBoxes.empty());
    CompareValues(Snapshot(f), With(FirstStart(), expected));
    // Without a stored position the window manager goes on choosing where the window opens.
    QCOMPARE(f.Form->testAttribute(Qt::WA_Moved),
             expected.contains("FORMTOP") || expected.contains("FORMLEFT"));
}

void TestSettings::save_data()
{
    QTest::addColumn<QString>("ini");    // text of Lodrin.ini before; null: no file
    QTest::addColumn<Edit>("edit");      // what the user changes before the save
    QTest::addColumn<Values>("written"); // section CURRENT after: what differs from a first start
    QTest::addColumn<QByteArray>("ext"); // TextExt.txt after

    const Edit nothing = [](TFormFixture&) {};
    const QByteArray defaultExt(".htm\r\n.html\r\n.css\r\n.js\r\n.txt\r\n.cgi\r\n.pm\r\n.pl");

    QTest::newRow("first start without files") << QString() << nothing << Values{} << defaultExt;
    QTest::newRow("TIMEOUT=abc survives")
        << Current({{"TIMEOUT", "abc"}}) << nothing << Values{{"TIMEOUT", "abc"}} << defaultExt;
    QTest::newRow("PROXYTYPE=9 saved as -1")
        << Current({{"PROXYTYPE", "9"}}) << nothing << Values{{"PROXYTYPE", "-1"}} << defaultExt;
    QTest::newRow("FORMTOP=x saved as the position")
        << Current({{"FORMTOP", "x"}, {"FORMLEFT", "30"}}) << nothing << Values{{"FORMLEFT", "30"}}
        << defaultExt;
    QTest::newRow("FORMTOP=0x40 saved as 64")
        << Current({{"FORMTOP", "0x40"}}) << nothing << Values{{"FORMTOP", "64"}} << defaultExt;
    QTest::newRow("CLOSE_AFTER_TRANSFER=2 saved as 1")
        << Current({{"CLOSE_AFTER_TRANSFER", "2"}}) << nothing
        << Values{{"CLOSE_AFTER_TRANSFER", "1"}} << defaultExt;
    QTest::newRow("CLOSE_AFTER_TRANSFER=yes saved as 0")
        << Current({{"CLOSE_AFTER_TRANSFER", "yes"}}) << nothing << Values{} << defaultExt;
    QTest::newRow("PROFILE present and empty stays empty")
        << Current({{"PROFILE", ""}}) << nothing << Values{{"PROFILE", ""}} << defaultExt;
    QTest::newRow("SAVEPWD=0 keeps the stored PWD")
        << Current({{"SAVEPWD", "0"}, {"PWD", "secret"}})
        << Edit([](TFormFixture& f) { Line(f, "edPassword")->setText("typed"); })
        << Values{{"SAVEPWD", "0"}, {"PWD", "secret"}} << defaultExt;
    QTest::newRow("turning off SAVEPWD keeps the old PWD")
        << Current({{"PWD", "old"}}) << Edit([](TFormFixture& f) {
               Check(f, "ckSavePassword")->setChecked(false);
               Line(f, "edPassword")->setText("new");
           })
        << Values{{"SAVEPWD", "0"}, {"PWD", "old"}} << defaultExt;
    QTest::newRow("a typed password is saved")
        << Current({{"PWD", "old"}})
        << Edit([](TFormFixture& f) { Line(f, "edPassword")->setText("new"); })
        << Values{{"PWD", "new"}} << defaultExt;
    QTest::newRow("edited fields") << Current({}) << Edit([](TFormFixture& f) {
        f.Form->move(120, 80);
        f.Control<QComboBox>("cbProfileName")->setEditText("表示ソフト");
        Line(f, "edHostName")->setText("ftp.example.jp");
        Line(f, "edHostHomeDir")->setText("/public_html/ソフト");
        Line(f, "edLocalHomeDir")->setText("/home/web/表");
        Line(f, "edPort")->setText("");
        Check(f, "ckPassive")->setChecked(true);
        Check(f, "ckCloseAfterTransfer")->setChecked(true);
        f.Control<QComboBox>("cbProxyType")->setCurrentIndex(3);
    })
                                   << Values{{"FORMTOP", "80"},
                                             {"FORMLEFT", "120"},
                                             {"PROFILE", "表示ソフト"},
                                             {"HOST", "ftp.example.jp"},
                                             {"DIR", "/public_html/ソフト"},
                                             {"LOCDIR", "/home/web/表"},
                                             {"PORT", ""},
                                             {"PASSIVE", "1"},
                                             {"CLOSE_AFTER_TRANSFER", "1"},
                                             {"PROXYTYPE", "3"}}
                                   << defaultExt;
    QTest::newRow("a value CP932 cannot hold")
        << Current({}) << Edit([](TFormFixture& f) { Line(f, "edHostName")->setText("café.jp"); })
        << Values{{"HOST", "café.jp"}} << defaultExt;
    QTest::newRow("memo ending with a line break") << Current({}) << Edit([](TFormFixture& f) {
        f.Control<QPlainTextEdit>("mmTextExt")->setPlainText(".htm\n.css\n");
    }) << Values{} << QByteArray(".htm\r\n.css\r\n");
    QTest::newRow("empty memo") << Current({}) << Edit([](TFormFixture& f) {
        f.Control<QPlainTextEdit>("mmTextExt")->setPlainText("");
    }) << Values{} << QByteArray("");
    QTest::newRow("memo in CP932") << Current({}) << Edit([](TFormFixture& f) {
        f.Control<QPlainTextEdit>("mmTextExt")->setPlainText(".表\n.txt");
    }) << Values{} << OnDisk(".表\r\n.txt");
}

void TestSettings::save()
{
    QFETCH(QString, ini);
    QFETCH(Edit, edit);
    QFETCH(Values, written);
    QFETCH(QByteArray, ext);
    TProgramDir dir(ini.isNull() ? QByteArray() : IniBytes(ini));
    TFormFixture f({}, dir.Path());
    edit(f);
    const Values shown = Snapshot(f);
    f.Form->SaveCurrentSettings();

    QCOMPARE(ReadAll(dir.IniPath()), IniBytes(Current(written)));
    QCOMPARE(ReadAll(dir.TextExtPath()), ext);

    // The next start shows what was saved, the password only when it was saved.
    TFormFixture next({}, dir.Path());
    Values expected = With(shown, {{"profiles", "CURRENT"}});
    if (shown["SAVEPWD"] == "0")
        expected["PWD"] = "";
    CompareValues(Snapshot(next), expected);
}

void TestSettings::goldenRoundTrip_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<Values>("loaded");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("hand-kept file") << Golden("full_before.ini") << Edit([](TFormFixture& f) {
        f.Form->move(200, 100);
        Line(f, "edHostName")->setText("ftp.example.com");
        Check(f, "ckPassive")->setChecked(true);
    })
                                    << Values{{"FORMTOP", "120"},
                                              {"FORMLEFT", "16"},
                                              {"PROFILE", "表示ソフト"},
                                              {"HOST", "ftp.example.jp"},
                                              {"UID", "user"},
                                              {"PWD", "secret"},
                                              {"DIR", "/public_html/ソフト"},
                                              {"LOCDIR", "/home/web/表"},
                                              {"TIMEOUT", "abc"},
                                              {"PORT", "2121"},
                                              {"SEARCH_PROFILE", "1"},
                                              {"TextExt", ".htm\n.表\n.txt"},
                                              {"profiles", "current|Unknown|表示ソフト"}}
                                    << Golden("full_after.ini");
    QTest::newRow("CURRENT last, partial, no final line break")
        << Golden("partial_before.ini") << Edit([](TFormFixture& f) { f.Form->move(0, 0); })
        << Values{{"PROFILE", "ソフト"},
                  {"TIMEOUT", "abc"},
                  {"TextExt", ".htm\n.表\n.txt"},
                  {"profiles", "CURRENT|ソフト"}}
        << Golden("partial_after.ini");
}

void TestSettings::goldenRoundTrip()
{
    QFETCH(QByteArray, before);
    QFETCH(Edit, edit);
    QFETCH(Values, loaded);
    QFETCH(QByteArray, after);
    const QByteArray textExt = Golden("TextExt.txt");
    TProgramDir dir(before, textExt);
    TFormFixture f({}, dir.Path());
    CompareValues(Snapshot(f), With(FirstStart(), loaded));

    edit(f);
    f.Form->SaveCurrentSettings();
    QCOMPARE(ReadAll(dir.IniPath()), after);
    QCOMPARE(ReadAll(dir.TextExtPath()), textExt);
}

void TestSettings::lineBreaksAndNulDoNotBlockSaving()
{
    // A NUL read from a damaged file, or a line break pasted into a field, cannot stand in a line
    // of the settings file; they are dropped rather than making every save fail.
    TProgramDir dir(QByteArray("[CURRENT]\r\nHOST=ftp.\0example.jp\r\nPROFILE=a\0b\r\n", 47));
    TFormFixture f({}, dir.Path());
    QCOMPARE(Line(f, "edHostName")->text(), QStringLiteral("ftp.example.jp"));
    QCOMPARE(f.Control<QComboBox>("cbProfileName")->currentText(), QStringLiteral("ab"));

    Line(f, "edUserId")->setText("user\r\n");
    Line(f, "edHostHomeDir")->setText("/public\n_html");
    f.Form->show();
    QVERIFY(f.Form->close());
    const TIniFile ini(QFile::encodeName(dir.IniPath()).toStdString());
    QCOMPARE(ini.ReadString("CURRENT", "HOST", "-"), std::string("ftp.example.jp"));
    QCOMPARE(ini.ReadString("CURRENT", "UID", "-"), std::string("user"));
    QCOMPARE(ini.ReadString("CURRENT", "DIR", "-"), std::string("/public_html"));
    QCOMPARE(ini.ReadString("CURRENT", "PROFILE", "-"), std::string("ab"));
}

void TestSettings::refillKeepsTheNameBoxText()
{
    TProgramDir dir(IniBytes("[b]\n[A]\n"));
    TFormFixture f({}, dir.Path());
    auto* box = f.Control<QComboBox>("cbProfileName");
    QCOMPARE(box->count(), 2);

    for (const QString& typed : {QStringLiteral("typed"), QStringLiteral("b"), QString()}) {
        box->setEditText(typed);
        WriteAll(dir.IniPath(), IniBytes("[b]\n[A]\n[c]\n[CURRENT]\n"));
        f.Form->LoadProfileList();
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->itemText(0), QStringLiteral("A"));
        QCOMPARE(box->itemText(3), QStringLiteral("CURRENT"));
        QCOMPARE(box->currentText(), typed);
    }
    QFile::remove(dir.IniPath());
    f.Form->LoadProfileList();
    QCOMPARE(box->count(), 0);
    QCOMPARE(box->currentText(), QString());
}

void TestSettings::closeWhenSavingFails_data()
{
    QTest::addColumn<QString>("blocked"); // what cannot be written
    QTest::addColumn<QString>("message"); // the logged message; %1 is the program directory
    QTest::addColumn<bool>("iniIntact");

    QTest::newRow("nothing: the window closes") << QString() << QString() << false;
    QTest::newRow("read-only program directory") << "directory"
                                                 << "%1/Lodrin.ini に書き込めません" << true;
    QTest::newRow("read-only settings file") << "Lodrin.ini"
                                             << "%1/Lodrin.ini に書き込めません" << true;
    QTest::newRow("read-only extension list")
        << "TextExt.txt"
        << "ファイル %1/TextExt.txt を作成できません" << false;
}

void TestSettings::closeWhenSavingFails()
{
    QFETCH(QString, blocked);
    QFETCH(QString, message);
    QFETCH(bool, iniIntact);
    const QByteArray ini = Golden("full_before.ini");
    const QByteArray textExt = Golden("TextExt.txt");
    TProgramDir dir(ini, textExt);
    TFormFixture f({}, dir.Path());
    f.Form->show();
    Line(f, "edHostName")->setText("ftp.example.com"); // so the save has a change to write
    f.Control<QPlainTextEdit>("mmTextExt")->setPlainText(".htm");

    std::optional<TReadOnly> readOnly;
    if (blocked == "directory")
        readOnly.emplace(dir.Path());
    else if (!blocked.isEmpty())
        QCOMPARE(::chmod(QFile::encodeName(dir.Dir.filePath(blocked)).constData(), 0444), 0);
    EnforcedPermissions permissions;
    if (!permissions.Active())
        QSKIP("cannot drop the capabilities that override file permissions");

    const bool closed = f.Form->close();
    if (blocked.isEmpty()) {
        QVERIFY(closed);
        QVERIFY(!f.Form->isVisible());
        QCOMPARE(ReadAll(dir.TextExtPath()), QByteArray(".htm"));
        return;
    }
    QVERIFY(!closed);
    QVERIFY(f.Form->isVisible());
    QVERIFY2(f.Form->LogLines().contains(message.arg(dir.Path())),
             qPrintable(f.Form->LogLines().join('\n')));
    if (iniIntact)
        QCOMPARE(ReadAll(dir.IniPath()), ini);
    QCOMPARE(ReadAll(dir.TextExtPath()), textExt);
    QCOMPARE(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestSettings::unreadableExtensionListIsReported()
{
    // The extension list is the last thing read: the values of section CURRENT are in place when
    // it fails, and the memo keeps its lines.
    TProgramDir dir(IniBytes(Current({{"HOST", "ftp.example.jp"}})));
    QVERIFY(QDir(dir.Path()).mkdir("TextExt.txt"));
    TFormFixture f({}, dir.Path());
    QCOMPARE(f.Services->MessageBoxes.size(), std::size_t(1));
    QCOMPARE(f.Services->MessageBoxes[0].Text,
             QStringLiteral("ファイル %1/TextExt.txt は開けません").arg(dir.Path()));
    QCOMPARE(Line(f, "edHostName")->text(), QStringLiteral("ftp.example.jp"));
    QCOMPARE(f.Control<QPlainTextEdit>("mmTextExt")->toPlainText(), kDefaultTextExt);
    // The rest of start-up still ran: drops are taken and later errors go to the log pane.
    QVERIFY(f.Form->acceptDrops());
    f.Form->show();
    QVERIFY(!f.Form->close()); // the directory in TextExt.txt's place cannot be replaced
    QCOMPARE(f.Services->MessageBoxes.size(), std::size_t(1));
    QVERIFY2(f.Form->LogLines().contains(
                 QStringLiteral("ファイル %1/TextExt.txt を作成できません").arg(dir.Path())),
             qPrintable(f.Form->LogLines().join('\n')));
}

void TestSettings::badInputGivesDefaults_data()
{
    QTest::addColumn<QByteArray>("ini"); // null: no file; "/": a directory in its place
    QTest::addColumn<QByteArray>("ext");
    QTest::addColumn<Values>("expected");
    QTest::addColumn<bool>("saves");

    std::mt19937 random(20240611);
    QByteArray noise(256 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    const QByteArray none;
    const Values anyList{{"profiles", "*"}};
    QTest::newRow("random bytes") << noise << none << anyList << true;
    QTest::newRow("random extension list")
        << none << noise << Values{{"TextExt", "*"}, {"profiles", "*"}} << true;

    QByteArray big("[BIG]\r\n");
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "KEY" + QByteArray::number(i) + "=value " + QByteArray::number(i) + "\r\n";
    QTest::newRow("10 MB") << big + "[CURRENT]\r\nHOST=h" << none
                           << Values{{"HOST", "h"}, {"profiles", "BIG|CURRENT"}} << true;
    QTest::newRow("1 MB line")
        << "[CURRENT]\r\nTIMEOUT=" + QByteArray(1024 * 1024, '9') + "\r\nPORT=2121\r\n"
        << none << Values{{"PORT", "2121"}, {"TIMEOUT", "*"}, {"profiles", "CURRENT"}} << true;
    static const char withNul[] = "\0[CURRENT]\0\r\nHOST=a\0b\r\n\0\0UID=u\0\r\n";
    QTest::newRow("NUL bytes") << QByteArray(withNul, sizeof withNul - 1) << QByteArray("\0.htm", 5)
                               << With(anyList, {{"HOST", "*"}, {"UID", "*"}, {"TextExt", "*"}})
                               << true;
    QTest::newRow("Lodrin.ini is a directory") << QByteArray("/") << none << Values{} << false;
}

void TestSettings::badInputGivesDefaults()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, ext);
    QFETCH(Values, expected);
    QFETCH(bool, saves);
    const bool directory = ini == "/";
    TProgramDir dir(directory ? QByteArray() : ini, ext);
    if (directory)
        QVERIFY(QDir(dir.Path()).mkdir("Lodrin.ini"));
    TFormFixture f({}, dir.Path());
    QVERIFY(f.Services->MessageBoxes.empty());
    CompareValues(Snapshot(f), With(FirstStart(), expected));

    if (!saves) {
        QVERIFY_THROWS_EXCEPTION(EIniFileException, f.Form->SaveCurrentSettings());
        return;
    }
    const Values shown = Snapshot(f);
    f.Form->SaveCurrentSettings();
    TFormFixture next({}, dir.Path());
    CompareValues(Snapshot(next), With(shown, {{"profiles", "*"}}));
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
